// The two-level tree of the dialog: registration items at the top, user items below them, each
// with a check box. The model owns the item data; every path that empties the tree goes through
// Clear().
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/findings.h"
#include "port/tree.h"

namespace qv {

// One checked user item: the registration key path to remove (relative to the user's hive root)
// and the user's SID text.
class UserDataTree {
  public:
    explicit UserDataTree(ITreeControl& control) : control_(control) {}
    UserDataTree(const UserDataTree&) = delete;
    UserDataTree& operator=(const UserDataTree&) = delete;
    // Empties the tree through the control, so the model ends before its control does (the
    // dialog's binding, DialogBinding, ends it while the window's controls exist).
    ~UserDataTree() { Clear(); }

    ITreeControl& control() { return control_; }

    // The first top-level item whose label equals `label` exactly; 0 if none.
    TreeItem FindRegistrationItem(std::string_view label);
    // A checked top-level item at the end, holding the registration key path.
    TreeItem InsertRegistrationItem(std::string_view label, std::string_view keyPath);
    // A checked user item at the end of `registration`'s children, holding the SID text and the
    // key path of this user's own registration (which may differ from the registration item's
    // when two registrations share a label).
    TreeItem InsertUserItem(TreeItem registration, std::string_view accountName,
                            std::string_view sidText, std::string_view ownKeyPath);

    // 0 unchecked, 1 checked, -1 no state image.
    int GetCheck(TreeItem item);
    void SetCheck(TreeItem item, bool checked);

    // Check propagation after the operator toggles `item` (before the control toggles it).
    void PropagateCheck(TreeItem item);
    // NM_CLICK: hit-tests the screen position of the last message; only a click on a check box
    // propagates.
    void OnClick(Point messageScreenPos);
    // TVN_KEYDOWN: only the toggle key propagates, for the item with the caret.
    void OnKeyDown(std::uint16_t virtualKey);

    // The checked user items in tree order.
    std::vector<SelectedPair> CheckedPairs();
    // The registration key path of a registration item, the SID text of a user item.
    std::string RegistrationKeyPath(TreeItem registration) const;
    std::string SidText(TreeItem user) const;
    // The key path of a user item's own registration.
    std::string OwnKeyPath(TreeItem user) const;

    [[nodiscard]] bool HasItems();
    void ExpandAll();
    // Releases all item data and deletes all items.
    void Clear();

  private:
    struct UserData {
        std::string sidText;
        std::string ownKeyPath;
    };
    ITreeControl& control_;
    std::unordered_map<TreeItem, std::string> registrations_;
    std::unordered_map<TreeItem, UserData> users_;
};

}  // namespace qv
