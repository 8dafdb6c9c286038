// The file adapter on the system: the search results the fake machine copies and full paths at
// the buffer limit. Deletion goes through the handle port (file_handles_test.cpp).
#include <algorithm>
#include <vector>

#include "windows_test_support.h"

namespace qv::win32::testing {
namespace {

// A folder with a file, a file without a dot, and a sub folder holding a file.
class FilesOnSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(dir_ / "a.txt", "a");
        WriteFile(dir_ / "b", "b");
        ASSERT_TRUE(::CreateDirectoryA((dir_ / "sub").c_str(), nullptr));
        WriteFile(dir_ / "sub\\c.txt", "c");
    }

    // Every name a search returns, in order, and the result of the call that ended it.
    std::vector<std::string> Search(const std::string& pattern, Win32Error* end) {
        std::vector<std::string> names;
        FindData data;
        UniqueFind search(files_);
        *end = files_.FindFirstFile(pattern, search.put(), &data);
        if (*end != err::kSuccess) return names;
        do {
            names.push_back(data.fileName);
        } while ((*end = files_.FindNextFile(search.get(), &data)) == err::kSuccess);
        return names;
    }

    ScratchFolder dir_;
    Win32FileSystem files_;
};

TEST_F(FilesOnSystem, SearchGivesDotEntriesFirstThenEveryName) {
    Win32Error end = 0;
    std::vector<std::string> names = Search(dir_ / "*.*", &end);
    EXPECT_EQ(end, err::kNoMoreFiles);
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], ".");
    EXPECT_EQ(names[1], "..");
    std::sort(names.begin() + 2, names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.txt", "b", "sub"}));
}

TEST_F(FilesOnSystem, SearchFailuresGiveTheirCodes) {
    Win32Error end = 0;
    Search(dir_ / "*.zzz", &end);
    EXPECT_EQ(end, err::kFileNotFound);
    Search(dir_ / "missing\\*.*", &end);
    EXPECT_EQ(end, err::kPathNotFound);
    // Windows answers 3 for a missing folder written with a trailing "\"; Wine answers 2.
    Search(dir_ / "missing\\", &end);
    EXPECT_TRUE(end == err::kPathNotFound || end == err::kFileNotFound) << end;
    // Windows answers 267 for a file used as a folder; Wine answers 123.
    Search(dir_ / "a.txt\\*", &end);
    EXPECT_TRUE(end == err::kDirectory || end == err::kInvalidName) << end;
}

TEST_F(FilesOnSystem, FullPathIsCleanedAndMustFitWithItsNul) {
    std::string full;
    ASSERT_EQ(files_.GetFullPathName("C:\\a\\..\\a\\*.txt", 260, &full), err::kSuccess);
    EXPECT_EQ(full, "C:\\a\\*.txt");
    const std::uint32_t length = 10;  // "C:\a\*.txt"
    std::string kept = "unchanged";
    EXPECT_EQ(files_.GetFullPathName("C:\\a\\*.txt", length + 1, &kept), err::kSuccess);
    EXPECT_EQ(kept, "C:\\a\\*.txt");
    kept = "unchanged";
    EXPECT_EQ(files_.GetFullPathName("C:\\a\\*.txt", length, &kept), err::kInvalidName);
    EXPECT_EQ(kept, "unchanged");
}

}  // namespace
}  // namespace qv::win32::testing
