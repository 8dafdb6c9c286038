// The handle port on the system: relative opens, listings and deletions through ntdll and kernel32
// on handles, never by path below the anchor. Names are texts of the ANSI code page and are
// converted to the system's UTF-16 before they reach it, so a trail byte of 0x5C in a code page
// 932 name stays part of its character and never splits the name.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "port/file_handles.h"

namespace qv::win32 {

// A name or path the system gave in UTF-16, as ANSI text; false when the ANSI code page cannot
// spell it exactly (a default character or a look-alike would name another entry or none).
bool ToExactAnsi(const wchar_t* name, std::size_t units, std::string* out);

// A handle port on the system; it keeps no state, so any number of them may be made.
[[nodiscard]] std::unique_ptr<IFileHandles> MakeFileHandles();

}  // namespace qv::win32
