#include "engine/plan.h"

#include "base/text.h"
#include "engine/backup/backup.h"
#include "engine/removal.h"

namespace qv {
namespace {

bool AnyEqualsNoCase(const std::vector<std::string>& wanted, std::string_view value) {
    for (const std::string& w : wanted) {
        if (text::EqualsNoCase(w, value)) return true;
    }
    return false;
}

}  // namespace

std::vector<SelectedPair> Select(const Findings& findings, const Selection& selection) {
    std::vector<SelectedPair> pairs;
    for (const RegistrationFinding& registration : findings.registrations) {
        for (const UserFinding& user : registration.users) {
            const std::string keyName = text::AfterLastBackslash(user.keyPath);
            const bool registrationWanted = selection.registrations.empty() ||
                                            AnyEqualsNoCase(selection.registrations, keyName);
            const bool userWanted = selection.users.empty() ||
                                    AnyEqualsNoCase(selection.users, user.account) ||
                                    AnyEqualsNoCase(selection.users, user.sid);
            if (!registrationWanted || !userWanted) continue;
            pairs.push_back(
                {user.keyPath, user.sid, user.leftover, user.roamingFolder, user.localFolder});
        }
    }
    return pairs;
}

Plan BuildPlan(Workspace& ws, const Findings&, const std::vector<SelectedPair>& selection) {
    Journal journal(true);
    // The dry run's result is in the actions it noted, each with its own.
    (void)RemoveCheckedUserData(ws, selection, CleanupRun{}, &journal);
    return Plan{selection, journal.TakeActions()};
}

RemovalOutcome ApplyPlan(Workspace& ws, const Findings&, Plan* plan, const CleanupRun& run) {
    Journal journal(false, run.backup);
    const RemovalOutcome result = RemoveCheckedUserData(ws, plan->selection, run, &journal);
    plan->actions = journal.TakeActions();
    return result;
}

}  // namespace qv
