// The machine's profile list and the users' registry hives.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "port/platform.h"

namespace qv {

inline constexpr char kProfileListKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

// Appends the SID texts of all profiles, in the order the profile list enumerates them. False only
// when the profile list cannot be opened (the list is then unchanged).
bool ListProfileSids(Platform& os, std::vector<std::string>* list);
// The profile's folder: "ProfileImagePath" expanded with the tool's environment. False when the
// key or value is missing or the expansion fails or does not fit in 260 bytes.
bool ProfileFolder(Platform& os, std::string_view sidText, std::string* folder);
// The full name of the profile's hive file: the folder + "\ntuser.dat", or the path itself when it
// names a file.
bool ProfileHivePath(Platform& os, std::string_view sidText, std::string* path);
// The hive bracket. The caller sets *loadedHere to false, calls with load = true, and only when
// that returned true uses HKEY_USERS\<sidText> and calls again with load = false and the same flag.
bool SwitchUserHive(const Services& services, std::string_view sidText, bool load,
                    bool* loadedHere);

}  // namespace qv
