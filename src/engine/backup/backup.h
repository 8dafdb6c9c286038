// The backup of a clean-up: before a real run removes anything it keeps it, so that one command
// puts the run back.
//
// Each run has a folder "<backups>\<run id>", where <backups> is "<Common
// AppData>\Quorvane\Backups" for an administrator's run (full access for SYSTEM and the
// Administrators group alone) and
// "<Local AppData>\Quorvane\Backups" of the running user otherwise (his alone). It holds:
//   - every file and folder tree the run removed, moved there by its checked handle in one rename
//     (a profile on another volume gets the run's folder "<volume>\Quorvane\Backups\<run id>",
//     protected the same way, in an administrator's run; any other run makes nothing outside
//     the running user's own folder, and what it cannot move there stays), named by number;
//   - each registration key before its deletion: "<n>.keys.json" (what a restore writes back),
//     "<n>.reg" (a registry script to read or to import) and, in an administrator's run,
//     "<n>.hiv" (the key saved by the registry itself, with its last-write times);
//   - "manifest.json": the run and every action with its result and where its backup lies, a
//     line added after each action (see manifest.h), so that it is complete whenever the run
//     stops and a run of n actions writes n lines, not n manifests.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_codes.h"
#include "cleanup/journal.h"
#include "engine/workspace.h"
#include "security/audit_log.h"

namespace qv {

inline constexpr char kManifestName[] = "manifest.json";

// A folder of the tool's ("Quorvane" or "Backups") that an administrator's run found made or
// opened by someone else, at `from`, and moved aside to `to` ("<name>.untrusted-<UTC time>" beside
// it) before making its own; its content is never used.
struct MovedAside {
    std::string from;
    std::string to;
};

// An administrator's run: makes sure "<Common AppData>\Quorvane" and its "Backups" are the tool's
// own (only SYSTEM and the Administrators group reach them), made when missing; one found
// otherwise is moved aside and noted in *moved. A run that is not an administrator's touches
// nothing. 0 or the error.
[[nodiscard]] Win32Error ClaimMachineFolder(Workspace& ws, std::vector<MovedAside>* moved);
// Opens the audit log of a run that changes anything: the machine's for an administrator (after
// ClaimMachineFolder), the running user's own otherwise. Each folder moved aside is noted in
// *moved and written to the log. The error of the log's opening, else of the claim, or 0.
[[nodiscard]] Win32Error OpenRunAuditLog(Workspace& ws, AuditLog& log,
                                         std::vector<MovedAside>* moved);
// The audit log's line of a folder moved aside ("move-aside").
void RecordMovedAside(AuditLog& log, const MovedAside& moved);
// The operator's line of a folder moved aside (standard error, the dialog's debug trace).
std::string MovedAsideText(const MovedAside& moved);

// The folder that holds the runs' folders for this workspace (see above); empty when the shell
// folder it lies in cannot be read.
std::string BackupsFolder(Workspace& ws);
// The protection of the backups for this workspace.
FolderProtection BackupProtection(const Workspace& ws);
// Opens a folder of the backups ("...\Quorvane\Backups" or a folder below it) as a restore or a
// purge may trust it: each folder from "Quorvane" on is opened by handle, never through a link,
// and must be reached by no one beyond BackupProtection(ws). 0 or the error.
[[nodiscard]] Win32Error OpenKeptFolder(Workspace& ws, std::string_view path,
                                        UniqueFileRef* folder);

class RunBackup final : public Keeper {
  public:
    ~RunBackup() override;

    // Makes the run's folder (it must not exist) with the folders above it, and writes the first
    // manifest. An administrator's run moves a folder above it that is not the tool's own aside
    // (ClaimMachineFolder), as it does on each volume it keeps something on; each is written to
    // `audit` (optional) and kept in movedAside(). `program` is the program's name as the audit
    // log writes it. 0 or the error with which no backup can be kept: the caller then removes
    // nothing.
    [[nodiscard]] static Win32Error Begin(Workspace& ws, AuditLog* audit, std::string_view runId,
                                          std::string_view program,
                                          std::unique_ptr<RunBackup>* backup);

    [[nodiscard]] Win32Error Keep(FileRef handle, std::uint64_t volume, std::string_view path,
                                  std::string* where) noexcept override;
    // Keeps the key HKEY_USERS\<usersPath> before its deletion (see above). *where receives the
    // path of its "<n>.keys.json". 0 or the error with which the key must stay.
    [[nodiscard]] Win32Error KeepKeyTree(std::string_view usersPath, std::string* where);
    // Adds the action's line to the manifest.
    void Record(const Action& action, std::string_view account);
    // Notes the run's end in the manifest: "done" or "failed".
    void Finish(bool succeeded);

    const std::string& folder() const noexcept { return folder_; }
    const std::string& run() const noexcept { return run_; }
    // The tool's folders this run moved aside so far.
    const std::vector<MovedAside>& movedAside() const noexcept { return movedAside_; }
    // The first manifest write that failed, or 0.
    [[nodiscard]] Win32Error manifestError() const noexcept { return manifestError_; }

  private:
    struct VolumeFolder;
    RunBackup(Workspace& ws, AuditLog* audit, std::string run);
    // The run's folder on `volume`, made on first use below the root of the volume `path` lies on;
    // only in an administrator's run (17 otherwise).
    [[nodiscard]] Win32Error FolderOn(std::uint64_t volume, std::string_view path,
                                      VolumeFolder** folder);
    std::string NextName();
    // Writes the manifest's header, or once it is written, the lines of folders added since.
    void WriteManifest();
    // Writes the folders moved aside from movedAside_[from] on to audit_.
    void NoteMovedAside(std::size_t from);
    void Append(const std::string& line);

    Workspace& ws_;
    AuditLog* audit_;
    std::string run_;
    std::string folder_;
    std::vector<std::unique_ptr<VolumeFolder>> volumes_;  // the first is the run's own folder
    std::unique_ptr<struct ManifestState> manifest_;
    std::vector<MovedAside> movedAside_;
    unsigned next_ = 0;
    Win32Error manifestError_ = err::kSuccess;
};

}  // namespace qv
