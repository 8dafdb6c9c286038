// The plan of a clean-up: the exact actions that a selection of the scan's findings comes to, in
// the order they are carried out, and their results once applied. Building a plan changes
// nothing: it runs the clean-up against the machine as it would go, with every removal noted
// instead of done.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_codes.h"
#include "cleanup/journal.h"
#include "engine/findings.h"
#include "engine/removal.h"
#include "engine/workspace.h"

namespace qv {

struct Plan {
    std::vector<SelectedPair> selection;
    std::vector<Action> actions;
};

// What to clean: users by account name or SID text, registrations by key name
// ("OVLN-201:409"). An empty list selects everything.
struct Selection {
    std::vector<std::string> users;
    std::vector<std::string> registrations;
};
std::vector<SelectedPair> Select(const Findings& findings, const Selection& selection);

// The actions of cleaning `selection`, in order, with nothing changed on the machine (a dry run of
// the clean-up: it reads the machine and notes what it would delete).
Plan BuildPlan(Workspace& ws, const Findings& findings, const std::vector<SelectedPair>& selection);
// Cleans the plan's selection for real, recorded and kept as `run` says; the plan's actions become
// the ones taken, each with its result, and gives the removal's outcome.
[[nodiscard]] RemovalOutcome ApplyPlan(Workspace& ws, const Findings& findings, Plan* plan,
                                       const CleanupRun& run);

}  // namespace qv
