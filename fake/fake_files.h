// The fake machine's file system: Windows rules for paths (drive letters, "\" and "/",
// names without regard to the case of any letter of code page 932, "." and ".."), directory search
// ("*" and "?" as FindFirstFileA matches them, "." and ".." first outside a drive root), read-only
// and in-use files, folders that are not empty, junctions, and the handle calls of the deleter
// (relative opens that do not follow links, deletion by handle, and the calls of a clean-up's
// backup: folders created with an access list, renames by handle, whole files written and read).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fake/fault_plan.h"
#include "port/file_handles.h"
#include "port/files.h"

namespace qv::fake {

// Faults are keyed by HandleOp; a fault's subject is the name of the entry the call acts on (the
// folder listed; for OpenFolder the path). Close, CheckProtection and CheckWriters take none.
class FakeFileSystem final : public IFileSystem,
                             public IFileHandles,
                             public FaultInjection<HandleOp> {
  public:
    // Called at the start of every call of the handle port but Close and CheckProtection, which
    // change nothing on the disk, with the call and the name it acts on
    // (the path, the relative name, the mask, the name of the entry a handle names; for a rename
    // the entry's name before the move, for a folder created or a whole file its name). A test
    // changes the disk from here, between two calls of the code under test, as another process
    // could.
    using HandleHook = std::function<void(HandleOp op, std::string_view name)>;

    FakeFileSystem();  // drive C: exists and is empty
    ~FakeFileSystem() override;

    // --- wiring ---
    // The process's current directory, for relative paths.
    void SetCurrentDirectoryProvider(std::function<std::string()> current);

    // --- setup (absolute paths; parents are created) ---
    void AddDrive(char letter);
    void AddDirectory(std::string_view path);
    // An existing file is replaced. `attributes`: fa::kReadOnly, fa::kHidden, ... (0: a plain
    // file, which reports FILE_ATTRIBUTE_ARCHIVE).
    void AddFile(std::string_view path, std::string_view contents = {},
                 std::uint32_t attributes = 0);
    // A file held open by another process: DeleteFileA fails with 32; its folder cannot go.
    void SetInUse(std::string_view path, bool inUse = true);
    // A junction at `path` pointing to the folder `target`: attributes directory | reparse point;
    // searches below it see the target's entries; RemoveDirectoryA removes only the link.
    void AddJunction(std::string_view path, std::string_view target);
    // Removes a file, a junction (the link) or a whole folder, no rules applied; a missing path is
    // ignored.
    void Remove(std::string_view path);
    // Moves (renames) an entry to a new path on the same drive, as MoveFileA does; handles open
    // on it, or below it, go on naming it.
    void Move(std::string_view from, std::string_view to);
    // The entry was made by the user `sid`, who owns it (as a folder a user makes below
    // %ProgramData% is his). Entries are otherwise the machine's: made by its administrators or by
    // the tool itself.
    void SetOwner(std::string_view path, std::string_view sid);
    void SetHandleHook(HandleHook hook);
    std::size_t OpenHandleCount() const;
    // From now on (or no longer) every path with which a call reaches the disk is noted, the
    // notes so far dropped: the path a GetFileAttributes, FindFirstFile or OpenFolder is given, and
    // the full path of the entry a relative open reaches. GetFullPathName only makes a text.
    void RecordPathsReached(bool on = true);
    const std::vector<std::string>& PathsReached() const;

    // --- inspection ---
    bool Exists(std::string_view path) const;
    bool IsDirectory(std::string_view path) const;
    std::optional<std::string> ReadFile(std::string_view path) const;
    // Names directly in a folder, in the order the search returns them (without "." and "..").
    std::vector<std::string> List(std::string_view folder) const;
    // Every file and folder below `folder` (or the whole disk), as full paths, sorted.
    std::vector<std::string> AllPaths(std::string_view folder = {}) const;
    // Every file, folder and junction of the disk as AllPaths lists them, with its attributes, a
    // file's contents and a junction's target: what a test compares to see whether anything
    // changed.
    struct EntryRecord {
        std::string path;
        std::uint32_t attributes;
        std::string contents;
        std::string target;
    };
    std::vector<EntryRecord> AllEntries() const;
    std::size_t OpenFindCount() const;
    // The access list an entry carries: what CreateFolder gave it, or, for any other entry, what
    // the folder it was created in carried at that moment (the system copies inheritable entries
    // into a new entry's access list when it is created). A rename keeps it: a move on one volume
    // keeps the entry's security descriptor, whatever the new folder grants. kInherited is the
    // ordinary access of the place an entry was made. nullopt when the path names nothing.
    std::optional<FolderProtection> Protection(std::string_view path) const;
    // As CreateFileA with CREATE_NEW writing `contents` would: 80 when anything has that name, 3
    // when its folder is missing. For the other parts of the machine that write files (a hive
    // saved by the registry).
    [[nodiscard]] Win32Error CreateNewFile(std::string_view path, std::string_view contents);

    // --- IFileSystem ---
    [[nodiscard]] std::uint32_t GetFileAttributes(std::string_view path) noexcept override;
    [[nodiscard]] Win32Error FindFirstFile(std::string_view pattern, FindHandle* handle,
                                           FindData* data) noexcept override;
    [[nodiscard]] Win32Error FindNextFile(FindHandle handle, FindData* data) noexcept override;
    [[nodiscard]] Win32Error FindClose(FindHandle handle) noexcept override;
    [[nodiscard]] Win32Error GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                                             std::string* fullPath) noexcept override;

    // --- IFileHandles ---
    [[nodiscard]] Win32Error OpenFolder(std::string_view path, FileRef* handle) noexcept override;
    [[nodiscard]] Win32Error OpenRelative(FileRef folder, std::string_view name,
                                          std::uint32_t intent, FileRef* handle) noexcept override;
    [[nodiscard]] Win32Error QueryFacts(FileRef handle, FileFacts* facts) noexcept override;
    [[nodiscard]] Win32Error QueryIdentity(FileRef handle,
                                           FileIdentity* identity) noexcept override;
    [[nodiscard]] Win32Error ListFolder(FileRef folder, std::string_view mask,
                                        std::vector<FolderEntry>* entries) noexcept override;
    [[nodiscard]] Win32Error SetAttributes(FileRef handle,
                                           std::uint32_t attributes) noexcept override;
    [[nodiscard]] Win32Error DeleteByHandle(FileRef handle) noexcept override;
    [[nodiscard]] Win32Error DeleteIgnoringReadOnly(FileRef handle) noexcept override;
    [[nodiscard]] Win32Error Close(FileRef handle) noexcept override;
    [[nodiscard]] Win32Error CreateFolder(FileRef folder, std::string_view name,
                                          FolderProtection protection,
                                          FileRef* handle) noexcept override;
    [[nodiscard]] Win32Error Rename(FileRef handle, FileRef folder,
                                    std::string_view name) noexcept override;
    [[nodiscard]] Win32Error RenameReplacing(FileRef handle, FileRef folder,
                                             std::string_view name) noexcept override;
    [[nodiscard]] Win32Error WriteWholeFile(FileRef folder, std::string_view name,
                                            std::string_view data) noexcept override;
    [[nodiscard]] Win32Error AppendToFile(FileRef folder, std::string_view name,
                                          std::string_view data) noexcept override;
    [[nodiscard]] Win32Error CheckProtection(FileRef folder,
                                             FolderProtection protection) noexcept override;
    // Takes no hooks or injected faults, as CheckProtection.
    [[nodiscard]] Win32Error CheckWriters(FileRef folder, std::string_view name) noexcept override;
    [[nodiscard]] Win32Error ReadWholeFile(FileRef folder, std::string_view name,
                                           std::string* data) noexcept override;

  private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace qv::fake
