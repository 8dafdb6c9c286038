// The files port on kernel32 (ANSI).
#pragma once
#include "port/files.h"
#include "win32/windows_api.h"

namespace qv::win32 {

class Win32FileSystem final : public IFileSystem {
  public:
    Win32FileSystem() = default;

    // Alike on purpose: the fake and the Windows adapter implement the same port, so both list its
    // methods.
    [[nodiscard]] std::uint32_t GetFileAttributes(std::string_view path) noexcept override;
    [[nodiscard]] Win32Error FindFirstFile(std::string_view pattern, FindHandle* handle,
                                           FindData* data) noexcept override;
    [[nodiscard]] Win32Error FindNextFile(FindHandle handle, FindData* data) noexcept override;
    [[nodiscard]] Win32Error FindClose(FindHandle handle) noexcept override;
    [[nodiscard]] Win32Error GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                                             std::string* fullPath) noexcept override;
};

}  // namespace qv::win32
