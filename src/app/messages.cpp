#include "app/messages.h"

#include "app/defaults.h"

namespace qv {

std::string SystemErrorText(ISystem& system, Win32Error code) {
    return system.FormatSystemMessage(code);
}

void ShowSystemError(Platform& os, Win32Error code, std::string_view prefix) {
    std::string message(prefix);
    message += SystemErrorText(os.system, code);
    os.messages.Show(0, message, kErrorCaption, mb::kIconInformation | mb::kOk);
}

}  // namespace qv
