// The fake machine's file system and shell: Windows rules for paths (drive letters, "\" and "/",
// case-insensitive names, "." and ".."), directory search ("*" and "?" as FindFirstFileA matches
// them, "." and ".." first outside a drive root), read-only and in-use files, folders that are not
// empty, junctions, and the shell's deletion of a folder tree.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "port/files.h"
#include "port/shell.h"

namespace qv::fake {

class FakeFileSystem final : public IFileSystem {
  public:
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
    void SetReadOnly(std::string_view path, bool readOnly = true);
    // A file held open by another process: DeleteFileA fails with 32; its folder cannot go.
    void SetInUse(std::string_view path, bool inUse = true);
    // A junction at `path` pointing to the folder `target`: attributes directory | reparse point;
    // searches below it see the target's entries; RemoveDirectoryA removes only the link.
    void AddJunction(std::string_view path, std::string_view target);
    // Removes a file, a junction (the link) or a whole folder, no rules applied; a missing path is
    // ignored.
    void Remove(std::string_view path);

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

    // --- IFileSystem ---
    std::uint32_t GetFileAttributes(std::string_view path) noexcept override;
    Win32Error FindFirstFile(std::string_view pattern, FindHandle* handle,
                             FindData* data) noexcept override;
    Win32Error FindNextFile(FindHandle handle, FindData* data) noexcept override;
    Win32Error FindClose(FindHandle handle) noexcept override;
    Win32Error GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                               std::string* fullPath) noexcept override;
    Win32Error DeleteFile(std::string_view path) noexcept override;
    Win32Error RemoveDirectory(std::string_view path) noexcept override;

  private:
    friend class FakeShell;
    struct State;
    std::unique_ptr<State> s_;
};

class FakeShell final : public IShell {
  public:
    explicit FakeShell(FakeFileSystem& files);

    struct Call {
        WindowRef owner;
        std::string path;
        std::uint16_t flags;
    };
    const std::vector<Call>& Calls() const { return calls_; }
    // The next `times` calls return `result` and delete nothing.
    void InjectFault(int result, int times = 1);

    // Shell results (not Win32 codes): a source that could not be deleted for lack of access
    // (DE_ACCESSDENIEDSRC), and a source path that is no path (DE_INVALIDFILES).
    static constexpr int kResultAccessDenied = 0x78;
    static constexpr int kResultInvalidFiles = 0x7C;

    // Deletes the folder (or file) with everything below it; files that are read-only or in use
    // stay, and so do their folders, and the result is then that of the first entry that stayed
    // (kResultAccessDenied for a read-only file, 32 for one in use). A missing source gives 2.
    // An empty source, one of 260 bytes or more, or one holding a NUL is refused with
    // kResultInvalidFiles and nothing is deleted, as the Windows adapter refuses it.
    // Junctions inside the tree are removed as links, their targets are not entered; a junction
    // as the source is removed as a link. Wildcards in the last component delete every match.
    int DeleteTree(WindowRef owner, std::string_view path, std::uint16_t flags) noexcept override;

  private:
    FakeFileSystem& files_;
    std::vector<Call> calls_;
    int faultResult_ = 0;
    int faultTimes_ = 0;
};

}  // namespace qv::fake
