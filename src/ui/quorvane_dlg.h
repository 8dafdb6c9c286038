// The clean-up dialog's logic: tables, administrator flag, refresh, clean-up command, cancel and
// the tree notifications. The Windows dialog procedure (src/win32) forwards its messages here.
#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "app/tables.h"
#include "base/unique_handle.h"
#include "port/dialog_window.h"
#include "port/platform.h"
#include "port/tree.h"
#include "security/profiles.h"
#include "ui/user_data_tree.h"

namespace qv {

class CQuorvaneDlg;

// The dialog's logic bound to its window and tree control (CQuorvaneDlg::Attach). Whoever owns
// the controls' adapters holds the binding beside them and ends it first: its end empties the
// tree model through the still living control and unbinds the logic, so a dialog object that
// outlives its window (as it does in the program) never reaches a destroyed control.
void EndDialogBinding(CQuorvaneDlg* dialog) noexcept;
using DialogBinding = UniqueHandle<CQuorvaneDlg*, &EndDialogBinding>;

class CQuorvaneDlg {
  public:
    // Fills the tables and takes the administrator flag once. `settingsFile` is the full name of
    // Quorvane.ini (empty: no settings file).
    CQuorvaneDlg(Services services, std::string settingsFile);
    CQuorvaneDlg(const CQuorvaneDlg&) = delete;
    CQuorvaneDlg& operator=(const CQuorvaneDlg&) = delete;

    // Binds the dialog's window and its tree control (control 1000) once they exist, before
    // OnInitDialog, until the binding ends. The dialog outlives its binding; one binding at a
    // time (end the previous one before binding again).
    [[nodiscard]] DialogBinding Attach(IDialogWindow& window, ITreeControl& tree);

    bool OnInitDialog();
    [[nodiscard]] bool RefreshTree();
    [[nodiscard]] bool PopulateTree(std::string_view company, std::string_view product,
                                    std::string_view release);
    void OnCleanUp();
    void OnCancelClicked();
    void OnTreeClick();
    void OnTreeKeyDown(std::uint16_t virtualKey);

    // The settings-mode heading (string 136 with "VisibleProductName"), empty in default mode.
    const std::string& SettingsHeading() const { return m_settingsHeading; }

    bool m_bAdmin = false;
    bool m_bCleanupDone = false;
    Tables m_tables;
    std::unique_ptr<UserDataTree> m_tree;

  private:
    friend void EndDialogBinding(CQuorvaneDlg* dialog) noexcept;
    // The binding's end: empties and drops the tree model, forgets the window.
    void Detach() noexcept;

    Services m_services;
    std::string m_settingsFile;
    IDialogWindow* m_window = nullptr;
    std::string m_settingsHeading;
    // The hives this dialog's runs could not unload, and the users whose registry the last
    // refresh could not read.
    HiveBook m_hives;
    std::set<std::string> m_unreadableUsers;
};

// Where OnPaint draws the icon of the minimised dialog: (client - icon + 1) / 2 on each axis,
// truncating toward zero.
Point MinimizedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

}  // namespace qv
