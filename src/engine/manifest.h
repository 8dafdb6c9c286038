// The manifest of a clean-up's backup: the run and each action it took, with its result and where
// its backup lies. Stored as JSON (UTF-8); every path is written twice, as UTF-8 for the reader
// and in hexadecimal ANSI bytes, which a restore uses, so that no name changes on the way back.
#pragma once
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

std::string ManifestJson(ISystem& system, const Manifest& manifest);
// False for a text that is not a manifest.
[[nodiscard]] bool ManifestFromJson(std::string_view json, Manifest* manifest);

}  // namespace qv
