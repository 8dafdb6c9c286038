// The handle port on the system: the facts the deleter relies on. Every check goes through
// IFileHandles; only the setup and the cross-checks use the system's path calls, so the same
// checks can run against the fake machine with a setup of its own.
//
// Wine 8 has no reparse points: `mklink /J` fails, and a Unix symbolic link inside the prefix
// looks like a plain folder. What a junction or a symbolic link opens as, and that deleting it
// leaves its target, is therefore checked by the fake machine's tests, not here.
#include <algorithm>
#include <utility>
#include <vector>

#include "win32/win32_file_handles.h"
#include "windows_test_support.h"

namespace qv::win32::testing {
namespace {

using Listing = std::vector<std::pair<std::string, std::uint32_t>>;

bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring WideFromAnsi(const std::string& text) {
    int units =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          units);
    return wide;
}

// Entries made with "\\?\" paths or UTF-16 names, which the scratch folder's clean-up (ANSI paths
// of up to 260 characters) cannot remove: removed here, newest first, whatever the test did.
class WideEntries {
  public:
    WideEntries() = default;
    WideEntries(const WideEntries&) = delete;
    WideEntries& operator=(const WideEntries&) = delete;
    ~WideEntries() {
        for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) {
            if (!::DeleteFileW(it->c_str())) ::RemoveDirectoryW(it->c_str());
        }
    }
    bool AddFolder(const std::wstring& path) {
        if (!::CreateDirectoryW(path.c_str(), nullptr)) return false;
        paths_.push_back(path);
        return true;
    }
    bool AddFile(const std::wstring& path) {
        UniqueKernelHandle file(KernelHandleCloser{},
                                ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) return false;
        paths_.push_back(path);
        return true;
    }

  private:
    std::vector<std::wstring> paths_;
};

// "." and ".." stay where they are (first); the other entries are sorted, as neither the system
// nor the port promises an order for them.
Listing Normalised(Listing listing) {
    auto rest = std::find_if(listing.begin(), listing.end(), [](const auto& entry) {
        return entry.first != "." && entry.first != "..";
    });
    std::sort(rest, listing.end());
    return listing;
}

// What FindFirstFileA finds for `folder\mask`, and its error when it finds nothing.
Listing Search(const std::string& folder, const std::string& mask, Win32Error* error) {
    Listing found;
    WIN32_FIND_DATAA data{};
    HANDLE search = ::FindFirstFileA((folder + "\\" + mask).c_str(), &data);
    *error = search == INVALID_HANDLE_VALUE ? ::GetLastError() : err::kSuccess;
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        found.emplace_back(data.cFileName, data.dwFileAttributes);
    } while (::FindNextFileA(search, &data));
    ::FindClose(search);
    return Normalised(found);
}

class HandlesOnSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(files_.OpenFolder(dir_.path(), anchor_.put()), err::kSuccess);
    }

    IFileHandles& files() { return files_; }

    UniqueFileRef Open(FileRef folder, std::string_view name, std::uint32_t intent,
                       Win32Error* error) {
        UniqueFileRef handle(files());
        *error = files().OpenRelative(folder, name, intent, handle.put());
        return handle;
    }

    Listing List(FileRef folder, std::string_view mask, Win32Error* error) {
        std::vector<FolderEntry> entries;
        *error = files().ListFolder(folder, mask, &entries);
        Listing listing;
        for (const FolderEntry& entry : entries) listing.emplace_back(entry.name, entry.attributes);
        return Normalised(listing);
    }

    ScratchFolder dir_;
    Win32FileHandles files_;
    UniqueFileRef anchor_{files_};
};

TEST_F(HandlesOnSystem, RelativeOpensReachFilesAndFoldersAndRefuseWhatIsNotOne) {
    WriteFile(dir_ / "a.txt", "a");
    ASSERT_TRUE(::CreateDirectoryA((dir_ / "sub").c_str(), nullptr));
    Win32Error error = 0;

    UniqueFileRef file = Open(anchor_.get(), "A.TXT", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    UniqueFileRef sub = Open(anchor_.get(), "sub", open_intent::kList, &error);
    ASSERT_EQ(error, err::kSuccess);
    FileFacts anchorFacts, fileFacts, subFacts;
    ASSERT_EQ(files().QueryFacts(anchor_.get(), &anchorFacts), err::kSuccess);
    ASSERT_EQ(files().QueryFacts(file.get(), &fileFacts), err::kSuccess);
    ASSERT_EQ(files().QueryFacts(sub.get(), &subFacts), err::kSuccess);
    EXPECT_EQ(fileFacts.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(subFacts.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(subFacts.attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(subFacts.reparseTag, 0u);
    BY_HANDLE_FILE_INFORMATION byHandle{};
    ASSERT_TRUE(::GetFileInformationByHandle(reinterpret_cast<HANDLE>(anchor_.get()), &byHandle));
    EXPECT_EQ(anchorFacts.volumeSerial, byHandle.dwVolumeSerialNumber);
    EXPECT_EQ(fileFacts.volumeSerial, anchorFacts.volumeSerial);
    EXPECT_EQ(subFacts.volumeSerial, anchorFacts.volumeSerial);

    // A listing open needs a folder; a missing name is 2 and its parent path 3. A failed open
    // hands out no handle.
    FileRef none = 7;
    EXPECT_EQ(files().OpenRelative(anchor_.get(), "a.txt", open_intent::kList, &none),
              err::kDirectory);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(files().OpenRelative(anchor_.get(), "missing", 0, &none), err::kFileNotFound);
    EXPECT_EQ(files().OpenRelative(anchor_.get(), "missing\\x", 0, &none), err::kPathNotFound);
    // Names that are no entry of the folder: itself, its parent, nothing, a cut name, a stream.
    for (std::string_view name :
         {std::string_view(""), std::string_view("."), std::string_view(".."),
          std::string_view("sub\0x", 5), std::string_view("a.txt:s")}) {
        EXPECT_EQ(files().OpenRelative(anchor_.get(), name, 0, &none), err::kInvalidName) << name;
        EXPECT_EQ(none, 0u);
    }

    // Another process holding the file without delete sharing keeps it from a deletion open.
    file.reset();
    UniqueKernelHandle held(KernelHandleCloser{},
                            ::CreateFileA((dir_ / "a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(files().OpenRelative(anchor_.get(), "a.txt", open_intent::kDelete, &none),
              err::kSharingViolation);
}

TEST_F(HandlesOnSystem, OpenFolderTakesOnlyAbsoluteFolderPaths) {
    WriteFile(dir_ / "a.txt", "a");
    FileRef none = 7;
    EXPECT_EQ(files().OpenFolder(dir_ / "a.txt", &none), err::kDirectory);
    EXPECT_EQ(none, 0u);
    Win32Error missing = files().OpenFolder(dir_ / "missing", &none);
    EXPECT_TRUE(missing == err::kFileNotFound || missing == err::kPathNotFound) << missing;
    EXPECT_NE(files().OpenFolder("relative", &none), err::kSuccess);
    EXPECT_EQ(none, 0u);
}

TEST_F(HandlesOnSystem, DeletionByHandleFollowsTheDispositionRules) {
    WriteFile(dir_ / "a.txt", "a");
    WriteFile(dir_ / "ro.txt", "r");
    ASSERT_TRUE(::SetFileAttributesA((dir_ / "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::CreateDirectoryA((dir_ / "sub").c_str(), nullptr));
    WriteFile(dir_ / "sub\\c.txt", "c");
    Win32Error error = 0;

    UniqueFileRef file = Open(anchor_.get(), "a.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(files().DeleteByHandle(file.get()), err::kSuccess);
    EXPECT_EQ(file.close(), err::kSuccess);
    EXPECT_FALSE(Exists(dir_ / "a.txt"));

    // A read-only file is refused until its attribute is cleared through the same handle; only the
    // four settable bits are taken.
    UniqueFileRef readOnly = Open(anchor_.get(), "ro.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(files().DeleteByHandle(readOnly.get()), err::kAccessDenied);
    EXPECT_EQ(
        files().SetAttributes(readOnly.get(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY),
        err::kSuccess);
    FileFacts facts;
    ASSERT_EQ(files().QueryFacts(readOnly.get(), &facts), err::kSuccess);
    EXPECT_EQ(facts.attributes &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY),
              static_cast<std::uint32_t>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(files().DeleteByHandle(readOnly.get()), err::kSuccess);
    readOnly.reset();
    EXPECT_FALSE(Exists(dir_ / "ro.txt"));

    // A folder goes only when empty; its emptied name goes with the handle closed on the child.
    UniqueFileRef sub =
        Open(anchor_.get(), "sub", open_intent::kList | open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(files().DeleteByHandle(sub.get()), err::kDirNotEmpty);
    UniqueFileRef child = Open(sub.get(), "c.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(files().DeleteByHandle(child.get()), err::kSuccess);
    child.reset();
    EXPECT_EQ(files().DeleteByHandle(sub.get()), err::kSuccess);
    sub.reset();
    EXPECT_FALSE(Exists(dir_ / "sub"));
    EXPECT_TRUE(Exists(dir_.path()));
}

TEST_F(HandlesOnSystem, Cp932NameWithBackslashTrailByteIsOneName) {
    const std::string table = Cp932FromUtf8("\xE8\xA1\xA8");  // U+8868
    ASSERT_EQ(table, "\x95\x5C");
    ASSERT_TRUE(::CreateDirectoryA((dir_ / table).c_str(), nullptr));
    WriteFile(dir_ / (table + "\\" + table + ".txt"), "t");
    Win32Error error = 0;

    Listing top = List(anchor_.get(), "*", &error);
    ASSERT_EQ(error, err::kSuccess);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[2].first, table);

    UniqueFileRef folder =
        Open(anchor_.get(), table, open_intent::kList | open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    Listing inner = List(folder.get(), table + ".*", &error);
    ASSERT_EQ(error, err::kSuccess);
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0].first, table + ".txt");
    UniqueFileRef file = Open(folder.get(), table + ".txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(files().DeleteByHandle(file.get()), err::kSuccess);
    file.reset();
    EXPECT_EQ(files().DeleteByHandle(folder.get()), err::kSuccess);
    folder.reset();
    EXPECT_FALSE(Exists(dir_ / table));
}

TEST_F(HandlesOnSystem, FoldersBeyondThePathLimitAreReachedByRelativeOpens) {
    // Five levels of 60 characters: the deepest file's path is well over 260 characters, which the
    // path calls reach only with the "\\?\" form used here for the setup.
    const std::string level(60, 'd');
    std::wstring deep = L"\\\\?\\" + WideFromAnsi(dir_.path());
    WideEntries made;
    for (int i = 0; i < 5; ++i) {
        deep += L"\\" + WideFromAnsi(level);
        ASSERT_TRUE(made.AddFolder(deep));
    }
    ASSERT_TRUE(made.AddFile(deep + L"\\f.txt"));
    ASSERT_GT(deep.size(), 4u + 260u);

    // Down by relative opens, then everything deleted bottom up through the handles.
    std::vector<UniqueFileRef> chain;
    Win32Error error = 0;
    FileRef parent = anchor_.get();
    for (int i = 0; i < 5; ++i) {
        chain.push_back(Open(parent, level, open_intent::kList | open_intent::kDelete, &error));
        ASSERT_EQ(error, err::kSuccess) << i;
        parent = chain.back().get();
    }
    Listing deepest = List(parent, "*.txt", &error);
    ASSERT_EQ(error, err::kSuccess);
    ASSERT_EQ(deepest.size(), 1u);
    EXPECT_EQ(deepest[0].first, "f.txt");
    UniqueFileRef file = Open(parent, "f.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(files().DeleteByHandle(file.get()), err::kSuccess);
    file.reset();
    while (!chain.empty()) {
        EXPECT_EQ(files().DeleteByHandle(chain.back().get()), err::kSuccess) << chain.size();
        chain.pop_back();
    }
    EXPECT_FALSE(Exists(dir_ / level));
}

TEST_F(HandlesOnSystem, ListingMatchesMasksAsTheSearchDoes) {
    // "ovln02.logfile" has an 8.3 short name ending in ".LOG" where the volume keeps short names
    // (Wine always makes them), and the search matches masks against it too.
    for (const char* name : {"ovln01.log", "OVLN-B.LOG", "ovln02.logfile", "ovln.txt", "xovln1.log",
                             "a1.txt", "ab.txt", "a.txt", "abc.txt", "name", "name.x", "x.y.z"}) {
        WriteFile(dir_ / name, "x");
    }
    ASSERT_TRUE(::CreateDirectoryA((dir_ / "sub.d").c_str(), nullptr));
    ASSERT_TRUE(::SetFileAttributesA((dir_ / "ab.txt").c_str(),
                                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    // One folder handle for every mask: each listing starts over with its own mask.
    for (const char* mask :
         {"*", "*.*", "ovln*.log", "name.", "AB.TXT", "*.log", "a.*", "*.d", "zz*.q", "missing"}) {
        Win32Error searchError = 0, listError = 0;
        Listing expected = Search(dir_.path(), mask, &searchError);
        Listing listed = List(anchor_.get(), mask, &listError);
        EXPECT_EQ(listError, searchError) << mask;
        EXPECT_EQ(listed, expected) << mask;
    }
    Win32Error error = 0;
    EXPECT_EQ(List(anchor_.get(), "zz*.q", &error), Listing{});
    EXPECT_EQ(error, err::kFileNotFound);
    EXPECT_EQ(List(anchor_.get(), "sub.d\\*", &error), Listing{});
    EXPECT_EQ(error, err::kInvalidName);

    // "?" matches no character before a "." on Windows, so "a?.txt" also finds "a.txt". Wine 8's
    // search takes "?" as exactly one character and misses it.
    Win32Error searchError = 0;
    Listing search = Search(dir_.path(), "a?.txt", &searchError);
    Listing listed = List(anchor_.get(), "a?.txt", &error);
    ASSERT_EQ(error, err::kSuccess);
    ASSERT_EQ(searchError, err::kSuccess);
    std::vector<std::string> names;
    for (const auto& entry : listed) names.push_back(entry.first);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "a1.txt", "ab.txt"}));
    if (UnderWine()) listed.erase(listed.begin());
    EXPECT_EQ(search, listed);

    // A volume's root folder lists no "." and "..".
    UniqueFileRef root(files());
    ASSERT_EQ(files().OpenFolder(dir_.path().substr(0, 3), root.put()), err::kSuccess);
    Listing rootSearch = Search(dir_.path().substr(0, 2), "*", &searchError);
    Listing rootListed = List(root.get(), "*", &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(rootListed, rootSearch);
    EXPECT_TRUE(std::none_of(rootListed.begin(), rootListed.end(), [](const auto& entry) {
        return entry.first == "." || entry.first == "..";
    }));
}

TEST_F(HandlesOnSystem, NameTheCodePageCannotHoldFailsTheListing) {
    // "café.txt" would come out of the ANSI code page 932 as "cafe.txt" or "caf?.txt": another
    // name, or none.
    WriteFile(dir_ / "cafe.txt", "e");
    WideEntries made;
    ASSERT_TRUE(made.AddFile(WideFromAnsi(dir_.path()) + L"\\caf\u00E9.txt"));

    Win32Error error = 0;
    Listing all = List(anchor_.get(), "*", &error);
    EXPECT_EQ(error, static_cast<Win32Error>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(all, Listing{});
    Listing plain = List(anchor_.get(), "cafe*", &error);
    EXPECT_EQ(error, err::kSuccess);
    EXPECT_EQ(plain, (Listing{{"cafe.txt", FILE_ATTRIBUTE_ARCHIVE}}));
}

}  // namespace
}  // namespace qv::win32::testing
