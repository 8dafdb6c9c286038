#include "fake/fake_ui.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv::fake {
namespace {

constexpr std::uint32_t kUnchecked = tv::StateImage(1);
constexpr std::uint32_t kChecked = tv::StateImage(2);

// Two registrations, the first with two users.
class FakeTreeTest : public ::testing::Test {
  protected:
    FakeTreeTest() {
        reg1 = tree.InsertItem(0, "Ovaline 2004 (English)");
        ann = tree.InsertItem(reg1, "ann");
        bob = tree.InsertItem(reg1, "bob");
        reg2 = tree.InsertItem(0, "Ovaline Sketch (English)");
        cat = tree.InsertItem(reg2, "cat");
    }

    FakeTree tree;
    TreeItem reg1 = 0, ann = 0, bob = 0, reg2 = 0, cat = 0;
};

TEST_F(FakeTreeTest, NewItemsHaveAnUncheckedBox) {
    EXPECT_EQ(tree.GetItemState(ann, tv::kStateImageMask), kUnchecked);
    EXPECT_FALSE(tree.IsChecked(ann));
    EXPECT_TRUE(tree.Style() & tv::kCheckBoxes);

    tree.ModifyStyle(tv::kCheckBoxes, 0);
    EXPECT_FALSE(tree.Style() & tv::kCheckBoxes);
    TreeItem bare = tree.InsertItem(0, "bare");
    EXPECT_EQ(tree.GetItemState(bare, tv::kStateImageMask), 0u);
    tree.ModifyStyle(0, tv::kCheckBoxes);
    EXPECT_TRUE(tree.Style() & tv::kCheckBoxes);
}

TEST_F(FakeTreeTest, CheckBoxImagesComeOnlyWhenTheStyleIsSetOnTheWindow) {
    // As the dialog template makes it: the style, no images.
    EXPECT_FALSE(tree.HasCheckBoxImages());
    tree.ModifyStyle(0, tv::kCheckBoxes);  // already set: no change
    EXPECT_FALSE(tree.HasCheckBoxImages());
    ASSERT_TRUE(tree.SetItemState(ann, kChecked, tv::kStateImageMask));

    tree.ModifyStyle(tv::kCheckBoxes, 0);
    EXPECT_FALSE(tree.HasCheckBoxImages());
    EXPECT_TRUE(tree.IsChecked(ann));  // removing the style leaves the states
    TreeItem bare = tree.InsertItem(0, "bare");
    tree.ModifyStyle(0, tv::kCheckBoxes);
    EXPECT_TRUE(tree.HasCheckBoxImages());
    // Setting the style gives every item an unchecked box, a checked one included.
    for (TreeItem item : {ann, bob, cat, bare}) {
        EXPECT_EQ(tree.GetItemState(item, tv::kStateImageMask), kUnchecked) << item;
    }
}

TEST_F(FakeTreeTest, NavigationFollowsInsertionOrder) {
    EXPECT_EQ(tree.GetNextItem(0, tv::kGetRoot), reg1);
    EXPECT_EQ(tree.GetNextItem(reg1, tv::kGetNext), reg2);
    EXPECT_EQ(tree.GetNextItem(reg2, tv::kGetNext), 0u);
    EXPECT_EQ(tree.GetNextItem(reg1, tv::kGetChild), ann);
    EXPECT_EQ(tree.GetNextItem(ann, tv::kGetNext), bob);
    EXPECT_EQ(tree.GetNextItem(bob, tv::kGetNext), 0u);
    EXPECT_EQ(tree.GetNextItem(bob, tv::kGetParent), reg1);
    EXPECT_EQ(tree.GetNextItem(reg1, tv::kGetParent), 0u);
    EXPECT_EQ(tree.GetNextItem(cat, tv::kGetChild), 0u);
    EXPECT_EQ(tree.GetNextItem(0, tv::kGetCaret), 0u);
    tree.SetCaret(bob);
    EXPECT_EQ(tree.GetNextItem(0, tv::kGetCaret), bob);
    EXPECT_TRUE(tree.ItemHasChildren(reg1));
    EXPECT_FALSE(tree.ItemHasChildren(ann));
    EXPECT_EQ(tree.GetItemText(reg2), "Ovaline Sketch (English)");
    EXPECT_EQ(tree.FindItem("bob", reg1), bob);
    EXPECT_EQ(tree.FindItem("bob"), 0u);
    EXPECT_EQ(tree.InsertItem(0xDEAD, "orphan"), 0u);
}

TEST_F(FakeTreeTest, DeleteItemTakesItsChildrenAndHandlesAreNotReused) {
    tree.SetCaret(ann);
    tree.SetHitTestResult(bob, tv::kHitOnItemStateIcon);
    ASSERT_EQ(tree.ItemCount(), 5u);
    EXPECT_TRUE(tree.DeleteItem(reg1));
    EXPECT_EQ(tree.ItemCount(), 2u);
    EXPECT_EQ(tree.TopLevelItems(), std::vector<TreeItem>{reg2});
    EXPECT_EQ(tree.GetNextItem(0, tv::kGetCaret), 0u);
    std::uint32_t flags = 0;
    EXPECT_EQ(tree.HitTest({5, 5}, &flags), 0u);
    EXPECT_FALSE(tree.DeleteItem(ann));
    EXPECT_FALSE(tree.SetItemState(ann, kChecked, tv::kStateImageMask));
    EXPECT_EQ(tree.GetItemText(ann), "");

    std::vector<TreeItem> used = {reg1, ann, bob, reg2, cat};
    TreeItem fresh = tree.InsertItem(0, "fresh");
    for (TreeItem old : used) EXPECT_NE(fresh, old);

    EXPECT_FALSE(tree.DeleteItem(0));
    EXPECT_EQ(tree.ItemCount(), 3u);
    EXPECT_TRUE(tree.DeleteItem(reg2));
    EXPECT_TRUE(tree.DeleteItem(fresh));
    EXPECT_EQ(tree.ItemCount(), 0u);
    EXPECT_EQ(tree.GetNextItem(0, tv::kGetRoot), 0u);
}

TEST_F(FakeTreeTest, DeletingAMiddleItemKeepsItsSiblingsInOrder) {
    TreeItem dan = tree.InsertItem(reg1, "dan");
    EXPECT_TRUE(tree.DeleteItem(bob));
    EXPECT_EQ(tree.GetNextItem(ann, tv::kGetNext), dan);
    EXPECT_TRUE(tree.DeleteItem(ann));
    EXPECT_EQ(tree.GetNextItem(reg1, tv::kGetChild), dan);
    TreeItem eve = tree.InsertItem(reg1, "eve");
    EXPECT_EQ(tree.Children(reg1), (std::vector<TreeItem>{dan, eve}));
    EXPECT_TRUE(tree.DeleteItem(reg1));
    EXPECT_EQ(tree.GetNextItem(0, tv::kGetRoot), reg2);
    TreeItem reg3 = tree.InsertItem(0, "third");
    EXPECT_EQ(tree.GetNextItem(reg2, tv::kGetNext), reg3);
}

TEST_F(FakeTreeTest, StateImagesAndToggle) {
    EXPECT_TRUE(tree.SetItemState(ann, kChecked, tv::kStateImageMask));
    EXPECT_TRUE(tree.IsChecked(ann));
    EXPECT_EQ(tree.GetItemState(ann, tv::kStateImageMask), kChecked);
    tree.ToggleCheck(ann);
    EXPECT_FALSE(tree.IsChecked(ann));
    tree.ToggleCheck(ann);
    EXPECT_TRUE(tree.IsChecked(ann));
    // Bits outside the mask stay.
    EXPECT_TRUE(tree.SetItemState(bob, 0x0002, 0x0002));
    EXPECT_TRUE(tree.SetItemState(bob, kChecked, tv::kStateImageMask));
    EXPECT_EQ(tree.GetItemState(bob, 0xFFFF), kChecked | 0x0002);
}

// TVM_EXPAND answers FALSE for an item without children and sets TVIS_EXPANDED only on one with.
TEST_F(FakeTreeTest, OnlyItemsWithChildrenExpand) {
    constexpr std::uint32_t kExpanded = 0x0020;  // TVIS_EXPANDED
    EXPECT_FALSE(tree.Expand(ann, tv::kExpand));
    EXPECT_EQ(tree.GetItemState(ann, kExpanded), 0u);
    EXPECT_TRUE(tree.Expand(reg1, tv::kExpand));
    EXPECT_EQ(tree.GetItemState(reg1, kExpanded), kExpanded);
    EXPECT_EQ(tree.GetItemState(reg2, kExpanded), 0u);
}

}  // namespace
}  // namespace qv::fake
