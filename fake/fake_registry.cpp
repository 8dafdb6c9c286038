// The fake machine's registry.
//
// The store is a tree of keys per hive. HKEY_LOCAL_MACHINE is one tree; HKEY_USERS is a root whose
// children are the roots of mounted hives. A hive file that is not loaded keeps its tree in the
// store, and RegLoadKeyA mounts that very tree, so whatever the tool changes while it is loaded is
// still there after RegUnLoadKeyA and the next load: Windows writes a loaded hive back to its file
// (Wine 8 does not; tests that run under Wine allow for that).
//
// Handles hold their key by shared ownership. A key deleted while handles are open on it stays
// alive for those handles but is marked deleted, and every call through such a handle other than
// RegCloseKey then fails with ERROR_KEY_DELETED, as on Windows.
//
// Handle values are never reused, so that a handle used after its close gives
// ERROR_INVALID_HANDLE instead of silently reaching another key (Windows may reuse values; the
// fake is stricter on purpose).
#include "fake/fake_registry.h"

#include <iterator>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "base/text.h"
#include "fake/fake_case.h"

namespace qv::fake {

namespace {

// Windows refuses key names longer than 255 characters (Wine 8 still accepts 256). A double-byte
// character of the ANSI code page is one character.
constexpr std::size_t kMaxKeyNameChars = 255;

// Key access rights.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;

// Where the 32-bit view of HKEY_LOCAL_MACHINE\Software lies in the 64-bit view.
constexpr char kWow64Node[] = "Wow6432Node";

struct NoCaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return text::CompareNoCase(a, b) < 0;
    }
};

struct Hive;
struct Node;

// The sub keys of a key, in the order a hive keeps them (by name, case-insensitively, letters as
// upper case: "A_B" after "ALPHA"; Wine folds to lower case instead, see the contract test).
// HKEY_USERS and the profile list hold one key per profile, so a lookup by name goes through a hash
// of the folded name rather than comparing names down the tree, and RegEnumKeyExA stepping through
// the keys by index continues from where the previous call stopped instead of counting from the
// first key (the cursor is dropped whenever the set of keys changes).
class SubKeys {
  public:
    using Map = std::map<std::string, std::shared_ptr<Node>, NoCaseLess>;
    using const_iterator = Map::const_iterator;

    SubKeys() = default;
    SubKeys(const SubKeys&) = delete;  // the index points into the map
    SubKeys& operator=(const SubKeys&) = delete;

    bool empty() const { return ordered_.empty(); }
    std::size_t size() const { return ordered_.size(); }
    const_iterator begin() const { return ordered_.begin(); }
    const_iterator end() const { return ordered_.end(); }

    std::shared_ptr<Node> Find(std::string_view name) const {
        auto it = byName_.find(text::FoldCase(name));
        return it == byName_.end() ? nullptr : it->second->second;
    }
    // Keeps the key already there when one of that name exists; says whether `child` went in.
    bool Insert(const std::string& name, const std::shared_ptr<Node>& child) {
        auto [it, inserted] = ordered_.emplace(name, child);
        if (inserted) {
            byName_.emplace(text::FoldCase(name), it);
            cursorValid_ = false;
        }
        return inserted;
    }
    void Erase(std::string_view name) {
        auto it = byName_.find(text::FoldCase(name));
        if (it == byName_.end()) return;
        ordered_.erase(it->second);
        byName_.erase(it);
        cursorValid_ = false;
    }
    void Clear() {
        ordered_.clear();
        byName_.clear();
        cursorValid_ = false;
    }
    // The key at `index` in enumeration order; `index` must be below size().
    const std::shared_ptr<Node>& At(std::size_t index) const {
        if (!cursorValid_ || cursorIndex_ > index) {
            cursor_ = ordered_.begin();
            cursorIndex_ = 0;
            cursorValid_ = true;
        }
        std::advance(cursor_, static_cast<std::ptrdiff_t>(index - cursorIndex_));
        cursorIndex_ = index;
        return cursor_->second;
    }

  private:
    Map ordered_;
    std::unordered_map<std::string, const_iterator> byName_;  // folded name -> entry
    mutable const_iterator cursor_;
    mutable std::size_t cursorIndex_ = 0;
    mutable bool cursorValid_ = false;
};

struct Value {
    std::string name;
    std::uint32_t type = reg::kNone;
    std::string data;
};

struct Node {
    std::string name;
    SubKeys children;
    // Values in the order they were first set, as the system keeps them.
    std::vector<Value> values;
    FileTime time = 0;
    Node* parent = nullptr;  // null for a root, a deleted key and the root of an unloaded hive
    Hive* hive = nullptr;
    bool deleted = false;
    // A registry link (REG_OPTION_CREATE_LINK): an open without REG_OPTION_OPEN_LINK, and every
    // path through it, reaches the key it names instead.
    std::weak_ptr<Node> linkTarget;
    bool isLink = false;

    Value* FindValue(std::string_view valueName) {
        for (Value& v : values) {
            if (text::EqualsNoCase(v.name, valueName)) return &v;
        }
        return nullptr;
    }
    // A value set again keeps its name as first written and its place in the order.
    void SetValue(std::string_view valueName, std::uint32_t type, std::string_view data) {
        if (Value* v = FindValue(valueName)) {
            v->type = type;
            v->data = std::string(data);
        } else {
            values.push_back(Value{std::string(valueName), type, std::string(data)});
        }
    }
    std::shared_ptr<Node> Child(std::string_view childName) const {
        return children.Find(childName);
    }
};

enum class HiveKind { Machine, UsersRoot, File, System };

struct Hive {
    HiveKind kind = HiveKind::File;
    std::string file;       // the hive file of a File hive
    std::string mountName;  // the name under HKEY_USERS while mounted
    bool loadedByApp = false;
    bool replaced = false;  // its file was gone and a saved key took the name
    std::shared_ptr<Node> root;
    // Handles open on keys of this hive: RegUnLoadKeyA refuses while there are any.
    std::size_t openHandles = 0;
};

struct Handle {
    std::shared_ptr<Node> node;
    std::string path;
    std::uint32_t access = 0;
};

std::vector<std::string> SplitKeyPath(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = text::Find(path, '\\', start);
        if (end == text::npos) end = path.size();
        // Empty components (doubled or trailing backslashes) name nothing; the system skips them.
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::uint32_t GrantedAccess(std::uint32_t requested) {
    if ((requested & reg::kMaximumAllowed) != 0 || (requested & kGenericAll) != 0) {
        return kKeyAllAccess;
    }
    std::uint32_t granted = requested & 0xFFFFu;
    if ((requested & kGenericRead) != 0) granted |= reg::kKeyRead;
    if ((requested & kGenericWrite) != 0) granted |= reg::kKeyWrite;
    return granted;
}

std::string JoinPath(std::string_view base, const std::vector<std::string>& parts) {
    std::string path(base);
    for (const std::string& p : parts) {
        if (!path.empty() && path.back() != '|') path += '\\';
        path += p;
    }
    return path;
}

// A hive file name as the system resolves it before opening the file: "/" is a separator too,
// runs of separators count as one, "." components go and ".." takes the previous one away.
// Texts are compared case-insensitively afterwards.
std::string NormalizeFilePath(std::string_view path) {
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&] {
        if (part == "..") {
            if (parts.size() > 1) parts.pop_back();  // never above the drive
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (std::size_t i = 0; i < path.size();) {
        std::size_t len = text::CharLength(path, i);
        if (len == 1 && (path[i] == '\\' || path[i] == '/')) {
            flush();
        } else {
            part.append(path.substr(i, len));
        }
        i += len;
    }
    flush();
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty()) out += '\\';
        out += p;
    }
    return out;
}

void MarkDeleted(Node& node) {
    for (auto& entry : node.children) MarkDeleted(*entry.second);
    node.children.Clear();
    node.deleted = true;
    node.parent = nullptr;
}

void SetTimeBelow(Node& node, FileTime t) {
    node.time = t;
    for (auto& entry : node.children) SetTimeBelow(*entry.second, t);
}

// The key a registry link leads to (links after links followed, as the system follows a chain
// of them up to a depth); null when it leads to no key.
std::shared_ptr<Node> Follow(std::shared_ptr<Node> node) {
    constexpr int kMaxLinkDepth = 16;
    for (int depth = 0; node && node->isLink; ++depth) {
        if (depth == kMaxLinkDepth) return nullptr;
        node = node->linkTarget.lock();
        if (node && node->deleted) return nullptr;
    }
    return node;
}

// The key `parts` names below `node`; null when one of them is missing (or `node` is null). A
// link on the way is followed; one at the end too unless `openLink`.
std::shared_ptr<Node> Descend(std::shared_ptr<Node> node, const std::vector<std::string>& parts,
                              bool openLink = false) {
    for (std::size_t i = 0; i < parts.size() && node; ++i) {
        node = node->Child(parts[i]);
        if (!openLink || i + 1 < parts.size()) node = Follow(node);
    }
    return node;
}

// A copy of `from` and everything below it into `to`, values and last-write times included, as a
// hive file saved from it holds them.
void CopyTree(const Node& from, Node& to, Hive* hive) {
    to.values = from.values;
    to.time = from.time;
    for (const auto& entry : from.children) {
        auto child = std::make_shared<Node>();
        child->name = entry.second->name;
        child->hive = hive;
        CopyTree(*entry.second, *child, hive);
        to.children.Insert(child->name, child);
        child->parent = &to;
    }
}

}  // namespace

FileTime FileTimeFromUnix(std::int64_t seconds) {
    return static_cast<FileTime>(seconds + kSecondsFrom1601To1970) * kFileTimeTicksPerSecond;
}

std::int64_t UnixFromFileTime(FileTime t) {
    return static_cast<std::int64_t>(t / kFileTimeTicksPerSecond) - kSecondsFrom1601To1970;
}

struct FakeRegistry::State {
    Wiring w;
    std::string currentUserSid;
    bool wow64 = false;

    std::vector<std::unique_ptr<Hive>> hives;
    // The hive files by their normalised, case-folded name: a machine has a hive file per
    // profile, and every RegLoadKeyA looks one up.
    std::unordered_map<std::string, Hive*> hiveFiles;
    Hive* machine = nullptr;
    Hive* users = nullptr;

    std::map<HKey, Handle> handles;
    HKey nextHandle = 0x1000;

    int calls[static_cast<int>(RegOp::kSave) + 1] = {};
    std::vector<std::string> loadLog;
    std::vector<std::string> unloadLog;
    std::vector<std::string> flushLog;
    FakeRegistry* owner = nullptr;  // whose injected faults the calls take

    FileTime Now() const { return FileTimeFromUnix(w.now()); }

    std::shared_ptr<Node> NewNode(std::string name, Hive* hive) {
        auto node = std::make_shared<Node>();
        node->name = std::move(name);
        node->hive = hive;
        node->time = Now();
        return node;
    }

    Hive* NewHive(HiveKind kind, std::string_view rootName) {
        hives.push_back(std::make_unique<Hive>());
        Hive* h = hives.back().get();
        h->kind = kind;
        h->root = NewNode(std::string(rootName), h);
        return h;
    }

    static void Attach(Node& parent, const std::shared_ptr<Node>& child) {
        parent.children.Insert(child->name, child);
        child->parent = &parent;
    }

    Hive* NewHiveFile(std::string_view file) {
        Hive* hive = NewHive(HiveKind::File, text::AfterLastBackslash(file));
        hive->file = std::string(file);
        hiveFiles.emplace(text::FoldCase(NormalizeFilePath(file)), hive);
        return hive;
    }

    Hive* FindHiveFile(std::string_view file) const {
        auto it = hiveFiles.find(text::FoldCase(NormalizeFilePath(file)));
        return it == hiveFiles.end() ? nullptr : it->second;
    }

    Hive* MountedHive(std::string_view name) const {
        std::shared_ptr<Node> root = users->root->Child(name);
        return root ? root->hive : nullptr;
    }

    void Mount(Hive& hive, std::string_view name) {
        hive.mountName = std::string(name);
        hive.root->name = hive.mountName;
        Attach(*users->root, hive.root);
    }

    // A hive the system itself mounted under HKEY_USERS\<name>, unless one is there already.
    void MountSystemHive(std::string_view name) {
        if (MountedHive(name) != nullptr) return;
        Mount(*NewHive(HiveKind::System, name), name);
    }

    // The roots of HKEY_LOCAL_MACHINE and HKEY_USERS hold only hive mount points; the keys
    // directly below them are hive roots, which RegDeleteKeyA never deletes.
    bool IsRootOrHiveRoot(const Node& node) const {
        return node.parent == nullptr || node.parent == machine->root.get() ||
               node.parent == users->root.get();
    }

    std::string PathOf(const Node& node) const {
        std::vector<const Node*> chain;
        for (const Node* n = &node; n != nullptr; n = n->parent) chain.push_back(n);
        std::string path;
        const Node* top = chain.back();
        if (top->hive->kind == HiveKind::File && top->hive->root.get() == top) {
            // An unloaded hive, as setup paths name it.
            path = top->hive->file + "|";
        } else {
            path = top->name;
        }
        for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
            if (path.back() != '|') path += '\\';
            path += (*it)->name;
        }
        return path;
    }

    // What a hive's load and unload check first, in this order: the call is counted and logged,
    // an injected fault answers, hives live only below HKEY_USERS on this machine, and the restore
    // privilege is checked before anything else. Windows asks for the restore and backup
    // privileges and refuses with ERROR_PRIVILEGE_NOT_HELD, as Wine does in the contract test;
    // the token check here is the restore privilege, which is what the tool enables (and all that
    // Wine asks for).
    Win32Error BeginHiveCall(RegOp op, std::vector<std::string>& log, HKey parent,
                             std::string_view subKey) {
        ++calls[static_cast<int>(op)];
        log.emplace_back(subKey);
        if (Win32Error e = owner->TakeFault(op, subKey)) return e;
        if (parent != kHkeyUsers) return err::kInvalidParameter;
        if (!w.restorePrivilege()) return err::kPrivilegeNotHeld;
        return err::kSuccess;
    }

    // What a handle stands for. HKEY_CURRENT_USER is looked up on every call, as the system maps it
    // to the running user's hive.
    struct Ref {
        std::shared_ptr<Node> node;
        std::string path;
        std::uint32_t access = 0;
        bool predefined = false;
    };

    Win32Error Resolve(HKey key, Ref* ref) const {
        if (IsPredefinedKey(key)) {
            ref->predefined = true;
            ref->access = kKeyAllAccess;
            if (key == kHkeyLocalMachine) {
                ref->node = machine->root;
                ref->path = "HKLM";
                return err::kSuccess;
            }
            if (key == kHkeyUsers) {
                ref->node = users->root;
                ref->path = "HKU";
                return err::kSuccess;
            }
            if (key == kHkeyCurrentUser) {
                ref->path = "HKU\\" + currentUserSid;
                ref->node = currentUserSid.empty() ? nullptr : users->root->Child(currentUserSid);
                // Without the user's hive there is nothing to map the handle to.
                return ref->node ? err::kSuccess : err::kFileNotFound;
            }
            // The other predefined roots are not part of this machine.
            return err::kInvalidHandle;
        }
        auto it = handles.find(key);
        if (it == handles.end()) return err::kInvalidHandle;
        ref->node = it->second.node;
        ref->path = it->second.path;
        ref->access = it->second.access;
        return err::kSuccess;
    }

    HKey AddHandle(const std::shared_ptr<Node>& node, std::uint32_t access) {
        HKey h = nextHandle;
        nextHandle += 4;
        handles[h] = Handle{node, PathOf(*node), GrantedAccess(access)};
        ++node->hive->openHandles;
        return h;
    }

    // What every call on a key checks first, in this order: the handle, an injected fault, and a
    // key deleted while the handle was open.
    Win32Error Reach(RegOp op, HKey key, Ref* ref) {
        Win32Error e = Resolve(key, ref);
        if (e != err::kSuccess) return e;
        if ((e = owner->TakeFault(op, ref->path))) return e;
        return ref->node->deleted ? err::kKeyDeleted : err::kSuccess;
    }

    // The same for a call that names a sub key of `parent`, split into `parts`; a name that
    // starts with "\" is refused once the handle is known good.
    Win32Error ReachBelow(RegOp op, HKey parent, std::string_view subKey, Ref* ref,
                          std::vector<std::string>* parts) {
        Win32Error e = Resolve(parent, ref);
        if (e != err::kSuccess) return e;
        if (!subKey.empty() && subKey.front() == '\\') return err::kBadPathname;
        *parts = SplitKeyPath(subKey);
        if ((e = owner->TakeFault(op, JoinPath(ref->path, *parts)))) return e;
        return ref->node->deleted ? err::kKeyDeleted : err::kSuccess;
    }

    // What a call on an open key does first: it is counted, the key is reached (an injected
    // fault answers on the way), and the handle must have been opened with one of `access`.
    Win32Error ReachOpenKey(RegOp op, HKey key, std::uint32_t access, Ref* ref) {
        ++calls[static_cast<int>(op)];
        Win32Error e = Reach(op, key, ref);
        if (e != err::kSuccess) return e;
        return (ref->access & access) == 0 ? err::kAccessDenied : err::kSuccess;
    }

    // What opening and creating a key do first: the call is counted, *key is emptied, the
    // parent and the path below it are reached (an injected fault answers on the way), and the
    // path is taken in the registry view `access` asks for.
    Win32Error BeginKeyCall(RegOp op, HKey parent, std::string_view subKey, std::uint32_t access,
                            HKey* key, Ref* ref, std::vector<std::string>* parts) {
        ++calls[static_cast<int>(op)];
        if (key == nullptr) return err::kInvalidParameter;
        *key = 0;
        if (Win32Error e = ReachBelow(op, parent, subKey, ref, parts)) return e;
        return ApplyView(*ref, access, parts);
    }

    // The registry views of a 64-bit program on 64-bit Windows ("Registry Keys Affected by
    // WOW64", "Accessing an Alternate Registry View" in the Windows documentation): in the 32-bit
    // view (KEY_WOW64_32KEY) a path below HKEY_LOCAL_MACHINE\Software is redirected to
    // Software\Wow6432Node, except for the shared keys, of which the fake knows the one the tool
    // reads (the profile list); the native view (KEY_WOW64_64KEY, or no flag: the fake runs as the
    // 64-bit build does) takes the path as it is. Both flags at once: ERROR_INVALID_PARAMETER.
    // Only a path given from the root of HKEY_LOCAL_MACHINE is redirected, as the tool names its
    // machine keys; the users' hives have no redirected keys the tool reads.
    // On 32-bit Windows (the machine's default) there is one view and the flags change nothing.
    Win32Error ApplyView(const Ref& ref, std::uint32_t access,
                         std::vector<std::string>* parts) const {
        if (!wow64) return err::kSuccess;
        if ((access & reg::kViewMask) == reg::kViewMask) return err::kInvalidParameter;
        if ((access & reg::kWow64_32Key) == 0 || ref.node != machine->root) return err::kSuccess;
        if (parts->empty() || !text::EqualsNoCase((*parts)[0], "Software")) return err::kSuccess;
        if (parts->size() > 1 && text::EqualsNoCase((*parts)[1], kWow64Node)) return err::kSuccess;
        static const std::vector<std::string> kSharedKeys[] = {
            {"Software", "Microsoft", "Windows NT", "CurrentVersion", "ProfileList"},
        };
        for (const std::vector<std::string>& shared : kSharedKeys) {
            if (parts->size() < shared.size()) continue;
            bool below = true;
            for (std::size_t i = 0; i < shared.size() && below; ++i) {
                below = text::EqualsNoCase((*parts)[i], shared[i]);
            }
            if (below) return err::kSuccess;
        }
        parts->insert(parts->begin() + 1, kWow64Node);
        return err::kSuccess;
    }

    // Setup paths: "HKLM\...", "HKU\...", "HKCU\..." (and the long root names), or
    // "<hive file>|<path>". Returns the root node to start from and the components below it.
    std::pair<std::shared_ptr<Node>, std::vector<std::string>> ParseSetupPath(std::string_view path,
                                                                              bool create) {
        std::size_t bar = text::Find(path, '|');
        if (bar != text::npos) {
            std::string_view file = path.substr(0, bar);
            Hive* hive = FindHiveFile(file);
            if (hive == nullptr && create) hive = NewHiveFile(file);
            return {hive ? hive->root : nullptr, SplitKeyPath(path.substr(bar + 1))};
        }
        std::vector<std::string> parts = SplitKeyPath(path);
        if (parts.empty()) throw std::invalid_argument("FakeRegistry: empty key path");
        std::string rootName = parts.front();
        parts.erase(parts.begin());
        if (text::EqualsNoCase(rootName, "HKLM") ||
            text::EqualsNoCase(rootName, "HKEY_LOCAL_MACHINE")) {
            return {machine->root, parts};
        }
        bool currentUser = text::EqualsNoCase(rootName, "HKCU") ||
                           text::EqualsNoCase(rootName, "HKEY_CURRENT_USER");
        if (currentUser) {
            if (currentUserSid.empty()) {
                if (create)
                    throw std::logic_error("FakeRegistry: HKCU used before SetCurrentUserSid");
                return {nullptr, parts};
            }
            parts.insert(parts.begin(), currentUserSid);
        } else if (!text::EqualsNoCase(rootName, "HKU") &&
                   !text::EqualsNoCase(rootName, "HKEY_USERS")) {
            throw std::invalid_argument("FakeRegistry: unknown root in " + std::string(path));
        }
        // A setup path below HKEY_USERS names a mounted hive; a missing one is mounted as the
        // system would have mounted it (setup creates what is missing).
        if (create && !parts.empty()) MountSystemHive(parts.front());
        return {users->root, parts};
    }

    Win32Error Open(HKey parent, std::string_view subKey, std::uint32_t access, HKey* key,
                    bool openLink) {
        Ref ref;
        std::vector<std::string> parts;
        if (Win32Error e = BeginKeyCall(RegOp::kOpen, parent, subKey, access, key, &ref, &parts)) {
            return e;
        }
        // An empty name on a predefined root gives that root back; on any other key it opens a
        // new handle to the same key.
        if (parts.empty() && ref.predefined) {
            *key = parent;
            return err::kSuccess;
        }
        std::shared_ptr<Node> node = Descend(ref.node, parts, openLink);
        if (!node) return err::kFileNotFound;
        *key = AddHandle(node, access);
        return err::kSuccess;
    }

    std::shared_ptr<Node> FindSetup(std::string_view path) {
        auto [node, parts] = ParseSetupPath(path, false);
        return Descend(node, parts);
    }

    std::shared_ptr<Node> CreateSetup(std::string_view path) {
        auto [node, parts] = ParseSetupPath(path, true);
        for (const std::string& p : parts) {
            std::shared_ptr<Node> child = node->Child(p);
            if (!child) {
                child = NewNode(p, node->hive);
                Attach(*node, child);
            }
            node = child;
        }
        return node;
    }
};

FakeRegistry::FakeRegistry() : s_(std::make_unique<State>()) {
    s_->owner = this;
    s_->machine = s_->NewHive(HiveKind::Machine, "HKLM");
    s_->users = s_->NewHive(HiveKind::UsersRoot, "HKU");
}

FakeRegistry::~FakeRegistry() = default;

// --- wiring ---

void FakeRegistry::Wire(Wiring wiring) { s_->w = std::move(wiring); }

void FakeRegistry::SetCurrentUserSid(std::string sid) { s_->currentUserSid = std::move(sid); }

void FakeRegistry::SetWow64(bool wow64) {
    s_->wow64 = wow64;
    if (wow64) s_->CreateSetup(std::string("HKLM\\Software\\") + kWow64Node);
}

// --- setup ---

void FakeRegistry::CreateKey(std::string_view path) { s_->CreateSetup(path); }

void FakeRegistry::SetString(std::string_view path, std::string_view name, std::string_view value,
                             std::uint32_t type) {
    std::string bytes(value);
    bytes.push_back('\0');
    SetRawValue(path, name, type, bytes);
}

void FakeRegistry::SetRawValue(std::string_view path, std::string_view name, std::uint32_t type,
                               std::string_view bytes) {
    s_->CreateSetup(path)->SetValue(name, type, bytes);
}

void FakeRegistry::DeleteTree(std::string_view path) {
    std::shared_ptr<Node> node = s_->FindSetup(path);
    if (!node) return;
    // A hive cannot be deleted.
    if (node->parent == nullptr || node->parent == s_->users->root.get()) {
        throw std::invalid_argument("FakeRegistry: DeleteTree of a root or a hive's root");
    }
    Node* parent = node->parent;
    MarkDeleted(*node);
    parent->children.Erase(node->name);
}

void FakeRegistry::AddLink(std::string_view path, std::string_view target) {
    std::shared_ptr<Node> to = s_->FindSetup(target);
    if (!to) throw std::invalid_argument("FakeRegistry: no link target " + std::string(target));
    std::shared_ptr<Node> link = s_->CreateSetup(path);
    if (!link->children.empty()) throw std::logic_error("FakeRegistry: a link has no sub keys");
    link->isLink = true;
    link->linkTarget = to;
    link->SetValue(kLinkValueName, reg::kLink, target);
}

void FakeRegistry::CreateHiveFile(std::string_view file) {
    if (s_->FindHiveFile(file) == nullptr) s_->NewHiveFile(file);
}

void FakeRegistry::MountSystemHive(std::string_view name) { s_->MountSystemHive(name); }

void FakeRegistry::SetKeyTime(std::string_view path, std::int64_t unixSeconds) {
    s_->CreateSetup(path)->time = FileTimeFromUnix(unixSeconds);
}

void FakeRegistry::SetTreeTime(std::string_view path, std::int64_t unixSeconds) {
    SetTimeBelow(*s_->CreateSetup(path), FileTimeFromUnix(unixSeconds));
}

// --- inspection ---

bool FakeRegistry::KeyExists(std::string_view path) const { return s_->FindSetup(path) != nullptr; }

std::optional<std::string> FakeRegistry::GetString(std::string_view path,
                                                   std::string_view name) const {
    std::optional<RawValue> v = GetValue(path, name);
    if (!v) return std::nullopt;
    std::string text = std::move(v->bytes);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::optional<FakeRegistry::RawValue> FakeRegistry::GetValue(std::string_view path,
                                                             std::string_view name) const {
    std::shared_ptr<Node> node = s_->FindSetup(path);
    if (!node) return std::nullopt;
    const Value* v = node->FindValue(name);
    if (v == nullptr) return std::nullopt;
    return RawValue{v->type, v->data};
}

std::optional<std::int64_t> FakeRegistry::KeyTime(std::string_view path) const {
    std::shared_ptr<Node> node = s_->FindSetup(path);
    if (!node) return std::nullopt;
    return UnixFromFileTime(node->time);
}

std::vector<std::string> FakeRegistry::SubKeyNames(std::string_view path) const {
    std::vector<std::string> names;
    if (std::shared_ptr<Node> node = s_->FindSetup(path)) {
        for (const auto& entry : node->children) names.push_back(entry.second->name);
    }
    return names;
}

std::vector<std::string> FakeRegistry::ValueNames(std::string_view path) const {
    std::vector<std::string> names;
    if (std::shared_ptr<Node> node = s_->FindSetup(path)) {
        for (const Value& v : node->values) names.push_back(v.name);
    }
    return names;
}

bool FakeRegistry::IsMounted(std::string_view name) const {
    return s_->MountedHive(name) != nullptr;
}

bool FakeRegistry::IsLoadedByApp(std::string_view name) const {
    Hive* hive = s_->MountedHive(name);
    return hive != nullptr && hive->loadedByApp;
}

namespace {

void CollectKeys(const Node& node, const std::string& path,
                 std::vector<FakeRegistry::KeyRecord>* out) {
    FakeRegistry::KeyRecord record{path, UnixFromFileTime(node.time), {}};
    for (const Value& v : node.values) {
        record.values.emplace_back(v.name, FakeRegistry::RawValue{v.type, v.data});
    }
    out->push_back(std::move(record));
    for (const auto& entry : node.children) {
        const std::string below =
            path.back() == '|' ? path + entry.second->name : path + "\\" + entry.second->name;
        CollectKeys(*entry.second, below, out);
    }
}

}  // namespace

std::vector<FakeRegistry::KeyRecord> FakeRegistry::AllKeys() const {
    std::vector<KeyRecord> out;
    CollectKeys(*s_->machine->root, s_->PathOf(*s_->machine->root), &out);
    CollectKeys(*s_->users->root, s_->PathOf(*s_->users->root), &out);
    for (const auto& hive : s_->hives) {
        if (hive->kind == HiveKind::File && hive->root->parent == nullptr && !hive->replaced) {
            CollectKeys(*hive->root, s_->PathOf(*hive->root), &out);
        }
    }
    return out;
}

std::vector<std::string> FakeRegistry::OpenKeyPaths() const {
    std::vector<std::string> paths;
    for (const auto& entry : s_->handles) paths.push_back(entry.second.path);
    return paths;
}

std::size_t FakeRegistry::OpenKeyCount() const { return s_->handles.size(); }

int FakeRegistry::CallCount(RegOp op) const { return s_->calls[static_cast<int>(op)]; }

const std::vector<std::string>& FakeRegistry::LoadLog() const { return s_->loadLog; }
const std::vector<std::string>& FakeRegistry::UnloadLog() const { return s_->unloadLog; }
const std::vector<std::string>& FakeRegistry::FlushLog() const { return s_->flushLog; }

// --- IRegistry ---

Win32Error FakeRegistry::OpenKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                 HKey* key) noexcept {
    return s_->Open(parent, subKey, access, key, false);
}

Win32Error FakeRegistry::OpenLinkKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                     HKey* key) noexcept {
    return s_->Open(parent, subKey, access, key, true);
}

Win32Error FakeRegistry::CreateKey(HKey parent, std::string_view subKey, std::uint32_t options,
                                   std::uint32_t access, HKey* key,
                                   std::uint32_t* disposition) noexcept {
    (void)options;  // volatile keys are not modelled; every key persists
    State::Ref ref;
    std::vector<std::string> parts;
    if (Win32Error e =
            s_->BeginKeyCall(RegOp::kCreate, parent, subKey, access, key, &ref, &parts)) {
        return e;
    }
    if (parts.empty() && ref.predefined) {
        *key = parent;
        if (disposition != nullptr) *disposition = reg::kOpenedExistingKey;
        return err::kSuccess;
    }
    // Walk what exists; everything after that is created, after the whole path has been checked
    // so that a refused name leaves no half-created keys behind.
    std::shared_ptr<Node> node = ref.node;
    std::size_t i = 0;
    for (; i < parts.size(); ++i) {
        std::shared_ptr<Node> child = node->Child(parts[i]);
        if (!child) break;
        node = Follow(child);
        if (!node) return err::kFileNotFound;  // a link that leads nowhere (unverified code)
    }
    if (i < parts.size()) {
        for (std::size_t j = i; j < parts.size(); ++j) {
            // Over-long names: ERROR_INVALID_PARAMETER on Windows (unverified; older releases
            // returned ERROR_BADKEY). Wine cannot settle it: in the contract test it accepts 256
            // characters and answers a longer name with ERROR_MORE_DATA.
            if (CharCount(parts[j]) > kMaxKeyNameChars) return err::kInvalidParameter;
        }
        // New keys cannot be made directly below HKEY_LOCAL_MACHINE or HKEY_USERS, whose
        // children are hives; the system answers ERROR_ACCESS_DENIED.
        if (node == s_->machine->root || node == s_->users->root) return err::kAccessDenied;
        FileTime now = s_->Now();
        // Creating a key stamps its parent only; the new keys carry the current time.
        node->time = now;
        for (std::size_t j = i; j < parts.size(); ++j) {
            std::shared_ptr<Node> child = s_->NewNode(parts[j], node->hive);
            child->time = now;
            State::Attach(*node, child);
            node = child;
        }
    }
    *key = s_->AddHandle(node, access);
    if (disposition != nullptr) {
        *disposition = i < parts.size() ? reg::kCreatedNewKey : reg::kOpenedExistingKey;
    }
    return err::kSuccess;
}

Win32Error FakeRegistry::EnumKey(HKey key, std::uint32_t index, std::uint32_t bufferChars,
                                 std::string* name) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->ReachOpenKey(RegOp::kEnum, key, kKeyEnumerateSubKeys, &ref)) return e;
    if (name == nullptr) return err::kInvalidParameter;
    if (index >= ref.node->children.size()) return err::kNoMoreItems;
    const std::string& found = ref.node->children.At(index)->name;
    // The buffer size counts the terminating NUL; a name that does not fit is not copied at all.
    if (found.size() + 1 > bufferChars) return err::kMoreData;
    *name = found;
    return err::kSuccess;
}

Win32Error FakeRegistry::QueryValue(HKey key, std::string_view valueName, std::uint32_t bufferBytes,
                                    std::uint32_t* type, std::string* data,
                                    std::uint32_t* neededBytes) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->ReachOpenKey(RegOp::kQuery, key, kKeyQueryValue, &ref)) return e;
    const Value* v = ref.node->FindValue(valueName);
    if (v == nullptr) return err::kFileNotFound;
    std::uint32_t size = static_cast<std::uint32_t>(v->data.size());
    if (type != nullptr) *type = v->type;
    if (neededBytes != nullptr) *neededBytes = size;
    // Without a buffer the call only reports type and size.
    if (data == nullptr) return err::kSuccess;
    // Windows leaves the buffer's contents undefined here; the fake leaves it untouched, which is
    // what callers may at most rely on.
    if (size > bufferBytes) return err::kMoreData;
    *data = v->data;
    return err::kSuccess;
}

Win32Error FakeRegistry::SetValue(HKey key, std::string_view valueName, std::uint32_t type,
                                  std::string_view data) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->ReachOpenKey(RegOp::kSet, key, kKeySetValue, &ref)) return e;
    ref.node->SetValue(valueName, type, data);
    ref.node->time = s_->Now();
    return err::kSuccess;
}

Win32Error FakeRegistry::DeleteKey(HKey parent, std::string_view subKey) noexcept {
    ++s_->calls[static_cast<int>(RegOp::kDelete)];
    State::Ref ref;
    std::vector<std::string> parts;
    Win32Error e = s_->ReachBelow(RegOp::kDelete, parent, subKey, &ref, &parts);
    if (e != err::kSuccess) return e;
    std::shared_ptr<Node> node = Descend(ref.node, parts);
    if (!node) return err::kFileNotFound;
    // The root of a hive (HKEY_USERS\<SID>, HKEY_LOCAL_MACHINE\SOFTWARE) is never deleted; the
    // code is unverified, ERROR_ACCESS_DENIED as for the other refusals (the system's
    // STATUS_CANNOT_DELETE). Wine cannot settle it: in the contract test it deletes the root of a
    // loaded hive, and the hive with it.
    if (s_->IsRootOrHiveRoot(*node)) return err::kAccessDenied;
    // RegDeleteKeyA deletes one key: one that still has sub keys is refused, one that holds only
    // values goes with its values.
    if (!node->children.empty()) return err::kAccessDenied;
    Node* up = node->parent;
    up->children.Erase(node->name);
    node->deleted = true;
    node->parent = nullptr;
    up->time = s_->Now();
    return err::kSuccess;
}

Win32Error FakeRegistry::FlushKey(HKey key) noexcept {
    ++s_->calls[static_cast<int>(RegOp::kFlush)];
    State::Ref ref;
    Win32Error e = s_->Resolve(key, &ref);
    if (e != err::kSuccess) return e;
    const Hive* hive = ref.node->hive;
    s_->flushLog.push_back(hive->kind == HiveKind::Machine     ? std::string("HKLM")
                           : hive->kind == HiveKind::UsersRoot ? std::string("HKU")
                                                               : hive->mountName);
    if ((e = TakeFault(RegOp::kFlush, ref.path))) return e;
    if (ref.node->deleted) return err::kKeyDeleted;
    // The store is the hive file itself, so there is nothing left to write.
    return err::kSuccess;
}

Win32Error FakeRegistry::QueryLastWriteTime(HKey key, FileTime* time) noexcept {
    // RegQueryInfoKeyA needs KEY_QUERY_VALUE on the handle.
    State::Ref ref;
    if (Win32Error e = s_->ReachOpenKey(RegOp::kQueryInfo, key, kKeyQueryValue, &ref)) return e;
    if (time == nullptr) return err::kInvalidParameter;
    *time = ref.node->time;
    return err::kSuccess;
}

Win32Error FakeRegistry::SetLastWriteTime(HKey key, FileTime time) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->ReachOpenKey(RegOp::kSet, key, kKeySetValue, &ref)) return e;
    ref.node->time = time;
    return err::kSuccess;
}

Win32Error FakeRegistry::CloseKey(HKey key) noexcept {
    if (IsPredefinedKey(key)) return err::kSuccess;
    auto it = s_->handles.find(key);
    if (it == s_->handles.end()) return err::kInvalidHandle;
    --it->second.node->hive->openHandles;
    s_->handles.erase(it);
    return err::kSuccess;
}

Win32Error FakeRegistry::EnumValue(HKey key, std::uint32_t index, std::string* name,
                                   std::uint32_t* type, std::string* data) noexcept {
    // RegEnumValueA reads values: KEY_QUERY_VALUE.
    State::Ref ref;
    if (Win32Error e = s_->ReachOpenKey(RegOp::kEnumValue, key, kKeyQueryValue, &ref)) return e;
    if (name == nullptr) return err::kInvalidParameter;
    // Values come in the order they were first set, as the system keeps them.
    if (index >= ref.node->values.size()) return err::kNoMoreItems;
    const Value& v = ref.node->values[index];
    *name = v.name;
    if (type != nullptr) *type = v.type;
    if (data != nullptr) *data = v.data;
    return err::kSuccess;
}

Win32Error FakeRegistry::SaveKey(HKey key, std::string_view file) noexcept {
    ++s_->calls[static_cast<int>(RegOp::kSave)];
    State::Ref ref;
    Win32Error e = s_->Reach(RegOp::kSave, key, &ref);
    if (e != err::kSuccess) return e;
    if (file.empty()) return err::kInvalidParameter;
    // The system creates the file first (never over an existing one: ERROR_ALREADY_EXISTS), then
    // saves into it, which needs SeBackupPrivilege; a refused save leaves no file behind.
    const bool onDisk = s_->w.fileExists ? s_->w.fileExists(file) : false;
    Hive* known = s_->FindHiveFile(file);
    if (onDisk || (known != nullptr && !s_->w.fileExists)) return err::kAlreadyExists;
    if (!s_->w.backupPrivilege()) return err::kPrivilegeNotHeld;
    if (s_->w.createFile) {
        e = s_->w.createFile(file);
        if (e == err::kFileExists) return err::kAlreadyExists;
        if (e != err::kSuccess) return e;
    }
    // A hive the registry still knew by that name has lost its file: the new one takes its place.
    if (known != nullptr) {
        known->replaced = true;
        s_->hiveFiles.erase(text::FoldCase(NormalizeFilePath(file)));
    }
    Hive* hive = s_->NewHiveFile(file);
    CopyTree(*ref.node, *hive->root, hive);
    return err::kSuccess;
}

Win32Error FakeRegistry::LoadKey(HKey parent, std::string_view subKey,
                                 std::string_view file) noexcept {
    if (Win32Error e = s_->BeginHiveCall(RegOp::kLoad, s_->loadLog, parent, subKey)) return e;
    if (subKey.empty() || text::Find(subKey, '\\') != text::npos ||
        CharCount(subKey) > kMaxKeyNameChars) {
        return err::kInvalidParameter;
    }
    if (file.empty()) return err::kInvalidParameter;
    if (s_->w.fileExists && !s_->w.fileExists(file)) return err::kFileNotFound;
    Hive* hive = s_->FindHiveFile(file);
    if (hive == nullptr) return err::kFileNotFound;
    // A hive file that is loaded is held open exclusively by the system.
    if (hive->root->parent != nullptr) return err::kSharingViolation;
    // The name is taken: the system's object name collision, ERROR_ALREADY_EXISTS, as Wine
    // answers in the contract test.
    if (s_->MountedHive(subKey) != nullptr) return err::kAlreadyExists;
    s_->Mount(*hive, subKey);
    hive->loadedByApp = true;
    return err::kSuccess;
}

Win32Error FakeRegistry::UnLoadKey(HKey parent, std::string_view subKey) noexcept {
    if (Win32Error e = s_->BeginHiveCall(RegOp::kUnload, s_->unloadLog, parent, subKey)) return e;
    Hive* hive = subKey.empty() ? nullptr : s_->MountedHive(subKey);
    if (hive == nullptr) return err::kFileNotFound;
    // A hive the system loaded (a logged-on user, .DEFAULT) is in use by the system.
    if (!hive->loadedByApp) return err::kAccessDenied;
    // Windows refuses while any key of the hive is open (Wine 8 unloads anyway).
    if (hive->openHandles != 0) return err::kAccessDenied;
    s_->users->root->children.Erase(hive->mountName);
    hive->root->parent = nullptr;
    hive->loadedByApp = false;
    hive->mountName.clear();
    return err::kSuccess;
}

}  // namespace qv::fake
