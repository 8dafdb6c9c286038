// The tree control and dialog window ports on a real tree view (IDC_TREE) and dialog.
#pragma once
#include "port/dialog_window.h"
#include "port/tree.h"
#include "win32/windows_api.h"

namespace qv::win32 {

// Sends the tree view messages (ANSI) to `tree`, a SysTreeView32 window this object does not own.
class Win32TreeControl final : public ITreeControl {
  public:
    explicit Win32TreeControl(HWND tree) noexcept : tree_(tree) {}
    HWND window() const noexcept { return tree_; }

    // Alike on purpose: the fake and the Windows adapter implement the same port, so both list its
    // methods.
    TreeItem InsertItem(TreeItem parent, std::string_view text) noexcept override;
    TreeItem GetNextItem(TreeItem item, std::uint32_t code) noexcept override;
    std::string GetItemText(TreeItem item) noexcept override;
    std::uint32_t GetItemState(TreeItem item, std::uint32_t mask) noexcept override;
    [[nodiscard]] bool SetItemState(TreeItem item, std::uint32_t state,
                                    std::uint32_t mask) noexcept override;
    [[nodiscard]] bool ItemHasChildren(TreeItem item) noexcept override;
    // Refuses item 0, which the control would take as "delete every item".
    [[nodiscard]] bool DeleteItem(TreeItem item) noexcept override;
    [[nodiscard]] bool Expand(TreeItem item, std::uint32_t code) noexcept override;
    TreeItem HitTest(Point client, std::uint32_t* flags) noexcept override;
    Point ScreenToClient(Point screen) noexcept override;
    void ModifyStyle(std::uint32_t remove, std::uint32_t add) noexcept override;

  private:
    HWND tree_;
};

// The clean-up dialog's own window, not owned.
class Win32DialogWindow final : public IDialogWindow {
  public:
    explicit Win32DialogWindow(HWND dialog) noexcept : dialog_(dialog) {}

    WindowRef Handle() noexcept override;
    void SetItemText(int controlId, std::string_view text) noexcept override;
    void SetTitle(std::string_view text) noexcept override;
    void EnableItem(int controlId, bool enable) noexcept override;
    void EndDialog(int result) noexcept override;
    Point GetMessagePos() noexcept override;

  private:
    HWND dialog_;
};

}  // namespace qv::win32
