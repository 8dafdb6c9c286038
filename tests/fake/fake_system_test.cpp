#include "fake/fake_system.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "fake/fake_files.h"
#include "res/resource.h"

namespace qv::fake {
namespace {

class FakeSystemTest : public ::testing::Test {
  protected:
    std::string Expand(std::string_view source) {
        std::string out = "untouched";
        std::uint32_t needed = system.ExpandEnvironmentStrings(source, 1024, &out);
        EXPECT_EQ(needed, out.size() + 1) << source;
        return out;
    }

    std::string Ini(std::string_view key, std::string_view section = "Quorvane") {
        return system.GetPrivateProfileString(section, key, "dflt", "C:\\Tools\\Quorvane.ini");
    }

    FakeFileSystem files;
    FakeSystem system{files};
};

// --- conversion to UTF-8 ---

// The conversion itself is a contract test (tests/contract/system_contract.cpp).
TEST_F(FakeSystemTest, FailedConversionToUtf8IsEmpty) {
    system.FailAnsiToUtf8();
    EXPECT_EQ(system.AnsiToUtf8("A"), "");
    system.FailAnsiToUtf8(false);
    EXPECT_EQ(system.AnsiToUtf8("A"), "A");
}

// --- environment ---

// What the expansion and the environment answer: contract tests (tests/contract).
TEST_F(FakeSystemTest, ExpansionReplacesEveryReference) {
    system.SetEnv("TEMP", "C:\\Temp");
    system.SetEnv("SystemDrive", "C:");
    EXPECT_EQ(Expand("%SYSTEMDRIVE%\\Documents and Settings\\%Temp%"),
              "C:\\Documents and Settings\\C:\\Temp");
    EXPECT_EQ(Expand(""), "");
}

TEST_F(FakeSystemTest, FailedExpansionAnswersZeroAndLeavesTheBuffer) {
    system.SetEnv("TEMP", "C:\\Temp");
    system.FailExpansion();
    std::string out = "untouched";
    EXPECT_EQ(system.ExpandEnvironmentStrings("%TEMP%\\a", 260, &out), 0u);
    EXPECT_EQ(out, "untouched");
    system.FailExpansion(false);
    EXPECT_EQ(Expand("%TEMP%\\a"), "C:\\Temp\\a");
}

// --- current directory ---

TEST_F(FakeSystemTest, CurrentDirectoryMustFitWithItsNul) {
    system.SetCurrentDirectory("C:\\Tools");  // 8 characters
    std::string dir = "untouched";
    EXPECT_EQ(system.GetCurrentDirectory(8, &dir), 0u);
    EXPECT_EQ(dir, "untouched");
    EXPECT_EQ(system.GetCurrentDirectory(9, &dir), 8u);
    EXPECT_EQ(dir, "C:\\Tools");
    system.FailCurrentDirectory();
    EXPECT_EQ(system.GetCurrentDirectory(260, &dir), 0u);
}

// --- libraries ---

TEST_F(FakeSystemTest, LibrariesAreReferenceCountedAndCanFail) {
    system.FailLibrary("oleacc.dll");
    EXPECT_EQ(system.LoadLibrary("OLEACC.DLL"), 0u);
    ModuleHandle advapi = system.LoadLibrary("Advapi32.dll");
    ASSERT_NE(advapi, 0u);
    EXPECT_EQ(system.LoadLibrary("advapi32"), advapi);  // the same module, a second reference
    EXPECT_NE(system.GetProcAddress(advapi, "LookupAccountSidA"), nullptr);
    EXPECT_EQ(system.GetProcAddress(0, "LookupAccountSidA"), nullptr);

    EXPECT_EQ(system.FreeLibrary(advapi), err::kSuccess);
    EXPECT_EQ(system.LoadedLibraries(), std::vector<std::string>{"Advapi32.dll"});
    EXPECT_EQ(system.FreeLibrary(advapi), err::kSuccess);
    EXPECT_NE(system.FreeLibrary(advapi), err::kSuccess);
    EXPECT_TRUE(system.LoadedLibraries().empty());
    EXPECT_EQ(system.FreeLibraryCalls(), 3);
    EXPECT_EQ(system.GetProcAddress(advapi, "LookupAccountSidA"), nullptr);
}

TEST_F(FakeSystemTest, EveryExportHasAnAddressOfItsOwn) {
    ModuleHandle oleacc = system.LoadLibrary("oleacc.dll");
    ModuleHandle user32 = system.LoadLibrary("user32.dll");
    void* create = system.GetProcAddress(oleacc, "CreateStdAccessibleObject");
    void* lresult = system.GetProcAddress(oleacc, "LresultFromObject");
    ASSERT_NE(create, nullptr);
    ASSERT_NE(lresult, nullptr);
    EXPECT_NE(create, lresult);
    EXPECT_EQ(system.GetProcAddress(oleacc, "CreateStdAccessibleObject"), create);
    // The same name in another library is another entry.
    void* other = system.GetProcAddress(user32, "CreateStdAccessibleObject");
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, create);
    EXPECT_NE(other, lresult);
    // Names are exact, and a library exports only its own entries.
    EXPECT_EQ(system.GetProcAddress(oleacc, "createstdaccessibleobject"), nullptr);
    EXPECT_EQ(system.GetProcAddress(oleacc, "LookupAccountSidA"), nullptr);
}

// --- settings file ---

// The reading of sections, keys, blanks and quotes is a contract test (tests/contract).
TEST_F(FakeSystemTest, SettingsFileLinesWithoutValues) {
    files.AddFile("C:\\Tools\\Quorvane.ini",
                  "[Quorvane]\r\n"
                  "Lone=\"\r\n"
                  "Bare\r\n"
                  "[After]\r\n"
                  "Country=elsewhere\n");
    EXPECT_EQ(Ini("Lone"), "\"");
    EXPECT_EQ(Ini("Bare"), "");
    EXPECT_EQ(Ini("Country"), "dflt");
}

TEST_F(FakeSystemTest, SettingsFileOfABareNameIsInTheWindowsFolder) {
    // A bare file name is looked for in the Windows directory, not the current one.
    files.AddFile("C:\\Tools\\bare.ini", "[S]\r\nK=here\r\n");
    files.AddFile("C:\\WINDOWS\\bare.ini", "[S]\r\nK=windows\r\n");
    EXPECT_EQ(system.GetPrivateProfileString("S", "K", "", "bare.ini"), "windows");
}

TEST_F(FakeSystemTest, SettingsValueIsCutBeforeADoubleByteCharacter) {
    // A double-byte character that would straddle the last place is left out whole.
    std::string sjis = std::string(4094, 'a') + "\x95\x5C";
    files.AddFile("C:\\Tools\\Quorvane.ini", "[Quorvane]\r\nCompany=" + sjis);
    EXPECT_EQ(Ini("Company"), std::string(4094, 'a'));
}

// --- messages, time ---

TEST_F(FakeSystemTest, SystemMessagesEndInALineBreak) {
    for (Win32Error code : {3u, 6u, 13u, 18u, 32u, 122u, 234u, 259u, 1010u}) {
        std::string text = system.FormatSystemMessage(code);
        ASSERT_GT(text.size(), 2u) << code;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
    }
    EXPECT_EQ(system.FormatSystemMessage(5), "Access is denied.\r\n");
}

TEST_F(FakeSystemTest, LocalTimeRoundTripFailsBefore1900AndWhereSet) {
    std::int64_t out = -1;
    const std::int64_t first1900 = -2208988800;  // 1900-01-01 00:00:00 UTC
    EXPECT_TRUE(system.LocalTimeRoundTrip(first1900, &out));
    EXPECT_EQ(out, first1900);
    EXPECT_FALSE(system.LocalTimeRoundTrip(first1900 - 1, &out));
    system.FailLocalTime(5000);
    EXPECT_FALSE(system.LocalTimeRoundTrip(5000, &out));
    EXPECT_TRUE(system.LocalTimeRoundTrip(5001, &out));
    EXPECT_EQ(out, 5001);
}

// --- resources ---

TEST(FakeResourcesTest, StringsComeInCodePage932) {
    FakeResources resources;
    // "ユーザ データをクリーンアップ", coded by hand from the code page's table.
    const std::string caption =
        "\x83\x86\x81\x5B\x83\x55\x20\x83\x66\x81\x5B\x83\x5E\x82\xF0\x83\x4E\x83\x8A\x81\x5B"
        "\x83\x93\x83\x41\x83\x62\x83\x76";
    EXPECT_EQ(resources.LoadString(IDS_CAPTION), caption);
    EXPECT_EQ(ResourceString(IDS_CAPTION), caption);
    std::string refused = resources.LoadString(IDS_WIN9X_REFUSED);
    EXPECT_NE(refused.find("Windows 95/98/Me"), std::string::npos);
    EXPECT_EQ(refused.back(), ' ');
    EXPECT_EQ(resources.LoadString(999), "");

    EXPECT_EQ(Cp932("表"), "\x95\x5C");             // a trail byte that reads as "\"
    EXPECT_EQ(Cp932("a\xF0\x9F\x98\x80z"), "a?z");  // U+1F600 has no code in the page
}

TEST(FakeResourcesTest, MissingTypeAndMissingNameDiffer) {
    FakeResources resources;
    resources.SetBytes(900, "FILELIST", "a\r\nb\r\n");
    resources.SetBytes(902, "FILELIST", "x");
    std::string bytes = "untouched";
    EXPECT_EQ(resources.LoadResourceBytes(900, "filelist", &bytes), err::kSuccess);
    EXPECT_EQ(bytes, "a\r\nb\r\n");
    EXPECT_EQ(resources.LoadResourceBytes(901, "FILELIST", &bytes), 1814u);
    EXPECT_EQ(resources.LoadResourceBytes(900, "OTHER", &bytes), 1813u);
    resources.RemoveResource(900, "FILELIST");
    EXPECT_EQ(resources.LoadResourceBytes(900, "FILELIST", &bytes), 1814u);
}

TEST(FakeResourcesTest, FileListsAreTheResourceFilesByteForByte) {
    FakeResources resources;
    for (std::uint32_t id : {131u, 132u}) {
        std::ifstream in(std::string(QV_SOURCE_DIR) + "/res/filelist" + std::to_string(id) + ".txt",
                         std::ios::binary);
        ASSERT_TRUE(in) << id;
        std::string expected((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
        std::string bytes;
        ASSERT_EQ(resources.LoadResourceBytes(id, "FILELIST", &bytes), err::kSuccess);
        EXPECT_EQ(bytes, expected);
    }
}

}  // namespace
}  // namespace qv::fake
