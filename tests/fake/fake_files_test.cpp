#include "fake/fake_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qv::fake {
namespace {

using namespace std::string_literals;

// "表" in code page 932: its second byte is "\".
constexpr char kHyo[] = "\x95\x5C";

class FakeFilesTest : public ::testing::Test {
  protected:
    FakeFilesTest() {
        files.SetCurrentDirectoryProvider([this] { return cwd; });
        files.AddDirectory("C:\\Tools");
    }

    // Runs a whole search and returns the names in the order the search gives them. A search
    // that does not start returns its error in *error and no names.
    std::vector<std::string> Search(std::string_view pattern, Win32Error* error = nullptr) {
        std::vector<std::string> names;
        FindHandle h = 0xBAD;
        FindData d;
        Win32Error e = files.FindFirstFile(pattern, &h, &d);
        if (error != nullptr) *error = e;
        if (e != err::kSuccess) {
            EXPECT_EQ(h, 0u) << "a failed search hands out no handle";
            return names;
        }
        do names.push_back(d.fileName);
        while (files.FindNextFile(h, &d) == err::kSuccess);
        EXPECT_EQ(files.FindNextFile(h, &d), err::kNoMoreFiles);
        EXPECT_EQ(files.FindClose(h), err::kSuccess);
        return names;
    }

    Win32Error SearchError(std::string_view pattern) {
        Win32Error e = err::kSuccess;
        Search(pattern, &e);
        return e;
    }

    std::string Full(std::string_view path, std::uint32_t bufferChars = 260) {
        std::string out = "untouched";
        Win32Error e = files.GetFullPathName(path, bufferChars, &out);
        return e == err::kSuccess ? out : "error " + std::to_string(e);
    }

    using Names = std::vector<std::string>;
    std::string cwd = "C:\\Tools";
    FakeFileSystem files;
};

// --- paths ---

TEST_F(FakeFilesTest, FullPathsResolveDotsSeparatorsAndRelativeNames) {
    EXPECT_EQ(Full("C:\\a\\..\\a\\*.txt"), "C:\\a\\*.txt");
    EXPECT_EQ(Full("C:/a//b\\\\c"), "C:\\a\\b\\c");
    EXPECT_EQ(Full("C:\\a\\.\\b\\"), "C:\\a\\b\\");
    EXPECT_EQ(Full("C:\\..\\..\\x"), "C:\\x");
    EXPECT_EQ(Full("C:\\a\\b.txt. "), "C:\\a\\b.txt");
    EXPECT_EQ(Full("x\\y"), "C:\\Tools\\x\\y");
    EXPECT_EQ(Full("..\\x"), "C:\\x");
    EXPECT_EQ(Full("\\x"), "C:\\x");
    EXPECT_EQ(Full("C:x"), "C:\\Tools\\x");
    EXPECT_EQ(Full("D:x"), "D:\\x");
    EXPECT_EQ(Full(""), "error 123");
}

TEST_F(FakeFilesTest, FullPathNeedsRoomForItsNul) {
    const std::string path = "C:\\abc";  // 6 characters and the NUL
    EXPECT_EQ(Full(path, 7), path);
    std::string out = "untouched";
    EXPECT_EQ(files.GetFullPathName(path, 6, &out), err::kInvalidName);
    EXPECT_EQ(out, "untouched");
}

TEST_F(FakeFilesTest, EmptyNamesAndNamesHoldingANulAreRefusedBeforeAnyLookup) {
    files.AddDirectory("C:\\d");
    // Cut at its NUL each name would be an existing folder, which the call must not reach.
    const std::string withNul = "C:\\d\0x"s;
    EXPECT_EQ(SearchError(""), err::kPathNotFound);
    EXPECT_EQ(files.DeleteFile(""), err::kPathNotFound);
    EXPECT_EQ(files.RemoveDirectory(""), err::kPathNotFound);
    EXPECT_EQ(SearchError(withNul), err::kInvalidName);
    EXPECT_EQ(files.DeleteFile(withNul), err::kInvalidName);
    EXPECT_EQ(files.RemoveDirectory(withNul), err::kInvalidName);
    EXPECT_TRUE(files.IsDirectory("C:\\d"));
}

TEST_F(FakeFilesTest, AnsiCallsTakeNamesUpToMaxPath) {
    const std::string folder = "C:\\" + std::string(250, 'a');  // 253 characters
    const std::string fits = folder + "\\b.txt";                // 259 and the NUL: 260
    const std::string tooLong = folder + "\\bb.txt";
    files.AddFile(fits);
    files.AddFile(tooLong);
    EXPECT_EQ(files.GetFileAttributes(fits), fa::kArchive);
    EXPECT_EQ(files.GetFileAttributes(tooLong), kInvalidFileAttributes);
    EXPECT_EQ(SearchError(tooLong), 206u);
    EXPECT_EQ(files.DeleteFile(tooLong), 206u);
    EXPECT_EQ(files.RemoveDirectory(tooLong), 206u);
    EXPECT_EQ(Full(tooLong, 1000), "error 123");
    EXPECT_EQ(files.DeleteFile(fits), err::kSuccess);
    // The limit counts characters: a double-byte character is one.
    std::string wide = "C:\\";
    for (int i = 0; i < 200; ++i) wide += kHyo;
    files.AddFile(wide + "\\x.txt");
    EXPECT_EQ(files.GetFileAttributes(wide + "\\x.txt"), fa::kArchive);
}

TEST_F(FakeFilesTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
    files.AddFile("C:\\Data\\Report.TXT", "r");
    EXPECT_EQ(files.ReadFile("c:\\DATA\\report.txt"), "r");
    EXPECT_EQ(files.List("C:\\data"), Names{"Report.TXT"});
    EXPECT_EQ(Search("C:\\DATA\\REPORT.txt"), Names{"Report.TXT"});
}

TEST_F(FakeFilesTest, DoubleByteNamesKeepTheirBackslashByte) {
    const std::string folder = std::string("C:\\") + kHyo;
    files.AddFile(folder + "\\a.txt", "x");
    EXPECT_EQ(files.List("C:\\"), (Names{"Tools", kHyo}));
    EXPECT_EQ(Search(folder + "\\*.txt"), Names{"a.txt"});
    EXPECT_EQ(Full(folder + "\\..\\b"), "C:\\b");
    EXPECT_EQ(Full(folder + "\\"), folder + "\\");
    // "?" stands for the whole double-byte character.
    EXPECT_EQ(Search("C:\\?"), Names{kHyo});
    // A trail byte in 'a'..'z' is not a letter: these are two different names.
    files.AddFile("C:\\k\\\x83\x61", "1");
    files.AddFile("C:\\k\\\x83\x41", "2");
    EXPECT_EQ(files.List("C:\\k").size(), 2u);
    EXPECT_EQ(files.ReadFile("C:\\k\\\x83\x61"), "1");
}

// --- search ---

TEST_F(FakeFilesTest, SearchReturnsDotEntriesFirstOutsideADriveRoot) {
    files.AddFile("C:\\d\\b.txt");
    files.AddFile("C:\\d\\A.log");
    files.AddDirectory("C:\\d\\sub");
    EXPECT_EQ(Search("C:\\d\\*.*"), (Names{".", "..", "b.txt", "A.log", "sub"}));
    EXPECT_EQ(Search("C:\\d\\*"), (Names{".", "..", "b.txt", "A.log", "sub"}));
    EXPECT_EQ(Search("C:\\*"), (Names{"Tools", "d"}));
    EXPECT_EQ(Search("C:\\d\\*.txt"), Names{"b.txt"});
}

TEST_F(FakeFilesTest, WildcardsMatchAsTheSystemMatchesThem) {
    for (const char* name : {"README", "a.txt", "ab.txt", "abc.txt", "a.b.txt", "a.txt.bak"}) {
        files.AddFile(std::string("C:\\w\\") + name);
    }
    EXPECT_EQ(Search("C:\\w\\*.*").size(), 2u + 6u) << "\"*.*\" also finds names without a dot";
    EXPECT_EQ(Search("C:\\w\\*.TXT"), (Names{"a.txt", "ab.txt", "abc.txt", "a.b.txt"}));
    EXPECT_EQ(Search("C:\\w\\a?.txt"), (Names{"a.txt", "ab.txt"}));
    EXPECT_EQ(Search("C:\\w\\???.txt"), (Names{"a.txt", "ab.txt", "abc.txt"}));
    EXPECT_EQ(Search("C:\\w\\a*.bak"), Names{"a.txt.bak"});
    // "*." finds the names without an extension, "." and ".." among them.
    EXPECT_EQ(Search("C:\\w\\*."), (Names{".", "..", "README"}));
}

TEST_F(FakeFilesTest, SearchWithoutWildcardReturnsTheEntryItself) {
    files.AddDirectory("C:\\d\\Sub\\inner");
    FindHandle h = 0;
    FindData d;
    ASSERT_EQ(files.FindFirstFile("C:\\d\\sub", &h, &d), err::kSuccess);
    EXPECT_EQ(d.fileName, "Sub");
    EXPECT_EQ(d.attributes, fa::kDirectory);
    EXPECT_EQ(files.FindNextFile(h, &d), err::kNoMoreFiles);
    EXPECT_EQ(files.FindClose(h), err::kSuccess);
}

TEST_F(FakeFilesTest, SearchErrors) {
    files.AddFile("C:\\d\\f.txt");
    EXPECT_EQ(SearchError("C:\\d\\*.log"), err::kFileNotFound);
    EXPECT_EQ(SearchError("C:\\d\\g.txt"), err::kFileNotFound);
    EXPECT_EQ(SearchError("C:\\missing\\*.*"), err::kPathNotFound);
    EXPECT_EQ(SearchError("C:\\missing\\x"), err::kPathNotFound);
    EXPECT_EQ(SearchError("C:\\missing\\"), err::kPathNotFound);
    EXPECT_EQ(SearchError("C:\\d\\"), err::kFileNotFound);
    EXPECT_EQ(SearchError("C:\\"), err::kFileNotFound);
    EXPECT_EQ(SearchError("Q:\\*"), err::kPathNotFound);
    EXPECT_EQ(SearchError("C:\\d\\f.txt\\*"), err::kDirectory);
    EXPECT_EQ(SearchError(""), err::kPathNotFound);
    EXPECT_EQ(files.OpenFindCount(), 0u);
}

TEST_F(FakeFilesTest, SearchHandlesAreCountedAndCloseOnce) {
    files.AddFile("C:\\d\\f.txt");
    FindHandle a = 0;
    FindHandle b = 0;
    FindData d;
    ASSERT_EQ(files.FindFirstFile("C:\\d\\*", &a, &d), err::kSuccess);
    ASSERT_EQ(files.FindFirstFile("C:\\d\\*", &b, &d), err::kSuccess);
    EXPECT_NE(a, b);
    EXPECT_EQ(files.OpenFindCount(), 2u);
    EXPECT_EQ(files.FindClose(a), err::kSuccess);
    EXPECT_EQ(files.FindClose(a), err::kInvalidHandle);
    EXPECT_EQ(files.FindNextFile(a, &d), err::kInvalidHandle);
    EXPECT_EQ(files.OpenFindCount(), 1u);
    { UniqueFind owned(files, b); }
    EXPECT_EQ(files.OpenFindCount(), 0u);
    EXPECT_EQ(files.FindClose(0x4242), err::kInvalidHandle);
}

TEST_F(FakeFilesTest, SearchGoesOnWhileItsEntriesAreDeleted) {
    files.AddFile("C:\\d\\a.tmp");
    files.AddFile("C:\\d\\b.tmp");
    FindHandle h = 0;
    FindData d;
    ASSERT_EQ(files.FindFirstFile("C:\\d\\*.tmp", &h, &d), err::kSuccess);
    EXPECT_EQ(files.DeleteFile("C:\\d\\" + d.fileName), err::kSuccess);
    ASSERT_EQ(files.FindNextFile(h, &d), err::kSuccess);
    EXPECT_EQ(files.DeleteFile("C:\\d\\" + d.fileName), err::kSuccess);
    EXPECT_EQ(files.FindNextFile(h, &d), err::kNoMoreFiles);
    EXPECT_EQ(files.FindClose(h), err::kSuccess);
    EXPECT_TRUE(files.List("C:\\d").empty());
}

// --- attributes and deletion ---

TEST_F(FakeFilesTest, Attributes) {
    files.AddFile("C:\\d\\plain.txt");
    files.AddFile("C:\\d\\ro.txt", "", fa::kReadOnly);
    files.AddFile("C:\\d\\hidden.dat", "", fa::kHidden);
    files.AddJunction("C:\\d\\link", "C:\\Tools");
    EXPECT_EQ(files.GetFileAttributes("C:\\d\\plain.txt"), fa::kArchive);
    EXPECT_EQ(files.GetFileAttributes("C:\\d\\ro.txt"), fa::kReadOnly);
    EXPECT_EQ(files.GetFileAttributes("C:\\d\\hidden.dat"), fa::kHidden);
    EXPECT_EQ(files.GetFileAttributes("C:\\d"), fa::kDirectory);
    EXPECT_EQ(files.GetFileAttributes("C:\\d\\"), fa::kDirectory);
    EXPECT_EQ(files.GetFileAttributes("C:\\d\\link"), fa::kDirectory | fa::kReparsePoint);
    EXPECT_EQ(files.GetFileAttributes("C:\\d\\plain.txt\\"), kInvalidFileAttributes);
    EXPECT_EQ(files.GetFileAttributes("C:\\d\\nothing"), kInvalidFileAttributes);
}

TEST_F(FakeFilesTest, DeleteFileRules) {
    files.AddFile("C:\\d\\ro.txt", "", fa::kReadOnly);
    files.AddFile("C:\\d\\busy.txt");
    files.SetInUse("C:\\d\\busy.txt");
    files.AddFile("C:\\d\\ok.txt");
    EXPECT_EQ(files.DeleteFile("C:\\d\\ro.txt"), err::kAccessDenied);
    EXPECT_EQ(files.DeleteFile("C:\\d\\busy.txt"), err::kSharingViolation);
    EXPECT_EQ(files.DeleteFile("C:\\d\\none.txt"), err::kFileNotFound);
    EXPECT_EQ(files.DeleteFile("C:\\none\\x.txt"), err::kPathNotFound);
    EXPECT_EQ(files.DeleteFile("C:\\d"), err::kAccessDenied);
    // A NUL inside would name "ok.txt" to the system: refused.
    EXPECT_EQ(files.DeleteFile("C:\\d\\ok.txt\0.bak"s), err::kInvalidName);
    EXPECT_EQ(files.DeleteFile("c:/D/OK.TXT"), err::kSuccess);
    EXPECT_EQ(files.List("C:\\d"), (Names{"ro.txt", "busy.txt"}));
}

TEST_F(FakeFilesTest, RemoveDirectoryRules) {
    files.AddFile("C:\\full\\f.txt");
    files.AddFile("C:\\busy\\f.txt");
    files.SetInUse("C:\\busy\\f.txt");
    files.AddDirectory("C:\\empty");
    EXPECT_EQ(files.RemoveDirectory("C:\\full"), err::kDirNotEmpty);
    EXPECT_EQ(files.DeleteFile("C:\\busy\\f.txt"), err::kSharingViolation);
    EXPECT_EQ(files.RemoveDirectory("C:\\busy"), err::kDirNotEmpty);
    EXPECT_EQ(files.RemoveDirectory("C:\\none"), err::kFileNotFound);
    EXPECT_EQ(files.RemoveDirectory("C:\\none\\deeper"), err::kPathNotFound);
    EXPECT_EQ(files.RemoveDirectory("C:\\"), err::kAccessDenied);
    EXPECT_EQ(files.RemoveDirectory("C:\\full\\f.txt"), err::kDirectory);
    EXPECT_EQ(files.RemoveDirectory("C:\\Tools"), err::kSharingViolation);
    // "C:" alone is the current directory of drive C.
    EXPECT_EQ(files.RemoveDirectory("C:"), err::kSharingViolation);
    EXPECT_TRUE(files.Exists("C:\\Tools"));
    EXPECT_EQ(files.RemoveDirectory("C:\\empty\\"), err::kSuccess);
    EXPECT_FALSE(files.Exists("C:\\empty"));
}

TEST_F(FakeFilesTest, JunctionIsRemovedAsALink) {
    files.AddFile("C:\\target\\keep.txt", "k");
    files.AddJunction("C:\\p\\link", "C:\\target");
    EXPECT_EQ(Search("C:\\p\\link\\*.txt"), Names{"keep.txt"});
    EXPECT_EQ(files.ReadFile("C:\\p\\link\\keep.txt"), "k");
    EXPECT_EQ(files.RemoveDirectory("C:\\p\\link"), err::kSuccess);
    EXPECT_FALSE(files.Exists("C:\\p\\link"));
    EXPECT_EQ(files.ReadFile("C:\\target\\keep.txt"), "k");
}

TEST_F(FakeFilesTest, AllEntriesGiveWhatAComparisonNeeds) {
    files.AddFile("C:\\u\\ro.txt", "data", fa::kReadOnly);
    files.AddJunction("C:\\u\\link", "C:\\Tools");
    std::vector<std::string> paths;
    for (const FakeFileSystem::EntryRecord& e : files.AllEntries()) {
        paths.push_back(e.path);
        if (e.path == "C:\\u\\ro.txt") {
            EXPECT_EQ(e.attributes, fa::kReadOnly);
            EXPECT_EQ(e.contents, "data");
        }
        if (e.path == "C:\\u\\link") {
            EXPECT_EQ(e.attributes, fa::kDirectory | fa::kReparsePoint);
            EXPECT_EQ(e.target, "C:\\Tools");
        }
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, files.AllPaths());
}

// --- the shell's deletion ---

class FakeShellTest : public FakeFilesTest {
  protected:
    FakeShell shell{files};
};

TEST_F(FakeShellTest, DeletesAWholeTree) {
    files.AddFile("C:\\u\\data\\a\\b\\c.txt");
    files.AddFile("C:\\u\\data\\top.txt");
    files.AddFile("C:\\u\\other.txt");
    EXPECT_EQ(shell.DeleteTree(0x77, "C:\\u\\data", 0x0410), 0);
    EXPECT_EQ(files.AllPaths("C:\\u"), Names{"C:\\u\\other.txt"});
    ASSERT_EQ(shell.Calls().size(), 1u);
    EXPECT_EQ(shell.Calls()[0].owner, 0x77u);
    EXPECT_EQ(shell.Calls()[0].path, "C:\\u\\data");
    EXPECT_EQ(shell.Calls()[0].flags, 0x0410);
}

TEST_F(FakeShellTest, BlockedFilesStayWithTheirFolders) {
    files.AddFile("C:\\u\\data\\ro\\locked.txt", "", fa::kReadOnly);
    files.AddFile("C:\\u\\data\\ro\\gone.txt");
    files.AddFile("C:\\u\\data\\free\\gone.txt");
    EXPECT_EQ(shell.DeleteTree(0, "C:\\u\\data", 0x0410), FakeShell::kResultAccessDenied);
    EXPECT_EQ(files.AllPaths("C:\\u"),
              (Names{"C:\\u\\data", "C:\\u\\data\\ro", "C:\\u\\data\\ro\\locked.txt"}));

    files.AddFile("C:\\v\\busy.txt");
    files.SetInUse("C:\\v\\busy.txt");
    EXPECT_EQ(shell.DeleteTree(0, "C:\\v", 0x0410), static_cast<int>(err::kSharingViolation));
    EXPECT_TRUE(files.Exists("C:\\v\\busy.txt"));
}

TEST_F(FakeShellTest, JunctionsAreRemovedWithoutEnteringThem) {
    files.AddFile("C:\\elsewhere\\precious.txt");
    files.AddJunction("C:\\u\\data\\link", "C:\\elsewhere");
    files.AddJunction("C:\\u\\root-link", "C:\\elsewhere");
    EXPECT_EQ(shell.DeleteTree(0, "C:\\u\\data", 0x0410), 0);
    EXPECT_EQ(shell.DeleteTree(0, "C:\\u\\root-link", 0x0410), 0);
    EXPECT_EQ(files.AllPaths("C:\\u"), Names{});
    EXPECT_TRUE(files.Exists("C:\\elsewhere\\precious.txt"));
}

TEST_F(FakeShellTest, RefusesSourcesThatCannotReachTheShellWhole) {
    const std::string folder = "C:\\" + std::string(250, 'a');
    const std::string longest = folder + "\\bbbbb";  // 259 bytes, its two NULs fit in 261
    files.AddFile(longest + "x\\f.txt");
    files.AddFile(longest + "\\f.txt");
    files.AddFile("C:\\u\\f.txt");
    EXPECT_EQ(shell.DeleteTree(0, "", 0x0410), FakeShell::kResultInvalidFiles);
    EXPECT_EQ(shell.DeleteTree(0, "C:\\u\0C:\\Tools"s, 0x0410), FakeShell::kResultInvalidFiles);
    EXPECT_EQ(shell.DeleteTree(0, longest + "x", 0x0410), FakeShell::kResultInvalidFiles);
    EXPECT_TRUE(files.Exists("C:\\u\\f.txt"));
    EXPECT_TRUE(files.Exists(longest + "x\\f.txt"));
    EXPECT_EQ(shell.DeleteTree(0, longest, 0x0410), 0);
    EXPECT_FALSE(files.Exists(longest));
}

TEST_F(FakeShellTest, MissingSourceAndInjectedFaults) {
    EXPECT_EQ(shell.DeleteTree(0, "C:\\nothing", 0x0410), 2);
    files.AddFile("C:\\u\\f.txt");
    shell.InjectFault(0x7C);
    EXPECT_EQ(shell.DeleteTree(0, "C:\\u", 0x0410), 0x7C);
    EXPECT_TRUE(files.Exists("C:\\u\\f.txt"));
    EXPECT_EQ(shell.DeleteTree(0, "C:\\u", 0x0410), 0);
    EXPECT_FALSE(files.Exists("C:\\u"));
    EXPECT_EQ(shell.Calls().size(), 3u);
}

}  // namespace
}  // namespace qv::fake
