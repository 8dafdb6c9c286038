// The audit port on kernel32, advapi32 and shell32: "<ProgramData>\Quorvane\audit.jsonl", or
// "<Local AppData>\Quorvane\audit.jsonl" of the running user.
//
// Where: the machine's common application data folder (the running user's local one), as the
// shell knows it (SHGetKnownFolderPath, FOLDERID_ProgramData or FOLDERID_LocalAppData). Should the
// shell not answer, or answer a path that the ANSI code page cannot spell, the process's
// ProgramData (LOCALAPPDATA) environment variable, which the system sets to the same folder.
// Without either, Open fails with ERROR_PATH_NOT_FOUND: a log is never written to a folder guessed
// at.
//
// The folder is created with the caller's descriptor. It is then opened as itself (no link
// followed) and held open without delete sharing for as long as the log is open, so that it
// cannot be renamed or replaced in between; the log file is opened through it by name, also as
// itself, for appending only. Rotation renames the logs by their names in that folder, and the new
// log is opened with the same checks.
#pragma once
#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include <cstdint>
#include <string>

#include "port/audit.h"
#include "win32/win32_handles.h"

namespace qv::win32 {

class Win32AuditStore final : public IAuditStore {
  public:
    // The log in the machine's common application data folder.
    Win32AuditStore() = default;
    // The log in "<dataFolder>\Quorvane" instead, whatever the place: for tests, which must not
    // touch the machine's.
    explicit Win32AuditStore(std::string dataFolder) : dataFolder_(std::move(dataFolder)) {}

    [[nodiscard]] Win32Error Open(AuditPlace place,
                                  std::string_view folderSecurity) noexcept override;
    [[nodiscard]] Win32Error Append(std::string_view utf8Line) noexcept override;
    void Close() noexcept override;
    std::string LogPath() const override;

  private:
    [[nodiscard]] Win32Error QuorvaneFolder(std::string* folder) const noexcept;
    // Opens the log file in the folder held open, refusing a link or a second name.
    [[nodiscard]] Win32Error OpenLog() noexcept;
    // Rotates the logs when `adding` bytes would take the log past rotateBytes_ (see the port);
    // the log is then closed, for Append to open again.
    void RotateBefore(std::uint64_t adding) noexcept;

    std::string dataFolder_;  // empty: the shell's folder of place_
    AuditPlace place_ = AuditPlace::kMachine;
    std::string folderPath_;  // the folder held open, in the system's text
    std::uint64_t rotateBytes_ = kAuditRotateBytes;
    UniqueKernelHandle folder_;
    UniqueKernelHandle log_;
};

}  // namespace qv::win32
