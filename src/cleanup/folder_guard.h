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
// Whether `inner` lies strictly below `outer`. Names are compared without regard to case, as the
// file systems compare them when a `system` is given (every letter folded), else by ASCII letters.
[[nodiscard]] bool IsStrictlyInside(const PathParts& inner, const PathParts& outer,
                                    ISystem* system = nullptr);
// Whether the two name the same folder (without regard to case, as IsStrictlyInside compares).
[[nodiscard]] bool IsSameFolder(const PathParts& a, const PathParts& b, ISystem* system = nullptr);
// An absolute path with at least one folder name below its volume: a usable value for a folder
// placeholder.
[[nodiscard]] bool IsUsableFolder(std::string_view path);
// "C:", "C:\", "\\server\share" and every text without a backslash: places a walk up the folder
// tree must never try to remove.
[[nodiscard]] bool IsVolumeRootOrRelative(std::string_view path);

// A profile of the machine's profile list: its SID, its folder, and the identity of that folder,
// opened once by its path (a machine value) when it can be.
struct MachineProfile {
    std::string sid;
    std::string folder;
    bool identified = false;
    FileIdentity identity;
};
// The machine's profiles with a folder, in the profile list's order, each folder opened for its
// identity when `identify`. False when the list cannot be read.
[[nodiscard]] bool ReadMachineProfiles(Platform& os, std::vector<MachineProfile>* profiles,
                                       bool identify = true);

// The folders of other users' profiles, known by identity, so that no spelling of a path (case,
// "/", short names, doubled separators) hides them: the profile folders of the machine's profile
// list other than this user's own, and the folders inside this user's profile that hold one. No
// deleter enters the former, nor deletes or moves either whole.
struct ProfileFence {
    std::vector<FileIdentity> profiles;
    std::vector<FileIdentity> holders;
};
// Whether `identity` is one of `identities`.
[[nodiscard]] bool Holds(const std::vector<FileIdentity>& identities, const FileIdentity& identity);

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
    ProfileFence fence;
    // Compares the names of paths as the file systems do; ASCII letters only when null.
    ISystem* system = nullptr;
};
ProfileFolders ReadProfileFolders(Platform& os, std::string_view sidText);
// The user's profile folder, the other profiles' folders and their fence (without the folders
// that hold one), from a profile list read before: enough to confine the folders of his hive.
ProfileFolders ProfileOf(Platform& os, std::string_view sidText,
                         const std::vector<MachineProfile>& machine);

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
