// Tree control port: the tree view messages the tool sends to the dialog's tree (IDC_TREE,
// TVS_CHECKBOXES).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "port/port.h"
#include "port/window.h"

namespace qv {

using TreeItem = std::uintptr_t;  // an HTREEITEM; 0 is none

namespace tv {
inline constexpr std::uint32_t kGetRoot = 0x0000;             // TVGN_ROOT
inline constexpr std::uint32_t kGetNext = 0x0001;             // TVGN_NEXT
inline constexpr std::uint32_t kGetParent = 0x0003;           // TVGN_PARENT
inline constexpr std::uint32_t kGetChild = 0x0004;            // TVGN_CHILD
inline constexpr std::uint32_t kGetCaret = 0x0009;            // TVGN_CARET
inline constexpr std::uint32_t kStateImageMask = 0xF000;      // TVIS_STATEIMAGEMASK
inline constexpr std::uint32_t kExpand = 0x0002;              // TVE_EXPAND
inline constexpr std::uint32_t kHitOnItemStateIcon = 0x0040;  // TVHT_ONITEMSTATEICON
inline constexpr std::uint32_t kCheckBoxes = 0x0100;          // TVS_CHECKBOXES
inline constexpr std::uint16_t kToggleKey = 0x20;             // VK_SPACE toggles the check box
constexpr std::uint32_t StateImage(std::uint32_t index) { return index << 12; }
}  // namespace tv

class ITreeControl : public Port {
  public:
    // TVM_INSERTITEM after the last child of `parent` (0: top level). Returns 0 on failure.
    virtual TreeItem InsertItem(TreeItem parent, std::string_view text) noexcept = 0;
    // TVM_GETNEXTITEM with a tv::kGet* code; 0 when there is none.
    virtual TreeItem GetNextItem(TreeItem item, std::uint32_t code) noexcept = 0;
    virtual std::string GetItemText(TreeItem item) noexcept = 0;
    // TVM_GETITEMSTATE / TVM_SETITEM with the state mask.
    virtual std::uint32_t GetItemState(TreeItem item, std::uint32_t mask) noexcept = 0;
    [[nodiscard]] virtual bool SetItemState(TreeItem item, std::uint32_t state,
                                            std::uint32_t mask) noexcept = 0;
    // Whether the item has child items (TVM_GETITEM, cChildren).
    [[nodiscard]] virtual bool ItemHasChildren(TreeItem item) noexcept = 0;
    [[nodiscard]] virtual bool DeleteItem(TreeItem item) noexcept = 0;
    // TVM_EXPAND.
    [[nodiscard]] virtual bool Expand(TreeItem item, std::uint32_t code) noexcept = 0;
    // TVM_HITTEST at a point in client coordinates; *flags receives the TVHT_* flags.
    virtual TreeItem HitTest(Point client, std::uint32_t* flags) noexcept = 0;
    // ScreenToClient on the tree window.
    virtual Point ScreenToClient(Point screen) noexcept = 0;
    // ModifyStyle without frame flags.
    virtual void ModifyStyle(std::uint32_t remove, std::uint32_t add) noexcept = 0;
};

}  // namespace qv
