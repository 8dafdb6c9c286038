// The fake machine's tree view control and dialog window.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "port/dialog_window.h"
#include "port/tree.h"

namespace qv::fake {

// A tree view with TVS_CHECKBOXES: items in insertion order, state images, expansion. Item
// handles are never reused. New items get state image 1 (an unchecked box) while the style has
// TVS_CHECKBOXES, as the real control gives them. Expand (TVE_EXPAND, TVE_COLLAPSE, TVE_TOGGLE)
// fails on an item without children. DeleteItem(0) fails and deletes nothing, as the Windows
// adapter refuses it.
//
// The control starts as a dialog template makes it: with the TVS_CHECKBOXES style but without the
// check-box images, which it makes only when the style is set on the existing window (observed
// under Wine 8; Windows asks for the style to be set so, before the tree is filled). Setting the
// style then also gives every existing item an unchecked box (Wine 8); removing it drops the
// images and leaves the items' states.
class FakeTree final : public ITreeControl {
  public:
    FakeTree();
    ~FakeTree() override;

    // --- inspection ---
    // The whole tree as text, one item a line: "[x] label" checked, "[ ] label" unchecked,
    // "[?] label" no state image; children indented by two spaces; "+" after the box when the
    // item is expanded: "[x]+ Ovaline 2004 (English)\n  [x] ann\n".
    std::string Render() const;
    std::size_t ItemCount() const;
    std::vector<TreeItem> TopLevelItems() const;
    std::vector<TreeItem> Children(TreeItem item) const;
    TreeItem FindItem(std::string_view label, TreeItem parent = 0) const;  // 0 if none
    bool IsChecked(TreeItem item) const;
    std::uint32_t Style() const;  // starts with TVS_CHECKBOXES set
    // Whether the control has its check-box images (TVM_GETIMAGELIST, TVSIL_STATE, is not null).
    bool HasCheckBoxImages() const;

    // Where the tree's client area starts on the screen: ScreenToClient subtracts it.
    static constexpr Point kClientOrigin{100, 100};

    // --- what the operator does ---
    // Where a hit test lands: the item and TVHT_* flags for any point (tests set it before a
    // simulated click); the default is no item, flags 1 (TVHT_NOWHERE).
    void SetHitTestResult(TreeItem item, std::uint32_t flags);
    void SetCaret(TreeItem item);
    // The control's own toggle of an item's check box, after the notification returned: state
    // image 1 becomes 2 and 2 becomes 1; an item without a check box stays as it is.
    void ToggleCheck(TreeItem item);

    // --- ITreeControl ---
    TreeItem InsertItem(TreeItem parent, std::string_view text) noexcept override;
    TreeItem GetNextItem(TreeItem item, std::uint32_t code) noexcept override;
    std::string GetItemText(TreeItem item) noexcept override;
    std::uint32_t GetItemState(TreeItem item, std::uint32_t mask) noexcept override;
    [[nodiscard]] bool SetItemState(TreeItem item, std::uint32_t state,
                                    std::uint32_t mask) noexcept override;
    [[nodiscard]] bool ItemHasChildren(TreeItem item) noexcept override;
    [[nodiscard]] bool DeleteItem(TreeItem item) noexcept override;
    [[nodiscard]] bool Expand(TreeItem item, std::uint32_t code) noexcept override;
    TreeItem HitTest(Point client, std::uint32_t* flags) noexcept override;
    Point ScreenToClient(Point screen) noexcept override;
    void ModifyStyle(std::uint32_t remove, std::uint32_t add) noexcept override;

  private:
    struct State;
    std::unique_ptr<State> s_;
};

class FakeDialogWindow final : public IDialogWindow {
  public:
    static constexpr WindowRef kHandle = 0x1234;

    std::string ItemText(int controlId) const {
        return texts_.count(controlId) ? texts_.at(controlId) : "";
    }
    const std::string& Title() const { return title_; }
    // Controls start enabled.
    bool IsItemEnabled(int controlId) const {
        return enabled_.count(controlId) == 0 || enabled_.at(controlId);
    }
    bool Ended() const { return ended_; }
    int EndResult() const { return endResult_; }

    WindowRef Handle() noexcept override { return kHandle; }
    void SetItemText(int controlId, std::string_view text) noexcept override {
        texts_[controlId] = std::string(text);
    }
    void SetTitle(std::string_view text) noexcept override { title_ = std::string(text); }
    void EnableItem(int controlId, bool enable) noexcept override { enabled_[controlId] = enable; }
    void EndDialog(int result) noexcept override {
        ended_ = true;
        endResult_ = result;
    }
    Point GetMessagePos() noexcept override { return {}; }

  private:
    std::map<int, std::string> texts_;
    std::map<int, bool> enabled_;
    std::string title_;
    bool ended_ = false;
    int endResult_ = 0;
};

}  // namespace qv::fake
