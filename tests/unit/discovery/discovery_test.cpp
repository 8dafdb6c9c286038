#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/text.h"
#include "discovery/registration.h"
#include "discovery/shell_folders.h"
#include "engine/scan.h"
#include "fake/fake_machine.h"

namespace qv {
namespace {

using fake::RegOp;
using Strings = std::vector<std::string>;

constexpr char kAnn[] = "S-1-5-21-7-7-7-1001";

// One logged-on user "ann" whose hive is present under HKEY_USERS.
class DiscoveryTest : public ::testing::Test {
  protected:
    DiscoveryTest() {
        m.AddUser({kAnn, "ann", "QVTEST", {}, true});
        tables.FillBuiltIn();
    }
    std::string ShellKey() const { return m.UserKey(kAnn) + "\\" + fake::kShellFoldersPath; }
    Win32Error ReadAppData(std::string* folder, const std::string& value) {
        m.registry.SetRawValue(ShellKey(), "AppData", reg::kSz, value);
        return ReadUserShellFolder(m.registry, kAnn, "AppData", folder);
    }
    std::string Local(const std::string& rel) const {
        return m.LocalAppData(kAnn) + "\\Brennard\\" + rel;
    }
    std::string Roam(const std::string& rel) const {
        return m.AppData(kAnn) + "\\Brennard\\" + rel;
    }
    std::string UserReg(const std::string& rel) const {
        return m.UserKey(kAnn) + "\\Software\\Brennard\\" + rel;
    }
    void Scan(const char* product = "Ovaline", const char* release = "R16.0") {
        RegisterOrphanedUserData(m.platform(), tables, kAnn, "Brennard", product, release);
        EXPECT_TRUE(m.registry.OpenKeyPaths().empty());
    }

    fake::FakeMachine m;
    Tables tables;
};

TEST_F(DiscoveryTest, ShellFolderIsTrimmedOnlyWhenReadAsString) {
    std::string folder;
    EXPECT_EQ(ReadAppData(&folder, std::string("C:\\Data\\\\\0", 10)), 0u);
    EXPECT_EQ(folder, "C:\\Data");
    EXPECT_EQ(ReadAppData(&folder, std::string("\\\\\0", 3)), 0u);
    EXPECT_EQ(folder, "");
    // The second byte of a double-byte character (0x95 0x5C) is not a backslash.
    EXPECT_EQ(ReadAppData(&folder, std::string("C:\\\x95\x5C\\\0", 7)), 0u);
    EXPECT_EQ(folder, "C:\\\x95\x5C");
    // Another type fails, leaving the raw text in the folder.
    m.registry.SetString(ShellKey(), "AppData", "D:\\x\\", reg::kExpandSz);
    EXPECT_EQ(ReadUserShellFolder(m.registry, kAnn, "AppData", &folder), err::kInvalidData);
    EXPECT_EQ(folder, "D:\\x\\");
    EXPECT_TRUE(m.registry.OpenKeyPaths().empty());
}

TEST_F(DiscoveryTest, ShellFolderMustFitWithItsNulIn260Bytes) {
    std::string folder = "previous";
    EXPECT_EQ(ReadAppData(&folder, std::string(259, 'a') + '\0'), 0u);
    EXPECT_EQ(folder, std::string(259, 'a'));
    folder = "previous";
    EXPECT_EQ(ReadAppData(&folder, std::string(260, 'a') + '\0'), err::kMoreData);
    EXPECT_EQ(folder, "previous");
    // Stored without a NUL, 260 characters would leave the path unterminated.
    EXPECT_EQ(ReadAppData(&folder, std::string(260, 'b')), err::kMoreData);
    EXPECT_EQ(folder, "previous");
    // A shorter one gets its NUL and nothing of the previous text.
    EXPECT_EQ(ReadAppData(&folder, "C:\\u"), 0u);
    EXPECT_EQ(folder, "C:\\u");
    EXPECT_EQ(ReadUserShellFolder(m.registry, "S-1-5-21-9", "AppData", &folder),
              err::kFileNotFound);
    EXPECT_EQ(folder, "C:\\u");
    EXPECT_EQ(ReadCommonShellFolder(m.registry, "Common AppData", &folder), 0u);
    EXPECT_EQ(folder, "C:\\Documents and Settings\\All Users\\Application Data");
}

TEST_F(DiscoveryTest, NamesCodesAndDisplayNames) {
    struct Case {
        const char *name, *suffix, *id, *lcid;
    };
    for (const Case& c :
         {Case{"OVLN-201:409", "201:409", "201", "409"},
          Case{"OVLN201409", "OVLN201409", "", "OVLN201409"},
          Case{"A-B-C:D:E", "B-C:D:E", "B-C", "D:E"}, Case{"A:B-C", "C", "", "C"}}) {
        RegistrationName parts = SplitRegistrationKeyName(c.name);
        EXPECT_EQ(parts.suffix, c.suffix) << c.name;
        EXPECT_EQ(parts.productId, c.id) << c.name;
        EXPECT_EQ(parts.localeId, c.lcid) << c.name;
    }
    EXPECT_EQ(ProductCodeOf("Ovaline"), "OVLN");
    EXPECT_EQ(ProductCodeOf("Ovaline Sketch"), "OVSK");
    EXPECT_EQ(ProductCodeOf("ovaline"), "OVXM");
    EXPECT_EQ(ProductDisplayName(tables.productIds, "Ovaline", "201"), "Ovaline 2004");
    EXPECT_EQ(ProductDisplayName(tables.productIds, "Ovaline Sketch", "205"),
              "Ovaline Sketch 2004");
    EXPECT_EQ(ProductDisplayName(tables.productIds, "Ovaline", "207"), "");
}

TEST_F(DiscoveryTest, LeftoverLocalLanguageFolderIsRegistered) {
    m.files.AddDirectory(Local("Ovaline 2004\\R16.0\\enu"));
    Scan();
    const std::string key = UserReg("Ovaline\\R16.0\\OVLN-201:409");
    EXPECT_EQ(m.registry.GetString(key, "LocalRootFolder"), Local("Ovaline 2004\\R16.0\\enu"));
    // The roaming folder need not exist to be named.
    EXPECT_EQ(m.registry.GetString(key, "RoamableRootFolder"), Roam("Ovaline 2004\\R16.0\\enu"));
}

TEST_F(DiscoveryTest, NothingIsRegisteredWithoutACompanyFolderOrShellFolder) {
    m.files.AddDirectory(m.LocalAppData(kAnn) + "\\Acme\\Ovaline 2004\\R16.0\\enu");
    Scan();
    m.files.AddDirectory(Local("Ovaline 2004\\R16.0\\enu"));
    m.registry.SetString(ShellKey(), "AppData", m.AppData(kAnn), reg::kExpandSz);
    Scan();
    EXPECT_EQ(m.registry.SubKeyNames(m.UserKey(kAnn) + "\\Software"), Strings{"Microsoft"});
}

TEST_F(DiscoveryTest, InstalledOrRegisteredOrRoamingOnlyLanguagesGetNoNewKey) {
    m.files.AddDirectory(Local("Ovaline 2004\\R16.0\\enu"));
    m.files.AddDirectory(Local("Ovaline 2004\\R16.0\\deu"));
    m.files.AddDirectory(Roam("Ovaline 2004\\R16.0\\fra"));
    m.registry.CreateKey("HKLM\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409");
    m.registry.SetString(UserReg("Ovaline\\R16.0\\OVLN-201:407"), "LocalRootFolder", "D:\\old");
    Scan();
    EXPECT_EQ(m.registry.SubKeyNames(UserReg("Ovaline\\R16.0")), Strings{"OVLN-201:407"});
    EXPECT_EQ(m.registry.ValueNames(UserReg("Ovaline\\R16.0\\OVLN-201:407")),
              Strings{"LocalRootFolder"});
    EXPECT_EQ(m.registry.GetString(UserReg("Ovaline\\R16.0\\OVLN-201:407"), "LocalRootFolder"),
              "D:\\old");
}

TEST_F(DiscoveryTest, SharedProductIdRegistersOnceWithTheMainProductsFolders) {
    m.files.AddDirectory(Local("Ovaline Sketch 2004\\R16.0\\enu"));
    m.files.AddDirectory(Local("Ovaline 2004\\R16.0\\enu"));
    Scan();
    EXPECT_EQ(m.registry.SubKeyNames(UserReg("Ovaline\\R16.0")), Strings{"OVLN-201:409"});
    EXPECT_EQ(m.registry.GetString(UserReg("Ovaline\\R16.0\\OVLN-201:409"), "LocalRootFolder"),
              Local("Ovaline 2004\\R16.0\\enu"));
    // The light edition's pass looks in every product's folders for its own release.
    m.files.AddDirectory(Local("Ovaline 2004\\R9\\jpn"));
    Scan("Ovaline Sketch", "R9");
    EXPECT_EQ(m.registry.SubKeyNames(UserReg("Ovaline Sketch\\R9")), Strings{"OVSK-201:411"});
}

TEST_F(DiscoveryTest, FailedCreationEndsTheScanKeepingEarlierKeys) {
    // Enumeration order: "Ovaline Kinetra 2004" before "Ovaline 2004", "fra" before "enu".
    m.files.AddDirectory(Local("Ovaline Kinetra 2004\\R16.0\\enu"));
    m.files.AddDirectory(Local("Ovaline 2004\\R16.0\\fra"));
    m.files.AddDirectory(Local("Ovaline 2004\\R16.0\\enu"));
    m.registry.InjectFault(RegOp::kCreate, "OVLN-201:40C", err::kAccessDenied);
    Scan();
    EXPECT_EQ(m.registry.SubKeyNames(UserReg("Ovaline\\R16.0")), Strings{"OVLN-205:409"});
}

// The fake's files, with a search that can fail at its start or after its first entry, and 8.3
// short names that both the search and the attribute check know; the paths checked are noted.
class ListingFiles final : public IFileSystem {
  public:
    enum class Search { kWhole, kRefused, kBroken };
    ListingFiles(fake::FakeMachine& m, Search search)
        : files_(m.files), search_(search), platform_{m.registry, m.security,  *this,
                                                      m.files,    m.system,    m.messages,
                                                      m.debug,    m.resources, m.audit} {}
    Platform& platform() { return platform_; }

    std::map<std::string, std::string> shortNames;  // long name -> short name, any case
    Strings checkedPaths;

    std::uint32_t GetFileAttributes(std::string_view path) noexcept override {
        checkedPaths.emplace_back(path);
        std::string p(path);
        const std::size_t slash = p.rfind('\\');
        for (const auto& [longName, shortName] : shortNames) {
            if (text::EqualsNoCase(p.substr(slash + 1), shortName)) {
                p = p.substr(0, slash + 1) + longName;
            }
        }
        return files_.GetFileAttributes(p);
    }
    Win32Error FindFirstFile(std::string_view pattern, FindHandle* handle,
                             FindData* data) noexcept override {
        if (search_ == Search::kRefused) return err::kAccessDenied;
        return Named(files_.FindFirstFile(pattern, handle, data), data);
    }
    Win32Error FindNextFile(FindHandle handle, FindData* data) noexcept override {
        if (search_ == Search::kBroken) return err::kAccessDenied;
        return Named(files_.FindNextFile(handle, data), data);
    }
    Win32Error FindClose(FindHandle handle) noexcept override { return files_.FindClose(handle); }
    Win32Error GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                               std::string* fullPath) noexcept override {
        return files_.GetFullPathName(path, bufferChars, fullPath);
    }

  private:
    Win32Error Named(Win32Error e, FindData* data) {
        for (const auto& [longName, shortName] : shortNames) {
            if (e == err::kSuccess && text::EqualsNoCase(data->fileName, longName)) {
                data->alternateFileName = shortName;
            }
        }
        return e;
    }

    fake::FakeFileSystem& files_;
    Search search_;
    Platform platform_;
};

TEST_F(DiscoveryTest, ListedReleaseFolderFindsWhatCheckingEachLanguageFinds) {
    const std::string release = Local("Ovaline 2004\\R16.0\\");
    m.files.AddDirectory(release + "enu");
    m.files.AddDirectory(release + "FRA");  // another case
    m.files.AddFile(release + "jpn");       // a file, no folder
    m.files.AddDirectory(m.LocalAppData(kAnn) + "\\Elsewhere");
    m.files.AddJunction(release + "kor", m.LocalAppData(kAnn) + "\\Elsewhere");
    m.files.AddDirectory(release + "Deutsch");  // short name DEU
    m.files.AddDirectory(release + "xyz");
    // The junction "kor" is no folder of the user's own: nothing is looked for through it.
    const Strings expected = {"OVLN-201:40C", "OVLN-201:409", "OVLN-201:407"};

    for (ListingFiles::Search search :
         {ListingFiles::Search::kWhole, ListingFiles::Search::kRefused,
          ListingFiles::Search::kBroken}) {
        ListingFiles files(m, search);
        files.shortNames["deutsch"] = "DEU";
        std::vector<LeftoverFolder> held;
        RegisterOrphanedUserData(files.platform(), tables, kAnn, "Brennard", "Ovaline", "R16.0",
                                 &held);
        Strings keys;
        for (const LeftoverFolder& f : held) keys.push_back(text::AfterLastBackslash(f.keyPath));
        EXPECT_EQ(keys, expected) << static_cast<int>(search);
        // Only the languages the listing holds are checked one by one; without a whole listing,
        // every language of the table is.
        const auto languageChecks = std::count_if(
            files.checkedPaths.begin(), files.checkedPaths.end(), [&](const std::string& path) {
                return path.size() > release.size() && text::FindText(path, release) == 0;
            });
        EXPECT_EQ(static_cast<std::size_t>(languageChecks),
                  search == ListingFiles::Search::kWhole ? 5u : tables.localeCodes.Rows().size())
            << static_cast<int>(search);
        EXPECT_EQ(m.files.OpenFindCount(), 0u);
    }
}

}  // namespace
}  // namespace qv
