#include "win32/win32_controls.h"

#include <cstring>
#include <memory>
#include <vector>

#include "base/text.h"
#include "win32/win32_handles.h"

namespace qv::win32 {
namespace {

HTREEITEM ToSystemItem(TreeItem item) noexcept { return reinterpret_cast<HTREEITEM>(item); }
TreeItem FromSystemItem(HTREEITEM item) noexcept { return reinterpret_cast<TreeItem>(item); }

// Sends the tree view messages (ANSI) to `tree_`, a SysTreeView32 window this object does not own.
class Win32TreeControl final : public ITreeControl {
  public:
    explicit Win32TreeControl(HWND tree) noexcept : tree_(tree) {}

    TreeItem InsertItem(TreeItem parent, std::string_view text) noexcept override {
        std::string label = text::UpToNul(text);
        TVINSERTSTRUCTA insert{};
        insert.hParent = parent == 0 ? TVI_ROOT : ToSystemItem(parent);
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = label.data();
        LRESULT item = ::SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert));
        return static_cast<TreeItem>(item);
    }

    TreeItem GetNextItem(TreeItem item, std::uint32_t code) noexcept override {
        return static_cast<TreeItem>(::SendMessageA(tree_, TVM_GETNEXTITEM, code,
                                                    reinterpret_cast<LPARAM>(ToSystemItem(item))));
    }

    std::string GetItemText(TreeItem item) noexcept override {
        // A label that fills the buffer may have been cut: read again with a larger one.
        for (std::size_t size = 256; size <= 65536; size *= 4) {
            std::vector<char> buffer(size);
            TVITEMA query{};
            query.mask = TVIF_TEXT | TVIF_HANDLE;
            query.hItem = ToSystemItem(item);
            query.pszText = buffer.data();
            query.cchTextMax = static_cast<int>(size);
            if (!::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) {
                return {};
            }
            // The control may answer with its own text pointer instead of filling the buffer.
            std::string_view text(query.pszText, ::strnlen(query.pszText, size));
            if (text.size() + 2 < size || query.pszText != buffer.data()) return std::string(text);
        }
        return {};
    }

    std::uint32_t GetItemState(TreeItem item, std::uint32_t mask) noexcept override {
        return static_cast<std::uint32_t>(::SendMessageA(
            tree_, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(ToSystemItem(item)), mask));
    }

    [[nodiscard]] bool SetItemState(TreeItem item, std::uint32_t state,
                                    std::uint32_t mask) noexcept override {
        TVITEMA change{};
        change.mask = TVIF_STATE | TVIF_HANDLE;
        change.hItem = ToSystemItem(item);
        change.state = state;
        change.stateMask = mask;
        return ::SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change)) != 0;
    }

    [[nodiscard]] bool ItemHasChildren(TreeItem item) noexcept override {
        TVITEMA query{};
        query.mask = TVIF_CHILDREN | TVIF_HANDLE;
        query.hItem = ToSystemItem(item);
        if (!::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return false;
        return query.cChildren != 0;
    }

    // Refuses item 0, which the control would take as "delete every item".
    [[nodiscard]] bool DeleteItem(TreeItem item) noexcept override {
        if (item == 0) return false;
        return ::SendMessageA(tree_, TVM_DELETEITEM, 0,
                              reinterpret_cast<LPARAM>(ToSystemItem(item))) != 0;
    }

    [[nodiscard]] bool Expand(TreeItem item, std::uint32_t code) noexcept override {
        return ::SendMessageA(tree_, TVM_EXPAND, code,
                              reinterpret_cast<LPARAM>(ToSystemItem(item))) != 0;
    }

    TreeItem HitTest(Point client, std::uint32_t* flags) noexcept override {
        TVHITTESTINFO hit{};
        hit.pt.x = client.x;
        hit.pt.y = client.y;
        ::SendMessageA(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (flags != nullptr) *flags = hit.flags;
        return FromSystemItem(hit.hItem);
    }

    Point ScreenToClient(Point screen) noexcept override {
        POINT p{screen.x, screen.y};
        ::ScreenToClient(tree_, &p);
        return Point{p.x, p.y};
    }

    void ModifyStyle(std::uint32_t remove, std::uint32_t add) noexcept override {
        // The tree view makes or drops its check box images when it sees TVS_CHECKBOXES change.
        auto style = static_cast<std::uint32_t>(::GetWindowLongA(tree_, GWL_STYLE));
        std::uint32_t changed = (style & ~remove) | add;
        if (changed != style) ::SetWindowLongA(tree_, GWL_STYLE, static_cast<LONG>(changed));
    }

  private:
    HWND tree_;
};

// The clean-up dialog's own window, not owned.
class Win32DialogWindow final : public IDialogWindow {
  public:
    explicit Win32DialogWindow(HWND dialog) noexcept : dialog_(dialog) {}

    WindowRef Handle() noexcept override { return FromSystemWindow(dialog_); }

    void SetItemText(int controlId, std::string_view text) noexcept override {
        ::SetDlgItemTextA(dialog_, controlId, text::UpToNul(text).c_str());
    }

    void SetTitle(std::string_view text) noexcept override {
        ::SetWindowTextA(dialog_, text::UpToNul(text).c_str());
    }

    void EnableItem(int controlId, bool enable) noexcept override {
        ::EnableWindow(::GetDlgItem(dialog_, controlId), enable ? TRUE : FALSE);
    }

    void EndDialog(int result) noexcept override { ::EndDialog(dialog_, result); }

    Point GetMessagePos() noexcept override {
        // Screen coordinates as two signed 16-bit halves (negative on a monitor left of or above
        // the primary one).
        DWORD position = ::GetMessagePos();
        return Point{static_cast<std::int16_t>(LOWORD(position)),
                     static_cast<std::int16_t>(HIWORD(position))};
    }

  private:
    HWND dialog_;
};

}  // namespace

std::unique_ptr<ITreeControl> MakeTreeControl(HWND tree) {
    return std::make_unique<Win32TreeControl>(tree);
}

std::unique_ptr<IDialogWindow> MakeDialogWindow(HWND dialog) {
    return std::make_unique<Win32DialogWindow>(dialog);
}

}  // namespace qv::win32
