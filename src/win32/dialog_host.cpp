#include "win32/dialog_host.h"

#include "resource.h"
#include "win32/win32_handles.h"

namespace qv::win32 {
namespace {

// The dialog procedure's answer to a notification whose result is 0.
INT_PTR NotifyResult(HWND window, LRESULT result) noexcept {
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace

QuorvaneDialogHost::QuorvaneDialogHost(CQuorvaneDlg& dialog, HINSTANCE instance,
                                       LANGID language) noexcept
    : dialog_(dialog),
      instance_(instance),
      language_(language),
      icon_(::LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUORVANE))) {}

QuorvaneDialogHost::~QuorvaneDialogHost() {
    binding_.reset();
    if (window_) ::SetWindowLongPtrA(ToSystemWindow(window_->Handle()), DWLP_USER, 0);
}

const DLGTEMPLATE* QuorvaneDialogHost::Template() const noexcept {
    HRSRC found = ::FindResourceExW(instance_, MAKEINTRESOURCEW(5),  // RT_DIALOG
                                    MAKEINTRESOURCEW(IDD_QUORVANE_DIALOG), language_);
    if (found == nullptr) return nullptr;
    return static_cast<const DLGTEMPLATE*>(::LockResource(::LoadResource(instance_, found)));
}

INT_PTR QuorvaneDialogHost::RunModal() noexcept {
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    if (language_ == 0) {
        return ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_QUORVANE_DIALOG), nullptr,
                                 &QuorvaneDialogHost::DialogProc, self);
    }
    const DLGTEMPLATE* found = Template();
    if (found == nullptr) return -1;
    return ::DialogBoxIndirectParamA(instance_, found, nullptr, &QuorvaneDialogHost::DialogProc,
                                     self);
}

HWND QuorvaneDialogHost::CreateModeless(HWND owner) noexcept {
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    if (language_ == 0) {
        return ::CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_QUORVANE_DIALOG), owner,
                                    &QuorvaneDialogHost::DialogProc, self);
    }
    const DLGTEMPLATE* found = Template();
    if (found == nullptr) return nullptr;
    return ::CreateDialogIndirectParamA(instance_, found, owner, &QuorvaneDialogHost::DialogProc,
                                        self);
}

INT_PTR CALLBACK QuorvaneDialogHost::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) noexcept {
    if (message == WM_INITDIALOG) ::SetWindowLongPtrA(window, DWLP_USER, lParam);
    auto* host = reinterpret_cast<QuorvaneDialogHost*>(::GetWindowLongPtrA(window, DWLP_USER));
    // Messages before WM_INITDIALOG (WM_SETFONT, WM_NCCREATE, ...) go to the dialog manager.
    if (host == nullptr) return FALSE;
    try {
        return host->OnMessage(window, message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind into the system's dialog manager; the only exception the handlers
        // can raise is running out of memory, after which the dialog cannot go on.
        ::EndDialog(window, -1);
        return TRUE;
    }
}

INT_PTR QuorvaneDialogHost::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(window);
        case WM_PAINT:
            return OnPaint(window) ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            // Returned directly: the dialog manager passes this message's answer on as it is.
            return reinterpret_cast<INT_PTR>(icon_);
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            // Enter gives IDOK; Esc and the close box give IDCANCEL.
            if (LOWORD(wParam) == IDOK) {
                dialog_.OnCleanUp();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                dialog_.OnCancelClicked();
                return TRUE;
            }
            return FALSE;
        case WM_NOTIFY:
            return OnNotify(window, *reinterpret_cast<const NMHDR*>(lParam));
        case WM_DESTROY:
            OnDestroy(window);
            return FALSE;
        default:
            return FALSE;
    }
}

INT_PTR QuorvaneDialogHost::OnInitDialog(HWND window) {
    // The controls exist now: bind the logic to them before it initialises.
    binding_.reset();
    window_ = MakeDialogWindow(window);
    tree_ = MakeTreeControl(::GetDlgItem(window, IDC_TREE));
    binding_ = dialog_.Attach(*window_, *tree_);
    ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    // TRUE: the system gives the focus to the first tab stop, the clean-up button.
    return dialog_.OnInitDialog() ? TRUE : FALSE;
}

void QuorvaneDialogHost::OnDestroy(HWND window) noexcept {
    // The dialog gets WM_DESTROY before its controls are destroyed: the tree model is emptied
    // through the living tree, then the window's adapters go with the window. The host itself may
    // live on (it can create the dialog again).
    binding_.reset();
    ::SetWindowLongPtrA(window, DWLP_USER, 0);
    tree_.reset();
    window_.reset();
}

bool QuorvaneDialogHost::OnPaint(HWND window) {
    // Only the minimised dialog is drawn here (its icon); otherwise the dialog manager paints.
    if (!::IsIconic(window)) return false;
    PaintScope paint(window);
    ::SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.dc()), 0);
    RECT client{};
    ::GetClientRect(window, &client);
    Point at = MinimizedIconOrigin(client.right - client.left, client.bottom - client.top,
                                   ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
    ::DrawIcon(paint.dc(), at.x, at.y, icon_);
    return true;
}

INT_PTR QuorvaneDialogHost::OnNotify(HWND window, const NMHDR& header) {
    if (header.idFrom != IDC_TREE) return FALSE;
    switch (header.code) {
        case TVN_SELCHANGEDA:
        case TVN_SELCHANGEDW:
            return NotifyResult(window, 0);
        case NM_CLICK:
        case NM_DBLCLK:
            // The second click of a double click comes as NM_DBLCLK alone, and the tree toggles
            // the check box under it after this notification as it does for a single click, so
            // both propagate alike; the hit test leaves a double click anywhere else alone.
            // Result 0: the tree then toggles the clicked check box itself.
            dialog_.OnTreeClick();
            return NotifyResult(window, 0);
        case TVN_KEYDOWN:
            dialog_.OnTreeKeyDown(reinterpret_cast<const NMTVKEYDOWN&>(header).wVKey);
            return NotifyResult(window, 0);
        default:
            return FALSE;
    }
}

}  // namespace qv::win32
