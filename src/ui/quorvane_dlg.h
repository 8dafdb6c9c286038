// The clean-up dialog's logic: tables, administrator flag, refresh, clean-up command, cancel and
// the tree notifications. The Windows dialog procedure (src/win32) forwards its messages here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "app/settings.h"
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
    // Fills the tables, takes the administrator flag and reads the settings file once.
    // `settingsFile` is the full name of Quorvane.ini (empty: no settings file); an
    // administrator's dialog uses it only when no one else can change it (ReadSettings), and
    // OnInitDialog tells the operator of one it did not use.
    CQuorvaneDlg(Services services, std::string settingsFile);
    ~CQuorvaneDlg();
    CQuorvaneDlg(const CQuorvaneDlg&) = delete;
    CQuorvaneDlg& operator=(const CQuorvaneDlg&) = delete;

    // Binds the dialog's window and its tree control (IDC_TREE) once they exist, before
    // OnInitDialog, until the binding ends. The dialog outlives its binding; one binding at a
    // time (end the previous one before binding again).
    [[nodiscard]] DialogBinding Attach(IDialogWindow& window, ITreeControl& tree);

    // Prepares the tree and starts the refresh; the window shows at once, with the clean-up
    // button disabled until the refresh ends.
    bool OnInitDialog();
    // The refresh and the clean-up run one step at a time, so that the window answers its
    // messages between two steps: the window host calls Step while Busy. One step scans one
    // profile, or cleans one user (never half a user).
    [[nodiscard]] bool Busy() const noexcept;
    void Step();
    // Starts a refresh: the tree is emptied and filled again while the steps scan the profiles,
    // every hive that is not loaded loaded once for every product, and the status line tells
    // how far the scan is.
    void BeginRefresh();
    // A whole refresh at once; false when the registry cannot be read.
    [[nodiscard]] bool RefreshTree();
    // Asks, then starts cleaning the checked users; the steps clean one user each and the
    // status line tells how far the clean-up is. At its end the result is told and the tree
    // refreshed.
    void OnCleanUp();
    // Cancel or the close box. During a refresh it stops it (no hive of it stays loaded) and
    // closes; during a clean-up it asks first, and stops after the user being cleaned.
    void OnCancelClicked();
    void OnTreeClick();
    void OnTreeKeyDown(std::uint16_t virtualKey);

    // The settings-mode heading (IDS_HEADING with "VisibleProductName"), empty in default mode.
    const std::string& SettingsHeading() const { return settingsHeading_; }

    // The tree model while the dialog is bound to its window, else null.
    UserDataTree* tree() const noexcept { return tree_.get(); }
    // Whether a clean-up ran in this dialog.
    bool cleanupDone() const noexcept { return cleanupDone_; }

  private:
    struct Refresh;
    struct CleanUp;
    friend void EndDialogBinding(CQuorvaneDlg* dialog) noexcept;
    void RefreshStep();
    void EndRefresh();
    // What the status line and the clean-up button show once a refresh has ended.
    void ShowRefreshResult(bool read);
    void CleanUpStep();
    // Tells the result of the clean-up; with `stopped` the operator stopped it and the dialog
    // closes, else the tree is refreshed.
    void EndCleanUp(bool stopped);
    void ShowProgress(std::uint32_t format, std::size_t done, std::size_t total);
    void Close();
    // The binding's end: empties and drops the tree model, forgets the window.
    void Detach() noexcept;

    bool admin_ = false;
    bool cleanupDone_ = false;
    Tables tables_;
    std::unique_ptr<UserDataTree> tree_;
    Services services_;
    std::string settingsFile_;
    Settings settings_;
    SettingsVerdict settingsVerdict_ = SettingsVerdict::kNone;  // kNone once told
    IDialogWindow* window_ = nullptr;
    std::string settingsHeading_;
    // The hives this dialog's runs could not unload, and the users whose registry the last
    // refresh could not read.
    HiveBook hives_;
    std::set<std::string> unreadableUsers_;
    std::set<std::string> unnamedUsers_;  // users with data whom the tree leaves out: no name
    // The refresh or clean-up under way, if any (never both).
    std::unique_ptr<Refresh> refresh_;
    std::unique_ptr<CleanUp> cleanup_;
    bool refreshRead_ = false;  // whether the last refresh could read the registry
};

// Where OnPaint draws the icon of the minimised dialog: (client - icon + 1) / 2 on each axis,
// truncating toward zero.
Point MinimizedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

}  // namespace qv
