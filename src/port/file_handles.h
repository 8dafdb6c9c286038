// Handle port: the file operations of the deleter. Everything below a trusted folder is opened by
// one name relative to its parent's handle, without reparse processing, so that a junction or a
// symbolic link opens as itself and is never followed; what is deleted is deleted through the
// handle that was checked. Methods return 0 or the Win32 error code.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_handle.h"
#include "base/win32_codes.h"
#include "port/port.h"

namespace qv {

using FileRef = std::uintptr_t;  // an open file or folder; 0 is none

namespace open_intent {
// FILE_LIST_DIRECTORY and FILE_TRAVERSE, and the entry must be a folder (a file gives 267).
inline constexpr std::uint32_t kList = 0x1;
// DELETE and FILE_WRITE_ATTRIBUTES: the entry may be deleted and its attributes changed. Refused
// with 32 when another process holds the entry open without sharing delete access.
inline constexpr std::uint32_t kDelete = 0x2;
}  // namespace open_intent

// What the system says of an open handle (FILE_BASIC_INFO, FILE_ATTRIBUTE_TAG_INFO and the volume
// serial number of BY_HANDLE_FILE_INFORMATION).
struct FileFacts {
    std::uint32_t attributes = 0;  // FILE_ATTRIBUTE_*; kReparsePoint for a junction or link
    std::uint32_t reparseTag = 0;  // 0 unless kReparsePoint
    std::uint64_t volumeSerial = 0;
};

// One entry of a folder listing.
struct FolderEntry {
    std::uint32_t attributes = 0;
    std::string name;
};

class IFileHandles : public Port {
  public:
    // Opens an absolute folder path with open_intent::kList as the system resolves it: links on
    // the way are followed. Only for folders that the machine names (a profile folder from the
    // profile list, a machine shell folder), never for a path from a user's hive. 267 when the
    // path names a file, 2 or 3 when it names nothing.
    [[nodiscard]] virtual Win32Error OpenFolder(std::string_view path,
                                                FileRef* handle) noexcept = 0;
    // Opens `name` relative to the open folder `folder` (ObjectAttributes.RootDirectory) with
    // FILE_OPEN_REPARSE_POINT: a link at `name` opens as the link. `intent` is a set of
    // open_intent bits. A name holding "\" walks further down as the system does, each folder on
    // the way with normal reparse processing; callers pass single names. 2 when the name is
    // missing, 123 for "", "." and "..".
    [[nodiscard]] virtual Win32Error OpenRelative(FileRef folder, std::string_view name,
                                                  std::uint32_t intent,
                                                  FileRef* handle) noexcept = 0;
    [[nodiscard]] virtual Win32Error QueryFacts(FileRef handle, FileFacts* facts) noexcept = 0;
    // The entries of a folder opened with kList whose names match `mask` as FindFirstFileA
    // matches them ("*" for all), "." and ".." first except in a volume's root folder. 2 when
    // nothing matches.
    [[nodiscard]] virtual Win32Error ListFolder(FileRef folder, std::string_view mask,
                                                std::vector<FolderEntry>* entries) noexcept = 0;
    // Sets the entry's attributes (FileBasicInfo); needs kDelete. Only the read-only, hidden,
    // system and archive bits are taken.
    [[nodiscard]] virtual Win32Error SetAttributes(FileRef handle,
                                                   std::uint32_t attributes) noexcept = 0;
    // Deletes the entry the handle names (FileDispositionInfo); needs kDelete. A link goes as the
    // link. 145 for a folder that is not empty, 5 for a read-only entry. The name is gone once
    // the handle is closed.
    [[nodiscard]] virtual Win32Error DeleteByHandle(FileRef handle) noexcept = 0;
    [[nodiscard]] virtual Win32Error Close(FileRef handle) noexcept = 0;
};

using UniqueFileRef = UniqueHandle<FileRef, &IFileHandles::Close>;

}  // namespace qv
