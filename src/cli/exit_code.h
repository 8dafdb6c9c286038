// The console program's exit codes, a contract that deployment engines rely on: a detection
// (scan, plan) answers 1 whenever it found stale registrations, so that the remediation runs even
// on a machine where one profile could not be read; 3 says that something could not be read or
// done.
#pragma once
#include <cstddef>

#include "cli/command_line.h"

namespace qv::cli {

enum class ExitCode : int {
    kNothingToDo = 0,    // scan/plan: nothing stale, every present profile read; clean, restore,
                         // purge, backups: everything selected done, or nothing to do
    kStaleFound = 1,     // scan/plan: stale registrations found (within the selection), also when
                         // a profile could not be read
    kNotRun = 2,         // usage error, an unusable --settings file, clean neither confirmed nor
                         // allowed by --yes: nothing was changed
    kFailed = 3,         // scan/plan: nothing stale found but a profile or the registry could not
                         // be read; otherwise an action failed or was refused, or a profile, the
                         // registry or the backups could not be read; the --output file could not
                         // be written; a system the tool does not run on
    kInternalError = 4,  // an unexpected exception, caught at the top of main
    kBusy = 5,           // another run holds the machine-wide run lock (--wait ran out)
};

// What a run came to, as far as the exit code is concerned.
struct RunOutcome {
    Command command = Command::kScan;
    bool usageError = false;          // also an unusable --settings file
    bool systemRefused = false;       // a system the tool does not run on (Windows 95, 98, Me)
    bool notConfirmed = false;        // clean without --yes: refused or not answered yes
    bool registryUnreadable = false;  // the profile list or HKEY_CURRENT_USER
    std::size_t unreadableProfiles = 0;
    std::size_t selectedUsers = 0;  // stale registrations found, within the selection
    bool actionFailed = false;      // an action failed, was refused or not tried; for backups,
                                    // restore and purge: what they read or did failed
    bool outputFailed = false;      // the --output file could not be written
    bool lockFailed = false;        // the machine's run lock could not be had: nothing was done
    bool busy = false;              // another run held the machine's run lock: nothing was done
    bool internalError = false;     // an unexpected exception
};

// The code of the run. An internal error, then a busy machine, then a run that did not start
// (2) come first; a scan or plan that found stale registrations answers 1 even when something
// could not be read; otherwise 3 when anything failed, else 0.
[[nodiscard]] ExitCode ExitCodeOf(const RunOutcome& outcome);

}  // namespace qv::cli
