#include "win32/dialog_host.h"

#include "resource.h"
#include "win32/win32_handles.h"

namespace qv::win32 {
namespace {

constexpr UINT_PTR kStepTimer = 19;
constexpr DWORD kPaintEveryMs = 50;

// Marks a call into the dialog's logic for its duration.
class InDialog {
  public:
    explicit InDialog(bool& flag) noexcept : flag_(flag), was_(flag) { flag_ = true; }
    ~InDialog() { flag_ = was_; }
    InDialog(const InDialog&) = delete;
    InDialog& operator=(const InDialog&) = delete;

  private:
    bool& flag_;
    bool was_;
};

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
            // Enter gives IDOK; Esc and the close box give IDCANCEL. None is taken while a
            // message box of the dialog's is up (it disables the dialog; this is a guard).
            if (inDialog_ && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) return TRUE;
            if (LOWORD(wParam) == IDOK) {
                {
                    InDialog in(inDialog_);
                    dialog_.OnCleanUp();
                }
                ScheduleStep(window);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                {
                    InDialog in(inDialog_);
                    dialog_.OnCancelClicked();
                }
                ScheduleStep(window);
                return TRUE;
            }
            return FALSE;
        case kStepMessage:
            stepAsked_ = false;
            OnStep(window);
            return TRUE;
        case WM_TIMER:
            if (wParam != kStepTimer) return FALSE;
            ::KillTimer(window, kStepTimer);
            stepAsked_ = false;
            OnStep(window);
            return TRUE;
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
    INT_PTR result = FALSE;
    {
        InDialog in(inDialog_);
        // TRUE: the system gives the focus to the first tab stop that is enabled.
        result = dialog_.OnInitDialog() ? TRUE : FALSE;
    }
    // The window shows now, before its first step: the scan fills it in.
    ::ShowWindow(window, SW_SHOW);
    ::UpdateWindow(window);
    lastPaint_ = ::GetTickCount();
    ScheduleStep(window);
    return result;
}

void QuorvaneDialogHost::OnStep(HWND window) {
    // A step asked for while a message box of the dialog's runs its own loop waits for that box:
    // the call that showed it asks again when it returns.
    if (inDialog_) return;
    {
        InDialog in(inDialog_);
        dialog_.Step();
    }
    PaintNow(window);
    ScheduleStep(window);
}

void QuorvaneDialogHost::ScheduleStep(HWND window) noexcept {
    if (stepAsked_ || inDialog_ || !dialog_.Busy() || !::IsWindow(window)) return;
    stepAsked_ = true;
    // Input waiting (a click on Cancel, a move of the window) goes first: a timer comes after
    // it, a posted message before it.
    if (HIWORD(::GetQueueStatus(QS_INPUT)) != 0) {
        if (::SetTimer(window, kStepTimer, USER_TIMER_MINIMUM, nullptr) != 0) return;
    }
    if (!::PostMessageA(window, kStepMessage, 0, 0)) stepAsked_ = false;
}

void QuorvaneDialogHost::PaintNow(HWND window) noexcept {
    const DWORD now = ::GetTickCount();
    if (now - lastPaint_ < kPaintEveryMs && dialog_.Busy()) return;
    lastPaint_ = now;
    ::RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void QuorvaneDialogHost::OnDestroy(HWND window) noexcept {
    // The dialog gets WM_DESTROY before its controls are destroyed: the tree model is emptied
    // through the living tree, then the window's adapters go with the window. The host itself may
    // live on (it can create the dialog again).
    binding_.reset();
    ::SetWindowLongPtrA(window, DWLP_USER, 0);
    tree_.reset();
    window_.reset();
    // A step asked for goes with the window (its message and timer are the window's).
    stepAsked_ = false;
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
