#include "ui/quorvane_dlg.h"

#include <memory>
#include <utility>

#include "app/defaults.h"
#include "base/text.h"
#include "engine/backup.h"
#include "engine/removal.h"
#include "engine/workspace.h"
#include "res/resource.h"
#include "security/token.h"
#include "ui/population.h"

namespace qv {
namespace {

constexpr std::uint32_t kConfirmStyle = mb::kOkCancel | mb::kIconExclamation | mb::kDefButton2;

}  // namespace

CQuorvaneDlg::CQuorvaneDlg(Services services, std::string settingsFile)
    : services_(services), settingsFile_(std::move(settingsFile)) {
    admin_ = IsMemberOfAdministrators(services_.os);
    cleanupDone_ = false;
    tables_.FillBuiltIn();
    // Read once: every refresh and the clean-up use what was checked here.
    settingsVerdict_ = ReadSettings(services_.os, settingsFile_, admin_, &settings_);
    // The settings file's language, chosen before the window is made from its template.
    if (settings_.language) (void)UseUiLanguage(services_.os.resources, settings_.language);
}

DialogBinding CQuorvaneDlg::Attach(IDialogWindow& window, ITreeControl& tree) {
    window_ = &window;
    tree_ = std::make_unique<UserDataTree>(tree);
    return DialogBinding(this);
}

void CQuorvaneDlg::Detach() noexcept {
    // The model's end empties the tree through the control, which is still there.
    tree_.reset();
    window_ = nullptr;
}

void EndDialogBinding(CQuorvaneDlg* dialog) noexcept { dialog->Detach(); }

bool CQuorvaneDlg::OnInitDialog() {
    if (tree_ == nullptr || window_ == nullptr) return true;
    // The control makes its check-box images when the style is set on the existing window;
    // taken from the template alone the boxes may show the wrong state. Set it again before the
    // tree is filled.
    tree_->control().ModifyStyle(tv::kCheckBoxes, 0);
    tree_->control().ModifyStyle(0, tv::kCheckBoxes);
    // A settings file that was not used is told once, before the tree shows the defaults.
    if (settingsVerdict_ == SettingsVerdict::kWriters ||
        settingsVerdict_ == SettingsVerdict::kNames) {
        Platform& os = services_.os;
        os.messages.Show(
            window_->Handle(),
            text::Substitute(os.resources.LoadString(IDS_SETTINGS_REFUSED), {settingsFile_}),
            os.resources.LoadString(IDS_CAPTION), mb::kIconExclamation);
        settingsVerdict_ = SettingsVerdict::kNone;
    }
    (void)RefreshTree();  // a registry that cannot be read is shown in the status line
    return true;
}

bool CQuorvaneDlg::RefreshTree() {
    if (tree_ == nullptr || window_ == nullptr) return false;
    Platform& os = services_.os;
    window_->SetItemText(IDC_STATUS, "");
    unreadableUsers_.clear();
    unnamedUsers_.clear();

    // Without a settings file that names a company (or with one that was not used) the tool
    // works in default mode.
    bool result = false;
    if (!settings_.company.empty()) {
        tables_.UseSettingsProduct(settings_.visibleProductName);
        settingsHeading_ =
            text::Substitute(os.resources.LoadString(IDS_HEADING), {settings_.visibleProductName});
        result = PopulateTree(settings_.company, settings_.product, settings_.version);
    } else {
        settingsHeading_.clear();
        std::string products(kMainProduct);
        products += '/';
        products += kLightProduct;
        window_->SetTitle(text::Substitute(os.resources.LoadString(IDS_HEADING), {products}));
        result = PopulateTree(kDefaultCompany, kMainProduct, kMainRelease);
        if (result) result = PopulateTree(kDefaultCompany, kLightProduct, kLightRelease);
    }

    if (!result) {
        window_->SetItemText(IDC_STATUS, os.resources.LoadString(IDS_REGISTRY_UNREADABLE));
        return false;
    }
    // Users whose registry could not be read, and users with data whom the tree cannot show for
    // want of an account name, are never passed over as "nothing to clean".
    std::string unreadable;
    if (!unreadableUsers_.empty()) {
        unreadable = text::Substitute(os.resources.LoadString(IDS_USERS_UNREADABLE),
                                      {std::to_string(unreadableUsers_.size())});
    }
    if (!unnamedUsers_.empty()) {
        unreadable += text::Substitute(os.resources.LoadString(IDS_USERS_UNNAMED),
                                       {std::to_string(unnamedUsers_.size())});
    }
    if (!tree_->HasItems()) {
        std::string status = os.resources.LoadString(IDS_NO_INVALID_ENTRIES);
        if (!unreadable.empty()) {
            status += unreadable;
        } else if (!cleanupDone_) {
            status += os.resources.LoadString(IDS_CLEANUP_NOT_NEEDED);
        }
        window_->SetItemText(IDC_STATUS, status);
        // Stays disabled: only a clean-up could change the registry, and nothing is left to clean.
        window_->EnableItem(mb::kIdOk, false);
        return true;
    }
    tree_->ExpandAll();
    // The dialog has no heading control; in settings mode the heading names the configured
    // product, and it takes the status line whenever that line has nothing else to say. Default
    // mode shows its heading as the dialog's title instead.
    if (!settingsHeading_.empty() || !unreadable.empty()) {
        window_->SetItemText(IDC_STATUS, settingsHeading_ + unreadable);
    }
    return true;
}

bool CQuorvaneDlg::PopulateTree(std::string_view company, std::string_view product,
                                std::string_view release) {
    if (tree_ == nullptr || window_ == nullptr) return false;
    Workspace ws{services_, tables_, admin_, window_->Handle(), &hives_};
    return qv::PopulateTree(ws, *tree_, company, product, release, &unreadableUsers_,
                            &unnamedUsers_);
}

void CQuorvaneDlg::OnCleanUp() {
    if (tree_ == nullptr || window_ == nullptr) return;
    Platform& os = services_.os;
    const WindowRef owner = window_->Handle();
    const std::string caption = os.resources.LoadString(IDS_CAPTION);
    if (os.messages.Show(owner, os.resources.LoadString(IDS_CONFIRM_DELETE), caption,
                         kConfirmStyle) != mb::kIdOk) {
        return;
    }

    // Every action of the clean-up goes to the audit log. A log that cannot be written does not
    // stop the clean-up; the operator is told after its result. A folder of the tool's moved
    // aside is told in the debug trace.
    AuditLog audit(os, kAuditProgramDialog);
    Workspace ws{services_, tables_, admin_, owner, &hives_};
    std::vector<MovedAside> moved;
    (void)OpenRunAuditLog(ws, audit, &moved);
    for (const MovedAside& m : moved) os.debug.Write(MovedAsideText(m));
    // The clean-up's run-start and run-end lines: exit code 0 when everything checked was removed
    // or nothing was, 3 when anything failed or the backup could not be started.
    RunRecord record(audit, {"clean-up", admin_ ? "all-profiles" : "current-user", nullptr});
    ws.audit = &audit;
    // What the clean-up removes is kept for a restore, unless the settings file says Backup=0. A
    // backup that cannot be started keeps the clean-up from removing anything.
    std::unique_ptr<RunBackup> backup;
    RemovalOutcome removal = RemovalOutcome::kFailed;
    if (settings_.backupOff ||
        RunBackup::Begin(ws, audit.run(), kAuditProgramDialog, &backup) == err::kSuccess) {
        ws.backup = backup.get();
        removal = RemoveCheckedUserData(ws, tree_->CheckedPairs());
        if (backup != nullptr) backup->Finish(removal == RemovalOutcome::kDone);
    }
    if (backup != nullptr) {
        for (const MovedAside& m : backup->movedAside()) os.debug.Write(MovedAsideText(m));
    }
    ws.audit = nullptr;
    record.Finish(removal == RemovalOutcome::kFailed ? 3 : 0);
    switch (removal) {
        case RemovalOutcome::kDone:
            os.messages.Show(owner, os.resources.LoadString(IDS_DELETED), caption,
                             mb::kIconInformation);
            break;
        case RemovalOutcome::kFailed:
            os.messages.Show(owner, os.resources.LoadString(IDS_DELETE_FAILED), caption,
                             mb::kIconExclamation);
            break;
        case RemovalOutcome::kNothingSelected:
            os.messages.Show(owner, os.resources.LoadString(IDS_NOTHING_SELECTED), caption,
                             mb::kIconExclamation);
            break;
        default:
            break;
    }
    if (audit.failed()) {
        os.messages.Show(
            owner, text::Substitute(os.resources.LoadString(IDS_AUDIT_LOG_FAILED), {audit.path()}),
            caption, mb::kIconExclamation);
    }

    cleanupDone_ = true;
    tree_->Clear();
    (void)RefreshTree();  // a registry that cannot be read is shown in the status line
}

void CQuorvaneDlg::OnCancelClicked() {
    if (tree_ != nullptr) tree_->Clear();
    if (window_ != nullptr) window_->EndDialog(mb::kIdCancel);
}

void CQuorvaneDlg::OnTreeClick() {
    if (tree_ == nullptr || window_ == nullptr) return;
    tree_->OnClick(window_->GetMessagePos());
}

void CQuorvaneDlg::OnTreeKeyDown(std::uint16_t virtualKey) {
    if (tree_ == nullptr) return;
    tree_->OnKeyDown(virtualKey);
}

Point MinimizedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
    // Widened so that extreme sizes cannot overflow; the division truncates toward zero.
    auto centre = [](int client, int icon) {
        return static_cast<std::int32_t>((static_cast<std::int64_t>(client) - icon + 1) / 2);
    };
    return Point{centre(clientWidth, iconWidth), centre(clientHeight, iconHeight)};
}

}  // namespace qv
