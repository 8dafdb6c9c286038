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

  private:
    INT_PTR OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnInitDialog(HWND window);
    void OnDestroy(HWND window) noexcept;
    bool OnPaint(HWND window);
    INT_PTR OnNotify(HWND window, const NMHDR& header);
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
};

}  // namespace qv::win32
