// The file and shell adapters on the system: the search and deletion results the fake machine
// copies, full paths at the buffer limit, and the shell's tree deletion with its refusals.
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
    Win32Shell shell_;
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

TEST_F(FilesOnSystem, DeletionRefusalsGiveTheirCodes) {
    EXPECT_EQ(files_.RemoveDirectory(dir_ / "sub"), err::kDirNotEmpty);
    EXPECT_EQ(files_.RemoveDirectory(dir_ / "missing"), err::kFileNotFound);
    EXPECT_EQ(files_.DeleteFile(dir_ / "missing.txt"), err::kFileNotFound);
    ASSERT_TRUE(::SetFileAttributesA((dir_ / "b").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(files_.DeleteFile(dir_ / "b"), err::kAccessDenied);
    EXPECT_TRUE(Exists(dir_ / "b"));
    // A NUL inside a name would cut it to another name: refused, nothing deleted.
    EXPECT_EQ(files_.DeleteFile(dir_ / std::string("a.txt\0.bak", 10)), err::kInvalidName);
    EXPECT_TRUE(Exists(dir_ / "a.txt"));
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

TEST_F(FilesOnSystem, ShellDeletesTheWholeTreeAndNothingBeside) {
    EXPECT_EQ(shell_.DeleteTree(0, dir_ / "sub", 0x0410), 0);
    EXPECT_FALSE(Exists(dir_ / "sub"));
    EXPECT_TRUE(Exists(dir_ / "a.txt"));
    // Windows XP answers 0x402, later Windows and Wine 2.
    int missing = shell_.DeleteTree(0, dir_ / "sub", 0x0410);
    EXPECT_TRUE(missing == 2 || missing == 0x402) << missing;
}

TEST_F(FilesOnSystem, ShellRefusesSourcesThatDoNotFitOrNameTwoPaths) {
    // Two paths in one text: the shell would delete both.
    std::string two = (dir_ / "a.txt") + std::string(1, '\0') + (dir_ / "b");
    EXPECT_EQ(shell_.DeleteTree(0, two, 0x0410), Win32Shell::kRefusedSource);
    EXPECT_TRUE(Exists(dir_ / "a.txt"));
    EXPECT_TRUE(Exists(dir_ / "b"));
    EXPECT_EQ(shell_.DeleteTree(0, "", 0x0410), Win32Shell::kRefusedSource);

    // The longest accepted path has 259 characters; one more is refused.
    std::string folder = dir_.path() + "\\";
    std::string longest = folder + std::string(259 - folder.size(), 'n');
    ASSERT_EQ(longest.size(), 259u);
    WriteFile(longest, "x");
    ASSERT_TRUE(Exists(longest));
    EXPECT_EQ(shell_.DeleteTree(0, longest + "x", 0x0410), Win32Shell::kRefusedSource);
    EXPECT_TRUE(Exists(longest));
    EXPECT_EQ(shell_.DeleteTree(0, longest, 0x0410), 0);
    EXPECT_FALSE(Exists(longest));
}

}  // namespace
}  // namespace qv::win32::testing
