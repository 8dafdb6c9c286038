#include "ui/population.h"

#include <algorithm>

#include "engine/scan.h"

namespace qv {

void FillTree(UserDataTree& tree, const Findings& findings, std::set<std::string>* unnamedUsers) {
    std::vector<std::size_t> filled;
    (void)FillTreeFrom(tree, findings, &filled, unnamedUsers);
}

bool FillTreeFrom(UserDataTree& tree, const Findings& findings, std::vector<std::size_t>* filled,
                  std::set<std::string>* unnamedUsers) {
    bool added = false;
    filled->resize(findings.registrations.size(), 0);
    for (std::size_t r = 0; r < findings.registrations.size(); ++r) {
        const RegistrationFinding& registration = findings.registrations[r];
        // The tree shows a user by his account name: a user the system cannot name is left out
        // (and counted), and a registration held by such users alone is not shown. Its item is
        // looked for (or made) at its first named user.
        TreeItem item = 0;
        bool looked = false;
        for (std::size_t u = (*filled)[r]; u < registration.users.size(); ++u) {
            const UserFinding& user = registration.users[u];
            if (user.account.empty()) {
                if (unnamedUsers != nullptr) unnamedUsers->insert(user.sid);
                continue;
            }
            if (!looked) {
                looked = true;
                item = tree.FindRegistrationItem(registration.label);
                if (item == 0) {
                    item = tree.InsertRegistrationItem(registration.label, registration.keyPath);
                }
            }
            // A user the control cannot take is not shown, and so not cleaned either.
            if (item != 0 && tree.InsertUserItem(item, user.account, user.sid, user.keyPath) != 0) {
                added = true;
            }
        }
        (*filled)[r] = registration.users.size();
    }
    return added;
}

bool TreeShows(UserDataTree& tree, const std::vector<const Findings*>& parts) {
    // What FillTree makes of the parts in an empty tree: items by label in the order of their
    // first named user's registration, each with its named users in that order.
    struct Item {
        const RegistrationFinding* first;
        std::vector<const UserFinding*> users;
    };
    std::vector<Item> items;
    for (const Findings* part : parts) {
        for (const RegistrationFinding& registration : part->registrations) {
            for (const UserFinding& user : registration.users) {
                if (user.account.empty()) continue;
                auto it = std::find_if(items.begin(), items.end(), [&](const Item& i) {
                    return i.first->label == registration.label;
                });
                if (it == items.end()) it = items.insert(items.end(), Item{&registration, {}});
                it->users.push_back(&user);
            }
        }
    }
    ITreeControl& control = tree.control();
    TreeItem item = control.GetNextItem(0, tv::kGetRoot);
    for (const Item& expected : items) {
        if (item == 0 || control.GetItemText(item) != expected.first->label ||
            tree.RegistrationKeyPath(item) != expected.first->keyPath) {
            return false;
        }
        TreeItem child = control.GetNextItem(item, tv::kGetChild);
        for (const UserFinding* user : expected.users) {
            if (child == 0 || control.GetItemText(child) != user->account ||
                tree.SidText(child) != user->sid || tree.OwnKeyPath(child) != user->keyPath) {
                return false;
            }
            child = control.GetNextItem(child, tv::kGetNext);
        }
        if (child != 0) return false;
        item = control.GetNextItem(item, tv::kGetNext);
    }
    return item == 0;
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
