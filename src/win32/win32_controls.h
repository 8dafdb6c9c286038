// The tree control and dialog window ports on a real tree view (IDC_TREE) and dialog.
#pragma once
#include <memory>

#include "port/dialog_window.h"
#include "port/tree.h"
#include "win32/windows_api.h"

namespace qv::win32 {

// Sends the tree view messages (ANSI) to `tree`, a SysTreeView32 window the port does not own.
[[nodiscard]] std::unique_ptr<ITreeControl> MakeTreeControl(HWND tree);

// The port on the clean-up dialog's own window `dialog`, not owned.
[[nodiscard]] std::unique_ptr<IDialogWindow> MakeDialogWindow(HWND dialog);

}  // namespace qv::win32
