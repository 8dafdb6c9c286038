// The backup of a clean-up: before a real run removes anything it keeps it, so that one command
// puts the run back.
//
// Each run has a folder "<backups>\<run id>", where <backups> is "<Common
// AppData>\Quorvane\Backups" for an administrator's run (full access for SYSTEM and the
// Administrators group alone) and
// "<Local AppData>\Quorvane\Backups" of the running user otherwise (his alone). It holds:
//   - every file and folder tree the run removed, moved there by its checked handle in one rename
//     (a profile on another volume gets the run's folder "<volume>\Quorvane\Backups\<run id>",
//     protected the same way), named by number;
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

namespace qv {

inline constexpr char kManifestName[] = "manifest.json";

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
    // manifest. `program` is the program's name as the audit log writes it. 0 or the error with
    // which no backup can be kept: the caller then removes nothing.
    [[nodiscard]] static Win32Error Begin(Workspace& ws, std::string_view runId,
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
    // The first manifest write that failed, or 0.
    Win32Error manifestError() const noexcept { return manifestError_; }

  private:
    struct VolumeFolder;
    RunBackup(Workspace& ws, std::string run);
    // The run's folder on `volume`, made on first use below the root of the volume `path` lies on.
    [[nodiscard]] Win32Error FolderOn(std::uint64_t volume, std::string_view path,
                                      VolumeFolder** folder);
    std::string NextName();
    // Writes the manifest's header, or once it is written, the lines of folders added since.
    void WriteManifest();
    void Append(const std::string& line);

    Workspace& ws_;
    std::string run_;
    std::string folder_;
    std::vector<std::unique_ptr<VolumeFolder>> volumes_;  // the first is the run's own folder
    std::unique_ptr<struct ManifestState> manifest_;
    unsigned next_ = 0;
    Win32Error manifestError_ = err::kSuccess;
};

}  // namespace qv
