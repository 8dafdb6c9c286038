// What a scan finds, and what a front end hands back to clean: plain values, in the order the
// scan met them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/win32_codes.h"

namespace qv {

// A key time: seconds since 1970, after the round trip through local time.
using KeyTime = std::int64_t;

enum class StaleReason {
    kMachineKeyMissing,  // the machine has no registration of that path (uninstalled)
    kReinstalled,        // the machine's registration is more than a minute newer
};

enum class ProfileState {
    kInPlace,     // the hive was loaded already (a logged-on user, a service account)
    kLoaded,      // the scan loaded the hive and unloaded it again
    kUnreadable,  // the hive could not be made available: this user was not scanned
    // Nothing of the user is left to scan: his profile folder or hive file is gone (and his hive
    // is not loaded), or the profile list's entry is not named by a SID ("...-1001.bak"). No
    // failure: there is nothing to read.
    kAbsent,
};

struct ProfileFinding {
    std::string sid;
    ProfileState state = ProfileState::kInPlace;
    Win32Error error = err::kSuccess;  // kUnreadable: why the hive could not be made available
};

// One user's stale registration, with the evidence.
struct UserFinding {
    std::string sid;
    std::string account;  // empty when the system cannot name the SID
    std::string keyPath;  // below the user's hive root
    StaleReason reason = StaleReason::kMachineKeyMissing;
    KeyTime userOldestKeyTime = 0;     // 0 for a leftover folder not registered yet
    KeyTime machineOldestKeyTime = 0;  // 0 with kMachineKeyMissing
    // The registration's folder values as the user's hive holds them (not checked: the clean-up
    // confines them before it acts on them).
    std::string roamingFolder;
    std::string localFolder;
    // Leftover folders found by a scan that writes nothing: the key is not in the hive yet.
    bool leftover = false;
};

// A registration as the dialog lists it: one label, the users who hold it.
struct RegistrationFinding {
    std::string label;
    std::string keyPath;  // of the first user who holds it
    std::string product;
    std::vector<UserFinding> users;
};

struct Findings {
    std::vector<ProfileFinding> profiles;
    std::vector<RegistrationFinding> registrations;
};

// One user's registration to clean: his own key path (two registrations may share a label).
struct SelectedPair {
    std::string registrationKeyPath;
    std::string sidText;
    // A leftover folder that a scan held in memory: its key is written first, with these values.
    bool leftover = false;
    std::string roamingFolder;
    std::string localFolder;
};

}  // namespace qv
