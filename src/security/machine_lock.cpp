#include "security/machine_lock.h"

#include <algorithm>

#include "app/messages.h"
#include "res/resource.h"
#include "security/token.h"

namespace qv {

std::uint32_t MachineLockWaitMs(std::uint32_t seconds) noexcept {
    constexpr std::uint64_t kLongest = 0xFFFFFFFEu;  // INFINITE - 1
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(seconds * std::uint64_t{1000}, kLongest));
}

bool HoldMachineForDialog(Platform& os, UniqueMachineLock* lock) {
    lock->reset();
    if (!IsMemberOfAdministrators(os)) return true;
    for (;;) {
        Win32Error error = err::kSuccess;
        switch (os.system.AcquireMachineLock(0, lock->put(), &error)) {
            case MachineLockOutcome::kAcquired:
                return true;
            case MachineLockOutcome::kBusy:
                // The operator waits with the box open; any answer but Retry closes.
                if (os.messages.Show(0, os.resources.LoadString(IDS_MACHINE_BUSY),
                                     os.resources.LoadString(IDS_CAPTION),
                                     mb::kRetryCancel | mb::kIconExclamation) != mb::kIdRetry) {
                    return false;
                }
                break;
            case MachineLockOutcome::kFailed:
                ShowSystemError(os, error, os.resources.LoadString(IDS_MACHINE_LOCK_FAILED));
                return false;
        }
    }
}

}  // namespace qv
