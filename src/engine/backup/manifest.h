// The manifest of a clean-up's backup: the run and each action it took, with its result and where
// its backup lies. Stored as JSON lines (UTF-8): a header that names the run, then one line per
// event, only ever added at the end, so that a run of n actions writes n lines and never the file
// again. Every path is written twice, as UTF-8 for the reader and in hexadecimal ANSI bytes, which
// a restore uses, so that no name changes on the way back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cleanup/journal.h"
#include "port/system.h"

namespace qv {

struct ManifestAction {
    Action action;          // texts in ANSI
    std::string account;    // the user's account, UTF-8, when known
    bool restored = false;  // put back by a restore
    std::string note;       // ASCII: what the backup of the action left out, and why
};

struct Manifest {
    std::string run;
    std::string program;
    std::int64_t time = 0;     // seconds since 1970, UTC
    std::string machine;       // UTF-8
    std::string operatorName;  // UTF-8
    std::string operatorSid;
    bool currentUser = false;          // a run that saw only the running user's registry
    std::string result = "running";    // "running", "done" or "failed"
    std::vector<std::string> folders;  // ANSI: the run's folder first, then those on other volumes
    std::vector<ManifestAction> actions;
    // The last restore: when (0: never) and by whom (UTF-8).
    std::int64_t restoredTime = 0;
    std::string restoredBy;
};

// The lines of the file, each with its line feed. The header names the run and the folders it has
// when it is written; the others are added as the run goes: an action with its result, a folder
// made on another volume, the run's end, an action (by its place among the actions) put back by a
// restore.
std::string ManifestHeaderLine(ISystem& system, const Manifest& manifest);
std::string ManifestActionLine(ISystem& system, const ManifestAction& entry);
std::string ManifestFolderLine(ISystem& system, std::string_view folder);
std::string ManifestResultLine(std::string_view result);
std::string ManifestRestoredLine(std::size_t index, std::int64_t time, std::string_view by);

// Reads a manifest file. Text after the last line feed is a line whose writing was cut off (the
// run stopped half way): it is left out, as is any line that is not a whole record. False for a
// text whose header is not a manifest's.
[[nodiscard]] bool ManifestFromText(std::string_view text, Manifest* manifest);

}  // namespace qv
