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

enum class RemovalOutcome {
    kDone,             // every checked pair removed
    kFailed,           // a removal failed (the walk stopped there)
    kNothingSelected,  // nothing processed
};

// `journal` (optional) notes every action; a dry run's journal makes it change nothing.
[[nodiscard]] RemovalOutcome RemoveCheckedUserData(Workspace& ws,
                                                   const std::vector<SelectedPair>& selection,
                                                   Journal* journal = nullptr);
// Deletes `name` below `parent` with all its sub keys, depth first; 0 or the first error.
[[nodiscard]] Win32Error DeleteKeyTree(IRegistry& registry, HKey parent, std::string_view name);
// Deletes, under HKEY_USERS, each key above `path` while it has no sub key left; the journal
// (optional) notes each one, and in a dry run sees what would go.
void PruneEmptyParentKeys(IRegistry& registry, std::string_view path, Journal* journal = nullptr,
                          std::string_view sid = {});

}  // namespace qv
