// The tool's own message boxes beside the dialog's: the system-error box of the diagnostic runs
// and of a hive left loaded, and the system's text for an error code. The security, discovery and
// engine code shows them, so they stand here, below all of it, with the tool's other texts.
#pragma once
#include <string>
#include <string_view>

#include "port/platform.h"

namespace qv {

// The system's message text for an error code, empty when it has none.
std::string SystemErrorText(ISystem& system, Win32Error code);
// A box with prefix + SystemErrorText(code), caption "Quorvane Error", information icon, no owner.
void ShowSystemError(Platform& os, Win32Error code, std::string_view prefix);

}  // namespace qv
