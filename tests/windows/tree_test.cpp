// The tree adapter on a real tree view with check boxes, styled as the dialog's control IDC_TREE.
#include <cstring>
#include <memory>

#include "resource.h"
#include "win32/win32_controls.h"
#include "windows_test_support.h"

namespace qv::win32::testing {
namespace {

constexpr std::uint32_t kUnchecked = tv::StateImage(1);
constexpr std::uint32_t kChecked = tv::StateImage(2);

class TreeOnSystem : public ::testing::Test {
  protected:
    TreeOnSystem()
        : frame_(::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 480, 320, nullptr, nullptr,
                                   nullptr, nullptr)),
          window_(::CreateWindowExA(0x00004220, WC_TREEVIEWA, "", 0x50800117, 0, 0, 460, 300,
                                    frame_.get(), reinterpret_cast<HMENU>(IDC_TREE), nullptr,
                                    nullptr)),
          tree_(MakeTreeControl(window_.get())) {}

    void SetUp() override {
        ASSERT_NE(window_.get(), nullptr) << "a tree view needs a display";
        // As the dialog does at initialisation: a tree view made with TVS_CHECKBOXES has its
        // check box images only once the style is applied again (so under Wine).
        tree_->ModifyStyle(tv::kCheckBoxes, 0);
        tree_->ModifyStyle(0, tv::kCheckBoxes);
        registration_ = tree_->InsertItem(0, "Ovaline 2004 (English)");
        ann_ = tree_->InsertItem(registration_, "ann");
        bob_ = tree_->InsertItem(registration_, "bob");
        ASSERT_TRUE(registration_ && ann_ && bob_);
        (void)tree_->Expand(registration_, tv::kExpand);  // the tests read states, not the view
    }

    std::uint32_t Check(TreeItem item) { return tree_->GetItemState(item, tv::kStateImageMask); }

    UniqueWindow frame_;
    UniqueWindow window_;
    std::unique_ptr<ITreeControl> tree_;
    TreeItem registration_ = 0, ann_ = 0, bob_ = 0;
};

TEST_F(TreeOnSystem, NewItemsShowAnEmptyBoxThatTakesTheCheck) {
    EXPECT_EQ(Check(ann_), kUnchecked);
    ASSERT_TRUE(tree_->SetItemState(ann_, kChecked, tv::kStateImageMask));
    EXPECT_EQ(Check(ann_), kChecked);
    EXPECT_EQ(Check(bob_), kUnchecked);
    ASSERT_TRUE(tree_->SetItemState(ann_, kUnchecked, tv::kStateImageMask));
    EXPECT_EQ(Check(ann_), kUnchecked);
}

TEST_F(TreeOnSystem, ItemsAreWalkedInInsertionOrder) {
    EXPECT_EQ(tree_->GetNextItem(0, tv::kGetRoot), registration_);
    EXPECT_EQ(tree_->GetNextItem(registration_, tv::kGetNext), 0u);
    EXPECT_EQ(tree_->GetNextItem(registration_, tv::kGetChild), ann_);
    EXPECT_EQ(tree_->GetNextItem(ann_, tv::kGetNext), bob_);
    EXPECT_EQ(tree_->GetNextItem(bob_, tv::kGetParent), registration_);
    EXPECT_TRUE(tree_->ItemHasChildren(registration_));
    EXPECT_FALSE(tree_->ItemHasChildren(ann_));
    EXPECT_EQ(tree_->GetItemText(registration_), "Ovaline 2004 (English)");
}

TEST_F(TreeOnSystem, LabelsComeBackWholeAtEveryLength) {
    // 表 (0x95 0x5C) ends in the byte of "\"; the lengths straddle the adapter's first buffer.
    for (std::size_t length : {2u, 253u, 254u, 255u, 256u, 257u, 600u}) {
        std::string label(length, 'x');
        label.replace(0, 2, "\x95\x5C");
        TreeItem item = tree_->InsertItem(0, label);
        EXPECT_EQ(tree_->GetItemText(item), label) << length;
    }
}

TEST_F(TreeOnSystem, DeletingAnItemLeavesTheOthers) {
    EXPECT_FALSE(tree_->DeleteItem(0));  // the control would take it for "every item"
    EXPECT_EQ(tree_->GetNextItem(0, tv::kGetRoot), registration_);
    ASSERT_TRUE(tree_->DeleteItem(ann_));
    EXPECT_EQ(tree_->GetNextItem(registration_, tv::kGetChild), bob_);
    ASSERT_TRUE(tree_->DeleteItem(bob_));
    EXPECT_FALSE(tree_->ItemHasChildren(registration_));
}

TEST_F(TreeOnSystem, ReappliedCheckBoxStyleKeepsTheOtherStylesAndGivesImages) {
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(window_.get(), GWL_STYLE)), 0x50800117u);
    EXPECT_NE(::SendMessageA(window_.get(), TVM_GETIMAGELIST, TVSIL_STATE, 0), 0);
    tree_->ModifyStyle(tv::kCheckBoxes, 0);
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(window_.get(), GWL_STYLE)), 0x50800017u);
    tree_->ModifyStyle(0, tv::kCheckBoxes);
    ASSERT_TRUE(tree_->SetItemState(bob_, kChecked, tv::kStateImageMask));
    EXPECT_EQ(Check(bob_), kChecked);
}

TEST_F(TreeOnSystem, HitTestTellsTheCheckBoxFromTheLabel) {
    RECT label{};
    // TVM_GETITEMRECT takes the item in the rectangle's first bytes.
    std::memcpy(&label, &ann_, sizeof ann_);
    ASSERT_TRUE(
        ::SendMessageA(window_.get(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&label)));
    const int middle = (label.top + label.bottom) / 2;
    // The state image sits just left of the label.
    POINT screen{label.left - 8, middle};
    ::ClientToScreen(window_.get(), &screen);
    Point client = tree_->ScreenToClient(Point{screen.x, screen.y});
    EXPECT_EQ(client.x, label.left - 8);
    EXPECT_EQ(client.y, middle);

    std::uint32_t flags = 0;
    EXPECT_EQ(tree_->HitTest(client, &flags), ann_);
    EXPECT_EQ(flags, tv::kHitOnItemStateIcon);
    EXPECT_EQ(tree_->HitTest(Point{label.left + 2, middle}, &flags), ann_);
    EXPECT_NE(flags, tv::kHitOnItemStateIcon);
}

}  // namespace
}  // namespace qv::win32::testing
