// Deletion of a user's product files: the two root folders whole, then the lines of the built-in
// file list, with a trace to the debug output.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "app/tables.h"
#include "cleanup/placeholders.h"
#include "port/platform.h"

namespace qv {

inline constexpr char kFileListType[] = "FILELIST";

// A directory search in the manner of the framework's CFileFind: the root is fixed at FindFile,
// "." and ".." are returned like other entries, and FindNextFile reads one entry ahead.
class FileFind {
public:
    explicit FileFind(IFileSystem& files) : files_(files), handle_(files) {}
    // Starts a search; false and *error on failure (123 when the full path cannot be made).
    bool FindFile(std::string_view pattern, Win32Error* error);
    // Makes the next entry current; false when it is the last one (*error 18) or on an error.
    bool FindNextFile(Win32Error* error);
    std::string GetFilePath() const;
    std::string GetRoot() const { return root_; }
    std::string GetFileName() const { return current_.fileName; }
    std::string GetFileTitle() const;
    bool IsDirectory() const;
    void Close();

private:
    IFileSystem& files_;
    UniqueFind handle_;
    std::string root_;
    FindData current_;
    FindData next_;
    bool hasNext_ = false;
};

// 0, or the error with which the placeholder table could not be built (nothing deleted then).
Win32Error CleanProductFiles(Platform& os, const StringTable& productIds, WindowRef owner,
                             std::string_view registrationPath, std::string_view sidText);
// The shell's deletion of a folder tree with flags 0x0410; the result is not looked at.
void DeleteFolderTree(Platform& os, WindowRef owner, std::string_view folder);
// Loads FILELIST `id`, expands it and runs DeleteBuffer over it; 0 or the failure code.
HResult LoadFileList(Platform& os, std::uint32_t id, std::string_view type,
                     const PlaceholderTable& table);
HResult DeleteBuffer(Platform& os, std::string_view text, const PlaceholderTable& table);

}  // namespace qv
