// Filling the tree with the stale product registrations of every profile (administrator) or of
// the running user.
#pragma once
#include <cstdint>
#include <string_view>

#include "port/registry.h"
#include "ui/workspace.h"

namespace qv {

// A key time: seconds since 1970, after the round trip through local time.
using KeyTime = std::int64_t;

bool PopulateTree(Workspace& ws, std::string_view company, std::string_view product,
                  std::string_view release);
// Always true.
bool PopulateAllProfiles(Workspace& ws, std::string_view company, std::string_view product,
                         std::string_view release);
// False only when HKEY_CURRENT_USER cannot be opened.
bool PopulateCurrentUser(Workspace& ws, std::string_view company, std::string_view product,
                         std::string_view release);
// True when the machine lacks the registration or its oldest key is more than 60 seconds newer
// than the oldest key of the user's registration.
bool IsStaleRegistration(Platform& os, std::string_view registrationKeyPath,
                         HKey userRegistrationKey);
// The oldest last-write time of the key and its whole subtree.
KeyTime OldestKeyTime(Platform& os, HKey key);
// Adds a user item (and its registration item when the label is new); false when the account
// name cannot be found.
bool AddRegistrationItem(Workspace& ws, std::string_view product,
                         std::string_view registrationKeyName,
                         std::string_view registrationKeyPath, std::string_view sidText);

}  // namespace qv
