#include "fake/fake_system.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "fake/fake_files.h"

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

// --- environment ---

TEST_F(FakeSystemTest, ExpansionReplacesKnownNamesInAnyCase) {
    system.SetEnv("TEMP", "C:\\Temp");
    system.SetEnv("SystemDrive", "C:");
    EXPECT_EQ(Expand("%TEMP%\\a"), "C:\\Temp\\a");
    EXPECT_EQ(Expand("%temp%\\a"), "C:\\Temp\\a");
    EXPECT_EQ(Expand("%SYSTEMDRIVE%\\Documents and Settings\\%Temp%"),
              "C:\\Documents and Settings\\C:\\Temp");
}

TEST_F(FakeSystemTest, ExpansionLeavesWhatItCannotExpand) {
    system.SetEnv("TEMP", "C:\\Temp");
    EXPECT_EQ(Expand("%NOPE%\\a"), "%NOPE%\\a");
    EXPECT_EQ(Expand("100%"), "100%");
    EXPECT_EQ(Expand("%%"), "%%");
    EXPECT_EQ(Expand("a%TEMP"), "a%TEMP");
    EXPECT_EQ(Expand(""), "");
}

TEST_F(FakeSystemTest, ExpandedValuesAreNotScannedAgain) {
    system.SetEnv("A", "%B%");
    system.SetEnv("B", "x");
    EXPECT_EQ(Expand("%A%"), "%B%");
}

TEST_F(FakeSystemTest, ExpansionNeedsRoomForTheNul) {
    system.SetEnv("TEMP", "C:\\Temp");  // "%TEMP%\a" expands to 9 characters
    std::string out = "untouched";
    EXPECT_EQ(system.ExpandEnvironmentStrings("%TEMP%\\a", 9, &out), 10u);
    EXPECT_EQ(out, "untouched");
    EXPECT_EQ(system.ExpandEnvironmentStrings("%TEMP%\\a", 10, &out), 10u);
    EXPECT_EQ(out, "C:\\Temp\\a");
}

TEST_F(FakeSystemTest, EnvironmentVariableUnsetEmptyAndReplaced) {
    std::string value = "untouched";
    EXPECT_EQ(system.GetEnvironmentVariable("TEMP", &value), err::kEnvVarNotFound);
    system.SetEnv("Temp", "");
    EXPECT_EQ(system.GetEnvironmentVariable("TEMP", &value), err::kSuccess);
    EXPECT_EQ(value, "");
    system.SetEnv("TEMP", "D:\\t");
    EXPECT_EQ(system.GetEnvironmentVariable("temp", &value), err::kSuccess);
    EXPECT_EQ(value, "D:\\t");
    system.UnsetEnv("tEmP");
    EXPECT_EQ(system.GetEnvironmentVariable("TEMP", &value), err::kEnvVarNotFound);
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

TEST_F(FakeSystemTest, LibrariesLoadByNameInAnyCaseAndAreCounted) {
    ModuleHandle advapi = system.LoadLibrary("Advapi32.dll");
    ModuleHandle oleacc = system.LoadLibrary("OLEACC.DLL");
    ASSERT_NE(advapi, 0u);
    ASSERT_NE(oleacc, 0u);
    EXPECT_NE(advapi, oleacc);
    EXPECT_EQ(system.LoadLibrary("advapi32"), advapi);  // the same module, a second reference
    EXPECT_EQ(system.LoadLibrary("nosuch.dll"), 0u);
    EXPECT_EQ(system.LoadedLibraries().size(), 3u);

    EXPECT_NE(system.GetProcAddress(advapi, "LookupAccountSidA"), nullptr);
    EXPECT_EQ(system.GetProcAddress(0, "LookupAccountSidA"), nullptr);

    EXPECT_EQ(system.FreeLibrary(advapi), err::kSuccess);
    EXPECT_EQ(system.FreeLibrary(advapi), err::kSuccess);
    EXPECT_EQ(system.FreeLibrary(oleacc), err::kSuccess);
    EXPECT_NE(system.FreeLibrary(oleacc), err::kSuccess);
    EXPECT_TRUE(system.LoadedLibraries().empty());
    EXPECT_EQ(system.FreeLibraryCalls(), 4);
    EXPECT_EQ(system.GetProcAddress(advapi, "LookupAccountSidA"), nullptr);
}

TEST_F(FakeSystemTest, FailedLibraryGivesNoHandle) {
    system.FailLibrary("oleacc.dll");
    EXPECT_EQ(system.LoadLibrary("Oleacc.dll"), 0u);
    EXPECT_NE(system.LoadLibrary("Advapi32.dll"), 0u);
    EXPECT_EQ(system.LoadedLibraries(), std::vector<std::string>{"Advapi32.dll"});
}

// --- settings file ---

TEST_F(FakeSystemTest, SettingsFileSectionsKeysBlanksAndQuotes) {
    files.AddFile("C:\\Tools\\Quorvane.ini",
                  "; settings\r\n"
                  "[Other]\r\n"
                  "Company=Wrong\r\n"
                  "  [quorvane]  \r\n"
                  "  company  =  Acme Corp  \r\n"
                  "Product=\"  Quoted  \"\r\n"
                  "Version='R1'\r\n"
                  "Half=\"open\r\n"
                  "Empty=\r\n"
                  "Bare\r\n"
                  "Company=Second\r\n"
                  "[After]\r\n"
                  "Country=elsewhere\n");
    EXPECT_EQ(Ini("Company"), "Acme Corp");
    EXPECT_EQ(Ini("PRODUCT"), "  Quoted  ");
    EXPECT_EQ(Ini("Version"), "R1");
    EXPECT_EQ(Ini("Half"), "\"open");
    EXPECT_EQ(Ini("Empty"), "");
    EXPECT_EQ(Ini("Bare"), "");
    EXPECT_EQ(Ini("Missing"), "dflt");
    EXPECT_EQ(Ini("Country"), "dflt");
    EXPECT_EQ(Ini("Company", "Nowhere"), "dflt");
    EXPECT_EQ(Ini("Company", "Other"), "Wrong");
}

TEST_F(FakeSystemTest, SettingsFileMissingGivesTheDefaultWithoutTrailingBlanks) {
    EXPECT_EQ(system.GetPrivateProfileString("Quorvane", "Company", "dflt  ",
                                             "C:\\Tools\\Quorvane.ini"),
              "dflt");
    // A bare file name is looked for in the Windows directory, not the current one.
    files.AddFile("C:\\Tools\\bare.ini", "[S]\r\nK=here\r\n");
    files.AddFile("C:\\WINDOWS\\bare.ini", "[S]\r\nK=windows\r\n");
    EXPECT_EQ(system.GetPrivateProfileString("S", "K", "", "bare.ini"), "windows");
}

TEST_F(FakeSystemTest, SettingsValueIsCutToTheBuffer) {
    files.AddFile("C:\\Tools\\Quorvane.ini", "[Quorvane]\r\nCompany=" + std::string(5000, 'a'));
    EXPECT_EQ(Ini("Company"), std::string(4095, 'a'));

    // A double-byte character that would straddle the last place is left out whole.
    std::string sjis = std::string(4094, 'a') + "\x95\x5C";
    files.AddFile("C:\\Tools\\Quorvane.ini", "[Quorvane]\r\nCompany=" + sjis);
    EXPECT_EQ(Ini("Company"), std::string(4094, 'a'));
}

TEST_F(FakeSystemTest, SectionNameEndingInATrailByteIsFound) {
    // U+30BE in code page 932 is 83 5D: its second byte is "]".
    files.AddFile("C:\\Tools\\Quorvane.ini", "[\x83\x5D]\r\nCompany=Zo\r\n");
    EXPECT_EQ(Ini("Company", "\x83\x5D"), "Zo");
}

// --- messages, time ---

TEST_F(FakeSystemTest, SystemMessagesEndInALineBreak) {
    for (Win32Error code : {2u, 3u, 5u, 6u, 13u, 18u, 32u, 87u, 122u, 145u, 234u, 259u, 1010u,
                            1018u, 1314u, 1332u}) {
        std::string text = system.FormatSystemMessage(code);
        ASSERT_GT(text.size(), 2u) << code;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
    }
    EXPECT_EQ(system.FormatSystemMessage(5), "Access is denied.\r\n");
    EXPECT_EQ(system.FormatSystemMessage(0xDEAD), "");
}

TEST_F(FakeSystemTest, LocalTimeRoundTripFailsBefore1900AndWhereSet) {
    std::int64_t out = -1;
    EXPECT_EQ(system.CurrentTime(), 1767225600);  // 2026-01-01 00:00:00 UTC
    system.SetNow(1000);
    EXPECT_EQ(system.CurrentTime(), 1000);

    const std::int64_t first1900 = -2208988800;  // 1900-01-01 00:00:00 UTC
    EXPECT_TRUE(system.LocalTimeRoundTrip(first1900, &out));
    EXPECT_EQ(out, first1900);
    EXPECT_FALSE(system.LocalTimeRoundTrip(first1900 - 1, &out));
    system.FailLocalTime(5000);
    EXPECT_FALSE(system.LocalTimeRoundTrip(5000, &out));
    EXPECT_TRUE(system.LocalTimeRoundTrip(5001, &out));
    EXPECT_EQ(out, 5001);
}

TEST(FakeMessageBoxesTest, AnswersInOrderThenOk) {
    FakeMessageBoxes boxes;
    boxes.QueueAnswer(mb::kIdCancel);
    EXPECT_EQ(boxes.Show(7, "text", "caption", mb::kOkCancel), mb::kIdCancel);
    EXPECT_EQ(boxes.Show(0, "second", "c", mb::kOk), mb::kIdOk);
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[0].owner, 7u);
    EXPECT_EQ(boxes.Shown()[0].text, "text");
    EXPECT_EQ(boxes.Shown()[0].style, mb::kOkCancel);
}

TEST(FakeDebugOutputTest, KeepsEachWriteAndJoinsThem) {
    FakeDebugOutput debug;
    debug.Write("a\t");
    debug.Write("b\n");
    EXPECT_EQ(debug.Lines().size(), 2u);
    EXPECT_EQ(debug.Text(), "a\tb\n");
}

// --- resources ---

TEST(FakeResourcesTest, StringsComeInCodePage932) {
    FakeResources resources;
    // "ユーザ データをクリーンアップ", coded by hand from the code page's table.
    const std::string caption =
        "\x83\x86\x81\x5B\x83\x55\x20\x83\x66\x81\x5B\x83\x5E\x82\xF0\x83\x4E\x83\x8A\x81\x5B"
        "\x83\x93\x83\x41\x83\x62\x83\x76";
    EXPECT_EQ(resources.LoadString(132), caption);
    EXPECT_EQ(ResourceString(132), caption);
    std::string refused = resources.LoadString(137);
    EXPECT_NE(refused.find("Windows 95/98/Me"), std::string::npos);
    EXPECT_EQ(refused.back(), ' ');
    EXPECT_EQ(resources.LoadString(128), "");
    EXPECT_EQ(resources.LoadString(139), "");
}

TEST(FakeResourcesTest, Cp932KeepsTrailBytesAndMarksWhatItLacks) {
    EXPECT_EQ(Cp932("表"), "\x95\x5C");
    EXPECT_EQ(Cp932("a\xF0\x9F\x98\x80z"), "a?z");  // U+1F600 has no code in the page
    EXPECT_EQ(Cp932("ascii\\"), "ascii\\");
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
        std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string bytes;
        ASSERT_EQ(resources.LoadResourceBytes(id, "FILELIST", &bytes), err::kSuccess);
        EXPECT_EQ(bytes, expected);
    }
}

}  // namespace
}  // namespace qv::fake
