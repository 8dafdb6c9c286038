// The security port on the system: the 13 security functions are bound by name from the security
// library that start-up loaded (CQuorvaneApp::advapi32), each on its first call; the user name
// and the closing of a token are imported as usual.
#pragma once
#include <memory>

#include "port/security.h"
#include "port/system.h"
#include "win32/windows_api.h"

namespace qv::win32 {

// `advapi32` is the application's library handle; the adapter keeps a reference to it and reads it
// at each call that still has to bind its function, so it may be loaded after the adapter exists.
[[nodiscard]] std::unique_ptr<ISecurity> MakeSecurity(const ModuleHandle& advapi32);

}  // namespace qv::win32
