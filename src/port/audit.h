// Audit port: the log of clean-ups, one line per action appended to
// "<common application data>\Quorvane\audit.jsonl" for an administrator's run (the machine's log)
// and to "<local application data>\Quorvane\audit.jsonl" of the running user for any other run,
// which never writes to the machine's folders. The folder is the tool's own and protected:
// Open creates it with the security descriptor the caller asks for, and an existing folder must
// be a plain folder (never a link) that grants no one beyond that descriptor; otherwise the log is
// refused rather than written where others could read or change it. Methods return 0 or the Win32
// error code.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "base/win32_codes.h"
#include "port/port.h"

namespace qv {

// The size at which the log is rotated, and how many rotated logs are kept.
inline constexpr std::uint64_t kAuditRotateBytes = 10 * 1024 * 1024;
inline constexpr int kAuditRotatedLogs = 5;
// The environment variable that lowers kAuditRotateBytes, for tests: a decimal count of bytes from
// 1 to kAuditRotateBytes; any other value is ignored.
inline constexpr char kAuditRotateBytesVariable[] = "QUORVANE_AUDIT_ROTATE_BYTES";

// The rotation size that a value of kAuditRotateBytesVariable gives.
inline std::uint64_t AuditRotateBytes(std::string_view value) {
    if (value.empty() || value.size() > 8) return kAuditRotateBytes;
    std::uint64_t bytes = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return kAuditRotateBytes;
        bytes = bytes * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return bytes >= 1 && bytes <= kAuditRotateBytes ? bytes : kAuditRotateBytes;
}

// Which log: the machine's (an administrator's run) or the running user's own.
enum class AuditPlace { kMachine, kCurrentUser };

class IAuditStore : public Port {
  public:
    // Makes sure the log of `place` can be written, and opens it for appending (a log that was
    // open is closed first). `folderSecurity` is the folder's security descriptor as SDDL text
    // ("D:P(A;OICI;FA;;;SY)..."): a missing folder is created with it; an existing one is kept
    // only when its owner and every trustee it allows anything are among the trustees that text
    // allows, or are the running user himself. The log file is created when missing and takes the
    // folder's inherited protection. Refused: a folder or log file that is a link or junction
    // (err::kReparsePointEncountered), a folder that grants anyone else (err::kAccessDenied), a
    // log file with more than one name (err::kAccessDenied). Other processes may read the log and
    // append to it while it is open; no one may delete or rename it.
    [[nodiscard]] virtual Win32Error Open(AuditPlace place,
                                          std::string_view folderSecurity) noexcept = 0;
    // Appends `utf8Line` and a line feed in one write at the end of the file, so that the lines of
    // two processes never mix. err::kInvalidHandle when the log is not open; err::kInvalidParameter
    // for a line holding a line feed or carriage return, which would split it.
    // Rotation: before a line that would take a log that is not empty past kAuditRotateBytes (or
    // the lower limit QUORVANE_AUDIT_ROTATE_BYTES gives, which only tests set), the log is renamed
    // "audit.1.jsonl" after "audit.1.jsonl" ... "audit.4.jsonl" have each moved one up and
    // "audit.5.jsonl" is deleted; a new log is then opened with the checks of Open and the line
    // written there. Renames never replace a file. A rotation that cannot be made (another process
    // holds the log open) is left for a later line and this one is appended to the log as it is:
    // a line is never lost nor split over two files.
    [[nodiscard]] virtual Win32Error Append(std::string_view utf8Line) noexcept = 0;
    // Closes the log; nothing when it is not open.
    virtual void Close() noexcept = 0;
    // The path (ANSI) of the log file the last Open asked for (the machine's before any), for the
    // message that reports a log that cannot be written; empty when its folder cannot be found.
    virtual std::string LogPath() const = 0;
};

}  // namespace qv
