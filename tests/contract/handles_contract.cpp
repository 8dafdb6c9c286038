// The handle port: the facts the deleter relies on. Links are left out: Wine has no reparse
// points, so what a junction opens as and that deleting it leaves its target is checked by the
// fake machine's own tests.
#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/contract/contract_machine.h"
#include "tests/contract/listing.h"

namespace qv::contract {
namespace {

constexpr std::uint32_t kBoth = open_intent::kList | open_intent::kDelete;

// The port of the machine under test, with its scratch folder open for listing (the anchor every
// relative open starts from).
class Handles {
  public:
    explicit Handles(ContractMachine& machine) : os_(machine.os()), anchor_(machine.os().handles) {
        opened_ = os_.handles.OpenFolder(machine.Folder(), anchor_.put());
    }

    Win32Error opened() const { return opened_; }
    FileRef anchor() const { return anchor_.get(); }
    IFileHandles& port() { return os_.handles; }

    UniqueFileRef Open(FileRef folder, std::string_view name, std::uint32_t intent,
                       Win32Error* error) {
        UniqueFileRef handle(os_.handles);
        *error = os_.handles.OpenRelative(folder, name, intent, handle.put());
        if (*error != err::kSuccess) {
            EXPECT_EQ(handle.get(), 0u) << "a failed open hands out no handle";
        }
        return handle;
    }
    Listing List(FileRef folder, std::string_view mask, Win32Error* error) {
        return ListEntries(os_.handles, folder, mask, error);
    }
    // What the files port's search finds for a pattern, and its error when it finds nothing.
    Listing Search(const std::string& pattern, Win32Error* error) {
        Listing found;
        FindData data;
        UniqueFind search(os_.files);
        *error = os_.files.FindFirstFile(pattern, search.put(), &data);
        if (*error != err::kSuccess) return found;
        do {
            found.emplace_back(data.fileName, data.attributes);
        } while (os_.files.FindNextFile(search.get(), &data) == err::kSuccess);
        return Normalised(found);
    }
    bool Exists(const std::string& path) {
        return os_.files.GetFileAttributes(path) != kInvalidFileAttributes;
    }

  private:
    Platform& os_;
    UniqueFileRef anchor_;
    Win32Error opened_ = 0;
};

TEST_P(HandlesContract, RelativeOpensReachEntriesAndRefuseWhatIsNone) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    machine().MakeFile(InFolder("a.txt"), "a");
    machine().MakeFolder(InFolder("sub"));
    Win32Error error = 0;
    UniqueFileRef file = on.Open(on.anchor(), "A.TXT", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    UniqueFileRef sub = on.Open(on.anchor(), "sub", open_intent::kList, &error);
    ASSERT_EQ(error, err::kSuccess);
    FileFacts anchorFacts, fileFacts, subFacts;
    ASSERT_EQ(on.port().QueryFacts(on.anchor(), &anchorFacts), err::kSuccess);
    ASSERT_EQ(on.port().QueryFacts(file.get(), &fileFacts), err::kSuccess);
    ASSERT_EQ(on.port().QueryFacts(sub.get(), &subFacts), err::kSuccess);
    EXPECT_EQ(fileFacts.attributes & fa::kDirectory, 0u);
    EXPECT_EQ(subFacts.attributes & (fa::kDirectory | fa::kReparsePoint), fa::kDirectory);
    EXPECT_EQ(subFacts.reparseTag, 0u);
    EXPECT_EQ(fileFacts.volumeSerial, anchorFacts.volumeSerial);
    EXPECT_EQ(subFacts.volumeSerial, anchorFacts.volumeSerial);

    // A listing open needs a folder; a missing name is 2 and a missing folder on the way 3.
    on.Open(on.anchor(), "a.txt", open_intent::kList, &error);
    EXPECT_EQ(error, err::kDirectory);
    on.Open(on.anchor(), "missing", 0, &error);
    EXPECT_EQ(error, err::kFileNotFound);
    on.Open(on.anchor(), "missing\\x", 0, &error);
    EXPECT_EQ(error, err::kPathNotFound);
    // Names that are no entry of the folder: itself, its parent, nothing, a cut name, a stream.
    for (std::string_view name :
         {std::string_view(""), std::string_view("."), std::string_view(".."),
          std::string_view("sub\0x", 5), std::string_view("a.txt:s")}) {
        on.Open(on.anchor(), name, 0, &error);
        EXPECT_EQ(error, err::kInvalidName) << name;
    }

    // Another process holding the file without delete sharing keeps it from a deletion open, not
    // from a look at it; a handle not opened for deletion deletes nothing.
    file.reset();
    machine().HoldOpen(InFolder("a.txt"), true);
    on.Open(on.anchor(), "a.txt", open_intent::kDelete, &error);
    EXPECT_EQ(error, err::kSharingViolation);
    UniqueFileRef look = on.Open(on.anchor(), "a.txt", 0, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(on.port().DeleteByHandle(look.get()), err::kAccessDenied);
    EXPECT_EQ(on.port().DeleteByHandle(sub.get()), err::kAccessDenied);
    look.reset();
    machine().HoldOpen(InFolder("a.txt"), false);
    EXPECT_TRUE(on.Exists(InFolder("a.txt")));
    EXPECT_TRUE(on.Exists(InFolder("sub")));
}

// What a failed call leaves in its out-parameters: no handle (0, so an owner's put() owns nothing
// to close), and every other output as it was. Each call fails for a reason of its own; the
// outputs start as sentinels that no call would write.
TEST_P(HandlesContract, AFailedCallLeavesNoHandleAndOtherOutputsAsTheyWere) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    machine().MakeFile(InFolder("a.txt"), "a");
    machine().MakeFolder(InFolder("sub"));
    IFileHandles& port = on.port();
    constexpr FileRef kSentinel = 0x7ff0;
    struct HandleCall {
        const char* what;
        Win32Error (*call)(IFileHandles&, FileRef, const std::string&, FileRef*);
    };
    const std::string folder = machine().Folder();
    const HandleCall opens[] = {
        {"a missing folder by path", [](IFileHandles& p, FileRef, const std::string& f,
                                        FileRef* h) { return p.OpenFolder(f + "\\missing", h); }},
        {"a file by path", [](IFileHandles& p, FileRef, const std::string& f,
                              FileRef* h) { return p.OpenFolder(f + "\\a.txt", h); }},
        {"a relative path", [](IFileHandles& p, FileRef, const std::string&,
                               FileRef* h) { return p.OpenFolder("relative", h); }},
        {"a missing name", [](IFileHandles& p, FileRef a, const std::string&,
                              FileRef* h) { return p.OpenRelative(a, "missing", 0, h); }},
        {"a file to list",
         [](IFileHandles& p, FileRef a, const std::string&, FileRef* h) {
             return p.OpenRelative(a, "a.txt", open_intent::kList, h);
         }},
        {"an invalid name", [](IFileHandles& p, FileRef a, const std::string&,
                               FileRef* h) { return p.OpenRelative(a, "..", 0, h); }},
        {"a folder whose name is taken",
         [](IFileHandles& p, FileRef a, const std::string&, FileRef* h) {
             return p.CreateFolder(a, "sub", FolderProtection::kAdministratorsOnly, h);
         }},
        {"a folder below a file",
         [](IFileHandles& p, FileRef a, const std::string&, FileRef* h) {
             return p.CreateFolder(a, "a.txt\\x", FolderProtection::kInherited, h);
         }},
    };
    for (const HandleCall& open : opens) {
        FileRef handle = kSentinel;
        EXPECT_NE(open.call(port, on.anchor(), folder, &handle), err::kSuccess) << open.what;
        EXPECT_EQ(handle, 0u) << open.what;
    }

    Win32Error error = 0;
    UniqueFileRef file = on.Open(on.anchor(), "a.txt", 0, &error);
    ASSERT_EQ(error, err::kSuccess);
    const FileFacts factsBefore{0x5a5a, 0xa5a5, 0x1234};
    const FileIdentity identityBefore{0x5678, 0x9abc};
    const std::vector<FolderEntry> entriesBefore{{fa::kHidden, "sentinel", 7}};
    FileFacts facts = factsBefore;
    FileIdentity identity = identityBefore;
    std::vector<FolderEntry> entries = entriesBefore;
    std::string data = "sentinel";
    EXPECT_NE(port.QueryFacts(0, &facts), err::kSuccess);
    EXPECT_NE(port.QueryIdentity(0, &identity), err::kSuccess);
    EXPECT_EQ(port.ListFolder(on.anchor(), "nothing*", &entries), err::kFileNotFound);
    EXPECT_NE(port.ListFolder(file.get(), "*", &entries), err::kSuccess);
    EXPECT_EQ(port.ReadWholeFile(on.anchor(), "missing", &data), err::kFileNotFound);
    EXPECT_EQ(port.ReadWholeFile(on.anchor(), "sub", &data), err::kDirectory);
    EXPECT_EQ(facts.attributes, factsBefore.attributes);
    EXPECT_EQ(facts.reparseTag, factsBefore.reparseTag);
    EXPECT_EQ(facts.volumeSerial, factsBefore.volumeSerial);
    EXPECT_EQ(identity, identityBefore);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "sentinel");
    EXPECT_EQ(entries[0].attributes, fa::kHidden);
    EXPECT_EQ(entries[0].size, 7u);
    EXPECT_EQ(data, "sentinel");
}

// An entry's identity is the same through every path and handle that reaches it, and through a
// rename; no two entries share one.
TEST_P(HandlesContract, IdentityNamesTheEntryWhateverPathReachesIt) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    machine().MakeFolder(InFolder("sub"));
    machine().MakeFolder(InFolder("sub\\inner"));
    machine().MakeFolder(InFolder("other"));
    machine().MakeFile(InFolder("a.txt"), "a");
    auto identity = [&](FileRef handle) {
        FileIdentity id;
        EXPECT_EQ(on.port().QueryIdentity(handle, &id), err::kSuccess);
        return id;
    };
    Win32Error error = 0;
    UniqueFileRef sub = on.Open(on.anchor(), "sub", open_intent::kList, &error);
    ASSERT_EQ(error, err::kSuccess);
    UniqueFileRef spelled(on.port());
    ASSERT_EQ(on.port().OpenFolder(machine().Folder() + "/./SUB/inner\\..", spelled.put()),
              err::kSuccess);
    UniqueFileRef inner = on.Open(sub.get(), "inner", kBoth, &error);
    ASSERT_EQ(error, err::kSuccess);
    UniqueFileRef other = on.Open(on.anchor(), "other", kBoth, &error);
    ASSERT_EQ(error, err::kSuccess);
    UniqueFileRef file = on.Open(on.anchor(), "a.txt", 0, &error);
    ASSERT_EQ(error, err::kSuccess);

    const FileIdentity ids[] = {identity(on.anchor()), identity(sub.get()), identity(inner.get()),
                                identity(other.get()), identity(file.get())};
    EXPECT_EQ(identity(spelled.get()), ids[1]);
    for (std::size_t i = 0; i < std::size(ids); ++i) {
        EXPECT_EQ(ids[i].volumeSerial, ids[0].volumeSerial);
        for (std::size_t j = i + 1; j < std::size(ids); ++j) EXPECT_NE(ids[i], ids[j]) << i << j;
    }
    ASSERT_EQ(on.port().Rename(inner.get(), on.anchor(), "moved"), err::kSuccess);
    UniqueFileRef moved = on.Open(on.anchor(), "moved", open_intent::kList, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(identity(moved.get()), ids[2]);
}

TEST_P(HandlesContract, OpenFolderTakesOnlyAbsoluteFolderPaths) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    machine().MakeFile(InFolder("a.txt"), "a");
    FileRef none = 7;
    EXPECT_EQ(on.port().OpenFolder(InFolder("a.txt"), &none), err::kDirectory);
    EXPECT_EQ(none, 0u);
    Win32Error missing = on.port().OpenFolder(InFolder("missing"), &none);
    EXPECT_TRUE(missing == err::kFileNotFound || missing == err::kPathNotFound) << missing;
    EXPECT_NE(on.port().OpenFolder("relative", &none), err::kSuccess);
    EXPECT_EQ(none, 0u);
}

TEST_P(HandlesContract, DeletionByHandleFollowsTheDispositionRules) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    machine().MakeFile(InFolder("a.txt"), "a");
    machine().MakeFile(InFolder("ro.txt"), "r", fa::kReadOnly);
    machine().MakeFile(InFolder("ro2.txt"), "r", fa::kReadOnly);
    machine().MakeFolder(InFolder("sub"));
    machine().MakeFile(InFolder("sub\\c.txt"), "c");
    Win32Error error = 0;

    UniqueFileRef file = on.Open(on.anchor(), "a.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(on.port().DeleteByHandle(file.get()), err::kSuccess);
    EXPECT_EQ(file.close(), err::kSuccess);
    EXPECT_FALSE(on.Exists(InFolder("a.txt")));

    // A read-only file is refused until its attribute is cleared through the same handle; only the
    // four settable bits are taken.
    UniqueFileRef readOnly = on.Open(on.anchor(), "ro.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(on.port().DeleteByHandle(readOnly.get()), err::kAccessDenied);
    EXPECT_EQ(on.port().SetAttributes(readOnly.get(), fa::kHidden | fa::kDirectory), err::kSuccess);
    FileFacts facts;
    ASSERT_EQ(on.port().QueryFacts(readOnly.get(), &facts), err::kSuccess);
    EXPECT_EQ(facts.attributes & (fa::kReadOnly | fa::kHidden | fa::kDirectory), fa::kHidden);
    EXPECT_EQ(on.port().DeleteByHandle(readOnly.get()), err::kSuccess);
    readOnly.reset();
    EXPECT_FALSE(on.Exists(InFolder("ro.txt")));

    // Or it goes with the flag that ignores the attribute, which stays as it is until then. Wine
    // does not know the flag (87), and nothing changes.
    readOnly = on.Open(on.anchor(), "ro2.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(on.port().DeleteIgnoringReadOnly(readOnly.get()),
              machine().IsWine() ? err::kInvalidParameter : err::kSuccess);
    ASSERT_EQ(on.port().QueryFacts(readOnly.get(), &facts), err::kSuccess);
    EXPECT_NE(facts.attributes & fa::kReadOnly, 0u);
    readOnly.reset();
    EXPECT_EQ(on.Exists(InFolder("ro2.txt")), machine().IsWine());

    // A folder goes only when empty.
    UniqueFileRef sub = on.Open(on.anchor(), "sub", kBoth, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(on.port().DeleteByHandle(sub.get()), err::kDirNotEmpty);
    UniqueFileRef child = on.Open(sub.get(), "c.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(on.port().DeleteByHandle(child.get()), err::kSuccess);
    child.reset();
    EXPECT_EQ(on.port().DeleteByHandle(sub.get()), err::kSuccess);
    sub.reset();
    EXPECT_FALSE(on.Exists(InFolder("sub")));
    EXPECT_TRUE(on.Exists(machine().Folder()));
}

TEST_P(HandlesContract, Cp932NameWithBackslashTrailByteIsOneName) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    const std::string table = "\x95\x5C";  // U+8868 in code page 932
    machine().MakeFolder(InFolder(table));
    machine().MakeFile(InFolder(table + "\\" + table + ".txt"), "t");
    Win32Error error = 0;

    Listing top = on.List(on.anchor(), "*", &error);
    ASSERT_EQ(error, err::kSuccess);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[2].first, table);

    UniqueFileRef folder = on.Open(on.anchor(), table, kBoth, &error);
    ASSERT_EQ(error, err::kSuccess);
    Listing inner = on.List(folder.get(), table + ".*", &error);
    ASSERT_EQ(error, err::kSuccess);
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0].first, table + ".txt");
    UniqueFileRef file = on.Open(folder.get(), table + ".txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(on.port().DeleteByHandle(file.get()), err::kSuccess);
    file.reset();
    EXPECT_EQ(on.port().DeleteByHandle(folder.get()), err::kSuccess);
    folder.reset();
    EXPECT_FALSE(on.Exists(InFolder(table)));
}

TEST_P(HandlesContract, ListingMatchesMasksAsTheSearchDoes) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    // "ovln02.logfile" has an 8.3 short name ending in ".LOG" where the volume keeps short names
    // (Wine always makes them), and the search matches masks against it too.
    for (const char* name : {"ovln01.log", "OVLN-B.LOG", "ovln02.logfile", "ovln.txt", "xovln1.log",
                             "a1.txt", "ab.txt", "a.txt", "abc.txt", "name", "name.x", "x.y.z"}) {
        machine().MakeFile(InFolder(name), "x");
    }
    machine().MakeFolder(InFolder("sub.d"));
    machine().MakeFile(InFolder("ro.txt"), "x", fa::kReadOnly | fa::kHidden);

    // One folder handle for every mask: each listing starts over with its own mask.
    for (const char* mask :
         {"*", "*.*", "ovln*.log", "name.", "RO.TXT", "*.log", "a.*", "*.d", "zz*.q", "missing"}) {
        Win32Error searchError = 0, listError = 0;
        Listing expected = on.Search(InFolder(mask), &searchError);
        Listing listed = on.List(on.anchor(), mask, &listError);
        EXPECT_EQ(listError, searchError) << mask;
        EXPECT_EQ(listed, expected) << mask;
    }
    Win32Error error = 0;
    EXPECT_EQ(on.List(on.anchor(), "zz*.q", &error), Listing{});
    EXPECT_EQ(error, err::kFileNotFound);
    EXPECT_EQ(on.List(on.anchor(), "sub.d\\*", &error), Listing{});
    EXPECT_EQ(error, err::kInvalidName);
    Listing readOnly = on.List(on.anchor(), "ro.txt", &error);
    ASSERT_EQ(readOnly.size(), 1u);
    EXPECT_EQ(readOnly[0].second & (fa::kReadOnly | fa::kHidden | fa::kDirectory),
              fa::kReadOnly | fa::kHidden);

    // "?" matches no character before a "." as the system's matching defines it, so "a?.txt" also
    // lists "a.txt" (Wine's own search misses it, see FilesContract).
    std::vector<std::string> names;
    for (const auto& entry : on.List(on.anchor(), "a?.txt", &error)) names.push_back(entry.first);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "a1.txt", "ab.txt"}));

    // A volume's root folder lists no "." and "..".
    UniqueFileRef root(on.port());
    ASSERT_EQ(on.port().OpenFolder(machine().Folder().substr(0, 3), root.put()), err::kSuccess);
    Listing rootListed = on.List(root.get(), "*", &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(rootListed, on.Search(machine().Folder().substr(0, 3) + "*", &error));
    EXPECT_TRUE(std::none_of(rootListed.begin(), rootListed.end(), [](const auto& entry) {
        return entry.first == "." || entry.first == "..";
    }));
}

// A backup's calls: nothing that exists is ever replaced, and a rename moves a whole tree in one
// call while the handles below it go on working.
// What the console's --output relies on: a file written under a new name takes the name of an
// existing file in one rename; a folder there is never replaced; onto a free name it is a rename.
TEST_P(HandlesContract, RenameReplacingTakesAFilesNameButNeverAFolders) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    IFileHandles& port = on.port();
    machine().MakeFile(InFolder("doc.json"), "the last one");
    machine().MakeFolder(InFolder("folder"));
    ASSERT_EQ(port.WriteWholeFile(on.anchor(), "doc.json.1.tmp", "new"), err::kSuccess);
    Win32Error error = 0;
    UniqueFileRef written = on.Open(on.anchor(), "doc.json.1.tmp", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    const Win32Error ontoFolder = port.RenameReplacing(written.get(), on.anchor(), "folder");
    if (machine().IsWine()) {
        EXPECT_NE(ontoFolder, err::kSuccess);
    } else {
        EXPECT_EQ(ontoFolder, err::kAccessDenied);
    }
    EXPECT_TRUE(on.Exists(InFolder("folder")));
    ASSERT_EQ(port.RenameReplacing(written.get(), on.anchor(), "doc.json"), err::kSuccess);
    // Closed before it is read: a reader does not share the delete access the handle holds.
    written.reset();
    std::string read;
    EXPECT_EQ(port.ReadWholeFile(on.anchor(), "doc.json", &read), err::kSuccess);
    EXPECT_EQ(read, "new");
    EXPECT_FALSE(on.Exists(InFolder("doc.json.1.tmp")));
    written = on.Open(on.anchor(), "doc.json", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    ASSERT_EQ(port.RenameReplacing(written.get(), on.anchor(), "fresh.json"), err::kSuccess);
    EXPECT_FALSE(on.Exists(InFolder("doc.json")));
    EXPECT_TRUE(on.Exists(InFolder("fresh.json")));
}

TEST_P(HandlesContract, BackupCallsCreateMoveAndWriteWithoutReplacing) {
    Handles on(machine());
    ASSERT_EQ(on.opened(), err::kSuccess);
    IFileHandles& port = on.port();
    machine().MakeFile(InFolder("taken.txt"), "t");
    machine().MakeFolder(InFolder("data"));
    machine().MakeFolder(InFolder("data\\sub"));
    machine().MakeFile(InFolder("data\\sub\\f.txt"), "contents of f");
    machine().MakeFolder(InFolder("other"));

    UniqueFileRef backup(port);
    ASSERT_EQ(port.CreateFolder(on.anchor(), "backup", FolderProtection::kAdministratorsOnly,
                                backup.put()),
              err::kSuccess);
    UniqueFileRef mine(port);
    ASSERT_EQ(
        port.CreateFolder(on.anchor(), "mine", FolderProtection::kCurrentUserOnly, mine.put()),
        err::kSuccess);
    // What the tool made for its owners passes the check of who may reach it.
    EXPECT_EQ(port.CheckProtection(backup.get(), FolderProtection::kAdministratorsOnly),
              err::kSuccess);
    EXPECT_EQ(port.CheckProtection(mine.get(), FolderProtection::kCurrentUserOnly), err::kSuccess);
    // Nor can anyone else change them, or a file written into them (a settings file in a folder
    // of an administrator's own is trusted so).
    ASSERT_EQ(port.WriteWholeFile(backup.get(), "kept.ini", "k"), err::kSuccess);
    EXPECT_EQ(port.CheckWriters(backup.get(), ""), err::kSuccess);
    EXPECT_EQ(port.CheckWriters(backup.get(), "kept.ini"), err::kSuccess);
    EXPECT_EQ(port.CheckWriters(mine.get(), ""), err::kSuccess);
    EXPECT_EQ(port.CheckWriters(backup.get(), "missing.ini"), err::kFileNotFound);
    // What the running administrator made is the machine's to a restore; no folder is made so.
    EXPECT_EQ(port.CheckProtection(backup.get(), FolderProtection::kMachine), err::kSuccess);
    {
        UniqueFileRef none(port);
        EXPECT_EQ(port.CreateFolder(on.anchor(), "machine", FolderProtection::kMachine, none.put()),
                  err::kInvalidParameter);
        EXPECT_EQ(none.get(), 0u);
    }
    for (const char* name : {"BACKUP", "taken.txt", "data"}) {
        UniqueFileRef again(port);
        EXPECT_EQ(port.CreateFolder(on.anchor(), name, FolderProtection::kInherited, again.put()),
                  err::kAlreadyExists)
            << name;
        EXPECT_EQ(again.get(), 0u) << name;
    }
    Win32Error error = 0;
    EXPECT_EQ(on.Search(InFolder("taken.txt"), &error).size(), 1u);

    // The whole tree moves in one call; a handle below it still names its folder.
    UniqueFileRef data = on.Open(on.anchor(), "data", kBoth, &error);
    ASSERT_EQ(error, err::kSuccess);
    UniqueFileRef sub = on.Open(data.get(), "sub", open_intent::kList, &error);
    ASSERT_EQ(error, err::kSuccess);
    UniqueFileRef listOnly = on.Open(on.anchor(), "other", open_intent::kList, &error);
    ASSERT_EQ(error, err::kSuccess);
    // The old name goes, so the handle needs delete access. Wine checks no access on a rename:
    // it moves the folder, which goes back for the rest of the test.
    const Win32Error noDelete = port.Rename(listOnly.get(), backup.get(), "other");
    if (machine().IsWine() && noDelete == err::kSuccess) {
        ASSERT_EQ(port.Rename(listOnly.get(), on.anchor(), "other"), err::kSuccess);
    } else {
        EXPECT_EQ(noDelete, err::kAccessDenied);
    }
    ASSERT_EQ(port.Rename(data.get(), backup.get(), "data"), err::kSuccess);
    EXPECT_FALSE(on.Exists(InFolder("data")));
    std::string read;
    EXPECT_EQ(port.ReadWholeFile(sub.get(), "f.txt", &read), err::kSuccess);
    EXPECT_EQ(read, "contents of f");
    ASSERT_EQ(port.WriteWholeFile(sub.get(), "new.txt", "n"), err::kSuccess);
    EXPECT_TRUE(on.Exists(InFolder("backup\\data\\sub\\new.txt")));
    EXPECT_TRUE(on.Exists(InFolder("backup\\data\\sub\\f.txt")));

    // Never onto a name that is taken, and never into itself: both stay as they were.
    EXPECT_EQ(port.Rename(data.get(), on.anchor(), "Other"), err::kAlreadyExists);
    EXPECT_EQ(port.Rename(data.get(), on.anchor(), "taken.txt"), err::kAlreadyExists);
    // Into itself: refused, with a code that differs between systems (Wine answers 2).
    EXPECT_NE(port.Rename(data.get(), sub.get(), "x"), err::kSuccess);
    EXPECT_TRUE(on.Exists(InFolder("backup\\data\\sub\\f.txt")));
    EXPECT_TRUE(on.Exists(InFolder("other")));
    EXPECT_EQ(on.Search(InFolder("taken.txt"), &error).size(), 1u);
    // Back again under another name, of one character (the shortest rename the system takes).
    ASSERT_EQ(port.Rename(data.get(), on.anchor(), "r"), err::kSuccess);
    EXPECT_TRUE(on.Exists(InFolder("r\\sub\\new.txt")));

    // Whole files: created, replaced by a shorter one, emptied; folders are no files.
    for (const std::string& contents :
         {std::string("a longer first text\r\n"), std::string("short"), std::string(),
          std::string("\0bytes\xff", 7)}) {
        ASSERT_EQ(port.WriteWholeFile(mine.get(), "record.bin", contents), err::kSuccess);
        read = "stale";
        ASSERT_EQ(port.ReadWholeFile(mine.get(), "record.bin", &read), err::kSuccess);
        EXPECT_EQ(read, contents);
    }
    EXPECT_EQ(port.WriteWholeFile(on.anchor(), "other", "x"), err::kDirectory);
    EXPECT_EQ(port.ReadWholeFile(on.anchor(), "other", &read), err::kDirectory);
    EXPECT_EQ(port.ReadWholeFile(on.anchor(), "missing", &read), err::kFileNotFound);
    EXPECT_EQ(port.WriteWholeFile(on.anchor(), "..", "x"), err::kInvalidName);

    // Appends: a missing file is made, each write goes after what is there, nothing is replaced.
    std::string expected;
    for (const std::string& line : {std::string("{\"a\":1}\n"), std::string("\0\xff", 2),
                                    std::string(), std::string("last\r\n")}) {
        ASSERT_EQ(port.AppendToFile(mine.get(), "log.jsonl", line), err::kSuccess);
        expected += line;
        ASSERT_EQ(port.ReadWholeFile(mine.get(), "log.jsonl", &read), err::kSuccess);
        EXPECT_EQ(read, expected);
    }
    EXPECT_EQ(port.AppendToFile(on.anchor(), "other", "x"), err::kDirectory);
    EXPECT_EQ(port.AppendToFile(on.anchor(), "..", "x"), err::kInvalidName);
}

}  // namespace
}  // namespace qv::contract
