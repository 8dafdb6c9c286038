// Removal of the checked users' registrations: files first, then the key subtree and the parent
// keys left without sub keys, then flush and release of the hive.
#pragma once
#include <string_view>
#include <vector>

#include "cleanup/journal.h"
#include "engine/findings.h"
#include "engine/workspace.h"
#include "port/registry.h"

namespace qv {

class AuditLog;
class RunBackup;

// What a real clean-up keeps of itself beside the removal, for the removal's length only: the
// audit log it writes each action to as it is taken, and the backup that keeps what it removes
// before it goes. Either may be absent: without a backup the clean-up deletes.
struct CleanupRun {
    AuditLog* audit = nullptr;
    RunBackup* backup = nullptr;
};

enum class RemovalOutcome {
    kDone,             // every checked pair removed
    kFailed,           // a removal failed (the walk stopped there)
    kNothingSelected,  // nothing processed
};

// `run` records and keeps what a real clean-up does; `journal` (optional) notes every action, and
// a dry run's journal makes it change nothing.
[[nodiscard]] RemovalOutcome RemoveCheckedUserData(Workspace& ws,
                                                   const std::vector<SelectedPair>& selection,
                                                   const CleanupRun& run,
                                                   Journal* journal = nullptr);
// Deletes `name` below `parent` with all its sub keys, depth first; 0 or the first error.
[[nodiscard]] Win32Error DeleteKeyTree(IRegistry& registry, HKey parent, std::string_view name);
// Deletes, under HKEY_USERS, each key above `path` while it has no sub key left; the journal
// (optional) notes each one, and in a dry run sees what would go.
void PruneEmptyParentKeys(IRegistry& registry, std::string_view path, Journal* journal = nullptr,
                          std::string_view sid = {});

}  // namespace qv
