// The clean-up dialog's window: template 102 run by the system's dialog manager, with a dialog
// procedure that forwards its messages to the dialog's logic (CQuorvaneDlg).
#pragma once
#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include <memory>

#include "ui/quorvane_dlg.h"
#include "win32/win32_controls.h"

namespace qv::win32 {

class QuorvaneDialogHost {
  public:
    // Loads the icon IDI_QUORVANE from `instance`, the module that holds the dialog's resources.
    // The template is the one in `language` (FindResourceEx); with 0 the loader picks it by the
    // thread's language.
    QuorvaneDialogHost(CQuorvaneDlg& dialog, HINSTANCE instance, LANGID language = 0) noexcept;
    // Unbinds the dialog, and a modeless window that is still open no longer reaches this host.
    ~QuorvaneDialogHost();
    QuorvaneDialogHost(const QuorvaneDialogHost&) = delete;
    QuorvaneDialogHost& operator=(const QuorvaneDialogHost&) = delete;

    // Runs the dialog modally with no owner window until it ends; its result, or -1 when the
    // dialog could not be created.
    INT_PTR RunModal() noexcept;
    // Creates the same dialog modeless below `owner` (for a host that runs its own message loop);
    // the caller destroys the window.
    HWND CreateModeless(HWND owner) noexcept;

    HICON icon() const noexcept { return icon_; }

    // Keeps the host in DWLP_USER from WM_INITDIALOG on and forwards to it.
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept;

    // The message that runs the dialog's next step (a refresh's profile, a clean-up's user).
    static constexpr UINT kStepMessage = WM_APP + 19;

  private:
    INT_PTR OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnInitDialog(HWND window);
    void OnDestroy(HWND window) noexcept;
    bool OnPaint(HWND window);
    INT_PTR OnNotify(HWND window, const NMHDR& header);
    // Runs one step of the dialog's refresh or clean-up, then asks for the next.
    void OnStep(HWND window);
    // While the dialog is busy, asks for its next step: a posted message, or, when input is
    // waiting (which posted messages would come before), a timer that comes after it.
    void ScheduleStep(HWND window) noexcept;
    // Paints what the last steps changed, at most every kPaintEveryMs: posted steps come before
    // the paint messages.
    void PaintNow(HWND window) noexcept;
    // The dialog's template in the language chosen; null when it is missing.
    const DLGTEMPLATE* Template() const noexcept;

    CQuorvaneDlg& dialog_;
    HINSTANCE instance_;
    LANGID language_;
    // A shared icon (LoadIconA): the system releases it with the module, so it is never destroyed.
    HICON icon_;
    // The adapters of the window and its tree control, and the dialog's binding to them. The
    // binding is declared last so that it ends first, while its adapters and controls exist; it
    // ends at WM_DESTROY of the window at the latest, and the dialog object (which outlives the
    // host) keeps nothing of either.
    std::unique_ptr<IDialogWindow> window_;
    std::unique_ptr<ITreeControl> tree_;
    DialogBinding binding_;
    // A step asked for and not run yet; a call into the dialog under way (a message box of its
    // own runs a message loop, in which no step may start).
    bool stepAsked_ = false;
    bool inDialog_ = false;
    DWORD lastPaint_ = 0;
};

}  // namespace qv::win32
