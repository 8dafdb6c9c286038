#include "win32/dll_search.h"

#include "win32/windows_api.h"

namespace qv::win32 {

void LoadLibrariesFromSystemFolderOnly() noexcept {
    // Its only failure is a flag it does not know; the libraries the tool loads itself ask for
    // the system folder each time anyway (ISystem::LoadLibrary).
    (void)::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace qv::win32
