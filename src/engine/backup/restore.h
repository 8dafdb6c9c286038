// Undoing clean-ups from their backups: listing the runs kept, putting a run back, and purging old
// runs. Every restore and purge is written to the audit log, as a clean-up is.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_codes.h"
#include "cleanup/journal.h"
#include "engine/backup/manifest.h"
#include "engine/workspace.h"
#include "security/audit_log.h"

namespace qv {

struct KeptRun {
    std::string folder;  // the run's own folder (ANSI)
    Manifest manifest;
    std::uint64_t size = 0;  // bytes kept, over all the run's folders (MeasureKeptRuns)
    std::size_t users = 0;   // users whose data the run touched
};

// The runs in this workspace's backups folder, oldest first. A folder without a readable manifest
// is not a run and is left out. 0, or the error with which the folder cannot be read (a missing
// folder: none kept, 0).
[[nodiscard]] Win32Error ListKeptRuns(Workspace& ws, std::vector<KeptRun>* runs);
// Fills in each run's size by walking its folders (links are not entered): for a listing of the
// runs, not for a restore or a purge, which need only the manifests.
void MeasureKeptRuns(Workspace& ws, std::vector<KeptRun>* runs);

enum class RestoreOutcome {
    kRestored,  // put back
    kTaken,     // the place is taken again: both the new item and the backup stay
    kFailed,    // the system refused it; `error` says why
    kRefused,   // a folder on the way was not safe to put it into: the backup stays
    kNothing,   // nothing to put back: the run made it itself, or the action removed nothing
};
// "restored", "taken", "failed", "refused", "nothing".
const char* RestoreOutcomeName(RestoreOutcome outcome);

struct RestoredItem {
    ActionKind kind = ActionKind::kDeleteFile;
    std::string path;  // ANSI
    std::string sid;
    RestoreOutcome outcome = RestoreOutcome::kRestored;
    Win32Error error = err::kSuccess;
};

struct RestoreReport {
    Win32Error error = err::kSuccess;  // the run could not be found or read; nothing was done
    std::string run;
    std::vector<RestoredItem> items;
    bool anyTaken() const;
    bool anyFailed() const;
};

// Puts the run `run` back (a run id or a unique beginning of one; "" for the newest run), only
// for the users given by account name or SID (all when none is). Items restored before are not
// touched again; each one restored now is marked in the manifest at once, and written to `audit`
// (optional).
[[nodiscard]] RestoreReport RestoreRun(Workspace& ws, std::string_view run,
                                       const std::vector<std::string>& users, AuditLog* audit);

struct PurgeReport {
    Win32Error error = err::kSuccess;  // the backups could not be listed
    std::vector<std::string> purged;   // run ids
    std::vector<std::pair<std::string, Win32Error>> failed;
};
// Deletes the runs whose clean-up is more than `days` days old, every one of their folders; each
// run purged is written to `audit` (optional).
[[nodiscard]] PurgeReport PurgeKeptRuns(Workspace& ws, std::uint32_t days, AuditLog* audit);

}  // namespace qv
