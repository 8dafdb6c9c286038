// Searches and full paths as the files port answers them.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/contract/contract_machine.h"

namespace qv::contract {
namespace {

using Names = std::vector<std::string>;

// Every name a search gives, "." and ".." where it gives them and the rest sorted (the system
// promises no order), and the result of the call that ended it.
Names Search(IFileSystem& files, const std::string& pattern, Win32Error* end) {
    Names names;
    FindData data;
    UniqueFind search(files);
    *end = files.FindFirstFile(pattern, search.put(), &data);
    if (*end != err::kSuccess) {
        EXPECT_EQ(search.release(), 0u) << "a failed search hands out no handle";
        return names;
    }
    do {
        names.push_back(data.fileName);
    } while ((*end = files.FindNextFile(search.get(), &data)) == err::kSuccess);
    auto rest = std::find_if(names.begin(), names.end(),
                             [](const std::string& n) { return n != "." && n != ".."; });
    std::sort(rest, names.end());
    return names;
}

Win32Error SearchError(IFileSystem& files, const std::string& pattern) {
    Win32Error end = 0;
    Search(files, pattern, &end);
    return end;
}

TEST_P(FilesContract, SearchGivesDotEntriesFirstThenEveryNameOnce) {
    machine().MakeFile(InFolder("a.txt"), "a");
    machine().MakeFile(InFolder("b"), "b");
    machine().MakeFolder(InFolder("Sub"));
    machine().MakeFile(InFolder("Sub\\c.txt"), "c");
    IFileSystem& files = os().files;
    Win32Error end = 0;
    for (const char* mask : {"*.*", "*"}) {
        EXPECT_EQ(Search(files, InFolder(mask), &end), (Names{".", "..", "Sub", "a.txt", "b"}));
        EXPECT_EQ(end, err::kNoMoreFiles);
    }
    // Without a wildcard the search finds the entry itself, under its own spelling.
    FindData data;
    UniqueFind search(files);
    ASSERT_EQ(files.FindFirstFile(InFolder("SUB"), search.put(), &data), err::kSuccess);
    EXPECT_EQ(data.fileName, "Sub");
    EXPECT_EQ(data.attributes & fa::kDirectory, fa::kDirectory);
    EXPECT_EQ(files.FindNextFile(search.get(), &data), err::kNoMoreFiles);
}

TEST_P(FilesContract, SearchesThatFindNothingSayWhy) {
    machine().MakeFile(InFolder("f.txt"), "f");
    IFileSystem& files = os().files;
    EXPECT_EQ(SearchError(files, InFolder("*.log")), err::kFileNotFound);
    EXPECT_EQ(SearchError(files, InFolder("g.txt")), err::kFileNotFound);
    EXPECT_EQ(SearchError(files, InFolder("missing\\*.*")), err::kPathNotFound);
    EXPECT_EQ(SearchError(files, InFolder("missing\\x")), err::kPathNotFound);
    EXPECT_EQ(SearchError(files, ""), err::kPathNotFound);
    // Windows answers 3 for a missing folder written with a trailing "\"; Wine answers 2.
    EXPECT_EQ(SearchError(files, InFolder("missing\\")),
              machine().IsWine() ? err::kFileNotFound : err::kPathNotFound);
    // Windows answers 267 for a file searched as a folder; Wine answers 123.
    EXPECT_EQ(SearchError(files, InFolder("f.txt\\*")),
              machine().IsWine() ? err::kInvalidName : err::kDirectory);
}

TEST_P(FilesContract, WildcardsMatchAsTheSystemMatchesThem) {
    for (const char* name : {"README", "a.txt", "ab.txt", "abc.txt", "a.b.txt", "a.txt.bak"}) {
        machine().MakeFile(InFolder(name), "w");
    }
    IFileSystem& files = os().files;
    Win32Error end = 0;
    EXPECT_EQ(Search(files, InFolder("*.TXT"), &end),
              (Names{"a.b.txt", "a.txt", "ab.txt", "abc.txt"}));
    EXPECT_EQ(Search(files, InFolder("a*.bak"), &end), Names{"a.txt.bak"});
    // "*." finds the names without an extension on Windows, "." and ".." among them; Wine takes
    // it for "*".
    EXPECT_EQ(Search(files, InFolder("*."), &end),
              machine().IsWine() ? (Names{".", "..", "README", "a.b.txt", "a.txt", "a.txt.bak",
                                          "ab.txt", "abc.txt"})
                                 : (Names{".", "..", "README"}));
    // "?" matches no character before a "." on Windows, so "a?.txt" also finds "a.txt"; Wine
    // takes "?" as exactly one character.
    EXPECT_EQ(Search(files, InFolder("a?.txt"), &end),
              machine().IsWine() ? Names{"ab.txt"} : (Names{"a.txt", "ab.txt"}));
}

TEST_P(FilesContract, FullPathsAreCleanedAndMustFitWithTheirNul) {
    IFileSystem& files = os().files;
    std::string cwd;
    ASSERT_NE(os().system.GetCurrentDirectory(260, &cwd), 0u);
    if (cwd.back() == '\\') cwd.pop_back();
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\a\\..\\a\\*.txt", "C:\\a\\*.txt"}, {"C:/a//b\\\\c", "C:\\a\\b\\c"},
        {"C:\\a\\.\\b\\", "C:\\a\\b\\"},         {"C:\\..\\..\\x", "C:\\x"},
        {"C:\\a\\b.txt. ", "C:\\a\\b.txt"},      {"x\\y", cwd + "\\x\\y"},
        {"\\x", cwd.substr(0, 2) + "\\x"},       {cwd.substr(0, 2) + "x", cwd + "\\x"},
    };
    for (const auto& [path, expected] : cases) {
        std::string full;
        EXPECT_EQ(files.GetFullPathName(path, 260, &full), err::kSuccess) << path;
        EXPECT_EQ(full, expected) << path;
    }
    const std::uint32_t length = 10;  // "C:\a\*.txt"
    std::string kept = "untouched";
    EXPECT_EQ(files.GetFullPathName("C:\\a\\*.txt", length, &kept), err::kInvalidName);
    EXPECT_EQ(kept, "untouched");
    EXPECT_EQ(files.GetFullPathName("C:\\a\\*.txt", length + 1, &kept), err::kSuccess);
    EXPECT_EQ(kept, "C:\\a\\*.txt");
}

}  // namespace
}  // namespace qv::contract
