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
    std::string Ini(std::string_view key, std::string_view section = "Quorvane") {
        return system.GetPrivateProfileString(section, key, "dflt", "C:\\Tools\\Quorvane.ini");
    }

    FakeFileSystem files;
    FakeSystem system{files};
};

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

TEST_F(FakeSystemTest, SettingsValueIsCutBeforeADoubleByteCharacter) {
    // A double-byte character that would straddle the last place is left out whole.
    std::string sjis = std::string(4094, 'a') + "\x95\x5C";
    files.AddFile("C:\\Tools\\Quorvane.ini", "[Quorvane]\r\nCompany=" + sjis);
    EXPECT_EQ(Ini("Company"), std::string(4094, 'a'));
}

// --- time ---

TEST_F(FakeSystemTest, LocalTimeRoundTripFailsBefore1900) {
    std::int64_t out = -1;
    const std::int64_t first1900 = -2208988800;  // 1900-01-01 00:00:00 UTC
    EXPECT_TRUE(system.LocalTimeRoundTrip(first1900, &out));
    EXPECT_EQ(out, first1900);
    EXPECT_FALSE(system.LocalTimeRoundTrip(first1900 - 1, &out));
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
