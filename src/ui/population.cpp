#include "ui/population.h"

#include "engine/scan.h"

namespace qv {

void FillTree(UserDataTree& tree, const Findings& findings) {
    for (const RegistrationFinding& registration : findings.registrations) {
        TreeItem item = tree.FindRegistrationItem(registration.label);
        if (item == 0) item = tree.InsertRegistrationItem(registration.label, registration.keyPath);
        if (item == 0) continue;
        for (const UserFinding& user : registration.users) {
            // A user the control cannot take is not shown, and so not cleaned either.
            (void)tree.InsertUserItem(item, user.account, user.sid, user.keyPath);
        }
    }
}

bool PopulateTree(Workspace& ws, UserDataTree& tree, std::string_view company,
                  std::string_view product, std::string_view release,
                  std::set<std::string>* unreadableUsers) {
    Findings findings;
    const bool read = ScanRegistrations(ws, company, product, release, &findings);
    FillTree(tree, findings);
    if (unreadableUsers != nullptr) {
        for (const ProfileFinding& profile : findings.profiles) {
            if (profile.state == ProfileState::kUnreadable) unreadableUsers->insert(profile.sid);
        }
    }
    return read;
}

}  // namespace qv
