// Where the programs' libraries come from.
#pragma once

namespace qv::win32 {

// Makes the system folder the only place a library is loaded from for the rest of the process
// (SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)): neither the program's folder nor the
// current directory, which someone else may have put a library of a system name into. The
// first thing each program does; what the loader maps before it (the imports) are KnownDLLs,
// ntdll, and comctl32 from the side-by-side store that the manifest names
// (tests/windows/program_imports.sh checks the list).
void LoadLibrariesFromSystemFolderOnly() noexcept;

}  // namespace qv::win32
