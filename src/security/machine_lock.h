// One run at a time per machine. A run that loads other users' hives or may change anything holds
// the machine's run lock (ISystem::AcquireMachineLock) from its start to its end, the dialog and
// the console program alike, so that what a run shows is still true when the operator confirms
// it and no hive is loaded by two runs at once. Only an administrator's run can hold it (the lock
// grants SYSTEM and the Administrators alone); anyone else's run sees only his own registry, which
// every run uses in place, and is not held back.
#pragma once
#include <cstdint>

#include "port/platform.h"

namespace qv {

// The wait of `--wait SECONDS` in milliseconds, short of the system's "without end".
[[nodiscard]] std::uint32_t MachineLockWaitMs(std::uint32_t seconds) noexcept;

// The dialog's start, before the dialog is made: for an administrator, the lock, kept in *lock
// until the caller lets it go after the dialog closed. While another run holds it, a box says so
// and offers to try again (Retry) or to close (Cancel); a lock that cannot be had otherwise is
// reported in a box, and the dialog does not run either. True when the dialog may run (the lock
// held, or not needed); false: close with nothing done.
[[nodiscard]] bool HoldMachineForDialog(Platform& os, UniqueMachineLock* lock);

}  // namespace qv
