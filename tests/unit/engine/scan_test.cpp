#include "engine/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "base/text.h"
#include "tests/unit/forwarding_registry.h"
#include "tests/unit/ui/ui_machine.h"
#include "ui/population.h"

namespace qv {
namespace {

using fake::RegOp;
using Strings = std::vector<std::string>;

// The two products of the built-in tables, scanned together.
const std::vector<ProductScope> kBothProducts = {{"Brennard", "Ovaline", "R16.0"},
                                                 {"Brennard", "Ovaline Sketch", "R9"}};

class PopulationTest : public UiMachine {
  protected:
    bool Populate(const char* product = "Ovaline", const char* release = "R16.0") {
        return PopulateTree(ws, tree, "Brennard", product, release, &unreadable);
    }
    // Whether the operator's English registration is stale.
    bool IsStale() {
        const std::string rel = std::string("Software\\Brennard\\") + kEnglish;
        UniqueKey key =
            OpenKey(m.registry, kHkeyUsers, std::string(kOperator) + "\\" + rel, reg::kKeyRead);
        return IsStaleRegistration(m.platform(), reg::kWow64_32Key, rel, key.get());
    }
    // The same with the user's keys written at `userTime`, the machine's at `machineTime` (0: the
    // machine has none).
    bool Stale(std::int64_t userTime, std::int64_t machineTime) {
        m.registry.DeleteTree("HKLM\\Software\\Brennard");
        if (machineTime != 0) Reg("", kEnglish, machineTime);
        Reg(kOperator, kEnglish, userTime);
        return IsStale();
    }

    std::set<std::string> unreadable;
};

TEST_F(PopulationTest, StaleOnlyWhenMoreThanAMinuteOlderOrUninstalled) {
    EXPECT_FALSE(Stale(kT - 60, kT));
    EXPECT_TRUE(Stale(kT - 61, kT));
    EXPECT_FALSE(Stale(kT, kT));
    EXPECT_FALSE(Stale(kT + 600, kT));
    EXPECT_TRUE(Stale(kT + 600, 0));
    // A time that cannot go through local time counts as 0, the oldest possible.
    m.system.InjectFault(fake::SysOp::kLocalTimeRoundTrip, std::to_string(kT - 5),
                         err::kInvalidParameter, fake::kAlways);
    EXPECT_TRUE(Stale(kT - 5, kT));
    EXPECT_TRUE(m.registry.OpenKeyPaths().empty());
}

TEST_F(PopulationTest, OldestKeyAnywhereInEitherSubtreeCounts) {
    const std::string deep = std::string(kEnglish) + "\\a\\b";
    m.registry.CreateKey(Path(kOperator, deep));
    m.registry.CreateKey(Path("", deep));
    Reg(kOperator, kEnglish, kT);
    Reg("", kEnglish, kT);
    m.registry.SetTreeTime(Path(kOperator, deep), kT - 100);
    EXPECT_TRUE(IsStale());
    m.registry.SetTreeTime(Path("", deep), kT - 150);
    EXPECT_FALSE(IsStale());
}

TEST_F(PopulationTest, ListsEveryProfilesStaleRegistrationsInProfileOrder) {
    Reg(kAmy, kEnglish);
    Reg(kZed, kEnglish);
    // A known product with a language id in lower case, which the case-sensitive table does
    // not know; and an unknown product id with a known language.
    Reg(kZed, "Ovaline\\R16.0\\OVLN-201:40c");
    Reg(kZed, "Ovaline\\R16.0\\OVLN-207:40C");
    Reg(kAmy, "Ovaline\\R16.0\\OVLN-201:407", kT - 100);
    Reg("", "Ovaline\\R16.0\\OVLN-201:407", kT);
    Reg(kZed, "Ovaline\\R16.0\\OVLN-201:40E", kT);
    Reg("", "Ovaline\\R16.0\\OVLN-201:40E", kT);
    EXPECT_TRUE(Populate());
    EXPECT_EQ(control.Render(),
              "[x] Ovaline 2004 (English)\n  [x] zed\n  [x] amy\n"
              "[x] Ovaline (201:40c)\n  [x] zed\n"
              "[x] Ovaline (207:40C)\n  [x] zed\n"
              "[x] Ovaline 2004 (German)\n  [x] amy\n");
    EXPECT_EQ(tree.SidText(control.Children(control.TopLevelItems()[0])[1]), kAmy);
    ExpectNothingHeld();
}

TEST_F(PopulationTest, FindingsCarryTheEvidenceOfEachUser) {
    Reg("", kEnglish, kT);
    Reg(kZed, kEnglish, kT - 3600);                      // reinstalled since
    Reg(kAmy, "Ovaline\\R16.0\\OVLN-201:407", kT - 10);  // German is not installed
    constexpr char kCy[] = "S-1-5-21-7-7-7-1003";
    m.AddUser({kCy, "cy", "QVTEST", {}, /*loggedOn=*/true});
    Reg(kCy, kEnglish, kT - 60);  // fresh: not found
    m.registry.InjectFault(RegOp::kLoad, kAmy, err::kSharingViolation, 1);
    Findings findings;
    ASSERT_TRUE(ScanRegistrations(ws, "Brennard", "Ovaline", "R16.0", &findings,
                                  ScanMode::kRegisterLeftovers));
    ASSERT_TRUE(ScanRegistrations(ws, "Brennard", "Ovaline", "R16.0", &findings,
                                  ScanMode::kRegisterLeftovers));

    ASSERT_EQ(findings.registrations.size(), 2u);
    const RegistrationFinding& english = findings.registrations[0];
    EXPECT_EQ(english.label, "Ovaline 2004 (English)");
    EXPECT_EQ(english.product, "Ovaline");
    ASSERT_EQ(english.users.size(), 2u);  // zed, once per scan
    const UserFinding& zed = english.users[0];
    EXPECT_EQ(zed.sid, kZed);
    EXPECT_EQ(zed.account, "zed");
    EXPECT_EQ(zed.keyPath, std::string("Software\\Brennard\\") + kEnglish);
    EXPECT_EQ(zed.reason, StaleReason::kReinstalled);
    EXPECT_EQ(zed.machineOldestKeyTime - zed.userOldestKeyTime, 3600);
    const RegistrationFinding& german = findings.registrations[1];
    ASSERT_EQ(german.users.size(), 1u);  // amy's hive could be read only the second time
    EXPECT_EQ(german.users[0].reason, StaleReason::kMachineKeyMissing);
    EXPECT_EQ(german.users[0].machineOldestKeyTime, 0);

    std::vector<ProfileState> states;
    for (const ProfileFinding& p : findings.profiles) states.push_back(p.state);
    const std::vector<ProfileState> expected = {ProfileState::kLoaded,  ProfileState::kUnreadable,
                                                ProfileState::kInPlace, ProfileState::kLoaded,
                                                ProfileState::kLoaded,  ProfileState::kInPlace};
    EXPECT_EQ(states, expected);
    ExpectNothingHeld();
}

TEST_F(PopulationTest, OneScanOfBothProductsLoadsEachHiveOnceAndWritesNothing) {
    Reg(kZed, kEnglish);
    Reg(kAmy, "Ovaline Sketch\\R9\\OVSK-201:411");
    // Leftover French folders of amy's: held in the findings, not registered.
    m.files.AddDirectory(m.LocalAppData(kAmy) + "\\Brennard\\Ovaline 2004\\R16.0\\fra");
    Findings findings;
    ASSERT_TRUE(ScanProducts(ws, kBothProducts, &findings, ScanMode::kWriteNothing));
    EXPECT_EQ(m.registry.Log(fake::RegOp::kLoad), (Strings{kZed, kAmy}));
    std::vector<std::string> labels;
    for (const RegistrationFinding& r : findings.registrations) labels.push_back(r.label);
    EXPECT_EQ(labels, (Strings{"Ovaline 2004 (English)", "Ovaline 2004 (French)",
                               "Ovaline Sketch 2004 (Japanese)"}));
    ASSERT_EQ(findings.registrations[1].users.size(), 1u);
    EXPECT_TRUE(findings.registrations[1].users[0].leftover);
    EXPECT_FALSE(m.registry.KeyExists(m.UserKey(kAmy) + "\\Software\\Brennard\\Ovaline"));
    ExpectNothingHeld();
}

// The registry and files ports of the fake machine, noting the keys opened and the paths whose
// attributes are asked for.
class PathRecorder final : public test::ForwardingRegistry, public IFileSystem {
  public:
    explicit PathRecorder(fake::FakeMachine& m)
        : ForwardingRegistry(m.registry), files_(m.files), platform_{*this,    m.security,
                                                                     *this,    m.files,
                                                                     m.system, m.messages,
                                                                     m.debug,  m.resources,
                                                                     m.audit} {}
    Platform& platform() { return platform_; }

    Strings openedKeys;
    Strings checkedPaths;

    Win32Error OpenKey(HKey parent, std::string_view subKey, std::uint32_t access,
                       HKey* key) noexcept override {
        openedKeys.emplace_back(subKey);
        return registry_.OpenKey(parent, subKey, access, key);
    }
    Win32Error OpenLinkKey(HKey parent, std::string_view subKey, std::uint32_t access,
                           HKey* key) noexcept override {
        openedKeys.emplace_back(subKey);
        return registry_.OpenLinkKey(parent, subKey, access, key);
    }

    std::uint32_t GetFileAttributes(std::string_view path) noexcept override {
        checkedPaths.emplace_back(path);
        return files_.GetFileAttributes(path);
    }
    Win32Error FindFirstFile(std::string_view pattern, FindHandle* handle,
                             FindData* data) noexcept override {
        return files_.FindFirstFile(pattern, handle, data);
    }
    Win32Error FindNextFile(FindHandle handle, FindData* data) noexcept override {
        return files_.FindNextFile(handle, data);
    }
    Win32Error FindClose(FindHandle handle) noexcept override { return files_.FindClose(handle); }
    Win32Error GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                               std::string* fullPath) noexcept override {
        return files_.GetFullPathName(path, bufferChars, fullPath);
    }

  private:
    IFileSystem& files_;
    Platform platform_;
};

// A scan of both products as an administrator, writing nothing, through the recorder.
[[nodiscard]] bool ScanBothRecorded(PathRecorder& recorder, const Tables& tables,
                                    Findings* findings) {
    Workspace recorded{Services{recorder.platform(), false}, tables, true, 0x77};
    return ScanProducts(recorded, kBothProducts, findings, ScanMode::kWriteNothing);
}

TEST_F(PopulationTest, OneScanOfBothProductsLooksAtEachUsersFoldersOnce) {
    const std::string amy = m.LocalAppData(kAmy) + "\\Brennard\\";
    const std::string zed = m.LocalAppData(kZed) + "\\Brennard\\";
    m.files.AddDirectory(amy + "Ovaline 2004\\R16.0\\fra");
    m.files.AddDirectory(amy + "Ovaline Sketch 2004\\R9\\jpn");
    // zed has a roaming product folder only.
    m.files.AddDirectory(m.AppData(kZed) + "\\Brennard\\Ovaline 2004");
    PathRecorder recorder(m);
    Findings findings;
    ASSERT_TRUE(ScanBothRecorded(recorder, tables, &findings));
    std::vector<std::string> labels;
    for (const RegistrationFinding& r : findings.registrations) labels.push_back(r.label);
    EXPECT_EQ(labels, (Strings{"Ovaline 2004 (French)", "Ovaline Sketch 2004 (Japanese)"}));

    // Each user's shell folders are read through one key open, each path is checked once, and
    // no language folder is looked for below a release folder that the user lacks.
    EXPECT_EQ(std::count_if(recorder.openedKeys.begin(), recorder.openedKeys.end(),
                            [](const std::string& key) {
                                return text::EqualsNoCase(text::AfterLastBackslash(key),
                                                          "Shell Folders");
                            }),
              2);
    const Strings missingReleases = {amy + "Ovaline 2004\\R9\\",
                                     amy + "Ovaline Sketch 2004\\R16.0\\",
                                     zed + "Ovaline 2004\\R16.0\\", zed + "Ovaline 2004\\R9\\"};
    std::set<std::string> seen;
    for (const std::string& path : recorder.checkedPaths) {
        EXPECT_TRUE(seen.insert(text::FoldCase(path)).second) << path;
        for (const std::string& release : missingReleases) {
            EXPECT_FALSE(path.size() > release.size() && text::FindText(path, release) == 0)
                << path;
        }
    }
    EXPECT_EQ(seen.count(text::FoldCase(amy + "Ovaline 2004\\R16.0\\FRA")), 1u);
    ExpectNothingHeld();
}

// Every value a user writes for his shell folders is hostile: a share or a WebDAV server (the
// machine would authenticate to it), a device path, a relative path, another user's profile
// under any spelling, a link out of his profile. The administrator's registering scan reaches
// the disk with no UNC or device path and, outside the profile of the user it looks at, with no
// path that honest values do not reach too; it registers nothing of another user's folders in
// the hostile user's hive.
TEST_F(PopulationTest, HostileShellFoldersReachNothingOutsideTheUsersOwnProfile) {
    const std::string zed = m.ProfileDir(kZed);
    const std::string amy = m.ProfileDir(kAmy);
    const std::string amyLocal = m.LocalAppData(kAmy);
    m.files.AddDirectory(amyLocal + "\\Brennard\\Ovaline 2004\\R16.0\\enu");
    m.files.AddDirectory(m.AppData(kAmy) + "\\Brennard\\Ovaline 2004\\R16.0\\enu");
    m.files.AddJunction(zed + "\\Link", amy);
    m.files.AddDirectory(m.LocalAppData(kZed) + "\\Brennard");
    m.files.AddJunction(m.LocalAppData(kZed) + "\\Brennard\\Ovaline 2004",
                        amyLocal + "\\Brennard\\Ovaline 2004");
    const std::string shellFolders = m.UserKey(kZed) + "\\" + fake::kShellFoldersPath;
    const auto scan = [&](const std::string& appData, const std::string& localAppData) {
        m.registry.SetString(shellFolders, "AppData", appData, reg::kSz);
        m.registry.SetString(shellFolders, "Local AppData", localAppData, reg::kSz);
        m.files.RecordPathsReached();
        Findings findings;
        EXPECT_TRUE(ScanProducts(ws, kBothProducts, &findings, ScanMode::kRegisterLeftovers));
        std::set<std::string> outside;
        for (const std::string& path : m.files.PathsReached()) {
            EXPECT_NE(path.rfind("\\\\", 0), 0u) << path;
            const std::string folded = text::FoldCase(path);
            if (folded.rfind(text::FoldCase(zed + "\\"), 0) != 0) outside.insert(folded);
        }
        m.files.RecordPathsReached(false);
        EXPECT_FALSE(m.registry.KeyExists(m.UserKey(kZed) + "\\Software\\Brennard"))
            << appData << " | " << localAppData;
        return outside;
    };
    const std::set<std::string> honest = scan(m.AppData(kZed), m.LocalAppData(kZed));
    ASSERT_EQ(honest.count(text::FoldCase(amyLocal + "\\Brennard\\Ovaline 2004\\R16.0\\enu")), 1u);
    const std::string amyLocalBelow = amyLocal.substr(amy.size());  // "\Local Settings\..."
    for (const std::string& value :
         {std::string("\\\\host\\share"), std::string("\\\\host@80\\dav\\AppData"),
          std::string("\\\\host@SSL@443\\dav"), "\\\\?\\" + amyLocal, "\\\\.\\" + amyLocal,
          std::string("\\\\?\\UNC\\host\\share"), std::string("Local Settings\\Application Data"),
          "..\\amy" + amyLocalBelow, std::string("C:Local"), amyLocal, text::FoldCase(amyLocal),
          zed + "\\..\\amy" + amyLocalBelow,
          std::string("C:/Documents and Settings/amy/Local Settings/Application Data"),
          std::string("C:\\DOCUME~1\\amy\\LOCALS~1\\APPLIC~1"), zed + "\\Link" + amyLocalBelow,
          zed + "\\LINK~1\\Local Settings", zed, std::string("C:\\"), m.LocalAppData(kZed)}) {
        SCOPED_TRACE(value);
        for (const std::string& reached : scan(value, value)) {
            EXPECT_EQ(honest.count(reached), 1u) << reached;
        }
    }
    const auto traced = [&](const std::string& line) {
        const Strings& lines = m.debug.Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(
        traced("\tRefused to use \"\\\\host\\share\" as AppData: not a plain folder path\n"));
    EXPECT_TRUE(traced("\tRefused to use \"" + amyLocal +
                       "\" as Local AppData: outside the user's profile\n"));
    ExpectNothingHeld();
}

TEST_F(PopulationTest, EachUsersAccountIsLookedUpOnceForAllHisFindings) {
    for (const char* sid : {kZed, kAmy}) {
        Reg(sid, kEnglish);
        Reg(sid, "Ovaline\\R16.0\\OVLN-201:407");
        Reg(sid, "Ovaline Sketch\\R9\\OVSK-201:411");
    }
    // The accounts each scan lists, and the lookup calls it made (two per lookup: the size
    // probe and the lookup itself).
    const auto scan = [&](std::size_t* lookups) {
        const std::size_t before = m.security.SidLookupCount();
        Findings findings;
        EXPECT_TRUE(ScanProducts(ws, kBothProducts, &findings, ScanMode::kWriteNothing));
        *lookups = m.security.SidLookupCount() - before;
        std::multiset<std::string> accounts;
        for (const RegistrationFinding& r : findings.registrations) {
            for (const UserFinding& u : r.users) accounts.insert(u.account);
        }
        return accounts;
    };
    std::size_t lookups = 0;
    EXPECT_EQ(scan(&lookups),
              (std::multiset<std::string>{"amy", "amy", "amy", "zed", "zed", "zed"}));
    EXPECT_EQ(lookups, 4u);
    // A SID the system maps to no account is not asked again for the user's other findings,
    // which are listed without a name.
    m.security.InjectFault(fake::SecOp::kLookupSid, {}, err::kNoneMapped, 2);
    EXPECT_EQ(scan(&lookups), (std::multiset<std::string>{"", "", "", "amy", "amy", "amy"}));
    EXPECT_EQ(lookups, 4u);
    // Any other failure is: only the finding it was asked for goes without the account.
    m.security.InjectFault(fake::SecOp::kLookupSid, {}, err::kNotEnoughMemory, 2);
    EXPECT_EQ(scan(&lookups), (std::multiset<std::string>{"", "amy", "amy", "amy", "zed", "zed"}));
    EXPECT_EQ(lookups, 6u);
    ExpectNothingHeld();
}

TEST_F(PopulationTest, EachMachineKeyIsOpenedOncePerScanAndAHiveWithoutTheCompanyKeyOnce) {
    constexpr char kFrench[] = "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:40C";
    constexpr char kCy[] = "S-1-5-21-7-7-7-1003";
    m.AddUser({kCy, "cy"});
    Reg("", kEnglish, kT);
    for (const char* sid : {kZed, kAmy}) {
        Reg(sid, kEnglish, kT - 3600);
        m.files.AddDirectory(m.LocalAppData(sid) + "\\Brennard\\Ovaline 2004\\R16.0\\enu");
        m.files.AddDirectory(m.LocalAppData(sid) + "\\Brennard\\Ovaline 2004\\R16.0\\fra");
    }
    PathRecorder recorder(m);
    Findings findings;
    ASSERT_TRUE(ScanBothRecorded(recorder, tables, &findings));
    std::vector<std::string> listed;
    for (const RegistrationFinding& r : findings.registrations) {
        for (const UserFinding& u : r.users) listed.push_back(r.label + ": " + u.account);
    }
    EXPECT_EQ(listed, (Strings{"Ovaline 2004 (English): zed", "Ovaline 2004 (English): amy",
                               "Ovaline 2004 (French): zed", "Ovaline 2004 (French): amy"}));

    const auto opened = [&](const std::string& key) {
        return std::count_if(recorder.openedKeys.begin(), recorder.openedKeys.end(),
                             [&](const std::string& k) { return text::EqualsNoCase(k, key); });
    };
    // The machine's keys: judged and asked for by the leftover folders of both users.
    EXPECT_EQ(opened(std::string("Software\\Brennard\\") + kEnglish), 1);
    EXPECT_EQ(opened(kFrench), 1);
    // cy's hive has no company key: one open answers for both products.
    const std::string company = std::string(kCy) + "\\Software\\Brennard";
    EXPECT_EQ(opened(company), 1);
    for (const std::string& key : recorder.openedKeys) {
        EXPECT_FALSE(key.size() > company.size() && text::FindText(key, company + "\\") == 0)
            << key;
    }
    // zed's has: both release keys are opened.
    EXPECT_EQ(opened(std::string(kZed) + "\\Software\\Brennard\\Ovaline\\R16.0"), 1);
    EXPECT_EQ(opened(std::string(kZed) + "\\Software\\Brennard\\Ovaline Sketch\\R9"), 1);
    ExpectNothingHeld();
}

TEST_F(PopulationTest, LabelsFallBackToProductAndSuffix) {
    Reg(kZed, "Ovaline\\R16.0\\OVLN201409");
    Reg(kZed, "Ovaline\\R16.0\\OVLN-201409");
    Reg(kZed, "Ovaline Sketch\\R9\\OVSK-207:411");
    EXPECT_TRUE(Populate());
    EXPECT_TRUE(Populate("Ovaline Sketch", "R9"));
    EXPECT_EQ(Labels(), (Strings{"Ovaline (201409)", "Ovaline (OVLN201409)",
                                 "Ovaline Sketch 2004 (Japanese)"}));
}

TEST_F(PopulationTest, SameLabelListsTheUserTwiceEachWithHisOwnKey) {
    Reg(kZed, kEnglish);
    Reg(kZed, "Ovaline\\R16.0\\OVXM-201:409");
    EXPECT_TRUE(Populate());
    EXPECT_EQ(control.Render(), "[x] Ovaline 2004 (English)\n  [x] zed\n  [x] zed\n");
    EXPECT_EQ(tree.RegistrationKeyPath(control.TopLevelItems()[0]),
              "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409");
    std::vector<SelectedPair> pairs = tree.CheckedPairs();
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].registrationKeyPath, "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409");
    EXPECT_EQ(pairs[1].registrationKeyPath, "Software\\Brennard\\Ovaline\\R16.0\\OVXM-201:409");
}

TEST_F(PopulationTest, LeftoverFoldersAreRegisteredBeforeTheScan) {
    m.files.AddDirectory(m.LocalAppData(kAmy) + "\\Brennard\\Ovaline 2004\\R16.0\\enu");
    EXPECT_TRUE(Populate());
    EXPECT_EQ(control.Render(), "[x] Ovaline 2004 (English)\n  [x] amy\n");
    ExpectNothingHeld();
}

TEST_F(PopulationTest, DebugBoxPerProfileEvenWhenItsHiveFailsToLoad) {
    Reg(kZed, kEnglish);
    Reg(kAmy, kEnglish);
    m.registry.InjectFault(RegOp::kLoad, kZed, err::kSharingViolation);
    ws.services.debug = true;
    EXPECT_TRUE(Populate());
    EXPECT_EQ(control.Render(), "[x] Ovaline 2004 (English)\n  [x] amy\n");
    Strings texts;
    for (const auto& box : m.messages.Shown()) {
        if (box.caption != "Quorvane") continue;
        EXPECT_EQ(box.owner, 0x77u);
        EXPECT_EQ(box.style, 0x40u);
        texts.push_back(box.text);
    }
    EXPECT_EQ(texts, (Strings{std::string("Processing sid : ") + kZed,
                              std::string("Processing sid : ") + kAmy}));
    EXPECT_EQ(m.registry.Log(fake::RegOp::kUnload), Strings{kAmy});
    ExpectNothingHeld();
}

TEST_F(PopulationTest, UnreadableProfileListOrHiveIsNoEmptyMachine) {
    Reg(kZed, kEnglish);
    m.registry.InjectFault(RegOp::kOpen, "ProfileList", err::kAccessDenied, 1);
    EXPECT_FALSE(Populate());
    EXPECT_EQ(control.ItemCount(), 0u);
    // A hive that cannot be loaded: the user is noted, not taken for one with nothing to clean.
    m.registry.InjectFault(RegOp::kLoad, kZed, err::kSharingViolation, fake::kAlways);
    EXPECT_TRUE(Populate());
    EXPECT_EQ(control.ItemCount(), 0u);
    EXPECT_EQ(unreadable, std::set<std::string>{kZed});
    ExpectNothingHeld();
}

TEST_F(PopulationTest, CurrentUserModeReadsOnlyTheRunningUsersHive) {
    ws.admin = false;
    Reg(kZed, kEnglish);
    Reg(kOperator, kEnglish);
    m.files.AddDirectory(m.LocalAppData(kOperator) + "\\Brennard\\Ovaline 2004\\R16.0\\deu");
    EXPECT_TRUE(Populate());
    EXPECT_EQ(control.Render(), "[x] Ovaline 2004 (English)\n  [x] operator\n");
    EXPECT_TRUE(m.registry.Log(fake::RegOp::kLoad).empty());
    EXPECT_EQ(m.registry.SubKeyNames(m.UserKey(kOperator) + "\\Software\\Brennard\\Ovaline\\R16.0"),
              Strings{"OVLN-201:409"});
    ExpectNothingHeld();
    m.registry.InjectFault(RegOp::kOpen, kOperator, err::kAccessDenied);
    EXPECT_FALSE(Populate());
}

}  // namespace
}  // namespace qv
