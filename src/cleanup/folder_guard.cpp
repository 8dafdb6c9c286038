#include "cleanup/folder_guard.h"

#include <algorithm>

#include "app/defaults.h"
#include "base/enum_names.h"
#include "base/text.h"
#include "discovery/shell_folders.h"
#include "security/profiles.h"

namespace qv {

bool HoldsOnlyNameCharacters(std::string_view name, bool wildcardsAllowed) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size(); i += text::CharLength(name, i)) {
        if (text::CharLength(name, i) == 2) continue;  // a trail byte may equal any of them
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20) return false;
        switch (c) {
            case '*':
            case '?':
                if (!wildcardsAllowed) return false;
                break;
            case '<':
            case '>':
            case '"':
            case '|':
            case ':':
            case '/':
            case '\\':
                return false;
            default:
                break;
        }
    }
    return true;
}

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A name that the file system stores as written. Windows drops trailing dots and blanks when it
// resolves a path, so "Application Data." would reach "Application Data" while comparing unequal
// to it; such names, and everything a directory search would read as a wildcard, are refused.
bool IsPlainName(std::string_view name) {
    if (!HoldsOnlyNameCharacters(name, false)) return false;
    // The last character decides, a double-byte one never ends badly.
    std::size_t last = 0;
    for (std::size_t i = 0; i < name.size(); i += text::CharLength(name, i)) last = i;
    return text::CharLength(name, last) == 2 || (name[last] != '.' && name[last] != ' ');
}

bool SplitNames(std::string_view rest, std::vector<std::string>* names) {
    std::size_t start = 0;
    for (;;) {
        std::size_t sep = text::Find(rest, '\\', start);
        std::string_view name = rest.substr(start, sep == text::npos ? text::npos : sep - start);
        if (!IsPlainName(name)) return false;
        names->emplace_back(name);
        if (sep == text::npos) return true;
        start = sep + 1;
    }
}

bool SameName(ISystem* system, std::string_view a, std::string_view b) {
    return system != nullptr ? system->EqualsIgnoringCase(a, b) : text::EqualsNoCase(a, b);
}

bool SameNames(const PathParts& a, const PathParts& b, std::size_t count, ISystem* system) {
    if (!SameName(system, a.volume, b.volume)) return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!SameName(system, a.names[i], b.names[i])) return false;
    }
    return true;
}

}  // namespace

bool SplitAbsolutePath(std::string_view path, PathParts* parts) {
    std::string trimmed = text::TrimTrailingBackslashes(path);
    std::string_view s = trimmed;
    PathParts out;
    if (s.size() >= 2 && IsAsciiLetter(s[0]) && s[1] == ':') {
        out.volume = std::string(s.substr(0, 2));
        std::string_view rest = s.substr(2);
        if (!rest.empty()) {
            // "C:name" is relative to the drive's current directory.
            if (rest[0] != '\\') return false;
            if (!SplitNames(rest.substr(1), &out.names)) return false;
        }
    } else if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        std::string_view rest = s.substr(2);
        std::size_t serverEnd = text::Find(rest, '\\');
        if (serverEnd == text::npos) return false;
        std::string_view server = rest.substr(0, serverEnd);
        rest = rest.substr(serverEnd + 1);
        std::size_t shareEnd = text::Find(rest, '\\');
        std::string_view share = rest.substr(0, shareEnd);
        // Device paths ("\\?\", "\\.\") fail here: "?" and "." are no server names.
        if (!IsPlainName(server) || !IsPlainName(share)) return false;
        out.volume = "\\\\" + std::string(server) + "\\" + std::string(share);
        if (shareEnd != text::npos && !SplitNames(rest.substr(shareEnd + 1), &out.names)) {
            return false;
        }
    } else {
        return false;
    }
    *parts = std::move(out);
    return true;
}

bool IsStrictlyInside(const PathParts& inner, const PathParts& outer, ISystem* system) {
    return inner.names.size() > outer.names.size() &&
           SameNames(inner, outer, outer.names.size(), system);
}

bool IsSameFolder(const PathParts& a, const PathParts& b, ISystem* system) {
    return a.names.size() == b.names.size() && SameNames(a, b, a.names.size(), system);
}

bool IsUsableFolder(std::string_view path) {
    PathParts parts;
    return SplitAbsolutePath(path, &parts) && !parts.names.empty();
}

bool IsVolumeRootOrRelative(std::string_view path) {
    std::string trimmed = text::TrimTrailingBackslashes(path);
    std::string_view s = trimmed;
    if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        std::size_t serverEnd = text::Find(s, '\\', 2);
        if (serverEnd == text::npos) return true;
        return text::Find(s, '\\', serverEnd + 1) == text::npos;
    }
    return text::Find(s, '\\') == text::npos;
}

namespace {

// Whether a path starts at a drive's or a share's root ("C:\", "C:/", "\\", "//").
bool IsRooted(std::string_view path) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':') return separator(path[2]);
    return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

// Where a shell folder value of the user's hive lies as the system resolves it: the value itself
// when it is a plain path, else its full path name ("." and ".." resolved, "/" a separator) when
// it starts at a drive or share root. False when the place cannot be told: a relative path (the
// tool's current folder says nothing of the user's), a device path, a short name ("APPLIC~1"),
// a name that no comparison can hold.
bool PlaceSharedFolder(IFileSystem& files, const std::string& value, std::string* folder) {
    *folder = value;
    PathParts parts;
    if (!SplitAbsolutePath(*folder, &parts)) {
        if (!IsRooted(value) || files.GetFullPathName(value, kMaxPath, folder) != err::kSuccess) {
            return false;
        }
        *folder = text::TrimTrailingBackslashes(*folder);
        if (!SplitAbsolutePath(*folder, &parts)) return false;
    }
    for (const std::string& name : parts.names) {
        if (text::Find(name, '~') != text::npos) return false;
    }
    return true;
}

// The identity of a folder that the machine names, opened by its path; false when it cannot be
// opened.
bool IdentityOf(IFileHandles& handles, const std::string& folder, FileIdentity* identity) {
    UniqueFileRef opened(handles);
    if (handles.OpenFolder(folder, opened.put()) != err::kSuccess) return false;
    return handles.QueryIdentity(opened.get(), identity) == err::kSuccess;
}

// The folders from another profile's folder up to this user's profile folder, when it lies inside
// that: each prefix of its full path opened by its path, until one is the user's own folder. The
// other profile itself is left out; nothing when the way up never meets the user's folder.
std::vector<FileIdentity> FoldersHolding(Platform& os, const std::string& other,
                                         const FileIdentity& own) {
    std::string full;
    PathParts parts;
    if (os.files.GetFullPathName(other, kMaxPath, &full) != err::kSuccess ||
        !SplitAbsolutePath(full, &parts)) {
        return {};
    }
    std::vector<FileIdentity> way;
    for (std::size_t count = parts.names.size(); count-- > 1;) {
        std::string prefix = parts.volume;
        for (std::size_t i = 0; i < count; ++i) prefix += "\\" + parts.names[i];
        FileIdentity identity;
        if (!IdentityOf(os.handles, prefix, &identity)) return {};
        if (identity == own) return way;
        way.push_back(identity);
    }
    return {};
}

}  // namespace

bool Holds(const std::vector<FileIdentity>& identities, const FileIdentity& identity) {
    return std::find(identities.begin(), identities.end(), identity) != identities.end();
}

bool ReadMachineProfiles(Platform& os, std::vector<MachineProfile>* profiles, bool identify) {
    std::vector<std::string> sids;
    if (!ListProfileSids(os, &sids)) return false;
    for (const std::string& sid : sids) {
        MachineProfile profile;
        profile.sid = sid;
        if (!ProfileFolder(os, sid, &profile.folder)) continue;
        profile.folder = text::TrimTrailingBackslashes(profile.folder);
        profile.identified = identify && IdentityOf(os.handles, profile.folder, &profile.identity);
        profiles->push_back(std::move(profile));
    }
    return true;
}

ProfileFolders ProfileOf(Platform& os, std::string_view sidText,
                         const std::vector<MachineProfile>& machine) {
    ProfileFolders result;
    result.system = &os.system;
    const MachineProfile* own = nullptr;
    for (const MachineProfile& entry : machine) {
        if (text::EqualsNoCase(entry.sid, sidText)) own = &entry;
    }
    for (const MachineProfile& entry : machine) {
        if (&entry == own || text::EqualsNoCase(entry.sid, sidText)) continue;
        result.otherProfiles.push_back(entry.folder);
        // A second entry of the list that names this user's own folder is no one else's.
        if (entry.identified &&
            !(own != nullptr && own->identified && own->identity == entry.identity)) {
            result.fence.profiles.push_back(entry.identity);
        }
    }
    if (own == nullptr || !IsUsableFolder(own->folder)) return result;
    result.known = true;
    result.profile = own->folder;
    return result;
}

ProfileFolders ReadProfileFolders(Platform& os, std::string_view sidText) {
    std::vector<MachineProfile> machine;
    (void)ReadMachineProfiles(os, &machine);
    ProfileFolders result = ProfileOf(os, sidText, machine);
    for (const char* name :
         {shell_folder::kAppData, shell_folder::kLocalAppData, shell_folder::kLocalSettings}) {
        std::string value;
        if (ReadUserShellFolder(os.registry, sidText, name, &value) != err::kSuccess ||
            value.empty()) {
            continue;
        }
        // As written, for the walk upwards, which compares full path names; and where it lies.
        result.sharedFolders.push_back(value);
        std::string folder;
        if (!PlaceSharedFolder(os.files, value, &folder)) {
            result.sharedFolderUnplaced = true;
        } else if (folder != value) {
            result.sharedFolders.push_back(folder);
        }
    }
    if (!result.known) return result;
    // The folders inside this user's profile that hold another's: none of them goes whole.
    for (const MachineProfile& entry : machine) {
        if (entry.identified && text::EqualsNoCase(entry.sid, sidText)) {
            for (const MachineProfile& other : machine) {
                if (!other.identified || other.identity == entry.identity) continue;
                for (const FileIdentity& holder :
                     FoldersHolding(os, other.folder, entry.identity)) {
                    if (!Holds(result.fence.holders, holder))
                        result.fence.holders.push_back(holder);
                }
            }
        }
    }
    // The usual places of these folders, for a hive whose shell folders are missing or point
    // elsewhere.
    for (const char* name :
         {"Application Data", "Local Settings", "Local Settings\\Application Data", "AppData",
          "AppData\\Local", "AppData\\LocalLow", "AppData\\Roaming"}) {
        result.sharedFolders.push_back(result.profile + "\\" + name);
    }
    return result;
}

namespace {

// The user's own profile folder, split; false when it is unknown.
bool Home(const ProfileFolders& profile, PathParts* home) {
    return profile.known && SplitAbsolutePath(profile.profile, home);
}

// Whether `folder` lies in the folder of another profile nested inside this user's (or is one),
// or, with `orHolds`, holds one. A profile that holds this user's profile is not in the way: a
// path inside this user's profile is his before it is the outer one's.
bool TouchesNestedProfile(const ProfileFolders& profile, const PathParts& home,
                          const PathParts& folder, bool orHolds) {
    ISystem* system = profile.system;
    for (const std::string& other : profile.otherProfiles) {
        PathParts theirs;
        if (!SplitAbsolutePath(other, &theirs) || !IsStrictlyInside(theirs, home, system)) continue;
        if (IsSameFolder(folder, theirs, system) || IsStrictlyInside(folder, theirs, system)) {
            return true;
        }
        if (orHolds && IsStrictlyInside(theirs, folder, system)) return true;
    }
    return false;
}

// A short name ("APPLIC~1") is another spelling of a folder that the comparisons would not
// recognise.
bool HasShortName(const PathParts& folder, const PathParts& home) {
    for (std::size_t i = home.names.size(); i < folder.names.size(); ++i) {
        if (text::Find(folder.names[i], '~') != text::npos) return true;
    }
    return false;
}

}  // namespace

RootFolderVerdict CheckUserFolder(const ProfileFolders& profile, std::string_view folder) {
    PathParts path;
    if (!SplitAbsolutePath(folder, &path) || path.volume[0] == '\\') {
        return RootFolderVerdict::kNotPlainPath;
    }
    PathParts home;
    if (!Home(profile, &home) || !IsStrictlyInside(path, home, profile.system)) {
        return RootFolderVerdict::kOutsideProfile;
    }
    if (HasShortName(path, home)) return RootFolderVerdict::kNotPlainPath;
    if (TouchesNestedProfile(profile, home, path, false)) return RootFolderVerdict::kOtherProfile;
    return RootFolderVerdict::kAllowed;
}

RootFolderVerdict CheckRootFolder(const ProfileFolders& profile, std::string_view folder) {
    PathParts root;
    if (!SplitAbsolutePath(folder, &root) || root.volume[0] == '\\') {
        return RootFolderVerdict::kNotPlainPath;
    }
    PathParts home;
    if (!Home(profile, &home)) return RootFolderVerdict::kOutsideProfile;
    if (IsSameFolder(root, home, profile.system)) return RootFolderVerdict::kSharedFolder;
    if (!IsStrictlyInside(root, home, profile.system)) return RootFolderVerdict::kOutsideProfile;
    if (HasShortName(root, home)) return RootFolderVerdict::kNotPlainPath;
    // A shell folder that cannot be placed might be this very folder.
    if (profile.sharedFolderUnplaced) return RootFolderVerdict::kSharedFolder;
    for (const std::string& shared : profile.sharedFolders) {
        PathParts kept;
        if (!SplitAbsolutePath(shared, &kept)) continue;
        if (IsSameFolder(root, kept, profile.system) ||
            IsStrictlyInside(kept, root, profile.system)) {
            return RootFolderVerdict::kSharedFolder;
        }
    }
    // A tree deletion takes everything below the folder: it must neither lie in another user's
    // profile nor hold one.
    if (TouchesNestedProfile(profile, home, root, true)) return RootFolderVerdict::kOtherProfile;
    return RootFolderVerdict::kAllowed;
}

// Alike on purpose: each enum has its own table of names, checked where it stands.
constexpr EnumName<RootFolderVerdict> kRefusalReasons[] = {
    {RootFolderVerdict::kAllowed, ""},
    {RootFolderVerdict::kNotPlainPath, "not a plain folder path"},
    {RootFolderVerdict::kOutsideProfile, "outside the user's profile"},
    {RootFolderVerdict::kOtherProfile, "another user's profile"},
    {RootFolderVerdict::kSharedFolder, "a folder of the profile itself"},
};
static_assert(NamesEveryValue(kRefusalReasons));

const char* RefusalReason(RootFolderVerdict verdict) {
    return NameOf(kRefusalReasons, verdict, "");
}

}  // namespace qv
