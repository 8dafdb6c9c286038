// The clean-up dialog's own window, as the dialog's logic uses it.
#pragma once
#include <cstdint>
#include <string_view>

#include "port/port.h"
#include "port/window.h"

namespace qv {

class IDialogWindow : public Port {
  public:
    // The dialog's window handle, owner of its message boxes and of the shell's deletion.
    virtual WindowRef Handle() noexcept = 0;
    // SetDlgItemTextA.
    virtual void SetItemText(int controlId, std::string_view text) noexcept = 0;
    // SetWindowTextA on the dialog (its title).
    virtual void SetTitle(std::string_view text) noexcept = 0;
    // EnableWindow on a control.
    virtual void EnableItem(int controlId, bool enable) noexcept = 0;
    // EndDialog.
    virtual void EndDialog(int result) noexcept = 0;
    // GetMessagePos: the screen position of the last message.
    virtual Point GetMessagePos() noexcept = 0;
};

}  // namespace qv
