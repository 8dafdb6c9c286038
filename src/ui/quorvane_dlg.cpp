#include "ui/quorvane_dlg.h"

#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "app/defaults.h"
#include "base/text.h"
#include "engine/backup/backup.h"
#include "engine/removal.h"
#include "engine/scan.h"
#include "engine/workspace.h"
#include "res/resource.h"
#include "security/token.h"
#include "ui/population.h"

namespace qv {
namespace {

constexpr std::uint32_t kConfirmStyle = mb::kOkCancel | mb::kIconExclamation | mb::kDefButton2;

std::vector<Findings*> Targets(std::vector<Findings>& findings) {
    std::vector<Findings*> targets;
    for (Findings& f : findings) targets.push_back(&f);
    return targets;
}

}  // namespace

// A refresh under way: the scan of every product in one pass over the profiles, each product's
// findings apart, so that the tree lists them product after product.
struct CQuorvaneDlg::Refresh {
    Refresh(const Workspace& workspace, const std::vector<ProductScope>& scopes)
        : ws(workspace),
          findings(scopes.size()),
          session(ws, scopes, ScanMode::kRegisterLeftovers, Targets(findings)) {}
    Workspace ws;
    std::vector<Findings> findings;
    std::vector<std::size_t> filled;  // of the first product's, shown while the scan runs
    ScanSession session;
};

// A clean-up under way: the checked users, each with all his pairs, cleaned one per step.
struct CQuorvaneDlg::CleanUp {
    CleanUp(Platform& os, const Workspace& workspace)
        : audit(os, kAuditProgramDialog), ws(workspace) {}
    AuditLog audit;
    Workspace ws;
    std::optional<RunRecord> record;
    std::unique_ptr<RunBackup> backup;
    std::vector<std::vector<SelectedPair>> users;
    std::size_t next = 0;
    RemovalOutcome removal = RemovalOutcome::kNothingSelected;
};

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
    // A run under way ends with its window: a scan step holds no hive between two steps, and a
    // clean-up ends between two users.
    refresh_.reset();
    cleanup_.reset();
    // The model's end empties the tree through the control, which is still there.
    tree_.reset();
    window_ = nullptr;
}

CQuorvaneDlg::~CQuorvaneDlg() = default;

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
    BeginRefresh();  // a registry that cannot be read is shown in the status line at its end
    return true;
}

bool CQuorvaneDlg::Busy() const noexcept { return refresh_ != nullptr || cleanup_ != nullptr; }

void CQuorvaneDlg::Step() {
    if (tree_ == nullptr || window_ == nullptr) return;
    if (cleanup_ != nullptr) {
        CleanUpStep();
    } else if (refresh_ != nullptr) {
        RefreshStep();
    }
}

bool CQuorvaneDlg::RefreshTree() {
    BeginRefresh();
    while (refresh_ != nullptr && tree_ != nullptr) RefreshStep();
    return tree_ != nullptr && refreshRead_;
}

void CQuorvaneDlg::BeginRefresh() {
    refresh_.reset();
    if (tree_ == nullptr || window_ == nullptr) return;
    Platform& os = services_.os;
    tree_->Clear();
    window_->SetItemText(IDC_STATUS, "");
    // Nothing to clean up until the scan is over.
    window_->EnableItem(mb::kIdOk, false);
    unreadableUsers_.clear();
    unnamedUsers_.clear();

    // Without a settings file that names a company (or with one that was not used) the tool
    // works in default mode: both products, the main one listed first.
    std::vector<ProductScope> scopes;
    if (!settings_.company.empty()) {
        tables_.UseSettingsProduct(settings_.visibleProductName);
        settingsHeading_ =
            text::Substitute(os.resources.LoadString(IDS_HEADING), {settings_.visibleProductName});
        scopes.push_back({settings_.company, settings_.product, settings_.version});
    } else {
        settingsHeading_.clear();
        std::string products(kMainProduct);
        products += '/';
        products += kLightProduct;
        window_->SetTitle(text::Substitute(os.resources.LoadString(IDS_HEADING), {products}));
        scopes.push_back({kDefaultCompany, kMainProduct, kMainRelease});
        scopes.push_back({kDefaultCompany, kLightProduct, kLightRelease});
    }
    refresh_ = std::make_unique<Refresh>(
        Workspace{services_, tables_, admin_, window_->Handle(), &hives_}, scopes);
    if (!refresh_->session.Begin()) {
        refresh_.reset();
        ShowRefreshResult(false);
        return;
    }
    if (refresh_->session.Done()) {
        EndRefresh();
        return;
    }
    ShowProgress(IDS_SCAN_PROGRESS, 0, refresh_->session.ProfileCount());
}

void CQuorvaneDlg::RefreshStep() {
    ScanSession& session = refresh_->session;
    session.Step();
    // The first product's registrations come first in the tree: they are shown as they are
    // found; the others follow at the end.
    // Shown unfolded as they come, as the end of the refresh shows them.
    if (FillTreeFrom(*tree_, refresh_->findings.front(), &refresh_->filled, &unnamedUsers_)) {
        tree_->ExpandAll();
    }
    if (session.Done()) {
        EndRefresh();
        return;
    }
    ShowProgress(IDS_SCAN_PROGRESS, session.ProfilesDone(), session.ProfileCount());
}

void CQuorvaneDlg::EndRefresh() {
    std::unique_ptr<Refresh> refresh = std::move(refresh_);
    std::vector<const Findings*> parts;
    for (const Findings& findings : refresh->findings) parts.push_back(&findings);
    (void)FillTreeFrom(*tree_, refresh->findings.front(), &refresh->filled, &unnamedUsers_);
    for (std::size_t i = 1; i < parts.size(); ++i) FillTree(*tree_, *parts[i], &unnamedUsers_);
    // A registration whose first users had no name, or that shares its label with an earlier
    // one, may have come in another place while the scan ran: the tree is then made again, as
    // the whole findings list it.
    if (!TreeShows(*tree_, parts)) {
        tree_->Clear();
        std::set<std::string> ignored;  // counted already
        for (const Findings* findings : parts) FillTree(*tree_, *findings, &ignored);
    }
    for (const ProfileFinding& profile : refresh->findings.front().profiles) {
        if (profile.state == ProfileState::kUnreadable) unreadableUsers_.insert(profile.sid);
    }
    ShowRefreshResult(true);
}

void CQuorvaneDlg::ShowRefreshResult(bool read) {
    Platform& os = services_.os;
    refreshRead_ = read;
    if (!read) {
        window_->SetItemText(IDC_STATUS, os.resources.LoadString(IDS_REGISTRY_UNREADABLE));
        window_->EnableItem(mb::kIdOk, true);
        return;
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
        return;
    }
    tree_->ExpandAll();
    window_->EnableItem(mb::kIdOk, true);
    // The dialog has no heading control; in settings mode the heading names the configured
    // product, and it takes the status line whenever that line has nothing else to say. Default
    // mode shows its heading as the dialog's title instead.
    window_->SetItemText(IDC_STATUS, settingsHeading_ + unreadable);
}

void CQuorvaneDlg::ShowProgress(std::uint32_t format, std::size_t done, std::size_t total) {
    // The one being worked on: the next after those done.
    const std::size_t current = done < total ? done + 1 : total;
    window_->SetItemText(IDC_STATUS,
                         text::Substitute(services_.os.resources.LoadString(format),
                                          {std::to_string(current), std::to_string(total)}));
}

void CQuorvaneDlg::OnCleanUp() {
    if (tree_ == nullptr || window_ == nullptr || Busy()) return;
    Platform& os = services_.os;
    const WindowRef owner = window_->Handle();
    const std::string caption = os.resources.LoadString(IDS_CAPTION);
    if (os.messages.Show(owner, os.resources.LoadString(IDS_CONFIRM_DELETE), caption,
                         kConfirmStyle) != mb::kIdOk) {
        return;
    }
    window_->EnableItem(mb::kIdOk, false);

    // Every action of the clean-up goes to the audit log. A log that cannot be written does not
    // stop the clean-up; the operator is told after its result. A folder of the tool's moved
    // aside is told in the debug trace.
    cleanup_ = std::make_unique<CleanUp>(os, Workspace{services_, tables_, admin_, owner, &hives_});
    CleanUp& run = *cleanup_;
    std::vector<MovedAside> moved;
    (void)OpenRunAuditLog(run.ws, run.audit, &moved);
    for (const MovedAside& m : moved) os.debug.Write(MovedAsideText(m));
    // The clean-up's run-start line; its run-end line gives exit code 0 when everything checked
    // was removed or nothing was, 3 when anything failed, the backup could not be started or the
    // operator stopped it.
    run.record.emplace(run.audit,
                       RunStart{"clean-up", admin_ ? "all-profiles" : "current-user", nullptr});
    // What the clean-up removes is kept for a restore, unless the settings file says Backup=0. A
    // backup that cannot be started keeps the clean-up from removing anything.
    if (!settings_.backupOff &&
        RunBackup::Begin(run.ws, &run.audit, run.audit.run(), kAuditProgramDialog, &run.backup) !=
            err::kSuccess) {
        run.removal = RemovalOutcome::kFailed;
        EndCleanUp(false);
        return;
    }
    // One step per user, with all his checked registrations: the users in the order the tree
    // lists them first, each one's registrations in tree order.
    std::map<std::string, std::size_t> userIndex;
    for (SelectedPair& pair : tree_->CheckedPairs()) {
        auto it = userIndex.find(pair.sidText);
        if (it == userIndex.end()) {
            it = userIndex.emplace(pair.sidText, run.users.size()).first;
            run.users.emplace_back();
        }
        run.users[it->second].push_back(std::move(pair));
    }
    if (run.users.empty()) {
        EndCleanUp(false);
        return;
    }
    ShowProgress(IDS_CLEANUP_PROGRESS, 0, run.users.size());
}

void CQuorvaneDlg::CleanUpStep() {
    CleanUp& run = *cleanup_;
    const RemovalOutcome removal = RemoveCheckedUserData(run.ws, run.users[run.next],
                                                         CleanupRun{&run.audit, run.backup.get()});
    ++run.next;
    // A user not cleaned fails the whole clean-up; the other users are still cleaned.
    if (removal == RemovalOutcome::kFailed || run.removal == RemovalOutcome::kFailed) {
        run.removal = RemovalOutcome::kFailed;
    } else if (removal == RemovalOutcome::kDone) {
        run.removal = RemovalOutcome::kDone;
    }
    if (run.next >= run.users.size()) {
        EndCleanUp(false);
        return;
    }
    ShowProgress(IDS_CLEANUP_PROGRESS, run.next, run.users.size());
}

void CQuorvaneDlg::EndCleanUp(bool stopped) {
    std::unique_ptr<CleanUp> run = std::move(cleanup_);
    Platform& os = services_.os;
    const WindowRef owner = window_->Handle();
    const std::string caption = os.resources.LoadString(IDS_CAPTION);
    // A clean-up stopped before its last user did not do all it was asked.
    const bool complete = !stopped && run->removal == RemovalOutcome::kDone;
    if (run->record)
        run->record->Finish(!stopped && run->removal != RemovalOutcome::kFailed ? 0 : 3);
    if (run->backup != nullptr) {
        run->backup->Finish(complete);
        for (const MovedAside& m : run->backup->movedAside()) os.debug.Write(MovedAsideText(m));
    }
    if (!stopped) {
        switch (run->removal) {
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
    }
    if (run->audit.failed()) {
        os.messages.Show(
            owner,
            text::Substitute(os.resources.LoadString(IDS_AUDIT_LOG_FAILED), {run->audit.path()}),
            caption, mb::kIconExclamation);
    }
    run.reset();  // the audit log is closed before the refresh scans
    cleanupDone_ = true;
    if (stopped) {
        Close();
        return;
    }
    BeginRefresh();  // a registry that cannot be read is shown in the status line at its end
}

void CQuorvaneDlg::OnCancelClicked() {
    if (cleanup_ != nullptr && window_ != nullptr) {
        // Asked first; the user being cleaned was finished by the step before this message.
        Platform& os = services_.os;
        if (os.messages.Show(window_->Handle(), os.resources.LoadString(IDS_CONFIRM_STOP),
                             os.resources.LoadString(IDS_CAPTION), kConfirmStyle) != mb::kIdOk) {
            return;
        }
        // The question's own message loop may have let the last step run.
        if (cleanup_ != nullptr) {
            EndCleanUp(true);
            return;
        }
    }
    // A scan step holds no hive between two steps: stopping it leaves nothing loaded.
    refresh_.reset();
    Close();
}

void CQuorvaneDlg::Close() {
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
