// Handle port: the file operations of the deleter. Everything below a trusted folder is opened by
// one name relative to its parent's handle, without reparse processing, so that a junction or a
// symbolic link opens as itself and is never followed; what is deleted is deleted through the
// handle that was checked. Methods return 0 or the Win32 error code. A failed call leaves 0 (no
// handle, nothing to close) in a FileRef out-parameter, so the owner that handed out its put()
// still owns nothing, and leaves every other out-parameter (facts, identity, entries, data) as
// it was.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_handle.h"
#include "base/win32_codes.h"
#include "port/files.h"
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

// Which file or folder a handle names, whatever path reached it (BY_HANDLE_FILE_INFORMATION's
// volume serial number and file index): two handles name the same entry exactly when their
// identities are equal. A rename keeps it.
struct FileIdentity {
    std::uint64_t volumeSerial = 0;
    std::uint64_t fileIndex = 0;
};
inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.volumeSerial == b.volumeSerial && a.fileIndex == b.fileIndex;
}
inline bool operator!=(const FileIdentity& a, const FileIdentity& b) { return !(a == b); }

// Who may reach a folder the tool creates for its own records. kMachine is for CheckProtection
// alone: a folder of the machine's that a restore puts its files back into.
enum class FolderProtection { kInherited, kAdministratorsOnly, kCurrentUserOnly, kMachine };

// Whether an opened entry is a junction or a symbolic link (or any other reparse point).
inline bool IsLink(const FileFacts& facts) { return (facts.attributes & fa::kReparsePoint) != 0; }

// One entry of a folder listing.
struct FolderEntry {
    std::uint32_t attributes = 0;
    std::string name;
    std::uint64_t size = 0;  // a file's size in bytes (its end of file); 0 for a folder
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
    // The identity of the entry the handle names (GetFileInformationByHandle): how another user's
    // profile folder is recognised whatever its path is spelled like.
    [[nodiscard]] virtual Win32Error QueryIdentity(FileRef handle,
                                                   FileIdentity* identity) noexcept = 0;
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
    // Deletes the entry as DeleteByHandle does, a read-only one too, without changing its
    // attributes (FileDispositionInfoEx with FILE_DISPOSITION_IGNORE_READONLY_ATTRIBUTE): the
    // attributes of a file are shared by all its hard links, which keep them. 87 (or 1, 50) where
    // the system does not know the flag (Wine; Windows before 10 1809): the caller then clears
    // the attribute and deletes as before.
    [[nodiscard]] virtual Win32Error DeleteIgnoringReadOnly(FileRef handle) noexcept = 0;
    [[nodiscard]] virtual Win32Error Close(FileRef handle) noexcept = 0;

    // --- the backup of a clean-up ---
    // Creates the folder `name` in the open folder `folder` (FILE_CREATE, so nothing that exists
    // there is ever opened or followed) and opens it with kList | kDelete. With a protection
    // other than kInherited the folder gets a protected access list that grants full access to
    // SYSTEM and the Administrators group (kAdministratorsOnly) or to the running user alone
    // (kCurrentUserOnly), inherited by everything created in it. 183 when the name exists
    // already, whatever it is; 87 for kMachine, which no folder is made with.
    [[nodiscard]] virtual Win32Error CreateFolder(FileRef folder, std::string_view name,
                                                  FolderProtection protection,
                                                  FileRef* handle) noexcept = 0;
    // Whether the open folder is reached by no one beyond `protection` (not kInherited): its owner
    // and every trustee its access list allows anything are SYSTEM, the Administrators group or
    // the running user himself (who may reach everything anyway). 0, 5 when anyone else may reach
    // it, or the error with which its security cannot be read. For a folder of the tool's records
    // that someone may have made before the tool did.
    // kMachine: whether the open folder is the machine's own: its owner is SYSTEM, the
    // Administrators group, TrustedInstaller (or the running user), and its access list lets no one
    // else change it (delete it or an entry in it, or change its access list or owner). Others
    // may read it or add entries of their own, as below %ProgramData% they may.
    [[nodiscard]] virtual Win32Error CheckProtection(FileRef folder,
                                                     FolderProtection protection) noexcept = 0;
    // Whether the entry `name` in the open folder (a file or a folder, opened without reparse
    // processing: a link is checked as itself), or the folder itself for an empty name, can be
    // changed by no one but SYSTEM, the Administrators group, TrustedInstaller and the running
    // user: its owner (who may change its access list at will) is one of them, and so is every
    // trustee an entry of its access list allows a right that changes it (write or append data,
    // add a file or a folder, write attributes or extended attributes, delete it or a child,
    // change its access list or owner, generic write or all). Who may read it does not matter. 0,
    // 5 when anyone else may change it, or the error with which its security cannot be read. For
    // the settings file an elevated run reads, and its folder.
    [[nodiscard]] virtual Win32Error CheckWriters(FileRef folder,
                                                  std::string_view name) noexcept = 0;
    // Moves the entry the handle names (opened with kDelete) to `name` in the open folder `folder`
    // (FileRenameInformation with that folder as RootDirectory, never replacing): a folder moves
    // with everything below it in one rename, a link moves as the link. 183 when `name` is taken
    // in `folder`, 17 when `folder` is on another volume.
    [[nodiscard]] virtual Win32Error Rename(FileRef handle, FileRef folder,
                                            std::string_view name) noexcept = 0;
    // Rename, but a file already at `name` is replaced in the same step (FileRenameInformation
    // with ReplaceIfExists, as MoveFileEx with MOVEFILE_REPLACE_EXISTING does), so that a reader of
    // `name` finds either the old file or the new one whole. A link there is replaced as the link.
    // 5 when a folder (or a junction), a read-only file or a file in use has that name.
    [[nodiscard]] virtual Win32Error RenameReplacing(FileRef handle, FileRef folder,
                                                     std::string_view name) noexcept = 0;
    // Makes `data` the whole contents of the file `name` in the open folder `folder`, creating it
    // when missing (FILE_OVERWRITE_IF without reparse processing: a link there is replaced, never
    // followed). 267 when a folder has that name.
    [[nodiscard]] virtual Win32Error WriteWholeFile(FileRef folder, std::string_view name,
                                                    std::string_view data) noexcept = 0;
    // Adds `data` at the end of the file `name` in the open folder `folder`, creating it when
    // missing (FILE_OPEN_IF and FILE_APPEND_DATA without reparse processing: a link there is never
    // followed, 4395). What is there already is neither read nor rewritten, so a record that grows
    // by one line per event costs the line. 267 when a folder has that name.
    [[nodiscard]] virtual Win32Error AppendToFile(FileRef folder, std::string_view name,
                                                  std::string_view data) noexcept = 0;
    // The whole contents of the file `name` in the open folder `folder`, opened without reparse
    // processing. 2 when missing, 267 for a folder, 223 for a file of more than kMaxWholeFile
    // bytes.
    [[nodiscard]] virtual Win32Error ReadWholeFile(FileRef folder, std::string_view name,
                                                   std::string* data) noexcept = 0;
};

inline constexpr std::size_t kMaxWholeFile = 64u << 20;

using UniqueFileRef = UniqueHandle<FileRef, &IFileHandles::Close>;

// The port's calls by name, for what observes them one at a time: the fake machine's hooks and
// injected faults, and the measurement of the deleter's speed.
enum class HandleOp {
    kOpenFolder,
    kOpenRelative,
    kQueryFacts,
    kListFolder,
    kSetAttributes,
    kDelete,  // DeleteByHandle and DeleteIgnoringReadOnly
    kClose,
    kCreateFolder,
    kCheckProtection,
    kRename,
    kWriteWholeFile,
    kReadWholeFile,
    kQueryIdentity,
    kAppendToFile
};
inline constexpr std::size_t kHandleOpCount = static_cast<std::size_t>(HandleOp::kAppendToFile) + 1;

}  // namespace qv
