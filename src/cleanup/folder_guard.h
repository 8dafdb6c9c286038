// What keeps the clean-up inside a user's own product data. The folder values of a registration
// key and the user's shell folders live in the user's hive, which the user can write, while the
// clean-up runs as an administrator: every folder taken from there is checked before anything is
// deleted in it or walked up from it.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "port/platform.h"

namespace qv {

// The value of a folder placeholder whose folder is unknown or refused. It names no place that can
// exist (a device path with no such device), so a list line built on it matches nothing, and it
// never turns a line into a path at a drive root or in the current directory.
inline constexpr char kUnknownFolder[] = "\\\\?\\qv-unknown-folder";
// The same for a placeholder that stands for a single name (the language folder, the release):
// no file name can hold "<" or ">", so a line built on it is refused before anything is opened.
inline constexpr char kRefusedName[] = "<refused>";

// An absolute path split into its volume ("C:" or "\\server\share") and its folder names.
struct PathParts {
    std::string volume;
    std::vector<std::string> names;
};

// Whether `name` is one name of a path that a file system stores: not empty, no control character,
// none of < > " | : / \, and "*" and "?" only when `wildcardsAllowed` (a search mask). Steps over
// whole characters of the code page.
[[nodiscard]] bool HoldsOnlyNameCharacters(std::string_view name, bool wildcardsAllowed);
// Splits an absolute path (trailing backslashes ignored). False for a relative path, a device path
// ("\\?\...", "\\.\..."), an empty name ("a\\b"), a name ending in "." or a blank (so also "." and
// ".."), and a name holding a wildcard, "/", ":" or another character that no file name holds.
[[nodiscard]] bool SplitAbsolutePath(std::string_view path, PathParts* parts);
// Whether `inner` lies strictly below `outer` (names compared without regard to case).
[[nodiscard]] bool IsStrictlyInside(const PathParts& inner, const PathParts& outer);
// Whether the two name the same folder (without regard to case).
[[nodiscard]] bool IsSameFolder(const PathParts& a, const PathParts& b);
// An absolute path with at least one folder name below its volume: a usable value for a folder
// placeholder.
[[nodiscard]] bool IsUsableFolder(std::string_view path);
// "C:", "C:\", "\\server\share" and every text without a backslash: places a walk up the folder
// tree must never try to remove.
[[nodiscard]] bool IsVolumeRootOrRelative(std::string_view path);

// The user's profile folder (from the machine's profile list, which the user cannot change) and
// the folders of the profile that hold other programs' data too.
struct ProfileFolders {
    bool known = false;  // false when the profile folder could not be found or is unusable
    std::string profile;
    // "AppData", "Local AppData" and "Local Settings" as the user's hive names them (and as the
    // system resolves them, when the hive spells them with "." or ".." or "/"), and the usual
    // names of these folders below the profile.
    std::vector<std::string> sharedFolders;
    // One of the hive's values names a folder that cannot be placed (a relative or device path,
    // a short name): it might be any folder of the profile, so none is deleted whole.
    bool sharedFolderUnplaced = false;
    // The folders of every other profile of the machine's profile list: one may lie inside this
    // profile's folder, and its data is not this user's.
    std::vector<std::string> otherProfiles;
};
ProfileFolders ReadProfileFolders(Platform& os, std::string_view sidText);

enum class RootFolderVerdict {
    kAllowed,
    kNotPlainPath,    // relative, UNC, device, "." or "..", wildcards, short names, ...
    kOutsideProfile,  // not strictly inside the user's profile folder (or no profile known)
    kOtherProfile,    // inside another user's profile folder, or holding one
    kSharedFolder,    // the profile folder or one of its shared folders, or above one of them
};
// Whether a product root folder of the user may be deleted whole. Links are not judged here: the
// deleter never follows one.
[[nodiscard]] RootFolderVerdict CheckRootFolder(const ProfileFolders& profile,
                                                std::string_view folder);
// Whether a folder that the user's hive names (his "AppData", his temporary folder) may be
// searched and deleted in: a local path strictly inside his own profile folder and not inside
// another profile's. kAllowed, kNotPlainPath, kOutsideProfile or kOtherProfile.
[[nodiscard]] RootFolderVerdict CheckUserFolder(const ProfileFolders& profile,
                                                std::string_view folder);
// The reason written to the debug trace for a refused folder.
const char* RefusalReason(RootFolderVerdict verdict);

}  // namespace qv
