// The user's product files: root folders deleted whole only when they are the user's own data,
// and list lines that never reach beyond the folders they name.
#include <algorithm>

#include "cleanup/file_list.h"
#include "cleanup/folder_guard.h"
#include "cleanup_fixture.h"

namespace qv::test {
namespace {

constexpr char kAnnProfile[] = "C:\\Documents and Settings\\ann";

class ProductFilesTest : public CleanupTest {
  protected:
    ProductFilesOutcome Clean(const char* sid = kAnn, Win32Error* tableError = nullptr) {
        return CleanProductFiles(m.platform(), tables, RegistrationPath(sid), sid, tableError);
    }
    int RefusalsTraced() {
        const auto& lines = m.debug.Lines();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const auto& line) {
            return line.rfind("\tRefused to delete \"", 0) == 0;
        }));
    }
};

TEST_F(ProductFilesTest, OwnRootFoldersGoWhole) {
    Register(kAnn);
    m.files.AddFile(Roaming(kAnn) + "\\Palette\\locked.pal", "", fa::kReadOnly);
    ASSERT_EQ(Clean(), ProductFilesOutcome::kRemoved);
    EXPECT_FALSE(m.files.Exists(Roaming(kAnn)));
    EXPECT_FALSE(m.files.Exists(Local(kAnn)));
    EXPECT_EQ(RefusalsTraced(), 0);
    EXPECT_EQ(m.files.OpenHandleCount(), 0u);
    ExpectNothingLeftOpen();
}

// However deep a user makes his data, its tree goes without the walk growing the thread's stack
// (a recursion of a few hundred bytes a level ends the program long before), in a plan and in a
// clean-up alike; and a read-only file goes with its attribute unchanged, as the other hard links
// of the file share it.
TEST_F(ProductFilesTest, ChainOfAHundredThousandFoldersGoesAndReadOnlyFilesKeepTheirAttribute) {
    Register(kAnn);
    std::string deepest = Roaming(kAnn);
    for (int level = 0; level < 100000; ++level) deepest += "\\d";
    m.files.AddFile(deepest + "\\locked.pal", "", fa::kReadOnly);

    Journal plan(true);
    ASSERT_EQ(CleanProductFiles(m.platform(), tables, RegistrationPath(kAnn), kAnn, nullptr, &plan),
              ProductFilesOutcome::kRemoved);
    EXPECT_TRUE(plan.IsDeleted(Roaming(kAnn) + "\\d"));
    EXPECT_TRUE(m.files.Exists(deepest + "\\locked.pal"));

    int attributeChanges = 0;
    m.files.SetHandleHook([&](HandleOp op, std::string_view) {
        if (op == HandleOp::kSetAttributes) ++attributeChanges;
    });
    ASSERT_EQ(Clean(), ProductFilesOutcome::kRemoved);
    EXPECT_FALSE(m.files.Exists(Roaming(kAnn)));
    EXPECT_EQ(attributeChanges, 0);
    EXPECT_EQ(m.files.OpenHandleCount(), 0u);
}

TEST_F(ProductFilesTest, UnreadableFolderValueDeletesNothingOfThatRegistration) {
    Register(kAnn);
    m.files.AddFile(m.LocalSettings(kAnn) + "\\Temp\\ovln1.tmp");
    m.registry.SetString(KeyOf(kAnn, kOvalineKey), "LocalRootFolder", Local(kAnn), reg::kExpandSz);
    const auto before = m.files.AllPaths();
    Win32Error e = err::kSuccess;
    EXPECT_EQ(Clean(kAnn, &e), ProductFilesOutcome::kNoTable);
    EXPECT_EQ(e, err::kInvalidData);
    EXPECT_EQ(m.files.AllPaths(), before);
    EXPECT_TRUE(m.debug.Lines().empty());
}

struct Hostile {
    const char* root;            // "~" stands for ann's profile folder
    const char* link = nullptr;  // a junction to set up first, and where it points
    const char* target = nullptr;
};

std::ostream& operator<<(std::ostream& os, const Hostile& h) { return os << h.root; }

class HostileRootTest : public ProductFilesTest, public ::testing::WithParamInterface<Hostile> {
  protected:
    static std::string Expand(const char* path) {
        std::string s(path);
        return s.rfind("~", 0) == 0 ? kAnnProfile + s.substr(1) : s;
    }
};

TEST_P(HostileRootTest, IsNeitherDeletedNorWalkedUpFrom) {
    // What a hostile value could reach: system and program folders, another user's product data
    // with an empty release folder, ann's own shared folders, files in the current folder.
    m.files.AddFile("C:\\WINDOWS\\system32\\kernel.dll");
    m.files.AddFile("C:\\WINDOWS\\Ovaline 2004\\R16.0\\enu\\system.ini");
    m.files.AddFile("C:\\Program Files\\Other\\other.exe");
    m.files.AddFile("C:\\Tools\\ovln1.log");
    m.files.AddFile(Roaming(kBob) + "\\Support\\ovlbase.hpt");
    m.files.AddDirectory(m.AppData(kBob) + "\\Brennard\\Ovaline 2004\\R9");
    m.files.AddFile(m.AppData(kAnn) + "\\Other\\settings.ini");
    m.files.AddFile(m.LocalAppData(kAnn) + "\\Other\\cache.dat");
    if (GetParam().link != nullptr) {
        m.files.AddJunction(Expand(GetParam().link), Expand(GetParam().target));
    }
    const std::string root = Expand(GetParam().root);
    SetFolders(kAnn, kOvalineKey, root, root);
    const auto before = m.files.AllPaths();

    // Nothing changes, and the data the registration names counts as left behind.
    ASSERT_EQ(Clean(), ProductFilesOutcome::kDataLeft);
    EXPECT_EQ(m.files.AllPaths(), before);
    EXPECT_GE(RefusalsTraced(), 2);
    ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    RootFolders, HostileRootTest,
    ::testing::Values(
        Hostile{"C:\\"}, Hostile{"C:"}, Hostile{"\\\\server\\share"}, Hostile{"C:\\WINDOWS"},
        Hostile{"C:\\Program Files"}, Hostile{"C:\\Documents and Settings\\bob"},
        Hostile{
            "C:\\Documents and Settings\\bob\\Application Data\\Brennard\\Ovaline 2004\\R9\\enu"},
        Hostile{"~"}, Hostile{"~\\Application Data"}, Hostile{"~\\local settings"},
        Hostile{"~\\Local Settings\\Application Data"}, Hostile{"~\\Application Data."},
        Hostile{
            "~\\Application Data\\..\\..\\bob\\Application Data\\Brennard\\Ovaline 2004\\R9\\enu"},
        Hostile{"~\\.\\Application Data"}, Hostile{"~\\*"}, Hostile{"~\\APPLIC~1"},
        Hostile{"Brennard\\Ovaline 2004\\R16.0\\enu"}, Hostile{"\\\\?\\C:\\WINDOWS"},
        Hostile{"~\\Application Data\\Brennard\\Ovaline 2004\\R16.0\\enu",
                "~\\Application Data\\Brennard", "C:\\WINDOWS"},
        Hostile{"~\\Application Data\\Link", "~\\Application Data\\Link", "C:\\WINDOWS"}));

// A machine on which ann's product data holds a link, and everything a deletion must never
// reach lies beside it.
struct RaceMachine {
    RaceMachine() {
        tables.FillBuiltIn();
        m.AddUser({kAnn, "ann", "QVTEST", {}, true});
        m.AddUser({kBob, "bob", "QVTEST", {}, true});
        roaming = m.AppData(kAnn) + kProductFolders;
        local = m.LocalAppData(kAnn) + kProductFolders;
        const std::string key = m.UserKey(kAnn) + "\\" + kOvalineKey;
        m.registry.SetString(key, "RoamableRootFolder", roaming, reg::kSz);
        m.registry.SetString(key, "LocalRootFolder", local, reg::kSz);
        m.files.AddFile(roaming + "\\Support\\sub\\deep.hpt");
        m.files.AddFile(local + "\\Template\\Blank.ovt");
        m.files.AddJunction(roaming + "\\Support\\to-windows", "C:\\WINDOWS");
        m.files.AddFile("C:\\WINDOWS\\Support\\sub\\deep.hpt");
        m.files.AddFile("C:\\WINDOWS\\Ovaline 2004\\R16.0\\enu\\Template\\Blank.ovt");
        m.files.AddFile(m.AppData(kBob) + kProductFolders + "\\Support\\ovlbase.hpt");
    }
    ProductFilesOutcome Clean() {
        return CleanProductFiles(m.platform(), tables, std::string(kAnn) + "\\" + kOvalineKey,
                                 kAnn);
    }
    // The disk outside ann's profile, which nothing may change.
    std::vector<std::string> Outside() {
        std::vector<std::string> out;
        for (const std::string& path : m.files.AllPaths()) {
            if (path.rfind(std::string(kAnnProfile) + "\\", 0) != 0) out.push_back(path);
        }
        return out;
    }

    fake::FakeMachine m;
    Tables tables;
    std::string roaming;
    std::string local;
};

// Another process (the user himself) renames a folder of ann's data and puts a junction to the
// Windows folder in its place, between any two calls of the clean-up: whatever the moment,
// nothing outside ann's profile changes.
TEST(RaceTest, NoSwapAtAnyMomentReachesOutsideTheProfile) {
    int calls = 0;
    std::vector<std::string> swapped;
    {
        RaceMachine undisturbed;
        // A product folder, a folder above one, and one inside.
        swapped = {undisturbed.roaming, undisturbed.m.AppData(kAnn) + "\\Brennard",
                   undisturbed.roaming + "\\Support\\sub"};
        undisturbed.m.files.SetHandleHook([&](HandleOp, std::string_view) { ++calls; });
        const auto before = undisturbed.Outside();
        ASSERT_EQ(undisturbed.Clean(), ProductFilesOutcome::kRemoved);
        EXPECT_EQ(undisturbed.Outside(), before);  // the link inside went as a link
        EXPECT_FALSE(undisturbed.m.files.Exists(undisturbed.roaming));
        ASSERT_GT(calls, 20);
    }
    for (const std::string& folder : swapped) {
        for (int moment = 0; moment < calls; ++moment) {
            SCOPED_TRACE(folder + " before call " + std::to_string(moment));
            RaceMachine race;
            const auto before = race.Outside();
            int call = 0;
            race.m.files.SetHandleHook([&](HandleOp, std::string_view) {
                if (call++ != moment || !race.m.files.Exists(folder)) return;
                race.m.files.Move(folder, folder + " (moved)");
                race.m.files.AddJunction(folder, "C:\\WINDOWS");
            });
            (void)race.Clean();
            race.m.files.SetHandleHook(nullptr);
            EXPECT_EQ(race.Outside(), before);
            EXPECT_EQ(race.m.files.OpenHandleCount(), 0u);
        }
    }
}

TEST_F(ProductFilesTest, FolderWhoseAttributesCannotBeReadIsNotEntered) {
    Register(kAnn);
    m.files.InjectFault(HandleOp::kQueryFacts, "Support", err::kAccessDenied, fake::kAlways);
    EXPECT_EQ(Clean(), ProductFilesOutcome::kDataLeft);
    EXPECT_TRUE(m.files.Exists(Roaming(kAnn) + "\\Support\\ovlbase.hpt"));
    EXPECT_FALSE(m.files.Exists(Local(kAnn)));  // the other folder is no less the user's
}

TEST_F(ProductFilesTest, HostileUserFoldersAndNamesPickNothingOutsideTheProductsOwnData) {
    Register(kAnn);
    const std::string viewer = "C:\\Program Files\\Brennard\\Ovaline Viewer";
    const std::string shared =
        std::string(kCommonAppData) + "\\Brennard\\Ovaline 2004\\R16.0\\Shared";
    m.files.AddFile(viewer + "\\viewer.exe");
    m.files.AddFile(viewer + "\\enu\\viewer.lng");
    m.files.AddFile(shared + "\\ovlreg2004 x_enu.dat");
    m.files.AddFile("C:\\WINDOWS\\Brennard\\WebService\\ovlws1.log");
    m.files.AddFile("C:\\WINDOWS\\Temp\\ovln1.log");
    m.files.AddFile(m.ProfileDir(kBob) + "\\Local Settings\\Temp\\ovln1.log");
    // LANG would be "viewer.exe", RELEASE "2004 x"; "AppData" is the Windows folder, and
    // "Local Settings" another user's profile folder, then a share.
    SetFolders(kAnn, kOvalineKey, Roaming(kAnn), m.ProfileDir(kAnn) + "\\x\\viewer.exe");
    m.files.AddFile(m.ProfileDir(kAnn) + "\\x\\OVLN2004 x.cfg");
    const std::string shellFolders = m.UserKey(kAnn) + "\\" + fake::kShellFoldersPath;
    m.registry.SetString(shellFolders, "AppData", "C:\\WINDOWS", reg::kSz);
    std::vector<std::string> opened;
    m.files.SetHandleHook([&](HandleOp op, std::string_view name) {
        if (op == HandleOp::kOpenFolder) opened.emplace_back(name);
    });
    for (const char* localSettings :
         {"C:\\Documents and Settings\\bob\\Local Settings", "\\\\server\\share", "C:\\WINDOWS"}) {
        SCOPED_TRACE(localSettings);
        m.registry.SetString(shellFolders, "Local Settings", localSettings, reg::kSz);
        const auto before = m.files.AllPaths();
        (void)Clean();
        for (const std::string& path : before) {
            if (path.rfind(m.ProfileDir(kAnn) + "\\", 0) != 0) {
                EXPECT_TRUE(m.files.Exists(path)) << path;
            }
        }
        for (const std::string& path : opened) EXPECT_NE(path.rfind("\\\\", 0), 0u) << path;
    }
    EXPECT_TRUE(Contains(m.debug.Lines(), "Refused to use \"viewer.exe\" as LANG"));
    EXPECT_TRUE(Contains(m.debug.Lines(), "Refused to use \"2004 x\" as RELEASE"));
    EXPECT_TRUE(Contains(m.debug.Lines(), "Refused to use \"C:\\WINDOWS\" as APPDATAFOLDER"));
    EXPECT_TRUE(Contains(m.debug.Lines(), "Refused to use \"\\\\server\\share\\Temp\" as TEMP"));
}

// The hive may spell a shell folder in any way the system resolves: the folder it names is still
// the profile's own and is not deleted as a product folder. A spelling that cannot be placed (a
// short name) might name it too: then no product folder is deleted whole.
TEST_F(ProductFilesTest, ShellFolderSpelledAnotherWayKeepsTheFolderItNames) {
    const std::string shellFolders = m.UserKey(kAnn) + "\\" + fake::kShellFoldersPath;
    for (const std::string& localSettings :
         {Roaming(kAnn) + ".", Roaming(kAnn) + "\\.", Roaming(kAnn) + "\\Support\\..",
          Roaming(kAnn) + "/",
          std::string("C:\\DOCUME~1\\ann\\APPLIC~1\\BRENNA~1\\OVALIN~1\\R16.0\\enu")}) {
        SCOPED_TRACE(localSettings);
        Register(kAnn);
        m.registry.SetString(shellFolders, "Local Settings", localSettings, reg::kSz);
        EXPECT_EQ(Clean(), ProductFilesOutcome::kDataLeft);
        EXPECT_TRUE(m.files.Exists(Roaming(kAnn) + "\\Support\\ovlbase.hpt"));
    }
    EXPECT_TRUE(Contains(m.debug.Lines(), "\": a folder of the profile itself"));
}

// However the profile list spells the nested profile's folder (case, "/", doubled and trailing
// separators, "." and "..", a variable), no folder of it goes, nor one that holds it.
TEST_F(ProductFilesTest, ProfileNestedInTheUsersProfileIsAnotherUsersData) {
    constexpr char kCy[] = "S-1-5-21-7-8-9-1003";
    const std::string ann = m.ProfileDir(kAnn);
    const std::string stuff = ann + "\\Stuff";
    const std::string nested = stuff + "\\cy";
    m.AddUser({kCy, "cy", "QVTEST", nested, true});
    m.files.AddFile(nested + "\\NTUSER.DAT");
    m.files.AddFile(nested + "\\Local Settings\\Temp\\ovln1.log");
    m.files.AddFile(nested + "\\Brennard\\Ovaline 2004\\R16.0\\enu\\cy.ovt");
    m.registry.SetString(m.UserKey(kAnn) + "\\" + fake::kShellFoldersPath, "Local Settings",
                         nested + "\\Local Settings", reg::kSz);
    m.system.SetEnv("ANNHOME", ann);
    const auto before = m.files.AllPaths(nested);
    for (const std::string& listed :
         {nested, ann + "/\\Stuff\\CY", stuff + "\\\\cy\\", ann + "\\.\\Stuff\\..\\Stuff\\cy",
          std::string("%ANNHOME%\\Stuff//cy")}) {
        m.registry.SetString(std::string(fake::kProfileListKey) + "\\" + kCy, "ProfileImagePath",
                             listed, reg::kExpandSz);
        // The profile itself, a folder inside it, and one that holds it.
        for (const std::string& root :
             {nested, nested + "\\Brennard\\Ovaline 2004\\R16.0\\enu", stuff}) {
            SCOPED_TRACE(listed + " | " + root);
            SetFolders(kAnn, kOvalineKey, root, Local(kAnn));
            EXPECT_EQ(Clean(), ProductFilesOutcome::kDataLeft);
            EXPECT_EQ(m.files.AllPaths(nested), before);
        }
    }
    EXPECT_TRUE(Contains(m.debug.Lines(), "\": another user's profile"));

    // The spelling comparison folds every letter's case as the file systems do: a Greek name in
    // another case is the same folder.
    const std::string alpha = stuff + "\\\x83\xBF";  // Greek small alpha
    const std::string capitalAlpha = stuff + "\\\x83\x9F";
    ProfileFolders profile;
    profile.known = true;
    profile.profile = ann;
    profile.otherProfiles = {alpha};
    EXPECT_EQ(CheckRootFolder(profile, capitalAlpha + "\\x"), RootFolderVerdict::kAllowed);
    profile.system = &m.system;
    EXPECT_EQ(CheckRootFolder(profile, capitalAlpha + "\\x"), RootFolderVerdict::kOtherProfile);
    EXPECT_EQ(CheckUserFolder(profile, capitalAlpha), RootFolderVerdict::kOtherProfile);
    EXPECT_EQ(CheckRootFolder(profile, stuff + "\\\x83\x61"), RootFolderVerdict::kAllowed);
}

TEST_F(ProductFilesTest, UnknownFoldersMatchNothingAtTheDriveRootOrInTheCurrentFolder) {
    constexpr char kCy[] = "S-1-5-21-7-8-9-1003";
    m.AddUser({kCy, "cy", "QVTEST", {}, true, /*shellFolders=*/false});
    SetFolders(kCy, kOvalineKey, m.ProfileDir(kCy) + "\\Application Data" + kProductFolders,
               m.ProfileDir(kCy) + "\\Local Settings\\Application Data" + kProductFolders);
    m.registry.SetRawValue(std::string("HKLM\\") + fake::kShellFoldersPath, "Common AppData",
                           reg::kBinary, "x");
    m.system.SetEnv("TEMP", "");
    // Where the list's lines would land if an unknown folder turned into an empty text.
    for (const char* canary :
         {"C:\\ovln1.log", "C:\\Tools\\ovln1.log", "C:\\Brennard\\WebService\\ovlws1.log",
          "C:\\Tools\\Brennard\\WebService\\ovlws1.log",
          "C:\\Brennard\\Ovaline 2004\\R16.0\\Shared\\ovlreg2004_enu.dat",
          "C:\\Tools\\Brennard\\Ovaline 2004\\R16.0\\Shared\\ovlreg2004_enu.dat"}) {
        m.files.AddFile(canary);
    }
    const auto before = m.files.AllPaths();
    ASSERT_EQ(Clean(kCy), ProductFilesOutcome::kRemoved);
    EXPECT_EQ(m.files.AllPaths(), before);
}

}  // namespace
}  // namespace qv::test
