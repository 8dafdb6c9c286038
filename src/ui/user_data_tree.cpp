#include "ui/user_data_tree.h"

#include <utility>

#include "base/text.h"

namespace qv {
namespace {

constexpr std::uint32_t kUncheckedImage = 1;
constexpr std::uint32_t kCheckedImage = 2;

}  // namespace

TreeItem UserDataTree::FindRegistrationItem(std::string_view label) {
    for (TreeItem item = control_.GetNextItem(0, tv::kGetRoot); item != 0;
         item = control_.GetNextItem(item, tv::kGetNext)) {
        if (text::Equals(control_.GetItemText(item), label)) return item;
    }
    return 0;
}

TreeItem UserDataTree::InsertRegistrationItem(std::string_view label, std::string_view keyPath) {
    TreeItem item = control_.InsertItem(0, label);
    if (item == 0) return 0;
    registrations_[item] = std::string(keyPath);
    SetCheck(item, true);
    return item;
}

TreeItem UserDataTree::InsertUserItem(TreeItem registration, std::string_view accountName,
                                      std::string_view sidText, std::string_view ownKeyPath) {
    TreeItem item = control_.InsertItem(registration, accountName);
    if (item == 0) return 0;
    users_[item] = UserData{std::string(sidText), std::string(ownKeyPath)};
    SetCheck(item, true);
    return item;
}

int UserDataTree::GetCheck(TreeItem item) {
    std::uint32_t state = control_.GetItemState(item, tv::kStateImageMask);
    return static_cast<int>((state & tv::kStateImageMask) >> 12) - 1;
}

void UserDataTree::SetCheck(TreeItem item, bool checked) {
    // A box the control does not set keeps its state; every reader asks the control (GetCheck).
    (void)control_.SetItemState(item, tv::StateImage(checked ? kCheckedImage : kUncheckedImage),
                                tv::kStateImageMask);
}

void UserDataTree::PropagateCheck(TreeItem item) {
    if (item == 0) return;
    // The control toggles the item itself after the notification returns, so the item's new
    // state is the opposite of what it reads now.
    const bool checked = GetCheck(item) == 0;

    if (control_.ItemHasChildren(item)) {
        for (TreeItem child = control_.GetNextItem(item, tv::kGetChild); child != 0;
             child = control_.GetNextItem(child, tv::kGetNext)) {
            SetCheck(child, checked);
        }
        return;
    }

    TreeItem parent = control_.GetNextItem(item, tv::kGetParent);
    if (parent == 0) return;
    if (checked) {
        SetCheck(parent, true);
        return;
    }
    // A registration item stays checked while any other of its users is.
    for (TreeItem sibling = control_.GetNextItem(parent, tv::kGetChild); sibling != 0;
         sibling = control_.GetNextItem(sibling, tv::kGetNext)) {
        if (sibling != item && GetCheck(sibling) == 1) return;
    }
    SetCheck(parent, false);
}

void UserDataTree::OnClick(Point messageScreenPos) {
    std::uint32_t flags = 0;
    TreeItem item = control_.HitTest(control_.ScreenToClient(messageScreenPos), &flags);
    // Only a click on the check box itself toggles it; the label, the expand button and the
    // space beside the item do not.
    if (item != 0 && flags == tv::kHitOnItemStateIcon) PropagateCheck(item);
}

void UserDataTree::OnKeyDown(std::uint16_t virtualKey) {
    if (virtualKey != tv::kToggleKey) return;
    PropagateCheck(control_.GetNextItem(0, tv::kGetCaret));
}

std::vector<SelectedPair> UserDataTree::CheckedPairs() {
    std::vector<SelectedPair> pairs;
    for (TreeItem registration = control_.GetNextItem(0, tv::kGetRoot); registration != 0;
         registration = control_.GetNextItem(registration, tv::kGetNext)) {
        for (TreeItem user = control_.GetNextItem(registration, tv::kGetChild); user != 0;
             user = control_.GetNextItem(user, tv::kGetNext)) {
            if (GetCheck(user) == 0) continue;
            auto data = users_.find(user);
            if (data == users_.end()) continue;
            // The user's own key path: a user filed under a registration item of the same label
            // may hold his registration under another key name.
            SelectedPair pair;
            pair.registrationKeyPath = data->second.ownKeyPath;
            pair.sidText = data->second.sidText;
            pairs.push_back(std::move(pair));
        }
    }
    return pairs;
}

std::string UserDataTree::RegistrationKeyPath(TreeItem registration) const {
    auto it = registrations_.find(registration);
    return it == registrations_.end() ? std::string() : it->second;
}

std::string UserDataTree::SidText(TreeItem user) const {
    auto it = users_.find(user);
    return it == users_.end() ? std::string() : it->second.sidText;
}

std::string UserDataTree::OwnKeyPath(TreeItem user) const {
    auto it = users_.find(user);
    return it == users_.end() ? std::string() : it->second.ownKeyPath;
}

bool UserDataTree::HasItems() { return control_.GetNextItem(0, tv::kGetRoot) != 0; }

void UserDataTree::ExpandAll() {
    for (TreeItem item = control_.GetNextItem(0, tv::kGetRoot); item != 0;
         item = control_.GetNextItem(item, tv::kGetNext)) {
        (void)control_.Expand(item, tv::kExpand);  // a folded item is listed all the same
    }
}

void UserDataTree::Clear() {
    TreeItem registration = control_.GetNextItem(0, tv::kGetRoot);
    while (registration != 0) {
        registrations_.erase(registration);
        TreeItem user = control_.GetNextItem(registration, tv::kGetChild);
        while (user != 0) {
            // The sibling is taken before the item goes away.
            TreeItem nextUser = control_.GetNextItem(user, tv::kGetNext);
            users_.erase(user);
            // A deletion the control refuses leaves the item shown; its data goes all the same.
            (void)control_.DeleteItem(user);
            user = nextUser;
        }
        TreeItem next = control_.GetNextItem(registration, tv::kGetNext);
        (void)control_.DeleteItem(registration);
        registration = next;
    }
    // Data of items the control no longer reports (it cannot hold any other) goes as well, so
    // the model never outlives its items.
    registrations_.clear();
    users_.clear();
}

}  // namespace qv
