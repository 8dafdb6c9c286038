// The plan of a clean-up: the exact actions that a selection of the scan's findings comes to, in
// the order they are carried out, and their results once applied. Building a plan changes
// nothing: it runs the clean-up against the machine as it would go, with every removal noted
// instead of done.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_codes.h"
#include "engine/findings.h"
#include "engine/workspace.h"

namespace qv {

enum class ActionKind {
    kRegisterLeftoverFolder,  // the registration key the scan found leftover folders for
    kDeleteFolderTree,        // a product folder with everything below it
    kDeleteFile,              // a file a line of the file list matches
    kRemoveEmptyFolder,       // a folder the clean-up left empty
    kDeleteKeyTree,           // the user's registration key with its sub keys
    kDeleteEmptyKey,          // a key above it left without sub keys
};
// "register-leftover-folder", "delete-folder-tree", "delete-file", "remove-empty-folder",
// "delete-key-tree", "delete-empty-key".
const char* ActionKindName(ActionKind kind);

enum class ActionResult {
    kPlanned,  // not carried out (yet)
    kDone,
    kFailed,   // the system refused it; `error` says why
    kRefused,  // not safe to act on; `reason` says why
    kSkipped,  // not tried: an earlier action of the same user failed
};
// "planned", "done", "failed", "refused", "skipped".
const char* ActionResultName(ActionResult result);

struct Action {
    ActionKind kind = ActionKind::kDeleteFile;
    // A Windows path, or a key as "HKEY_USERS\<SID>\Software\...".
    std::string path;
    std::string sid;
    ActionResult result = ActionResult::kPlanned;
    Win32Error error = err::kSuccess;
    std::string reason;
};

struct Plan {
    std::vector<Action> actions;
};

// What to clean: users by account name or SID text, registrations by key name
// ("OVLN-201:409"). An empty list selects everything.
struct Selection {
    std::vector<std::string> users;
    std::vector<std::string> registrations;
};
std::vector<SelectedPair> Select(const Findings& findings, const Selection& selection);

// The actions of cleaning `selection`, in order, with nothing changed on the machine.
Plan BuildPlan(Workspace& ws, const Findings& findings, const std::vector<SelectedPair>& selection);
// Carries the plan out, action by action, and notes each one's result. True when every action
// was done.
bool ApplyPlan(Workspace& ws, const Findings& findings, Plan* plan);

}  // namespace qv
