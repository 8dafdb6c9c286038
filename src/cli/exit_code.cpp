#include "cli/exit_code.h"

#include <algorithm>

namespace qv::cli {

ExitCode ExitCodeOf(const RunOutcome& outcome) {
    int code = static_cast<int>(ExitCode::kNothingToDo);
    auto raise = [&code](ExitCode to) { code = std::max(code, static_cast<int>(to)); };
    if (outcome.usageError || outcome.notConfirmed) raise(ExitCode::kNotRun);
    if (outcome.systemRefused || outcome.registryUnreadable || outcome.unreadableProfiles != 0 ||
        outcome.actionFailed || outcome.lockFailed) {
        raise(ExitCode::kFailed);
    }
    // Detection: a clean-up that went through leaves nothing of its selection behind, so only a
    // scan or a plan reports what it found.
    if (outcome.command != Command::kClean && outcome.selectedUsers != 0) {
        raise(ExitCode::kStaleFound);
    }
    if (outcome.busy) raise(ExitCode::kBusy);
    return static_cast<ExitCode>(code);
}

}  // namespace qv::cli
