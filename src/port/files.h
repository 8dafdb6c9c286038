// Files port: the kernel32 file calls of the tool that read by path. Methods return 0 or the
// Win32 error code. Nothing is deleted by path: removals go through the handle port
// (port/file_handles.h) and the deleter.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "base/unique_handle.h"
#include "base/win32_codes.h"
#include "port/port.h"

namespace qv {

inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
// Alike on purpose: named constants, one a line, as every list of them is.
namespace fa {
inline constexpr std::uint32_t kReadOnly = 0x1;
inline constexpr std::uint32_t kHidden = 0x2;
inline constexpr std::uint32_t kSystem = 0x4;
inline constexpr std::uint32_t kDirectory = 0x10;
inline constexpr std::uint32_t kArchive = 0x20;
inline constexpr std::uint32_t kNormal = 0x80;
inline constexpr std::uint32_t kReparsePoint = 0x400;  // junctions and symbolic links
}  // namespace fa

using FindHandle = std::uintptr_t;  // 0 is none

// The part of WIN32_FIND_DATAA that the tool reads.
struct FindData {
    std::uint32_t attributes = 0;
    std::string fileName;
    std::string alternateFileName;  // the 8.3 short name, empty when the entry has none
};

class IFileSystem : public Port {
  public:
    // GetFileAttributesA: kInvalidFileAttributes when the path does not exist (or cannot be read).
    [[nodiscard]] virtual std::uint32_t GetFileAttributes(std::string_view path) noexcept = 0;
    // FindFirstFileA: on success *handle is open (close with FindClose) and *data the first entry.
    [[nodiscard]] virtual Win32Error FindFirstFile(std::string_view pattern, FindHandle* handle,
                                                   FindData* data) noexcept = 0;
    // FindNextFileA: err::kNoMoreFiles after the last entry.
    [[nodiscard]] virtual Win32Error FindNextFile(FindHandle handle, FindData* data) noexcept = 0;
    [[nodiscard]] virtual Win32Error FindClose(FindHandle handle) noexcept = 0;
    // GetFullPathNameA into a buffer of bufferChars characters; err::kInvalidName when the full
    // path cannot be made or does not fit.
    [[nodiscard]] virtual Win32Error GetFullPathName(std::string_view path,
                                                     std::uint32_t bufferChars,
                                                     std::string* fullPath) noexcept = 0;
};

// A search of FindFirstFile, ended with FindClose.
using UniqueFind = UniqueHandle<FindHandle, &IFileSystem::FindClose>;

// Whether `path` names a folder; a missing path reads as kInvalidFileAttributes, whose bits are
// not a folder's.
[[nodiscard]] inline bool IsDirectory(IFileSystem& files, std::string_view path) noexcept {
    const std::uint32_t attributes = files.GetFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & fa::kDirectory) != 0;
}

// Whether `path` names a folder that is no junction or symbolic link: GetFileAttributesA reports
// a link at the end of a path as the link, so a walk down that checks each folder with this never
// passes one.
[[nodiscard]] inline bool IsPlainFolder(IFileSystem& files, std::string_view path) noexcept {
    const std::uint32_t attributes = files.GetFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & fa::kDirectory) != 0 &&
           (attributes & fa::kReparsePoint) == 0;
}

}  // namespace qv
