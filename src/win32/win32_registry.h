// The registry port on the system's advapi32 registry functions (ANSI).
#pragma once
#include <memory>

#include "port/registry.h"
#include "win32/windows_api.h"

namespace qv::win32 {

[[nodiscard]] std::unique_ptr<IRegistry> MakeRegistry();

}  // namespace qv::win32
