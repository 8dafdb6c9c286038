// The user's product files: root folders deleted whole only when they are the user's own data,
// and list lines that never reach beyond the folders they name.
#include <algorithm>

#include "cleanup/file_list.h"
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
    const char* root;             // "~" stands for ann's profile folder
    const char* link = nullptr;   // a junction to set up first, and where it points
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
        Hostile{"C:\\Documents and Settings\\bob\\Application Data\\Brennard\\Ovaline 2004\\R9\\enu"},
        Hostile{"~"}, Hostile{"~\\Application Data"}, Hostile{"~\\local settings"},
        Hostile{"~\\Local Settings\\Application Data"}, Hostile{"~\\Application Data."},
        Hostile{"~\\Application Data\\..\\..\\bob\\Application Data\\Brennard\\Ovaline 2004\\R9\\enu"},
        Hostile{"~\\.\\Application Data"}, Hostile{"~\\*"}, Hostile{"~\\APPLIC~1"},
        Hostile{"Brennard\\Ovaline 2004\\R16.0\\enu"}, Hostile{"\\\\?\\C:\\WINDOWS"},
        Hostile{"~\\Application Data\\Brennard\\Ovaline 2004\\R16.0\\enu",
                "~\\Application Data\\Brennard", "C:\\WINDOWS"},
        Hostile{"~\\Application Data\\Link", "~\\Application Data\\Link", "C:\\WINDOWS"}));

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
