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

// The rest of the full path rules are contract tests (tests/contract/files_contract.cpp).
TEST_F(FakeFilesTest, FullPathsOfOtherDrivesStartAtTheirRoot) {
    EXPECT_EQ(Full("..\\x"), "C:\\x");
    EXPECT_EQ(Full("D:x"), "D:\\x");
    EXPECT_EQ(Full(""), "error 123");
}

TEST_F(FakeFilesTest, SearchesHoldingANulAreRefusedBeforeAnyLookup) {
    files.AddDirectory("C:\\d");
    // Cut at its NUL the name would be an existing folder, which the call must not reach.
    const std::string withNul = "C:\\d\0x"s;
    EXPECT_EQ(SearchError(withNul), err::kInvalidName);
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
    EXPECT_EQ(Full(tooLong, 1000), "error 123");
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

TEST_F(FakeFilesTest, WildcardsMatchAsTheSystemMatchesThem) {
    for (const char* name : {"README", "a.txt", "ab.txt", "abc.txt", "a.b.txt", "a.txt.bak"}) {
        files.AddFile(std::string("C:\\w\\") + name);
    }
    // The other masks are contract tests; Wine's search cannot answer this one as Windows does.
    EXPECT_EQ(Search("C:\\w\\???.txt"), (Names{"a.txt", "ab.txt", "abc.txt"}));
}

TEST_F(FakeFilesTest, SearchErrorsOfFoldersAndDrives) {
    files.AddFile("C:\\d\\f.txt");
    EXPECT_EQ(SearchError("C:\\d\\"), err::kFileNotFound);
    EXPECT_EQ(SearchError("C:\\"), err::kFileNotFound);
    EXPECT_EQ(SearchError("Q:\\*"), err::kPathNotFound);
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
    files.Remove("C:\\d\\" + d.fileName);
    ASSERT_EQ(files.FindNextFile(h, &d), err::kSuccess);
    files.Remove("C:\\d\\" + d.fileName);
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

// --- the handle port ---

class FakeHandlesTest : public FakeFilesTest {
  protected:
    UniqueFileRef Folder(std::string_view path) {
        UniqueFileRef h(files);
        EXPECT_EQ(files.OpenFolder(path, h.put()), err::kSuccess) << path;
        return h;
    }
    Win32Error Open(const UniqueFileRef& folder, std::string_view name, std::uint32_t intent,
                    UniqueFileRef* out) {
        *out = UniqueFileRef(files);
        Win32Error e = files.OpenRelative(folder.get(), name, intent, out->put());
        if (e != err::kSuccess) {
            EXPECT_EQ(out->release(), 0u);  // nothing handed out
        }
        return e;
    }
    Names ListNames(const UniqueFileRef& folder, std::string_view mask = "*") {
        std::vector<FolderEntry> entries;
        Names names;
        if (files.ListFolder(folder.get(), mask, &entries) != err::kSuccess) return names;
        for (const FolderEntry& e : entries) names.push_back(e.name);
        return names;
    }
    static constexpr std::uint32_t kBoth = open_intent::kList | open_intent::kDelete;
};

TEST_F(FakeHandlesTest, ALinkOpensAsItselfAndGoesAsTheLink) {
    files.AddFile("C:\\target\\keep.txt", "k");
    files.AddJunction("C:\\p\\link", "C:\\target");
    UniqueFileRef p = Folder("C:\\p");
    UniqueFileRef link;
    ASSERT_EQ(Open(p, "link", kBoth, &link), err::kSuccess);
    FileFacts facts;
    ASSERT_EQ(files.QueryFacts(link.get(), &facts), err::kSuccess);
    EXPECT_EQ(facts.attributes, fa::kDirectory | fa::kReparsePoint);
    EXPECT_EQ(facts.reparseTag, 0xA0000003u);
    // Opened as itself, a junction is the empty folder that carries the link.
    EXPECT_EQ(ListNames(link), (Names{".", ".."}));
    UniqueFileRef inside;
    EXPECT_EQ(Open(link, "keep.txt", open_intent::kDelete, &inside), err::kFileNotFound);
    // A name holding "\" is walked, and a folder on the way is followed; so is an anchor's path.
    EXPECT_EQ(Open(p, "link\\keep.txt", open_intent::kDelete, &inside), err::kSuccess);
    EXPECT_EQ(ListNames(Folder("C:\\p\\link"), "*.txt"), Names{"keep.txt"});
    inside.reset();

    EXPECT_EQ(files.DeleteByHandle(link.get()), err::kSuccess);
    link.reset();
    EXPECT_FALSE(files.Exists("C:\\p\\link"));
    EXPECT_EQ(files.ReadFile("C:\\target\\keep.txt"), "k");
    EXPECT_EQ(files.OpenHandleCount(), 1u);  // p
}

// The open and delete rules that Wine shows too are contract tests
// (tests/contract/handles_contract.cpp); these are the ones it cannot.
TEST_F(FakeHandlesTest, OpenAndDeleteRulesBeyondTheContract) {
    files.AddFile("C:\\d\\ok.txt");
    UniqueFileRef d = Folder("C:\\d");
    UniqueFileRef h;
    EXPECT_EQ(Open(d, "a|b", open_intent::kDelete, &h), err::kInvalidName);
    ASSERT_EQ(Open(d, "ok.txt", open_intent::kDelete, &h), err::kSuccess);
    EXPECT_EQ(files.DeleteByHandle(h.get()), err::kSuccess);
    // The name is gone at once; the handle still names the deleted file.
    EXPECT_FALSE(files.Exists("C:\\d\\ok.txt"));
    FileFacts facts;
    EXPECT_EQ(files.QueryFacts(h.get(), &facts), err::kSuccess);
    EXPECT_EQ(files.DeleteByHandle(h.get()), err::kSuccess);
    // The process's current directory cannot go.
    UniqueFileRef root = Folder("C:\\");
    EXPECT_EQ(Open(root, "Tools", kBoth, &h), err::kSharingViolation);
    h.reset();
    d.reset();
    root.reset();
    EXPECT_EQ(files.OpenHandleCount(), 0u);
}

TEST_F(FakeHandlesTest, AHandleFollowsItsEntryNotThePath) {
    files.AddFile("C:\\u\\data\\f.txt");
    std::vector<std::string> calls;
    files.SetHandleHook([&](HandleOp, std::string_view name) { calls.emplace_back(name); });
    UniqueFileRef u = Folder("C:\\u");
    UniqueFileRef data;
    ASSERT_EQ(Open(u, "data", kBoth, &data), err::kSuccess);
    // Another process renames the folder and puts a link in its place.
    files.Move("C:\\u\\data", "C:\\u\\moved");
    files.AddJunction("C:\\u\\data", "C:\\Tools");
    files.AddFile("C:\\Tools\\f.txt");
    UniqueFileRef f;
    ASSERT_EQ(Open(data, "f.txt", open_intent::kDelete, &f), err::kSuccess);
    EXPECT_EQ(files.DeleteByHandle(f.get()), err::kSuccess);
    EXPECT_FALSE(files.Exists("C:\\u\\moved\\f.txt"));
    EXPECT_TRUE(files.Exists("C:\\Tools\\f.txt"));
    EXPECT_EQ(calls, (Names{"C:\\u", "data", "f.txt", "f.txt"}));

    files.InjectFault(HandleOp::kQueryFacts, "MOVED", err::kAccessDenied, fake::kAlways);
    FileFacts facts;
    EXPECT_EQ(files.QueryFacts(data.get(), &facts), err::kAccessDenied);
    EXPECT_EQ(files.QueryFacts(u.get(), &facts), err::kSuccess);
}

// What the contract cannot show for a backup's calls: access lists (Wine checks none), volumes
// (Wine has one), and the hooks and faults of the new calls.
TEST_F(FakeHandlesTest, BackupCallsBeyondTheContract) {
    files.AddDrive('D');
    files.AddFile("C:\\u\\data\\f.txt", "old");
    files.AddDirectory("D:\\other");
    std::vector<std::pair<HandleOp, std::string>> calls;
    files.SetHandleHook(
        [&](HandleOp op, std::string_view name) { calls.emplace_back(op, std::string(name)); });
    UniqueFileRef u = Folder("C:\\u");
    UniqueFileRef backup(files);
    ASSERT_EQ(
        files.CreateFolder(u.get(), "backup", FolderProtection::kAdministratorsOnly, backup.put()),
        err::kSuccess);
    UniqueFileRef inner(files);
    ASSERT_EQ(files.CreateFolder(backup.get(), "inner", FolderProtection::kInherited, inner.put()),
              err::kSuccess);
    ASSERT_EQ(files.WriteWholeFile(inner.get(), "w.txt", "w"), err::kSuccess);
    // What is created below takes the folder's access; what is moved in keeps its own.
    // A link has a name like any entry: it is taken.
    files.AddJunction("C:\\u\\link", "C:\\Tools");
    UniqueFileRef link(files);
    EXPECT_EQ(files.CreateFolder(u.get(), "LINK", FolderProtection::kInherited, link.put()),
              err::kAlreadyExists);
    EXPECT_EQ(files.Protection("C:\\u\\backup"), FolderProtection::kAdministratorsOnly);
    EXPECT_EQ(files.Protection("C:\\u\\backup\\inner\\w.txt"),
              FolderProtection::kAdministratorsOnly);
    UniqueFileRef data;
    ASSERT_EQ(Open(u, "data", open_intent::kList, &data), err::kSuccess);
    EXPECT_EQ(files.Rename(data.get(), backup.get(), "data"), err::kAccessDenied);  // no kDelete
    ASSERT_EQ(Open(u, "data", kBoth, &data), err::kSuccess);
    UniqueFileRef other = Folder("D:\\other");
    EXPECT_EQ(files.Rename(data.get(), other.get(), "data"), err::kNotSameDevice);
    UniqueFileRef below(files);
    ASSERT_EQ(files.CreateFolder(data.get(), "sub", FolderProtection::kInherited, below.put()),
              err::kSuccess);
    EXPECT_EQ(files.Rename(data.get(), below.get(), "x"), err::kInvalidParameter);
    EXPECT_EQ(files.Rename(data.get(), data.get(), "x"), err::kInvalidParameter);
    ASSERT_EQ(files.Rename(data.get(), backup.get(), "DATA"), err::kSuccess);
    EXPECT_EQ(files.Protection("C:\\u\\backup\\DATA\\f.txt"), FolderProtection::kInherited);
    EXPECT_EQ(files.Protection("C:\\u\\data"), std::nullopt);
    // Overwriting is refused for a read-only or hidden file, as the system refuses it.
    files.AddFile("C:\\u\\ro.txt", "r", fa::kReadOnly);
    files.AddFile("C:\\u\\hid.txt", "h", fa::kHidden);
    EXPECT_EQ(files.WriteWholeFile(u.get(), "ro.txt", "x"), err::kAccessDenied);
    EXPECT_EQ(files.WriteWholeFile(u.get(), "hid.txt", "x"), err::kAccessDenied);
    EXPECT_EQ(files.ReadFile("C:\\u\\ro.txt"), "r");
    files.AddFile("C:\\u\\big.bin", std::string(kMaxWholeFile + 1, 'b'));
    std::string read = "untouched";
    EXPECT_EQ(files.ReadWholeFile(u.get(), "big.bin", &read), err::kFileTooLarge);
    EXPECT_EQ(read, "untouched");

    files.InjectFault(HandleOp::kRename, "DATA", err::kSharingViolation, fake::kAlways);
    files.InjectFault(HandleOp::kWriteWholeFile, "j.txt", err::kAccessDenied, fake::kAlways);
    files.InjectFault(HandleOp::kReadWholeFile, "w.txt", err::kAccessDenied, fake::kAlways);
    files.InjectFault(HandleOp::kCreateFolder, "again", err::kAccessDenied, fake::kAlways);
    EXPECT_EQ(files.Rename(data.get(), u.get(), "data"), err::kSharingViolation);
    EXPECT_EQ(files.WriteWholeFile(u.get(), "J.TXT", "j"), err::kAccessDenied);
    EXPECT_EQ(files.ReadWholeFile(inner.get(), "w.txt", &read), err::kAccessDenied);
    UniqueFileRef again(files);
    EXPECT_EQ(files.CreateFolder(u.get(), "again", FolderProtection::kInherited, again.put()),
              err::kAccessDenied);
    EXPECT_FALSE(files.Exists("C:\\u\\J.TXT"));
    EXPECT_FALSE(files.Exists("C:\\u\\again"));
    const std::vector<std::pair<HandleOp, std::string>> expected = {
        {HandleOp::kCreateFolder, "backup"},
        {HandleOp::kCreateFolder, "inner"},
        {HandleOp::kWriteWholeFile, "w.txt"}};
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(std::vector(calls.begin() + 1, calls.begin() + 4), expected);
    EXPECT_EQ(calls.back(), std::make_pair(HandleOp::kCreateFolder, std::string("again")));
}

}  // namespace
}  // namespace qv::fake
