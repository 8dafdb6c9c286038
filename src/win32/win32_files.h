// The files and shell ports on kernel32 and shell32 (ANSI).
#pragma once
#include "win32/windows_api.h"

#include "port/files.h"
#include "port/shell.h"

namespace qv::win32 {

class Win32FileSystem final : public IFileSystem {
public:
    Win32FileSystem() = default;

    std::uint32_t GetFileAttributes(std::string_view path) noexcept override;
    Win32Error FindFirstFile(std::string_view pattern, FindHandle* handle,
                             FindData* data) noexcept override;
    Win32Error FindNextFile(FindHandle handle, FindData* data) noexcept override;
    Win32Error FindClose(FindHandle handle) noexcept override;
    Win32Error GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                               std::string* fullPath) noexcept override;
    Win32Error DeleteFile(std::string_view path) noexcept override;
    Win32Error RemoveDirectory(std::string_view path) noexcept override;
};

class Win32Shell final : public IShell {
public:
    // The source area handed to the shell: a path of up to 259 characters, its NUL and the second
    // NUL that ends the list.
    static constexpr std::size_t kSourceArea = 260 + 1;
    // The shell's own code for a source it cannot use (DE_INVALIDFILES), returned for paths that
    // are refused before the shell is asked.
    static constexpr int kRefusedSource = 0x7C;

    Win32Shell() = default;

    // Refuses (kRefusedSource, nothing deleted) an empty path, a path of 260 characters or more,
    // and a path holding a NUL, which the shell would read as a list of several paths.
    int DeleteTree(WindowRef owner, std::string_view path, std::uint16_t flags) noexcept override;
};

}  // namespace qv::win32
