#include "fake/fake_files.h"

#include <algorithm>
#include <list>
#include <map>
#include <stdexcept>
#include <unordered_map>

#include "base/text.h"
#include "fake/fake_case.h"

namespace qv::fake {
namespace {

// ERROR_CANT_RESOLVE_FILENAME: a chain of junctions that does not end (a link to itself or to
// one of its own ancestors reached through the path).
constexpr Win32Error kCantResolveFilename = 1921;
constexpr int kMaxJunctionDepth = 32;
// ERROR_FILENAME_EXCED_RANGE: the ANSI file functions convert the name into a buffer of MAX_PATH
// (260) UTF-16 characters, its NUL included, before anything else happens.
constexpr Win32Error kFilenameExcedRange = 206;
constexpr std::size_t kMaxPath = 260;

// Attribute bits that setup may store; directory and reparse point follow from the entry's kind,
// and FILE_ATTRIBUTE_NORMAL only ever means "no other attribute".
constexpr std::uint32_t kStoredAttributes = ~(fa::kDirectory | fa::kReparsePoint | fa::kNormal);
constexpr std::uint32_t kReparseTagMountPoint = 0xA0000003u;  // IO_REPARSE_TAG_MOUNT_POINT
constexpr std::uint32_t kSettableAttributes =
    fa::kReadOnly | fa::kHidden | fa::kSystem | fa::kArchive;

// ---------------------------------------------------------------------------------------------
// Names

// Characters the system refuses in a file name: control characters (NUL among them), the
// reserved "<>\"|:" and, outside a search mask, the wildcards. A trail byte may equal one of them
// ('|' is 0x7C), so the scan steps over whole characters.
bool HasInvalidNameChar(std::string_view name, bool allowWildcards) {
    const std::string_view refused = allowWildcards ? "<>\"|:" : "<>\"|:*?";
    for (std::size_t i = 0; i < name.size(); i += text::CharLength(name, i)) {
        const bool control = static_cast<unsigned char>(name[i]) < 0x20;
        if (text::CharLength(name, i) == 1 && (control || refused.find(name[i]) != text::npos)) {
            return true;
        }
    }
    return false;
}

// A component of a relative name that names no entry of its folder: nothing, the folder itself,
// its parent, or a name the system refuses.
bool BadComponent(std::string_view part) {
    return part.empty() || part == "." || part == ".." || HasInvalidNameChar(part, false);
}

// The Windows adapter refuses a text with a NUL inside before the system sees it (the system
// would read it cut short and name another file), with 123; the fake answers as it does.
bool HoldsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// What the ANSI file functions answer for a name before they look for it: an empty one 3 (what
// Wine does; no Windows test settles it), one holding a NUL 123, one too long 206 (a double-byte
// character becomes one UTF-16 character, so the limit counts characters).
Win32Error CheckAnsiName(std::string_view path) {
    if (path.empty()) return err::kPathNotFound;
    if (HoldsNul(path)) return err::kInvalidName;
    if (CharCount(path) + 1 > kMaxPath) return kFilenameExcedRange;
    return err::kSuccess;
}

// ---------------------------------------------------------------------------------------------
// Wildcards, as FindFirstFileA matches them.
//
// The system turns the mask into its DOS form before the file system compares names: "*.*" is
// "*"; "?" becomes DOS_QM, which matches one character but matches nothing at a "." or at the end
// of the name (so "a?.txt" also finds "a.txt"); a "." before "?", "*" or at the end becomes
// DOS_DOT, which matches a "." or the end of the name (so "*.*" finds "README" and "name." finds
// "name"); a "*" before "." becomes DOS_STAR, which matches anything up to the name's last ".".
// Matching folds case. This volume has no 8.3 short names, which on Windows can match too.
// (Wine's search takes "?" as exactly one character and "*." as "*"; the contract test allows
// for both.)

std::vector<std::string_view> Characters(std::string_view s) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < s.size(); i += text::CharLength(s, i)) {
        out.push_back(s.substr(i, text::CharLength(s, i)));
    }
    return out;
}

bool MaskMatches(std::string_view mask, std::string_view name) {
    const std::vector<std::string_view> m = Characters(mask == "*.*" ? "*" : mask);
    const std::vector<std::string_view> n = Characters(name);
    // Where DOS_STAR stops: the name's last "." (without one, nowhere).
    const auto dot = std::find(n.rbegin(), n.rend(), std::string_view("."));
    const std::size_t lastDot = static_cast<std::size_t>(n.rend() - dot) - 1;
    // Whether the mask from its p-th character on matches the name from its i-th, remembered.
    std::vector<signed char> known((m.size() + 1) * (n.size() + 1), -1);
    std::function<bool(std::size_t, std::size_t)> match = [&](std::size_t p, std::size_t i) {
        signed char& k = known[p * (n.size() + 1) + i];
        if (k >= 0) return k == 1;
        const std::string_view next = p + 1 < m.size() ? m[p + 1] : std::string_view();
        const bool more = i < n.size();
        bool r = false;
        if (p == m.size()) {
            r = !more;
        } else if (m[p] == "*") {  // DOS_STAR before a ".": it stops at the name's last "."
            r = match(p + 1, i) || (more && !(next == "." && i == lastDot) && match(p, i + 1));
        } else if (m[p] == "?") {  // DOS_QM
            r = more && n[i] != "." ? match(p + 1, i + 1) : match(p + 1, i);
        } else if (m[p] == "." && (next.empty() || next == "?" || next == "*")) {  // DOS_DOT
            r = more ? n[i] == "." && match(p + 1, i + 1) : match(p + 1, i);
        } else {
            r = more && UpperCaseCp932(n[i]) == UpperCaseCp932(m[p]) && match(p + 1, i + 1);
        }
        k = r ? 1 : 0;
        return r;
    };
    return match(0, 0);
}

// ---------------------------------------------------------------------------------------------
// Full paths, as GetFullPathNameA makes them.

struct FullPath {
    std::string root;  // "C:" or "\\server\share"
    std::vector<std::string> parts;
    bool trailingSeparator = false;

    bool IsDriveRoot() const { return parts.empty(); }

    std::string Text() const {
        std::string out = root;
        for (const std::string& part : parts) out += "\\" + part;
        // A drive's root keeps its "\" ("C:\"); a share's root only when the path has it.
        if (trailingSeparator || (parts.empty() && root[0] != '\\')) out += '\\';
        return out;
    }
};

// "/" is a separator as well as "\"; the scan steps over whole characters, so the second byte of
// a double-byte character (0x5C in many Shift-JIS names) stays part of its name.
std::string ToBackslashes(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); i += text::CharLength(out, i)) {
        if (out[i] == '/') out[i] = '\\';
    }
    return out;
}

std::vector<std::string> SplitAtBackslashes(std::string_view s) {
    std::vector<std::string> out;
    for (std::size_t start = 0;;) {
        const std::size_t end = text::Find(s, '\\', start);
        out.emplace_back(s.substr(start, end - start));
        if (end == text::npos) return out;
        start = end + 1;
    }
}

bool EndsWithBackslash(std::string_view s) {
    return !s.empty() && text::FindLast(s, '\\') == s.size() - 1;
}

// Adds relative components: empty ones (repeated separators) and "." are dropped, ".." goes up
// but never above the root.
void Append(FullPath& p, std::string_view rest) {
    if (rest.empty()) return;
    for (std::string& part : SplitAtBackslashes(rest)) {
        if (part == ".." && !p.parts.empty()) p.parts.pop_back();
        if (!part.empty() && part != "." && part != "..") p.parts.push_back(std::move(part));
    }
    p.trailingSeparator = EndsWithBackslash(rest);
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "X:\..." or "\\server\share\...", already with backslashes.
std::optional<FullPath> ParseAbsolute(std::string_view s) {
    FullPath p;
    if (s.size() >= 3 && IsDriveLetter(s[0]) && s[1] == ':' && s[2] == '\\') {
        p.root = std::string(s.substr(0, 2));
        Append(p, s.substr(3));
        return p;
    }
    if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        std::vector<std::string> parts = SplitAtBackslashes(s.substr(2));
        if (parts[0].empty()) return std::nullopt;
        p.root = "\\\\" + parts[0];
        if (parts.size() > 1 && !parts[1].empty()) p.root += "\\" + parts[1];
        Append(p, s.substr(std::min(s.size(), p.root.size() + 1)));  // the rest after the root
        return p;
    }
    return std::nullopt;
}

// Relative paths are taken against the process's current directory: "name" and "..\name" below
// it, "\name" on its drive, "X:name" below it when it is on drive X and else below X's root
// (the fake keeps no per-drive current directories). Windows drops trailing dots and spaces from
// the last component ("C:\a.txt." names "C:\a.txt") where `trimLast` asks for it; a component
// left empty by that goes away.
std::optional<FullPath> MakeFullPath(std::string_view path, std::string_view currentDir,
                                     bool trimLast) {
    if (path.empty()) return std::nullopt;
    const std::string s = ToBackslashes(path);
    std::optional<FullPath> result = ParseAbsolute(s);
    if (!result && s.size() >= 2 && s[0] == '\\' && s[1] == '\\') return std::nullopt;
    if (!result) {
        result = ParseAbsolute(ToBackslashes(currentDir));
        if (!result) return std::nullopt;
        result->trailingSeparator = false;
        std::string_view rest = s;
        if (s.size() >= 2 && IsDriveLetter(s[0]) && s[1] == ':') {
            if (!text::EqualsNoCase(result->root, rest.substr(0, 2))) {
                result = FullPath{s.substr(0, 2), {}, false};
            }
            rest.remove_prefix(2);
        } else if (s[0] == '\\') {
            result->parts.clear();
            rest.remove_prefix(1);
        }
        Append(*result, rest);
    }
    if (trimLast && !result->trailingSeparator && !result->parts.empty()) {
        std::string& last = result->parts.back();
        while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.pop_back();
        if (last.empty()) result->parts.pop_back();
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// The tree of entries

// File indexes as a volume hands them out: never two entries alike.
std::uint64_t NextFileIndex() {
    static std::uint64_t last = 0x10000;
    return ++last;
}

struct Node {
    enum class Kind { kFolder, kFile, kJunction };

    Node(std::string_view entryName, Kind entryKind, std::string_view data = {})
        : name(entryName), kind(entryKind), contents(data) {}

    std::string name;
    Kind kind = Kind::kFolder;
    std::uint32_t attributes = 0;  // kStoredAttributes bits only
    bool inUse = false;
    std::string contents;
    std::string target;  // junction: full path of the folder it points to
    Node* parent = nullptr;
    std::uint64_t volumeSerial = 0;  // of the drive the entry was made on
    // The entry's file index: its own for as long as it lives, kept through renames and moves.
    std::uint64_t fileIndex = NextFileIndex();
    bool unlinked = false;  // taken out of the tree: see Deleted
    // The access list the entry carries (see FakeFileSystem::Protection); set when it is added to
    // its first folder and kept from then on.
    std::optional<FolderProtection> protection;
    std::string owner;  // the SID of the user who made it; empty: the machine's (see SetOwner)
    // Entries in the order they were created: this volume returns them unsorted, in creation
    // order, as a FAT volume does (NTFS would sort them; callers must not rely on either). A list,
    // so that taking one out costs the same however many there are, as on a real volume.
    std::list<std::unique_ptr<Node>> children;
    std::list<std::unique_ptr<Node>>::iterator place;  // in its parent's children
    std::unordered_map<std::string, Node*> index;      // UpperCaseCp932(name) -> child

    // Frees the entries below one by one: a recursion of the children's destructors would take a
    // frame per level of the tree.
    ~Node() {
        while (!children.empty()) {
            std::unique_ptr<Node> last = std::move(children.back());
            children.pop_back();
            children.splice(children.end(), last->children);
        }
    }

    bool IsFolder() const { return kind == Kind::kFolder; }
    bool IsFile() const { return kind == Kind::kFile; }
    bool IsJunction() const { return kind == Kind::kJunction; }

    Node* Child(std::string_view childName) const {
        auto it = index.find(UpperCaseCp932(childName));
        return it == index.end() ? nullptr : it->second;
    }

    Node* Add(std::unique_ptr<Node> child) {
        child->parent = this;
        child->volumeSerial = volumeSerial;
        if (!child->protection)
            child->protection = protection.value_or(FolderProtection::kInherited);
        Node* raw = child.get();
        index[UpperCaseCp932(raw->name)] = raw;
        raw->place = children.insert(children.end(), std::move(child));
        return raw;
    }

    // Takes the child out of this folder and hands it over: an open handle may still name it.
    std::unique_ptr<Node> Detach(Node* child) {
        index.erase(UpperCaseCp932(child->name));
        std::unique_ptr<Node> out = std::move(*child->place);
        children.erase(child->place);
        return out;
    }

    // Moves the entry into `folder` under `newName`; handles open on it go on naming it.
    void MoveTo(Node* folder, std::string_view newName) {
        std::unique_ptr<Node> self = parent->Detach(this);
        name = std::string(newName);
        folder->Add(std::move(self));
    }

    // No longer reachable by any path (it or a folder above it was taken out of the tree); a
    // handle may still name it.
    bool Deleted() const {
        for (const Node* n = this; n != nullptr; n = n->parent) {
            if (n->unlinked) return true;
        }
        return false;
    }

    std::uint32_t Attributes() const {
        if (IsFile()) return attributes != 0 ? attributes : fa::kArchive;
        return fa::kDirectory | (IsJunction() ? fa::kReparsePoint : 0) | attributes;
    }

    // The full path of the entry, from its drive down.
    std::string Path() const { return parent != nullptr ? parent->Path() + "\\" + name : name; }
};

}  // namespace

struct FakeFileSystem::State {
    std::map<std::string, std::unique_ptr<Node>> drives;  // "C:" -> root
    std::function<std::string()> current;
    // Searches take a snapshot of the folder when they start (the entries still to come, the
    // next one last); handles are never reused.
    std::map<FindHandle, std::vector<FolderEntry>> searches;
    FindHandle nextHandle = 0x1000;
    std::vector<std::unique_ptr<Node>> graveyard;  // entries taken out of the tree
    // Handles of the handle port: the entry and what it was opened for.
    struct Open {
        Node* node = nullptr;
        std::uint32_t intent = 0;
    };
    std::map<FileRef, Open> opens;
    FileRef nextRef = 0x2000;
    FakeFileSystem::HandleHook hook;
    FakeFileSystem* owner = nullptr;  // whose injected faults the calls take
    bool recording = false;
    std::vector<std::string> reached;

    void Reached(std::string_view path) {
        if (recording) reached.emplace_back(path);
    }

    Win32Error FaultOf(HandleOp op, std::string_view name) { return owner->TakeFault(op, name); }

    std::string CurrentDirectory() const { return current ? current() : std::string("C:\\"); }

    std::optional<FullPath> Full(std::string_view path, bool trimLast) const {
        return MakeFullPath(path, CurrentDirectory(), trimLast);
    }

    Node* Drive(std::string_view root) const {
        auto it = drives.find(text::FoldCase(root));
        return it == drives.end() ? nullptr : it->second.get();
    }

    Node* EnsureDrive(std::string_view root) {
        auto& drive = drives[text::FoldCase(root)];
        if (!drive) {
            drive = std::make_unique<Node>(root, Node::Kind::kFolder);
            // Each volume has a serial number of its own.
            drive->volumeSerial = 0x5EC0000u + drives.size();
        }
        return drive.get();
    }

    Open* Held(FileRef handle) {
        auto it = opens.find(handle);
        return it == opens.end() ? nullptr : &it->second;
    }

    // Takes an entry out of the tree. Its node lives on while the file system does: a handle
    // opened on it (or below it) goes on naming it, as a handle on Windows names the file, not
    // the path.
    void Unlink(Node* n) {
        graveyard.push_back(n->parent->Detach(n));
        n->unlinked = true;
    }

    // The entries a search of `folder` with `mask` returns, in order: "." and ".." first except
    // in a drive root, then the children in creation order. No entry has a short name.
    std::vector<FolderEntry> Matches(const Node& folder, bool driveRoot,
                                     std::string_view mask) const {
        std::vector<FolderEntry> entries;
        if (!driveRoot && MaskMatches(mask, ".")) entries.push_back({folder.Attributes(), "."});
        if (!driveRoot && MaskMatches(mask, "..")) {
            entries.push_back({folder.parent ? folder.parent->Attributes() : fa::kDirectory, ".."});
        }
        // A junction opened as itself is the empty folder that carries the link.
        if (folder.IsJunction()) return entries;
        for (const auto& c : folder.children) {
            if (!MaskMatches(mask, c->name)) continue;
            entries.push_back({c->Attributes(), c->name, c->IsFile() ? c->contents.size() : 0});
        }
        return entries;
    }

    // Follows the junction `*n` to the folder it leads to (a chain of them to its end). No
    // product test goes through a link, but the fake must: a tool that wrongly followed one would
    // otherwise find nothing behind it, and its tests could not see the fault.
    Win32Error Follow(Node** n, int depth = 0) const {
        for (; (*n)->IsJunction(); ++depth) {
            if (depth >= kMaxJunctionDepth) return kCantResolveFilename;
            // The target was made a full path when the junction was added.
            const Win32Error e = Resolve(*ParseAbsolute((*n)->target), n, depth + 1);
            if (e != err::kSuccess) return e == kCantResolveFilename ? e : err::kPathNotFound;
        }
        return err::kSuccess;
    }

    // Walks `parts` down from the entry `*n`, as the system parses a name: each folder on the way
    // is reparsed (a junction followed), the entry at the end is not, nor `*n` itself, which is
    // taken as it was opened. 123 for a component that names no entry (see BadComponent), 2 when
    // the last entry is missing, 3 when a folder on the way is missing or is a file.
    Win32Error Walk(Node** n, const std::vector<std::string>& parts, int depth = 0) const {
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (BadComponent(parts[i])) return err::kInvalidName;
            if (i > 0) {
                if (Win32Error e = Follow(n, depth)) return e;
                if ((*n)->IsFile()) return err::kPathNotFound;
            }
            // A file has no entries; a junction opened as itself is an empty folder.
            Node* child = (*n)->IsFolder() ? (*n)->Child(parts[i]) : nullptr;
            if (child == nullptr) {
                return i + 1 == parts.size() ? err::kFileNotFound : err::kPathNotFound;
            }
            *n = child;
        }
        return err::kSuccess;
    }

    // The entry the full path `p` names; a junction at the end is not followed.
    Win32Error Resolve(const FullPath& p, Node** n, int depth = 0) const {
        *n = Drive(p.root);
        return *n != nullptr ? Walk(n, p.parts, depth) : err::kPathNotFound;
    }

    // The entry a path of a test or an ANSI call names (trailing dots and spaces dropped); null
    // when it names nothing, as "C:\file.txt\" does: a trailing separator asks for a folder.
    Node* Entry(std::string_view path) const {
        std::optional<FullPath> p = Full(path, true);
        Node* n = nullptr;
        if (!p || Resolve(*p, &n) != err::kSuccess) return nullptr;
        return p->trailingSeparator && n->IsFile() ? nullptr : n;
    }

    // The folder `p` names, junctions followed, for a search or an open of it: the error of the
    // path, or 267 when it names a file.
    Win32Error OpenFolderAt(const FullPath& p, Node** folder) const {
        if (Win32Error e = Resolve(p, folder)) return e;
        if (Win32Error e = Follow(folder)) return e;
        return (*folder)->IsFile() ? err::kDirectory : err::kSuccess;
    }

    // The folder `p` names, junctions followed; null when it names no folder.
    Node* FolderAt(const FullPath& p) const {
        Node* n = nullptr;
        return OpenFolderAt(p, &n) == err::kSuccess ? n : nullptr;
    }

    // Where a relative name leads from the open entry `start`, as a create or a rename through a
    // root folder handle parses it: the folder that is to hold the last component (folders on the
    // way reparsed as in any open) and that component. 123 for a component that names no entry,
    // 3 when a folder on the way is missing, 5 when the folder is deleted (STATUS_DELETE_PENDING)
    // or a junction opened as itself (unverified: the fake keeps such a link empty), 267 when
    // `start` is a file (unverified).
    Win32Error ParentOf(Node* start, std::string_view name, Node** folder,
                        std::string* last) const {
        std::vector<std::string> parts = SplitAtBackslashes(name);
        if (std::any_of(parts.begin(), parts.end(), BadComponent)) return err::kInvalidName;
        *last = std::move(parts.back());
        parts.pop_back();
        *folder = start;
        if (!parts.empty()) {
            const Win32Error e = Walk(folder, parts);
            if (e != err::kSuccess) return e == err::kFileNotFound ? err::kPathNotFound : e;
            if (Win32Error f = Follow(folder)) return f;
        }
        if ((*folder)->IsFile()) return err::kDirectory;
        if ((*folder)->IsJunction() || (*folder)->Deleted()) return err::kAccessDenied;
        return err::kSuccess;
    }

    // The start of a call of `op` on the entry `name` in the open folder `folder`: the hook, the
    // folder and last name that `name` leads to (see ParentOf), and the fault injected there.
    Win32Error Below(FileRef folder, HandleOp op, std::string_view name, Node** parent,
                     std::string* last) {
        const Open* open = Held(folder);
        if (open == nullptr) return err::kInvalidHandle;
        if (hook) hook(op, name);
        if (Win32Error e = ParentOf(open->node, name, parent, last)) return e;
        return FaultOf(op, *last);
    }

    // The start of a call of `op` on the entry the handle names: the hook, the access the handle
    // must have been opened with (`need`, of open_intent), and the fault injected there.
    Win32Error Enter(FileRef handle, HandleOp op, Node** node, std::uint32_t need = 0) {
        const Open* open = Held(handle);
        if (open == nullptr) return err::kInvalidHandle;
        *node = open->node;
        if (hook) hook(op, (*node)->name);
        if ((open->intent & need) != need) return err::kAccessDenied;
        return FaultOf(op, (*node)->name);
    }

    // The disposition of the entry the handle names; with `ignoreReadOnly` a read-only entry goes
    // too.
    Win32Error Delete(FileRef handle, bool ignoreReadOnly) {
        Node* n = nullptr;
        if (Win32Error e = Enter(handle, HandleOp::kDelete, &n, open_intent::kDelete)) return e;
        if (n->Deleted()) return err::kSuccess;  // already gone: the disposition is set again
        if (n->parent == nullptr) return err::kAccessDenied;  // a volume's root folder
        // STATUS_CANNOT_DELETE for a read-only entry, STATUS_DIRECTORY_NOT_EMPTY for a folder
        // with entries; a junction goes as the link whatever its target holds.
        if ((n->attributes & fa::kReadOnly) != 0 && !ignoreReadOnly) return err::kAccessDenied;
        if (n->IsFolder() && !n->children.empty()) return err::kDirNotEmpty;
        Unlink(n);
        return err::kSuccess;
    }

    // FileRenameInformation: with `replace`, a file at the name is replaced (its node lives on for
    // a handle that still names it); a folder or a junction there, a read-only file or one in use
    // is refused with 5, as Windows refuses to replace them.
    Win32Error Rename(FileRef handle, FileRef folder, std::string_view name, bool replace) {
        const Open* to = Held(folder);
        if (to == nullptr) return err::kInvalidHandle;
        Node* n = nullptr;
        // The old name goes away: the handle needs DELETE access.
        if (Win32Error e = Enter(handle, HandleOp::kRename, &n, open_intent::kDelete)) return e;
        // An entry whose name is gone (deleted) and a volume's root folder have no name to change.
        if (n->Deleted() || n->parent == nullptr) return err::kAccessDenied;
        Node* target = nullptr;
        std::string last;
        if (Win32Error e = ParentOf(to->node, name, &target, &last)) return e;
        if (target->volumeSerial != n->volumeSerial) return err::kNotSameDevice;
        // A folder cannot move into itself or below itself. The code differs between systems
        // (Wine answers 2) and no Windows test settles it; callers only see a refusal.
        for (const Node* up = target; up != nullptr; up = up->parent) {
            if (up == n) return err::kInvalidParameter;
        }
        // Its own name in its own folder (another case of it) is a rename of the name alone.
        Node* taken = target->Child(last);
        if (taken != nullptr && taken != n) {
            if (!replace) return err::kAlreadyExists;
            if (!taken->IsFile() || (taken->attributes & fa::kReadOnly) != 0 || taken->inUse) {
                return err::kAccessDenied;
            }
            Unlink(taken);
        }
        n->MoveTo(target, last);
        return err::kSuccess;
    }

    // A whole file written (CreateFileA with CREATE_ALWAYS) or appended to (OPEN_ALWAYS): a
    // missing file is created.
    Win32Error Write(FileRef folder, HandleOp op, std::string_view name, std::string_view data) {
        Node* parent = nullptr;
        std::string last;
        if (Win32Error e = Below(folder, op, name, &parent, &last)) return e;
        Node* old = parent->Child(last);
        if (old == nullptr) {
            parent->Add(std::make_unique<Node>(last, Node::Kind::kFile, data));
            return err::kSuccess;
        }
        // FILE_NON_DIRECTORY_FILE on a folder, or on a junction opened as itself: the port's 267.
        if (!old->IsFile()) return err::kDirectory;
        // Opening a read-only file for writing is refused. CREATE_ALWAYS on a hidden or system
        // file fails with 5 unless the call asks for those attributes (the port asks for none);
        // an append is no overwrite.
        const bool append = op == HandleOp::kAppendToFile;
        const std::uint32_t refused =
            append ? fa::kReadOnly : fa::kReadOnly | fa::kHidden | fa::kSystem;
        if ((old->attributes & refused) != 0) return err::kAccessDenied;
        if (old->inUse) return err::kSharingViolation;
        if (!append) {
            old->contents.clear();
            old->attributes = 0;  // the attributes are replaced; a plain file reports archive
        }
        old->contents.append(data);
        return err::kSuccess;
    }

    FileRef AddOpen(Node* n, std::uint32_t intent) {
        return opens.emplace(nextRef += 4, Open{n, intent}).first->first;
    }

    // --- setup ---

    // The folder `p` names with its first `count` components, made where missing.
    Node* EnsureFolder(const FullPath& p, std::size_t count) {
        if (std::any_of(p.parts.begin(), p.parts.end(), BadComponent)) {
            throw std::logic_error("FakeFileSystem: invalid name in " + p.Text());
        }
        Node* cur = EnsureDrive(p.root);
        for (std::size_t i = 0;; ++i) {
            if (Follow(&cur) != err::kSuccess || cur->IsFile()) {
                throw std::logic_error("FakeFileSystem: no folder on the way to " + p.Text());
            }
            if (i == count) return cur;
            Node* child = cur->Child(p.parts[i]);
            cur = child != nullptr
                      ? child
                      : cur->Add(std::make_unique<Node>(p.parts[i], Node::Kind::kFolder));
        }
    }

    FullPath SetupPath(std::string_view path) const {
        std::optional<FullPath> p = Full(path, false);
        if (!p) throw std::logic_error("FakeFileSystem: bad path " + std::string(path));
        return *p;
    }

    // The entry at `path`; when there is none, null, or a setup mistake where it is `required`.
    Node* Existing(std::string_view path, bool required = true) const {
        Node* n = nullptr;
        if (Resolve(SetupPath(path), &n) == err::kSuccess) return n;
        if (required) throw std::logic_error("FakeFileSystem: missing " + std::string(path));
        return nullptr;
    }

    // Puts an entry named by the last component of `p` into its folder. An existing file is
    // handed back for a new file to overwrite; any other entry in the way is a setup mistake.
    Node* Place(const FullPath& p, Node::Kind kind) {
        if (p.parts.empty()) throw std::logic_error("FakeFileSystem: a drive root is no file");
        Node* folder = EnsureFolder(p, p.parts.size() - 1);
        Node* old = folder->Child(p.parts.back());
        if (old != nullptr && (kind != Node::Kind::kFile || !old->IsFile())) {
            throw std::logic_error("FakeFileSystem: already exists: " + p.Text());
        }
        return old != nullptr ? old : folder->Add(std::make_unique<Node>(p.parts.back(), kind));
    }
};

FakeFileSystem::FakeFileSystem() : s_(std::make_unique<State>()) {
    s_->owner = this;
    AddDrive('C');
}
FakeFileSystem::~FakeFileSystem() = default;

void FakeFileSystem::SetCurrentDirectoryProvider(std::function<std::string()> current) {
    s_->current = std::move(current);
}

// --- setup ---

void FakeFileSystem::AddDrive(char letter) {
    if (!IsDriveLetter(letter)) throw std::logic_error("FakeFileSystem: bad drive letter");
    s_->EnsureDrive(std::string{static_cast<char>(letter & ~0x20), ':'});
}

void FakeFileSystem::AddDirectory(std::string_view path) {
    FullPath p = s_->SetupPath(path);
    s_->EnsureFolder(p, p.parts.size());
}

void FakeFileSystem::AddFile(std::string_view path, std::string_view contents,
                             std::uint32_t attributes) {
    Node* n = s_->Place(s_->SetupPath(path), Node::Kind::kFile);
    n->contents = std::string(contents);
    n->attributes = attributes & kStoredAttributes;
}

void FakeFileSystem::SetOwner(std::string_view path, std::string_view sid) {
    s_->Existing(path)->owner = std::string(sid);
}

void FakeFileSystem::SetInUse(std::string_view path, bool inUse) {
    Node* n = s_->Existing(path);
    if (!n->IsFile()) throw std::logic_error("FakeFileSystem: only a file can be in use");
    n->inUse = inUse;
}

void FakeFileSystem::AddJunction(std::string_view path, std::string_view target) {
    FullPath t = s_->SetupPath(target);
    t.trailingSeparator = false;
    s_->Place(s_->SetupPath(path), Node::Kind::kJunction)->target = t.Text();
}

void FakeFileSystem::Remove(std::string_view path) {
    Node* n = s_->Existing(path, false);
    if (n == nullptr) return;  // nothing to remove
    if (n->parent == nullptr) throw std::logic_error("FakeFileSystem: a drive cannot go");
    s_->Unlink(n);
}

void FakeFileSystem::Move(std::string_view from, std::string_view to) {
    Node* n = s_->Existing(from);
    FullPath target = s_->SetupPath(to);
    Node* folder =
        target.parts.empty() ? nullptr : s_->EnsureFolder(target, target.parts.size() - 1);
    if (n->parent == nullptr || folder == nullptr ||
        folder->Child(target.parts.back()) != nullptr || folder->volumeSerial != n->volumeSerial) {
        throw std::logic_error("FakeFileSystem: cannot move " + std::string(from) + " to " +
                               target.Text() + " (a move stays on its drive)");
    }
    n->MoveTo(folder, target.parts.back());
}

void FakeFileSystem::SetHandleHook(HandleHook hook) { s_->hook = std::move(hook); }

std::size_t FakeFileSystem::OpenHandleCount() const { return s_->opens.size(); }

void FakeFileSystem::RecordPathsReached(bool on) {
    s_->recording = on;
    s_->reached.clear();
}

const std::vector<std::string>& FakeFileSystem::PathsReached() const { return s_->reached; }

// --- inspection ---

bool FakeFileSystem::Exists(std::string_view path) const { return s_->Entry(path) != nullptr; }

bool FakeFileSystem::IsDirectory(std::string_view path) const {
    const Node* n = s_->Entry(path);
    return n != nullptr && !n->IsFile();
}

std::optional<std::string> FakeFileSystem::ReadFile(std::string_view path) const {
    const Node* n = s_->Entry(path);
    if (n == nullptr || !n->IsFile()) return std::nullopt;
    return n->contents;
}

std::vector<std::string> FakeFileSystem::List(std::string_view folder) const {
    std::vector<std::string> out;
    std::optional<FullPath> p = s_->Full(folder, false);
    Node* n = p ? s_->FolderAt(*p) : nullptr;
    if (n == nullptr) return out;
    for (const auto& c : n->children) out.push_back(c->name);
    return out;
}

std::vector<std::string> FakeFileSystem::AllPaths(std::string_view folder) const {
    std::string prefix(folder);
    if (!prefix.empty() && !EndsWithBackslash(prefix)) prefix += '\\';
    std::vector<std::string> out;
    for (EntryRecord& e : AllEntries()) {
        if (text::EqualsNoCase(std::string_view(e.path).substr(0, prefix.size()), prefix)) {
            out.push_back(std::move(e.path));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Depth first, each folder before its entries, in creation order; with a stack of its own: a
// user's tree may be deeper than the thread's stack allows a recursion to go.
std::vector<FakeFileSystem::EntryRecord> FakeFileSystem::AllEntries() const {
    std::vector<std::pair<const Node*, std::string>> pending;  // the next entry last
    for (auto d = s_->drives.rbegin(); d != s_->drives.rend(); ++d) {
        pending.emplace_back(d->second.get(), d->second->name);
    }
    std::vector<EntryRecord> out;
    while (!pending.empty()) {
        const auto [n, path] = std::move(pending.back());
        pending.pop_back();
        if (n->parent != nullptr) out.push_back({path, n->Attributes(), n->contents, n->target});
        if (!n->IsFolder()) continue;
        for (auto c = n->children.rbegin(); c != n->children.rend(); ++c) {
            pending.emplace_back(c->get(), path + "\\" + (*c)->name);
        }
    }
    return out;
}

std::size_t FakeFileSystem::OpenFindCount() const { return s_->searches.size(); }

std::optional<FolderProtection> FakeFileSystem::Protection(std::string_view path) const {
    const Node* n = s_->Entry(path);
    if (n == nullptr) return std::nullopt;
    return n->protection.value_or(FolderProtection::kInherited);
}

Win32Error FakeFileSystem::CreateNewFile(std::string_view path, std::string_view contents) {
    std::optional<FullPath> p = s_->Full(path, true);
    if (!p || p->parts.empty() || p->trailingSeparator || BadComponent(p->parts.back())) {
        return err::kInvalidName;
    }
    const std::string name = std::move(p->parts.back());
    p->parts.pop_back();
    Node* folder = s_->FolderAt(*p);
    if (folder == nullptr) return err::kPathNotFound;
    if (folder->Child(name) != nullptr) return err::kFileExists;
    folder->Add(std::make_unique<Node>(name, Node::Kind::kFile, contents));
    return err::kSuccess;
}

// --- IFileSystem ---

std::uint32_t FakeFileSystem::GetFileAttributes(std::string_view path) noexcept {
    s_->Reached(path);
    const Node* n = CheckAnsiName(path) == err::kSuccess ? s_->Entry(path) : nullptr;
    return n != nullptr ? n->Attributes() : kInvalidFileAttributes;
}

Win32Error FakeFileSystem::FindFirstFile(std::string_view pattern, FindHandle* handle,
                                         FindData* data) noexcept {
    if (handle != nullptr) *handle = 0;
    s_->Reached(pattern);
    if (handle == nullptr || data == nullptr) return err::kInvalidParameter;
    if (Win32Error e = CheckAnsiName(pattern)) return e;
    // The folder is the full path without its last component; the last component is the mask.
    // Its trailing dots stay: they mean something to the match.
    std::optional<FullPath> full = s_->Full(pattern, false);
    if (!full) return err::kInvalidName;
    std::string mask;
    if (!full->trailingSeparator && !full->parts.empty()) {
        mask = std::move(full->parts.back());
        full->parts.pop_back();
    }
    // The search opens the folder to list it: a file there is no folder ("file\*" gives 267).
    Node* folder = nullptr;
    if (Win32Error e = s_->OpenFolderAt(*full, &folder)) {
        return e == err::kFileNotFound ? err::kPathNotFound : e;
    }
    if (mask.empty()) return err::kFileNotFound;
    if (HasInvalidNameChar(mask, true)) return err::kInvalidName;
    std::vector<FolderEntry> found = s_->Matches(*folder, full->IsDriveRoot(), mask);
    if (found.empty()) return err::kFileNotFound;
    std::reverse(found.begin(), found.end());
    *handle = s_->nextHandle += 4;
    s_->searches.emplace(*handle, std::move(found));
    return FindNextFile(*handle, data);
}

Win32Error FakeFileSystem::FindNextFile(FindHandle handle, FindData* data) noexcept {
    auto it = s_->searches.find(handle);
    if (it == s_->searches.end()) return err::kInvalidHandle;
    if (it->second.empty()) return err::kNoMoreFiles;
    if (data != nullptr) *data = {it->second.back().attributes, it->second.back().name, {}};
    it->second.pop_back();
    return err::kSuccess;
}

Win32Error FakeFileSystem::FindClose(FindHandle handle) noexcept {
    return s_->searches.erase(handle) == 0 ? err::kInvalidHandle : err::kSuccess;
}

Win32Error FakeFileSystem::GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                                           std::string* fullPath) noexcept {
    std::optional<FullPath> full;
    if (CheckAnsiName(path) == err::kSuccess) full = s_->Full(path, true);
    // The system reports a result that does not fit with the size it needs, and a name too long
    // for the ANSI call with 206; the port folds both into 123, since no caller can use a path it
    // could not hold. The NUL needs its character.
    if (!full || full->Text().size() + 1 > bufferChars) return err::kInvalidName;
    if (fullPath != nullptr) *fullPath = full->Text();
    return err::kSuccess;
}

// --- handle port ---
//
// Relative opens follow NtCreateFile with a root folder handle and FILE_OPEN_REPARSE_POINT: the
// last name is never followed (a junction opens as itself), folders on the way of a name holding
// "\" are. Deletion follows the POSIX semantics of FileDispositionInfoEx: the name goes at once.

Win32Error FakeFileSystem::OpenFolder(std::string_view path, FileRef* handle) noexcept {
    if (handle == nullptr) return err::kInvalidParameter;
    *handle = 0;
    s_->Reached(path);
    if (s_->hook) s_->hook(HandleOp::kOpenFolder, path);
    if (Win32Error e = CheckAnsiName(path)) return e;
    if (Win32Error e = s_->FaultOf(HandleOp::kOpenFolder, path)) return e;
    std::optional<FullPath> full = ParseAbsolute(ToBackslashes(path));
    if (!full) return err::kInvalidName;
    Node* folder = nullptr;
    if (Win32Error e = s_->OpenFolderAt(*full, &folder)) return e;
    *handle = s_->AddOpen(folder, open_intent::kList);
    return err::kSuccess;
}

Win32Error FakeFileSystem::OpenRelative(FileRef folder, std::string_view name, std::uint32_t intent,
                                        FileRef* handle) noexcept {
    if (handle == nullptr) return err::kInvalidParameter;
    *handle = 0;
    const State::Open* open = s_->Held(folder);
    if (open == nullptr) return err::kInvalidHandle;
    if (s_->hook) s_->hook(HandleOp::kOpenRelative, name);
    if (HoldsNul(name)) return err::kInvalidName;
    Node* n = open->node;
    if (Win32Error e = s_->Walk(&n, SplitAtBackslashes(name))) return e;
    if (s_->recording) s_->Reached(n->Path());
    if (Win32Error e = s_->FaultOf(HandleOp::kOpenRelative, n->name)) return e;
    if ((intent & open_intent::kList) != 0 && n->IsFile()) return err::kDirectory;
    // Another process's handle without delete sharing, or the process's own current directory,
    // refuses delete access.
    if ((intent & open_intent::kDelete) != 0) {
        std::optional<FullPath> cwd = ParseAbsolute(ToBackslashes(s_->CurrentDirectory()));
        if (n->inUse || (cwd && n == s_->FolderAt(*cwd))) return err::kSharingViolation;
    }
    *handle = s_->AddOpen(n, intent);
    return err::kSuccess;
}

Win32Error FakeFileSystem::QueryFacts(FileRef handle, FileFacts* facts) noexcept {
    Node* n = nullptr;
    if (facts == nullptr) return err::kInvalidHandle;
    if (Win32Error e = s_->Enter(handle, HandleOp::kQueryFacts, &n)) return e;
    facts->attributes = n->Attributes();
    facts->reparseTag = n->IsJunction() ? kReparseTagMountPoint : 0;
    facts->volumeSerial = n->volumeSerial;
    return err::kSuccess;
}

Win32Error FakeFileSystem::QueryIdentity(FileRef handle, FileIdentity* identity) noexcept {
    Node* n = nullptr;
    if (identity == nullptr) return err::kInvalidHandle;
    if (Win32Error e = s_->Enter(handle, HandleOp::kQueryIdentity, &n)) return e;
    identity->volumeSerial = n->volumeSerial;
    identity->fileIndex = n->fileIndex;
    return err::kSuccess;
}

Win32Error FakeFileSystem::ListFolder(FileRef folder, std::string_view mask,
                                      std::vector<FolderEntry>* entries) noexcept {
    const State::Open* open = s_->Held(folder);
    if (open == nullptr || entries == nullptr) return err::kInvalidHandle;
    const Node& n = *open->node;
    if (s_->hook) s_->hook(HandleOp::kListFolder, mask);
    if ((open->intent & open_intent::kList) == 0) return err::kAccessDenied;
    if (Win32Error e = s_->FaultOf(HandleOp::kListFolder, n.name)) return e;
    // A mask is one name's: a "\" would reach into another folder (a trail byte 0x5C of a
    // double-byte character is none).
    if (mask.empty() || HasInvalidNameChar(mask, true) || text::Find(mask, '\\') != text::npos) {
        return err::kInvalidName;
    }
    // A deleted folder is empty, and a folder whose delete is pending lists nothing more.
    std::vector<FolderEntry> out = s_->Matches(n, n.parent == nullptr && !n.Deleted(), mask);
    if (out.empty()) return err::kFileNotFound;
    *entries = std::move(out);
    return err::kSuccess;
}

Win32Error FakeFileSystem::SetAttributes(FileRef handle, std::uint32_t attributes) noexcept {
    Node* n = nullptr;
    const HandleOp op = HandleOp::kSetAttributes;
    if (Win32Error e = s_->Enter(handle, op, &n, open_intent::kDelete)) return e;
    n->attributes = (n->attributes & ~kSettableAttributes) | (attributes & kSettableAttributes);
    return err::kSuccess;
}

Win32Error FakeFileSystem::DeleteByHandle(FileRef handle) noexcept {
    return s_->Delete(handle, false);
}

// FILE_DISPOSITION_IGNORE_READONLY_ATTRIBUTE, which Windows 10 1809 and later know: the entry
// goes whatever its read-only attribute says, and the attribute is not changed.
Win32Error FakeFileSystem::DeleteIgnoringReadOnly(FileRef handle) noexcept {
    return s_->Delete(handle, true);
}

Win32Error FakeFileSystem::Close(FileRef handle) noexcept {
    return s_->opens.erase(handle) == 0 ? err::kInvalidHandle : err::kSuccess;
}

// --- the backup of a clean-up ---
//
// Creates and renames follow NtCreateFile (FILE_CREATE) and FileRenameInformation with a root
// folder handle: the name is parsed from that folder, the last component is never followed, and
// nothing is replaced.

Win32Error FakeFileSystem::CheckProtection(FileRef folder, FolderProtection protection) noexcept {
    const State::Open* open = s_->Held(folder);
    if (open == nullptr) return err::kInvalidHandle;
    // The machine's folders are the administrators' (their access lets others read and add, as
    // %ProgramData% does); one a user made is his, and he may change it at will.
    if (protection == FolderProtection::kMachine) {
        return open->node->owner.empty() ? err::kSuccess : err::kAccessDenied;
    }
    // The running user may always reach what he made for himself, and the administrators what
    // they made for themselves; anything else (a folder made before, with the access of the
    // folder above it) is open to others.
    return open->node->protection == protection ? err::kSuccess : err::kAccessDenied;
}

Win32Error FakeFileSystem::CheckWriters(FileRef folder, std::string_view name) noexcept {
    const State::Open* open = s_->Held(folder);
    if (open == nullptr) return err::kInvalidHandle;
    const Node* n = open->node;
    if (!name.empty()) {
        if (BadComponent(name)) return err::kInvalidName;
        // Opened as itself: a junction is checked, not its target.
        n = n->IsFolder() ? n->Child(name) : nullptr;
        if (n == nullptr) return err::kFileNotFound;
    }
    // As CheckProtection: what the administrators or the running user made with an access list
    // of their own is changed by no one else; an entry with the ordinary access of the place it
    // was made in is open to others, as a data drive's root and what is made there are to every
    // user.
    const FolderProtection p = n->protection.value_or(FolderProtection::kInherited);
    return p == FolderProtection::kInherited ? err::kAccessDenied : err::kSuccess;
}

Win32Error FakeFileSystem::CreateFolder(FileRef folder, std::string_view name,
                                        FolderProtection protection, FileRef* handle) noexcept {
    if (handle == nullptr) return err::kInvalidParameter;
    *handle = 0;
    if (protection == FolderProtection::kMachine) return err::kInvalidParameter;
    Node* parent = nullptr;
    std::string last;
    if (Win32Error e = s_->Below(folder, HandleOp::kCreateFolder, name, &parent, &last)) return e;
    // STATUS_OBJECT_NAME_COLLISION whatever has the name: a file, a folder or a link.
    if (parent->Child(last) != nullptr) return err::kAlreadyExists;
    Node* created = parent->Add(std::make_unique<Node>(last, Node::Kind::kFolder));
    if (protection != FolderProtection::kInherited) created->protection = protection;
    *handle = s_->AddOpen(created, open_intent::kList | open_intent::kDelete);
    return err::kSuccess;
}

Win32Error FakeFileSystem::Rename(FileRef handle, FileRef folder, std::string_view name) noexcept {
    return s_->Rename(handle, folder, name, false);
}

Win32Error FakeFileSystem::RenameReplacing(FileRef handle, FileRef folder,
                                           std::string_view name) noexcept {
    return s_->Rename(handle, folder, name, true);
}

Win32Error FakeFileSystem::WriteWholeFile(FileRef folder, std::string_view name,
                                          std::string_view data) noexcept {
    return s_->Write(folder, HandleOp::kWriteWholeFile, name, data);
}

Win32Error FakeFileSystem::AppendToFile(FileRef folder, std::string_view name,
                                        std::string_view data) noexcept {
    return s_->Write(folder, HandleOp::kAppendToFile, name, data);
}

Win32Error FakeFileSystem::ReadWholeFile(FileRef folder, std::string_view name,
                                         std::string* data) noexcept {
    if (data == nullptr) return err::kInvalidHandle;
    Node* parent = nullptr;
    std::string last;
    if (Win32Error e = s_->Below(folder, HandleOp::kReadWholeFile, name, &parent, &last)) return e;
    const Node* n = parent->Child(last);
    if (n == nullptr) return err::kFileNotFound;
    if (!n->IsFile()) return err::kDirectory;
    if (n->contents.size() > kMaxWholeFile) return err::kFileTooLarge;
    *data = n->contents;
    return err::kSuccess;
}

}  // namespace qv::fake
