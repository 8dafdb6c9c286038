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
    void AddFile(std::string_view path, std::string_view contents = {}, std::uint32_t attributes = 0);
    void SetReadOnly(std::string_view path, bool readOnly = true);
    // A file held open by another process: DeleteFileA fails with 32; its folder cannot go.
    void SetInUse(std::string_view path, bool inUse = true);
    // A junction at `path` pointing to the folder `target`: attributes directory | reparse point;
    // searches below it see the target's entries; RemoveDirectoryA removes only the link.
    void AddJunction(std::string_view path, std::string_view target);
    void Remove(std::string_view path);  // removes a file or a whole folder, no rules applied

    // --- inspection ---
    bool Exists(std::string_view path) const;
    bool IsDirectory(std::string_view path) const;
    std::optional<std::string> ReadFile(std::string_view path) const;
    // Names directly in a folder, in the order the search returns them (without "." and "..").
    std::vector<std::string> List(std::string_view folder) const;
    // Every file and folder below `folder` (or the whole disk), as full paths, sorted.
    std::vector<std::string> AllPaths(std::string_view folder = {}) const;
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
    void InjectFault(int result, int times = 1);

    // Deletes the folder (or file) with everything below it; files that are read-only or in use
    // stay, and so do their folders. A missing source gives 2. Junctions inside the tree are
    // removed as links, their targets are not entered.
    int DeleteTree(WindowRef owner, std::string_view path, std::uint16_t flags) noexcept override;

private:
    FakeFileSystem& files_;
    std::vector<Call> calls_;
    int faultResult_ = 0;
    int faultTimes_ = 0;
};

}  // namespace qv::fake
