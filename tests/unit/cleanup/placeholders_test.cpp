#include "cleanup/placeholders.h"

#include "base/text.h"
#include "cleanup/folder_guard.h"
#include "cleanup_fixture.h"

namespace qv::test {
namespace {

class PlaceholderBuildTest : public CleanupTest {
  protected:
    PlaceholderBuild Build(const std::string& key = kOvalineKey, const char* sid = kAnn) {
        table.Clear();
        return BuildPlaceholderTable(m.platform(), RegistrationPath(sid, key), sid, tables, &table);
    }
    std::string Value(std::string_view name) { return table.Lookup(name).value_or("<undefined>"); }

    PlaceholderTable table;
};

TEST_F(PlaceholderBuildTest, EachPlaceholderComesFromItsSource) {
    SetFolders(kAnn, kOvalineKey, Roaming(kAnn) + "\\\\", Local(kAnn) + "\\");
    PlaceholderBuild build = Build();
    ASSERT_EQ(build.result, err::kSuccess);
    EXPECT_EQ(build.roamableRootFolder, Roaming(kAnn));
    EXPECT_EQ(build.localRootFolder, Local(kAnn));
    EXPECT_EQ(build.roamableRootRefusal, "");
    EXPECT_EQ(build.localRootRefusal, "");

    EXPECT_EQ(table.Size(), 17u);
    EXPECT_EQ(Value("ROAMABLEROOTFOLDER"), Roaming(kAnn));
    EXPECT_EQ(Value("ROAMABLEROOTPARENT"), m.AppData(kAnn) + "\\Brennard\\Ovaline 2004\\R16.0");
    EXPECT_EQ(Value("LOCALROOTFOLDER"), Local(kAnn));
    EXPECT_EQ(Value("LANG"), "enu");
    EXPECT_EQ(Value("LOCALROOTPARENT"), m.LocalAppData(kAnn) + "\\Brennard\\Ovaline 2004\\R16.0");
    EXPECT_EQ(Value("PRODNAME"), "OVLN");
    EXPECT_EQ(Value("RELEASE"), "2004");
    EXPECT_EQ(Value("REGRELEASE"), "R16.0");
    EXPECT_EQ(Value("PRODUCT"), "Ovaline");
    EXPECT_EQ(Value("FULLPRODUCTNAME"), "Ovaline 2004");
    EXPECT_EQ(Value("COMPANY"), "Brennard");
    EXPECT_EQ(Value("APPDATAFOLDER"), m.AppData(kAnn));
    EXPECT_EQ(Value("COMMONAPPDATAFOLDER"), kCommonAppData);
    EXPECT_EQ(Value("TEMP"), m.LocalSettings(kAnn) + "\\Temp");
    EXPECT_EQ(Value("PROGRAMFILES"), "C:\\Program Files");
    EXPECT_EQ(Value("PERCENT"), "%");
    EXPECT_EQ(Value("UNNAMEDPROFILE"), "Unnamed Profile");
    ExpectNothingLeftOpen();
}

TEST_F(PlaceholderBuildTest, ReleaseComesFromAConfigurationFileAboveTheLocalRootFolder) {
    Register(kAnn);
    const std::string parent = text::CutBeforeLastBackslash(Local(kAnn));
    // Files that must not count: in the local root folder itself, or of another product code.
    m.files.AddFile(Local(kAnn) + "\\OVLN2010.cfg");
    m.files.AddFile(parent + "\\OVXM2011.cfg");
    Build();
    EXPECT_EQ(Value("RELEASE"), "2004");

    m.files.AddFile(parent + "\\OVLN2007.cfg");
    Build();
    EXPECT_EQ(Value("RELEASE"), "2007");

    m.files.Remove(parent + "\\OVLN2007.cfg");
    m.files.AddFile(parent + "\\OVLN.cfg");
    Build();
    EXPECT_EQ(Value("RELEASE"), "");
    EXPECT_EQ(m.files.OpenFindCount(), 0u);
}

TEST_F(PlaceholderBuildTest, LightEditionIsNamedWithoutTheProductTable) {
    const std::string key = "Software\\Brennard\\Ovaline Sketch\\R9\\OVSK-999:411";
    SetFolders(kAnn, key, Roaming(kAnn), Local(kAnn));
    ASSERT_EQ(Build(key).result, err::kSuccess);
    EXPECT_EQ(Value("FULLPRODUCTNAME"), "Ovaline Sketch 2004");
    EXPECT_EQ(Value("PRODNAME"), "OVSK");
    EXPECT_EQ(Value("REGRELEASE"), "R9");
    EXPECT_EQ(Value("PRODUCT"), "Ovaline Sketch");
}

TEST_F(PlaceholderBuildTest, FolderValueThatCannotBeReadStopsTheBuildWithItsError) {
    const std::string key = KeyOf(kAnn, kOvalineKey);
    SetFolders(kAnn, kOvalineKey, Roaming(kAnn), Local(kAnn), reg::kExpandSz);
    EXPECT_EQ(Build().result, err::kInvalidData);

    // 259 characters and the NUL fill the 260-byte buffer; one more does not fit.
    std::string longest = Local(kAnn) + "\\";
    longest += std::string(259 - longest.size(), 'x');
    SetFolders(kAnn, kOvalineKey, Roaming(kAnn), longest);
    EXPECT_EQ(Build().result, err::kSuccess);
    SetFolders(kAnn, kOvalineKey, Roaming(kAnn), longest + "x");
    EXPECT_EQ(Build().result, err::kMoreData);

    EXPECT_EQ(Build("Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:411").result, err::kFileNotFound);
    ExpectNothingLeftOpen();
}

TEST_F(PlaceholderBuildTest, UnknownFoldersNameNoPlaceAndTempFallsBack) {
    constexpr char kCy[] = "S-1-5-21-7-8-9-1003";
    m.AddUser({kCy, "cy", "QVTEST", {}, true, /*shellFolders=*/false});
    SetFolders(kCy, kOvalineKey, m.ProfileDir(kCy) + "\\x\\enu", m.ProfileDir(kCy) + "\\y\\enu");
    m.registry.SetRawValue(std::string("HKLM\\") + fake::kShellFoldersPath, "Common AppData",
                           reg::kBinary, "x");
    m.registry.SetString("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                         "D:\\Apps", reg::kExpandSz);

    // Without a "Local Settings" value TEMP falls back to the tool's own, which must still be a
    // folder of this user's profile: the operator's own temporary files are no one else's.
    m.system.SetEnv("TEMP", m.ProfileDir(kCy) + "\\T\\\\");
    ASSERT_EQ(Build(kOvalineKey, kCy).result, err::kSuccess);
    EXPECT_EQ(Value("TEMP"), m.ProfileDir(kCy) + "\\T");
    EXPECT_EQ(Value("APPDATAFOLDER"), kUnknownFolder);
    EXPECT_EQ(Value("COMMONAPPDATAFOLDER"), kUnknownFolder);
    EXPECT_EQ(Value("PROGRAMFILES"), "C:\\Program Files");

    m.system.SetEnv("TEMP", "D:\\T\\\\");
    PlaceholderBuild build = Build(kOvalineKey, kCy);
    EXPECT_EQ(Value("TEMP"), kUnknownFolder);
    ASSERT_EQ(build.refusals.size(), 1u);
    EXPECT_EQ(build.refusals[0].placeholder, "TEMP");
    EXPECT_EQ(build.refusals[0].value, "D:\\T");

    m.system.UnsetEnv("TEMP");
    Build(kOvalineKey, kCy);
    EXPECT_EQ(Value("TEMP"), kUnknownFolder);  // "c:\temp" is nobody's profile

    // An empty TEMP would put the list's temporary files at the root of the current drive.
    m.system.SetEnv("TEMP", "");
    Build(kOvalineKey, kCy);
    EXPECT_EQ(Value("TEMP"), kUnknownFolder);
}

TEST_F(PlaceholderBuildTest, DoubleByteNamesEndingInTheBackslashByteStayWhole) {
    // 0x95 0x5C is one character in code page 932; its second byte is no separator.
    const std::string dbcs = "\x95\x5C";
    const std::string folder = m.LocalAppData(kAnn) + "\\Brennard\\" + dbcs;
    SetFolders(kAnn, kOvalineKey, Roaming(kAnn), folder + "\\enu");
    ASSERT_EQ(Build().result, err::kSuccess);
    EXPECT_EQ(Value("LOCALROOTFOLDER"), folder + "\\enu");
    EXPECT_EQ(Value("LANG"), "enu");
    EXPECT_EQ(Value("LOCALROOTPARENT"), folder);
    // A last name that is no language folder of the product picks nothing.
    SetFolders(kAnn, kOvalineKey, Roaming(kAnn), folder);
    ASSERT_EQ(Build().result, err::kSuccess);
    EXPECT_EQ(Value("LOCALROOTPARENT"), m.LocalAppData(kAnn) + "\\Brennard");
    EXPECT_EQ(Value("LANG"), kRefusedName);
}

class ExpandTest : public ::testing::Test {
  protected:
    ExpandTest() {
        EXPECT_EQ(table.Add("TEMP", "C:\\Temp"), hr::kOk);
        EXPECT_EQ(table.Add("PERCENT", "%"), hr::kOk);
        EXPECT_EQ(table.Add("HUNDRED", "100%TEMP%"), hr::kOk);
        EXPECT_EQ(table.Add(std::string(31, 'N'), "thirty-one"), hr::kOk);
        EXPECT_EQ(table.Add(std::string(32, 'M'), "thirty-two"), hr::kOk);
    }
    PlaceholderTable table;
    std::string out = "untouched";
};

TEST_F(ExpandTest, ReferencesExpandOnceWithoutRegardToCase) {
    ASSERT_EQ(ExpandPlaceholders("a%%b 100%PERCENT%.txt %temp%\\x %Temp% %HUNDRED%", table, &out),
              hr::kOk);
    EXPECT_EQ(out, "a%b 100%.txt C:\\Temp\\x C:\\Temp 100%TEMP%");
}

TEST_F(ExpandTest, NameOf31BytesIsLookedUpAndOf32IsRefused) {
    ASSERT_EQ(ExpandPlaceholders("%" + std::string(31, 'n') + "%", table, &out), hr::kOk);
    EXPECT_EQ(out, "thirty-one");
    out = "untouched";
    EXPECT_EQ(ExpandPlaceholders("x %" + std::string(32, 'M') + "%", table, &out), hr::kFail);
    EXPECT_EQ(out, "untouched");
}

TEST_F(ExpandTest, BadReferenceRejectsTheWholeText) {
    for (const char* bad : {"%TEMP%\\a\r\n%NOSUCH%\\b\r\n", "%TEMP%\\a %TEMP", "100%"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ExpandPlaceholders(bad, table, &out), hr::kBadPlaceholder);
        EXPECT_EQ(out, "untouched");
    }
}

TEST(PlaceholderTableTest, RefusesAbsentNamesAndValuesAndTheFirstEntryWins) {
    PlaceholderTable table;
    const HResult invalidArgument = static_cast<HResult>(0x80070057u);
    EXPECT_EQ(table.Add(nullptr, "x"), invalidArgument);
    EXPECT_EQ(table.Add("X", nullptr), invalidArgument);
    EXPECT_EQ(table.Add("Lang", "enu"), hr::kOk);
    EXPECT_EQ(table.Add("LANG", "jpn"), hr::kOk);
    EXPECT_EQ(table.Size(), 2u);
    EXPECT_EQ(table.Lookup("lang"), "enu");
    EXPECT_FALSE(table.Lookup("LANGUAGE").has_value());
}

}  // namespace
}  // namespace qv::test
