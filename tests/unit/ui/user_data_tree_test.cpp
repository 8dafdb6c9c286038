#include "ui/user_data_tree.h"

#include <gtest/gtest.h>

#include <string>

#include "fake/fake_ui.h"

namespace qv {
namespace {

// Registration "A" with users a1 and a2, registration "B" with user b1.
class TreeTest : public ::testing::Test {
  protected:
    TreeTest() {
        a = model.InsertRegistrationItem("A", "Software\\A");
        a1 = model.InsertUserItem(a, "ann", "S-1", "Software\\A");
        a2 = model.InsertUserItem(a, "bob", "S-2", "Software\\A2");
        b = model.InsertRegistrationItem("B", "Software\\B");
        b1 = model.InsertUserItem(b, "ann", "S-1", "Software\\B");
    }
    void Click(TreeItem item, std::uint32_t flags) {
        control.SetHitTestResult(item, flags);
        model.OnClick(Point{10, 20});
    }
    // The operator clicks a check box: the notification first, then the control's own toggle.
    void ClickBox(TreeItem item) {
        Click(item, tv::kHitOnItemStateIcon);
        control.ToggleCheck(item);
    }
    std::string Checks() {
        std::string checks;
        for (TreeItem item : {a, a1, a2, b, b1}) checks += control.IsChecked(item) ? '1' : '0';
        return checks;
    }

    fake::FakeTree control;
    UserDataTree model{control};
    TreeItem a, a1, a2, b, b1;
};

TEST_F(TreeTest, ItemsAreInsertedCheckedAtTheEndOfTheirLevel) {
    EXPECT_EQ(control.Render(), "[x] A\n  [x] ann\n  [x] bob\n[x] B\n  [x] ann\n");
    EXPECT_EQ(model.FindRegistrationItem("B"), b);
    EXPECT_EQ(model.FindRegistrationItem("b"), 0u);
    EXPECT_EQ(model.GetCheck(control.InsertItem(0, "new")), 0);
    control.ModifyStyle(tv::kCheckBoxes, 0);  // items without a box have no state image
    EXPECT_EQ(model.GetCheck(control.InsertItem(0, "no box")), -1);
}

TEST_F(TreeTest, RegistrationBoxGivesAllItsUsersItsNewState) {
    ClickBox(a);
    EXPECT_EQ(Checks(), "00011");
    ClickBox(a);
    EXPECT_EQ(Checks(), "11111");
}

TEST_F(TreeTest, RegistrationStaysCheckedExactlyWhileOneOfItsUsersIs) {
    ClickBox(a2);  // a1, before it, still checked
    EXPECT_EQ(Checks(), "11011");
    ClickBox(a2);
    ClickBox(a1);  // a2, after it, still checked
    EXPECT_EQ(Checks(), "10111");
    ClickBox(a2);  // the last checked one
    EXPECT_EQ(Checks(), "00011");
    ClickBox(a1);  // checking a user checks its registration
    EXPECT_EQ(Checks(), "11011");
}

TEST_F(TreeTest, OnlyTheCheckBoxAndTheSpaceKeyPropagate) {
    Click(a, 0x04);  // label
    Click(a, 0x10);  // expand button
    Click(a, 0x44);  // label and box at once is not the box alone
    Click(0, tv::kHitOnItemStateIcon);
    control.SetCaret(a);
    model.OnKeyDown(0x28);  // arrow down
    EXPECT_EQ(Checks(), "11111");
    model.OnKeyDown(tv::kToggleKey);
    EXPECT_EQ(Checks(), "10011");
}

TEST_F(TreeTest, SelectionYieldsCheckedUsersWithTheirOwnKeys) {
    ClickBox(a1);
    std::vector<SelectedPair> pairs = model.CheckedPairs();
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].registrationKeyPath, "Software\\A2");
    EXPECT_EQ(pairs[0].sidText, "S-2");
    EXPECT_EQ(pairs[1].registrationKeyPath, "Software\\B");
    EXPECT_EQ(pairs[1].sidText, "S-1");
    // Registration items' own boxes select nothing.
    model.SetCheck(a2, false);
    model.SetCheck(b1, false);
    EXPECT_EQ(Checks(), "10010");
    EXPECT_TRUE(model.CheckedPairs().empty());
}

TEST_F(TreeTest, ClearReleasesEveryItemAndItsData) {
    model.Clear();
    EXPECT_EQ(control.ItemCount(), 0u);
    EXPECT_EQ(model.SidText(a1), "");
    EXPECT_EQ(model.RegistrationKeyPath(a), "");
    model.Clear();
    EXPECT_EQ(control.ItemCount(), 0u);
    {
        UserDataTree other(control);
        other.InsertUserItem(other.InsertRegistrationItem("C", "Software\\C"), "cy", "S-3", "");
    }
    EXPECT_EQ(control.ItemCount(), 0u);
}

}  // namespace
}  // namespace qv
