// The audit log of a clean-up: one JSON line per action, appended to the machine's audit log
// (IAuditStore), or to the running user's own in a run that is not an administrator's, saying when,
// on which machine, by whom, to whose data, what was done, where and how it ended. One AuditLog is
// one clean-up: every line it writes carries the same run id.
//
//   AuditLog log(os, kAuditProgramDialog);
//   Win32Error e = log.Open(AuditPlace::kMachine);  // e: tell the operator; the clean-up goes on
//   for (...) log.Record({ActionKindName(a.kind), a.path, a.sid, account, ...});
//   if (log.failed()) ... report log.firstError() and log.path() ...
//
// A log that cannot be written never stops a clean-up: each Record tries again (opening the log
// when it is not open), and the first failure is kept for the caller to report.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/win32_codes.h"
#include "port/platform.h"

namespace qv {

// The log folder's protection: full access for SYSTEM and the Administrators group, inherited by
// the log file, and nothing inherited from the folder above it.
inline constexpr char kAuditFolderSecurity[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The protection of the running user's own log folder: full access for him ("<SID>" is his) and for
// SYSTEM and the Administrators group, who reach everything anyway; no other user.
inline constexpr char kUserAuditFolderSecurity[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;<SID>)";

// The name each program writes as "program".
inline constexpr char kAuditProgramDialog[] = "quorvane";
inline constexpr char kAuditProgramConsole[] = "quorvane-cli";

// One action as the log records it. Texts are ANSI, as the engine has them; the log writes them
// as UTF-8. Empty texts and a zero error are left out of the line.
struct AuditEntry {
    std::string_view action;       // "delete-file", ...
    std::string_view path;         // a Windows path, or a key as "HKEY_USERS\<SID>\..."
    std::string_view userSid;      // the user whose data the action touched
    std::string_view userAccount;  // that user's account, when known
    std::string_view result;       // "done", "failed", "refused", ...
    Win32Error error = err::kSuccess;
    std::string_view reason;  // why it was refused
};

class AuditLog {
  public:
    AuditLog(Platform& os, std::string program);
    AuditLog(const AuditLog&) = delete;
    AuditLog& operator=(const AuditLog&) = delete;
    // Closes the machine's log.
    ~AuditLog();

    // Starts the run: a new run id, the machine's name and the operator (the user of the
    // process's token), then opens the log of `place`: the machine's, protected by
    // kAuditFolderSecurity, or the running user's (kUserAuditFolderSecurity). A failure is also
    // kept as firstError().
    [[nodiscard]] Win32Error Open(AuditPlace place);
    // Appends the line of one action; a failure is kept, never thrown, and the next Record tries
    // again.
    void Record(const AuditEntry& entry) noexcept;

    bool failed() const { return firstError_ != err::kSuccess; }
    [[nodiscard]] Win32Error firstError() const { return firstError_; }
    // Lines that could not be written.
    std::size_t unwritten() const { return unwritten_; }
    // The id all lines of this run carry: 32 hexadecimal digits.
    const std::string& run() const { return run_; }
    // The log file's path (ANSI), for the report of a log that cannot be written.
    std::string path() const { return os_.audit.LogPath(); }

    // The line Record writes for `entry` at `time` (UTF-8, no line feed).
    std::string Line(const AuditEntry& entry, std::int64_t time) const;

  private:
    void Fail(Win32Error error) noexcept;
    [[nodiscard]] Win32Error OpenStore() noexcept;

    Platform& os_;
    std::string program_;
    std::string run_;
    std::string machine_;   // UTF-8
    std::string operator_;  // UTF-8
    std::string operatorSid_;
    AuditPlace place_ = AuditPlace::kMachine;
    bool open_ = false;
    Win32Error firstError_ = err::kSuccess;
    std::size_t unwritten_ = 0;
};

}  // namespace qv
