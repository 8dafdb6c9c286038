// The handle port on the system: relative opens, listings and deletions through ntdll and kernel32
// on handles, never by path below the anchor. Names are texts of the ANSI code page and are
// converted to the system's UTF-16 before they reach it, so a trail byte of 0x5C in a code page
// 932 name stays part of its character and never splits the name.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "port/file_handles.h"
#include "win32/windows_api.h"

namespace qv::win32 {

// A name or path the system gave in UTF-16, as ANSI text; false when the ANSI code page cannot
// spell it exactly (a default character or a look-alike would name another entry or none).
bool ToExactAnsi(const wchar_t* name, std::size_t units, std::string* out);

class Win32FileHandles final : public IFileHandles {
  public:
    Win32FileHandles() = default;

    // Alike on purpose: the fake and the Windows adapter implement the same port, so both list its
    // methods.
    [[nodiscard]] Win32Error OpenFolder(std::string_view path, FileRef* handle) noexcept override;
    [[nodiscard]] Win32Error OpenRelative(FileRef folder, std::string_view name,
                                          std::uint32_t intent, FileRef* handle) noexcept override;
    [[nodiscard]] Win32Error QueryFacts(FileRef handle, FileFacts* facts) noexcept override;
    // Names that the ANSI code page cannot hold fail the whole listing with
    // ERROR_NO_UNICODE_TRANSLATION (1113), see the definition.
    [[nodiscard]] Win32Error ListFolder(FileRef folder, std::string_view mask,
                                        std::vector<FolderEntry>* entries) noexcept override;
    [[nodiscard]] Win32Error SetAttributes(FileRef handle,
                                           std::uint32_t attributes) noexcept override;
    [[nodiscard]] Win32Error DeleteByHandle(FileRef handle) noexcept override;
    [[nodiscard]] Win32Error Close(FileRef handle) noexcept override;
    [[nodiscard]] Win32Error CreateFolder(FileRef folder, std::string_view name,
                                          FolderProtection protection,
                                          FileRef* handle) noexcept override;
    [[nodiscard]] Win32Error Rename(FileRef handle, FileRef folder,
                                    std::string_view name) noexcept override;
    [[nodiscard]] Win32Error WriteWholeFile(FileRef folder, std::string_view name,
                                            std::string_view data) noexcept override;
    [[nodiscard]] Win32Error ReadWholeFile(FileRef folder, std::string_view name,
                                           std::string* data) noexcept override;
    [[nodiscard]] Win32Error CheckProtection(FileRef folder,
                                             FolderProtection protection) noexcept override;
};

}  // namespace qv::win32
