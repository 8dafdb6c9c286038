// The console program's exit codes, a contract that deployment engines rely on. Where several
// apply, the highest wins.
#pragma once
#include <cstddef>

#include "cli/command_line.h"

namespace qv::cli {

enum class ExitCode : int {
    kNothingToDo = 0,  // scan/plan: nothing stale, every profile read; clean: all selected removed
    kStaleFound = 1,   // scan/plan: stale registrations found (within the selection)
    kNotRun = 2,       // usage error; clean neither confirmed nor allowed by --yes
    kFailed = 3,       // a profile or the registry could not be read; an action failed or refused
    kBusy = 5,         // another run holds the machine (its run lock), after --wait
};

// What a run came to, as far as the exit code is concerned.
struct RunOutcome {
    Command command = Command::kScan;
    bool usageError = false;
    bool systemRefused = false;       // a system the tool does not run on (Windows 95, 98, Me)
    bool notConfirmed = false;        // clean without --yes: refused or not answered yes
    bool registryUnreadable = false;  // the profile list or HKEY_CURRENT_USER
    std::size_t unreadableProfiles = 0;
    std::size_t selectedUsers = 0;  // stale registrations found, within the selection
    bool actionFailed = false;      // clean: an action failed, was refused or not tried
    bool lockFailed = false;        // the machine's run lock could not be had: nothing was done
    bool busy = false;              // another run held the machine's run lock: nothing was done
};

[[nodiscard]] ExitCode ExitCodeOf(const RunOutcome& outcome);

}  // namespace qv::cli
