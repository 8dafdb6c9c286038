#include "cli/exit_code.h"

namespace qv::cli {

ExitCode ExitCodeOf(const RunOutcome& outcome) {
    if (outcome.internalError) return ExitCode::kInternalError;
    if (outcome.busy) return ExitCode::kBusy;
    if (outcome.usageError || outcome.notConfirmed) return ExitCode::kNotRun;
    // Detection: what a scan or a plan found leads to the remediation, whatever else it could not
    // read. A clean-up that went through leaves nothing of its selection behind.
    const bool detection = outcome.command == Command::kScan || outcome.command == Command::kPlan;
    if (detection && outcome.selectedUsers != 0) return ExitCode::kStaleFound;
    if (outcome.systemRefused || outcome.registryUnreadable || outcome.unreadableProfiles != 0 ||
        outcome.actionFailed || outcome.outputFailed || outcome.lockFailed) {
        return ExitCode::kFailed;
    }
    return ExitCode::kNothingToDo;
}

}  // namespace qv::cli
