#include "ui/population.h"

#include <algorithm>

#include "engine/scan.h"

namespace qv {

void FillTree(UserDataTree& tree, const Findings& findings, std::set<std::string>* unnamedUsers) {
    for (const RegistrationFinding& registration : findings.registrations) {
        // The tree shows a user by his account name: a user the system cannot name is left out
        // (and counted), and a registration held by such users alone is not shown.
        const bool anyNamed =
            std::any_of(registration.users.begin(), registration.users.end(),
                        [](const UserFinding& user) { return !user.account.empty(); });
        TreeItem item = anyNamed ? tree.FindRegistrationItem(registration.label) : 0;
        if (anyNamed && item == 0) {
            item = tree.InsertRegistrationItem(registration.label, registration.keyPath);
        }
        for (const UserFinding& user : registration.users) {
            if (user.account.empty()) {
                if (unnamedUsers != nullptr) unnamedUsers->insert(user.sid);
                continue;
            }
            // A user the control cannot take is not shown, and so not cleaned either.
            if (item != 0) (void)tree.InsertUserItem(item, user.account, user.sid, user.keyPath);
        }
    }
}

bool PopulateTree(Workspace& ws, UserDataTree& tree, std::string_view company,
                  std::string_view product, std::string_view release,
                  std::set<std::string>* unreadableUsers, std::set<std::string>* unnamedUsers) {
    Findings findings;
    const bool read =
        ScanRegistrations(ws, company, product, release, &findings, ScanMode::kRegisterLeftovers);
    FillTree(tree, findings, unnamedUsers);
    if (unreadableUsers != nullptr) {
        for (const ProfileFinding& profile : findings.profiles) {
            if (profile.state == ProfileState::kUnreadable) unreadableUsers->insert(profile.sid);
        }
    }
    return read;
}

}  // namespace qv
