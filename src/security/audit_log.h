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
//
// A run that changes or could change something is framed by a RunRecord: a "run-start" line
// (program, version, command line, operator, mode) when it begins and a "run-end" line (exit code
// and summary) when it ends, also when it stops before acting or unwinds from an exception.
//
//   RunRecord record(log, {"clean", "all-profiles", &arguments});
//   ...
//   record.Finish(exitCode, summaryJson);  // without it, the run ends with exit code 4
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The version every run-start line names: the project's.
std::string_view AuditProgramVersion();
// The exit code a run-end line carries for a run that ended without saying how: an internal error.
inline constexpr int kAuditExitInternalError = 4;
// The most bytes of a command line (UTF-8) and of a summary (JSON text) a run line takes; a longer
// command line is cut, a longer summary left out.
inline constexpr std::size_t kAuditMaxCommandLineBytes = 8192;
inline constexpr std::size_t kAuditMaxSummaryBytes = 65536;

// What a run-start line says of the run.
struct RunStart {
    std::string_view command;  // "clean", "restore", "purge", or the dialog's "clean-up"
    std::string_view mode;     // "all-profiles" or "current-user"
    // The arguments after the program's name (ANSI), as given; none for the dialog.
    const std::vector<std::string>* arguments = nullptr;
};

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
    // The run's own lines (see RunRecord); failures are kept as Record keeps them.
    void RecordRunStart(const RunStart& start) noexcept;
    // `summaryJson`: a JSON object's text; empty, or anything but an object, gives the action
    // lines of this run counted by result ({"exitCode", "done", "failed", "refused", "skipped"}).
    void RecordRunEnd(int exitCode, std::string_view summaryJson) noexcept;

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
    // The lines RecordRunStart and RecordRunEnd write at `time`.
    std::string RunStartLine(const RunStart& start, std::int64_t time) const;
    std::string RunEndLine(int exitCode, std::string_view summaryJson, std::int64_t time) const;

  private:
    void Fail(Win32Error error) noexcept;
    // Appends a line made by `make` (opening the log when it is not open); failures are kept.
    template <typename Make>
    void Write(Make make) noexcept;
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
    // The action lines of this run by result: done, failed, refused, skipped.
    std::size_t results_[4] = {};
};

// The frame of one run in the audit log: run-start when made, run-end when finished. A run
// destroyed unfinished (an exception unwinding through it) ends with kAuditExitInternalError.
class RunRecord {
  public:
    RunRecord(AuditLog& log, const RunStart& start) noexcept;
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;
    ~RunRecord();
    // Writes run-end with `exitCode` and `summaryJson` (see AuditLog::RecordRunEnd); only the
    // first call writes.
    void Finish(int exitCode, std::string_view summaryJson = {}) noexcept;

  private:
    AuditLog& log_;
    bool finished_ = false;
};

}  // namespace qv
