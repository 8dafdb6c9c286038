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

// The heading is a resource text with one "%s". It is never used as a format string of its own:
// the first "%s" is replaced by the argument and everything else is kept as it stands, so that a
// translated text with a stray "%" cannot make the formatting read arguments that are not there.
std::string FormatHeading(std::string_view format, std::string_view argument) {
    std::size_t at = text::FindText(format, "%s");
    if (at == text::npos) return std::string(format);
    std::string heading(format.substr(0, at));
    heading += argument;
    heading += format.substr(at + 2);
    return heading;
}

}  // namespace

CQuorvaneDlg::CQuorvaneDlg(Services services, std::string settingsFile)
    : m_services(services), m_settingsFile(std::move(settingsFile)) {
    m_bAdmin = IsMemberOfAdministrators(m_services.os);
    m_bCleanupDone = false;
    m_tables.FillBuiltIn();
}

DialogBinding CQuorvaneDlg::Attach(IDialogWindow& window, ITreeControl& tree) {
    m_window = &window;
    m_tree = std::make_unique<UserDataTree>(tree);
    return DialogBinding(DialogBindingCloser{}, this);
}

void CQuorvaneDlg::Detach() noexcept {
    // The model's end empties the tree through the control, which is still there.
    m_tree.reset();
    m_window = nullptr;
}

int DialogBindingCloser::Close(CQuorvaneDlg* dialog) noexcept {
    dialog->Detach();
    return 0;
}

bool CQuorvaneDlg::OnInitDialog() {
    if (m_tree == nullptr || m_window == nullptr) return true;
    // The control makes its check-box images when the style is set on the existing window;
    // taken from the template alone the boxes may show the wrong state. Set it again before the
    // tree is filled.
    m_tree->control().ModifyStyle(tv::kCheckBoxes, 0);
    m_tree->control().ModifyStyle(0, tv::kCheckBoxes);
    RefreshTree();
    return true;
}

bool CQuorvaneDlg::RefreshTree() {
    if (m_tree == nullptr || m_window == nullptr) return false;
    Platform& os = m_services.os;
    m_window->SetItemText(IDC_STATUS, "");
    m_unreadableUsers.clear();

    // Without a settings file name (the current directory was unknown at start-up) the tool
    // works in default mode.
    auto setting = [&](const char* key) {
        if (m_settingsFile.empty()) return std::string();
        return os.system.GetPrivateProfileString(kSettingsSection, key, "", m_settingsFile);
    };

    bool result = false;
    const std::string company = setting(kSettingsCompany);
    if (!company.empty()) {
        const std::string product = setting(kSettingsProduct);
        const std::string version = setting(kSettingsVersion);
        const std::string visibleName = setting(kSettingsVisibleProductName);
        m_tables.UseSettingsProduct(visibleName);
        m_settingsHeading = FormatHeading(os.resources.LoadString(IDS_HEADING), visibleName);
        result = PopulateTree(company, product, version);
    } else {
        m_settingsHeading.clear();
        std::string products(kMainProduct);
        products += '/';
        products += kLightProduct;
        m_window->SetTitle(FormatHeading(os.resources.LoadString(IDS_HEADING), products));
        result = PopulateTree(kDefaultCompany, kMainProduct, kMainRelease);
        if (result) result = PopulateTree(kDefaultCompany, kLightProduct, kLightRelease);
    }

    if (!result) {
        m_window->SetItemText(IDC_STATUS, os.resources.LoadString(IDS_REGISTRY_UNREADABLE));
        return false;
    }
    // Users whose registry could not be read are never passed over as "nothing to clean".
    std::string unreadable;
    if (!m_unreadableUsers.empty()) {
        unreadable = FormatHeading(os.resources.LoadString(IDS_USERS_UNREADABLE),
                                   std::to_string(m_unreadableUsers.size()));
    }
    if (!m_tree->HasItems()) {
        std::string status = os.resources.LoadString(IDS_NO_INVALID_ENTRIES);
        if (!unreadable.empty()) {
            status += unreadable;
        } else if (!m_bCleanupDone) {
            status += os.resources.LoadString(IDS_CLEANUP_NOT_NEEDED);
        }
        m_window->SetItemText(IDC_STATUS, status);
        // Stays disabled: only a clean-up could change the registry, and nothing is left to clean.
        m_window->EnableItem(mb::kIdOk, false);
        return true;
    }
    m_tree->ExpandAll();
    // The dialog has no heading control; in settings mode the heading names the configured
    // product, and it takes the status line whenever that line has nothing else to say. Default
    // mode shows its heading as the dialog's title instead.
    if (!m_settingsHeading.empty() || !unreadable.empty()) {
        m_window->SetItemText(IDC_STATUS, m_settingsHeading + unreadable);
    }
    return true;
}

bool CQuorvaneDlg::PopulateTree(std::string_view company, std::string_view product,
                                std::string_view release) {
    if (m_tree == nullptr || m_window == nullptr) return false;
    Workspace ws{m_services, m_tables, m_bAdmin, m_window->Handle(), &m_hives};
    return qv::PopulateTree(ws, *m_tree, company, product, release, &m_unreadableUsers);
}

void CQuorvaneDlg::OnCleanUp() {
    if (m_tree == nullptr || m_window == nullptr) return;
    Platform& os = m_services.os;
    const WindowRef owner = m_window->Handle();
    const std::string caption = os.resources.LoadString(IDS_CAPTION);
    if (os.messages.Show(owner, os.resources.LoadString(IDS_CONFIRM_DELETE), caption,
                         kConfirmStyle) != mb::kIdOk) {
        return;
    }

    // Every action of the clean-up goes to the machine's audit log. A log that cannot be written
    // does not stop the clean-up; the operator is told after its result.
    AuditLog audit(os, kAuditProgramDialog);
    (void)audit.Open();
    Workspace ws{m_services, m_tables, m_bAdmin, owner, &m_hives, &audit};
    // What the clean-up removes is kept for a restore, unless the settings file says Backup=0. A
    // backup that cannot be started keeps the clean-up from removing anything.
    std::unique_ptr<RunBackup> backup;
    const bool backupOff = !m_settingsFile.empty() &&
                           os.system.GetPrivateProfileString(kSettingsSection, kSettingsBackup, "",
                                                             m_settingsFile) == "0";
    int removal = kRemovalFailed;
    if (backupOff ||
        RunBackup::Begin(ws, audit.run(), kAuditProgramDialog, &backup) == err::kSuccess) {
        ws.backup = backup.get();
        removal = RemoveCheckedUserData(ws, m_tree->CheckedPairs());
        if (backup != nullptr) backup->Finish(removal == kRemovalDone);
    }
    switch (removal) {
        case kRemovalDone:
            os.messages.Show(owner, os.resources.LoadString(IDS_DELETED), caption,
                             mb::kIconInformation);
            break;
        case kRemovalFailed:
            os.messages.Show(owner, os.resources.LoadString(IDS_DELETE_FAILED), caption,
                             mb::kIconExclamation);
            break;
        case kRemovalNothingSelected:
            os.messages.Show(owner, os.resources.LoadString(IDS_NOTHING_SELECTED), caption,
                             mb::kIconExclamation);
            break;
        default:
            break;
    }
    if (audit.failed()) {
        os.messages.Show(owner,
                         FormatHeading(os.resources.LoadString(IDS_AUDIT_LOG_FAILED), audit.path()),
                         caption, mb::kIconExclamation);
    }

    m_bCleanupDone = true;
    m_tree->Clear();
    RefreshTree();
}

void CQuorvaneDlg::OnCancelClicked() {
    if (m_tree != nullptr) m_tree->Clear();
    if (m_window != nullptr) m_window->EndDialog(mb::kIdCancel);
}

void CQuorvaneDlg::OnTreeClick() {
    if (m_tree == nullptr || m_window == nullptr) return;
    m_tree->OnClick(m_window->GetMessagePos());
}

void CQuorvaneDlg::OnTreeKeyDown(std::uint16_t virtualKey) {
    if (m_tree == nullptr) return;
    m_tree->OnKeyDown(virtualKey);
}

Point MinimizedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
    // Widened so that extreme sizes cannot overflow; the division truncates toward zero.
    auto centre = [](int client, int icon) {
        return static_cast<std::int32_t>((static_cast<std::int64_t>(client) - icon + 1) / 2);
    };
    return Point{centre(clientWidth, iconWidth), centre(clientHeight, iconHeight)};
}

}  // namespace qv
