// The settings file: an arbitrary Quorvane.ini in the current directory drives the dialog's
// refresh on a fake machine with a few registrations and leftover folders, once as an
// administrator (every profile, hives loaded and unloaded, leftover folders registered) and once
// as a user (his own registrations only, with "-d").
//
// Properties, for every input and both runs:
// - nothing written to the registry outside HKEY_USERS\<sid>\Software of the profiles in the
//   machine's profile list (the administrator's run), nothing written at all (the user's run);
//   nothing removed or changed, only added; a second refresh writes nothing;
// - the scan that writes nothing (as a preview or a dry run scans) writes nothing, and finds the
//   registrations and users that the dialog's scan, which registers leftover folders, then lists;
// - every key the tool opened is closed, no hive is left loaded, the hives of logged-on users
//   stay loaded;
// - the disk is as it was; no search, token or SID is left open; the restore privilege is off;
// - nothing is read outside a buffer (ASan).
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/defaults.h"
#include "app/settings.h"
#include "base/text.h"
#include "engine/scan.h"
#include "fake/fake_machine.h"
#include "fake/fake_ui.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_machine.h"
#include "ui/quorvane_dlg.h"

namespace qv::fuzz {
namespace {

constexpr char kZed[] = "S-1-5-21-7-7-7-1001";  // not logged on
constexpr char kAmy[] = "S-1-5-21-7-7-7-1002";  // not logged on
constexpr char kBea[] = "S-1-5-21-7-7-7-1003";  // logged on: her hive is used in place
constexpr const char* kOperator = fake::FakeMachine::kOperatorSid;  // not in the profile list
constexpr char kSettingsFile[] = "C:\\Tools\\Quorvane.ini";
constexpr std::int64_t kUserTime = 1600000000;
constexpr std::int64_t kMachineTime = kUserTime + 3600;

// The machine: three profiles, registrations of the built-in products and of one configured
// product ("Acme\Zephyr\V2"), some stale, some fresh, and leftover language folders that the
// administrator's run registers.
void Populate(fake::FakeMachine& m) {
    m.AddUser({kZed, "zed"});
    m.AddUser({kAmy, "amy"});
    m.AddUser({kBea, "bea", "QVTEST", {}, true});

    auto reg = [&](const std::string& root, const std::string& rel, std::int64_t time) {
        const std::string path = root + "\\Software\\" + rel;
        m.registry.CreateKey(path);
        m.registry.SetTreeTime(path, time);
    };
    reg("HKLM", "Brennard\\Ovaline\\R16.0\\OVLN-201:409", kMachineTime);
    reg("HKLM", "Acme\\Zephyr\\V2\\OVXM-6:409", kUserTime);
    reg(m.UserKey(kZed), "Brennard\\Ovaline\\R16.0\\OVLN-201:409", kUserTime);
    reg(m.UserKey(kZed), "Acme\\Zephyr\\V2\\OVXM-6:407", kUserTime);
    reg(m.UserKey(kAmy), "Brennard\\Ovaline Sketch\\R9\\OVSK-201:411", kUserTime);
    reg(m.UserKey(kAmy), "Acme\\Zephyr\\V2\\OVXM-6:409", kUserTime);
    reg(m.UserKey(kBea), "Acme\\Zephyr\\V2\\OVXM-201:40C", kUserTime);
    reg("HKCU", "Brennard\\Ovaline\\R16.0\\OVLN-201:407", kUserTime);
    reg("HKCU", "Acme\\Zephyr\\V2\\OVXM-6:411", kUserTime);

    m.files.AddDirectory(m.LocalAppData(kZed) + "\\Acme\\Zephyr\\V2\\fra");
    m.files.AddDirectory(m.AppData(kZed) + "\\Acme\\Zephyr\\V2\\fra");
    m.files.AddDirectory(m.LocalAppData(kAmy) + "\\Brennard\\Ovaline 2004\\R16.0\\deu");
    m.files.AddDirectory(m.LocalAppData(kBea) + "\\Acme\\Zephyr\\V2\\jpn");
    m.files.AddDirectory(m.LocalAppData(kBea) + "\\Acme\\Ovaline 2004\\V2\\enu");
}

// Where the administrator's run may write: the Software key of each listed profile's hive.
bool MayWrite(const fake::FakeMachine& m, const std::string& keyPath) {
    const std::string folded = text::FoldCase(keyPath);
    for (const char* sid : {kZed, kAmy, kBea}) {
        // "HKU\<sid>" for a mounted hive, "<hive file>|" for one that is not loaded.
        std::string software = m.UserKey(sid);
        if (software.back() != '|') software += '\\';
        software += "Software";
        if (IsAtOrBelow(folded, text::FoldCase(software))) return true;
    }
    return false;
}

// After each refresh: every key closed, the hives the tool loaded unloaded, the hives of logged-on
// users still there.
void CheckNothingHeld(const fake::FakeMachine& m) {
    QV_FUZZ_CHECK(m.registry.OpenKeyPaths().empty(), Describe(m.registry.OpenKeyPaths()));
    QV_FUZZ_CHECK(!m.registry.IsMounted(kZed) && !m.registry.IsMounted(kAmy),
                  "a hive stays loaded");
    QV_FUZZ_CHECK(m.registry.IsMounted(kBea) && m.registry.IsMounted(kOperator),
                  "a logged-on user's hive was unloaded");
}

// A text as a control shows it: up to its first NUL (a settings value may hold NUL bytes).
std::string Shown(const std::string& s) { return s.substr(0, s.find('\0')); }

// What a scan that writes nothing finds for the settings, as (label, account) pairs: the products
// and the product table are taken from the settings file as the dialog takes them.
std::vector<std::pair<std::string, std::string>> ScanWritingNothing(fake::FakeMachine& m,
                                                                    bool admin) {
    Settings settings;
    (void)ReadSettings(m.platform(), kSettingsFile, admin, &settings);  // refused: the defaults
    Tables tables;
    tables.FillBuiltIn();
    std::vector<ProductScope> scopes;
    if (!settings.company.empty()) {
        tables.UseSettingsProduct(settings.visibleProductName);
        scopes.push_back({settings.company, settings.product, settings.version});
    } else {
        scopes.push_back({kDefaultCompany, kMainProduct, kMainRelease});
        scopes.push_back({kDefaultCompany, kLightProduct, kLightRelease});
    }
    Workspace ws{Services{m.platform(), false}, tables, admin, 0, nullptr};
    Findings findings;
    (void)ScanProducts(ws, scopes, &findings, ScanMode::kWriteNothing);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const RegistrationFinding& registration : findings.registrations) {
        for (const UserFinding& user : registration.users) {
            pairs.emplace_back(Shown(registration.label), Shown(user.account));
        }
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

// What the dialog lists, as (label, account) pairs.
std::vector<std::pair<std::string, std::string>> Listed(fake::FakeTree& control) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (TreeItem registration : control.TopLevelItems()) {
        for (TreeItem user : control.Children(registration)) {
            pairs.emplace_back(Shown(control.GetItemText(registration)),
                               Shown(control.GetItemText(user)));
        }
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

std::string Describe(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string out;
    for (const auto& [label, account] : pairs) out += label + ": " + account + "; ";
    return out;
}

void RunRefresh(std::string_view settings, bool admin) {
    fake::FakeMachine m;
    Populate(m);
    m.security.SetAdministrator(admin);
    // The settings file's folder is the administrators' own, so that their run uses it.
    m.files.Remove("C:\\Tools");
    FileRef root = 0;
    FileRef tools = 0;
    QV_FUZZ_CHECK(m.files.OpenFolder("C:\\", &root) == err::kSuccess &&
                      m.files.CreateFolder(root, "Tools", FolderProtection::kAdministratorsOnly,
                                           &tools) == err::kSuccess &&
                      m.files.Close(tools) == err::kSuccess && m.files.Close(root) == err::kSuccess,
                  "the settings file's folder cannot be made");
    m.files.AddFile(kSettingsFile, settings);

    const RegistryImage registryBefore = TakeRegistryImage(m.registry);
    const DiskImage diskBefore = TakeDiskImage(m.files);

    // The scan that writes nothing writes nothing, and finds what the dialog's scan then lists.
    const auto found = ScanWritingNothing(m, admin);
    CheckNothingHeld(m);
    const std::vector<KeyChange> written =
        CompareRegistry(registryBefore, TakeRegistryImage(m.registry));
    QV_FUZZ_CHECK(written.empty(), "the scan that writes nothing wrote: " + Describe(written));

    RegistryImage registryAfter;
    {
        fake::FakeDialogWindow window;
        fake::FakeTree control;
        CQuorvaneDlg dlg(Services{m.platform(), !admin}, kSettingsFile);
        const DialogBinding binding = dlg.Attach(window, control);
        (void)dlg.OnInitDialog();
        // The window host steps the refresh between messages; here, to its end at once.
        while (dlg.Busy()) dlg.Step();
        CheckNothingHeld(m);
        const auto listed = Listed(control);
        QV_FUZZ_CHECK(found == listed, "found without writing: " + Describe(found) +
                                           "\nlisted: " + Describe(listed));
        registryAfter = TakeRegistryImage(m.registry);
        // A second refresh, as after a clean-up: what the first one registered is found, not
        // registered again.
        dlg.tree()->Clear();
        (void)dlg.RefreshTree();
        CheckNothingHeld(m);
        const std::vector<KeyChange> again =
            CompareRegistry(registryAfter, TakeRegistryImage(m.registry));
        QV_FUZZ_CHECK(again.empty(), Describe(again));
        dlg.OnCancelClicked();
    }

    const std::vector<KeyChange> changes = CompareRegistry(registryBefore, registryAfter);
    for (const KeyChange& change : changes) {
        QV_FUZZ_CHECK(admin, Describe(changes));
        QV_FUZZ_CHECK(change.what != "removed" && change.what != "values", Describe(changes));
        QV_FUZZ_CHECK(MayWrite(m, change.path), Describe(changes));
    }
    QV_FUZZ_CHECK(CompareDisk(diskBefore, TakeDiskImage(m.files)).empty(), "the disk changed");
    QV_FUZZ_CHECK(m.files.OpenFindCount() == 0, "a search stays open");
    QV_FUZZ_CHECK(m.security.OpenTokenCount() == 0, "a token stays open");
    QV_FUZZ_CHECK(m.security.LiveSidCount() == 0 && m.security.BadFreeSidCount() == 0,
                  "a SID was not freed, or freed wrongly");
    QV_FUZZ_CHECK(!m.security.IsPrivilegeEnabled(sec::kRestorePrivilege),
                  "the restore privilege stays on");
}

}  // namespace
}  // namespace qv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qv::fuzz;
    const std::string_view settings = AsText(data, size);
    RunRefresh(settings, true);
    RunRefresh(settings, false);
    return 0;
}
