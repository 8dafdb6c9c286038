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

#include <algorithm>
#include <map>
#include <stdexcept>
#include <utility>

#include "base/text.h"
#include "fake/fake_case.h"

namespace qv::fake {

namespace {

// Windows refuses key names longer than 255 characters (Wine 8 still accepts 256). A double-byte
// character of the ANSI code page is one character.
constexpr std::size_t kMaxKeyNameChars = 255;

// Key access rights. A handle keeps the rights it was opened with; MAXIMUM_ALLOWED grants all.
// GENERIC_READ and the other generic rights, which the tool never asks for, are not mapped to key
// rights here: a handle opened with them alone holds none.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kDelete = 0x10000;

// Where the 32-bit view of HKEY_LOCAL_MACHINE\Software lies in the 64-bit view.
constexpr char kWow64Node[] = "Wow6432Node";

FileTime FileTimeFromUnix(std::int64_t seconds) {
    return static_cast<FileTime>(seconds + kSecondsFrom1601To1970) * kFileTimeTicksPerSecond;
}

std::int64_t UnixFromFileTime(FileTime t) {
    return static_cast<std::int64_t>(t / kFileTimeTicksPerSecond) - kSecondsFrom1601To1970;
}

struct Hive;

struct Node {
    std::string name;
    // The sub keys in the order a hive keeps them (by name, case-insensitively, letters as upper
    // case: "A_B" after "ALPHA"; Wine folds to lower case instead, see the contract test), so that
    // RegEnumKeyExA's index is a position among the keys as they are at that call.
    std::vector<std::shared_ptr<Node>> children;
    // Values in the order they were first set, as the system keeps them.
    std::vector<std::pair<std::string, FakeRegistry::RawValue>> values;
    FileTime time = 0;
    Node* parent = nullptr;  // null for a root, a deleted key and the root of an unloaded hive
    Hive* hive = nullptr;
    bool deleted = false;
    // A registry link (REG_OPTION_CREATE_LINK): an open without REG_OPTION_OPEN_LINK, and every
    // path through it, reaches the key it names instead.
    std::weak_ptr<Node> linkTarget;
    bool isLink = false;

    auto Slot(std::string_view childName) const {
        return std::lower_bound(children.begin(), children.end(), childName,
                                [](const std::shared_ptr<Node>& child, std::string_view n) {
                                    return text::CompareNoCase(child->name, n) < 0;
                                });
    }
    std::shared_ptr<Node> Child(std::string_view childName) const {
        auto it = Slot(childName);
        return it != children.end() && text::EqualsNoCase((*it)->name, childName) ? *it : nullptr;
    }
    // Adds a sub key of a name not taken yet.
    std::shared_ptr<Node> Attach(std::shared_ptr<Node> child) {
        child->parent = this;
        children.insert(Slot(child->name), child);
        return child;
    }
    void Detach(Node& child) {
        children.erase(Slot(child.name));
        child.parent = nullptr;
    }
    FakeRegistry::RawValue* FindValue(std::string_view valueName) {
        for (auto& [stored, value] : values) {
            if (text::EqualsNoCase(stored, valueName)) return &value;
        }
        return nullptr;
    }
    // A value set again keeps its name as first written and its place in the order.
    void SetValue(std::string_view valueName, std::uint32_t type, std::string_view data) {
        FakeRegistry::RawValue* v = FindValue(valueName);
        if (v == nullptr) v = &values.emplace_back(valueName, FakeRegistry::RawValue{}).second;
        *v = FakeRegistry::RawValue{type, std::string(data)};
    }
};

struct Hive {
    std::string file;  // empty for the roots and the hives the system loaded
    bool loadedByApp = false;
    // Its root, named as the hive is mounted under HKEY_USERS ("HKLM" and "HKU" for the roots).
    std::shared_ptr<Node> root;
    // Handles open on keys of this hive: RegUnLoadKeyA refuses while there are any.
    std::size_t openHandles = 0;
};

std::shared_ptr<Node> NewNode(std::string_view name, Hive* hive, FileTime time) {
    auto node = std::make_shared<Node>();
    node->name = std::string(name);
    node->hive = hive;
    node->time = time;
    return node;
}

// The components of a key path. Empty ones (doubled or trailing backslashes) name nothing; the
// system skips them.
std::vector<std::string> SplitKeyPath(std::string_view path) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = std::min(text::Find(path, '\\', start), path.size());
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// `path` and one more name below it; a hive file's path ("<file>|") takes it without "\".
std::string Below(std::string path, std::string_view name) {
    if (path.back() != '|') path += '\\';
    return path.append(name);
}

// Whether `path` is `key` or lies below it, ignoring case.
bool AtOrBelow(std::string_view path, std::string_view key) {
    return text::EqualsNoCase(path.substr(0, key.size()), key) &&
           (path.size() == key.size() || path[key.size()] == '\\');
}

// A key's path as setup and OpenKeyPaths write it: "HKLM\...", "HKU\<hive>\...", or
// "<hive file>|..." for a hive file that is not loaded.
std::string PathOf(const Node& node) {
    if (node.parent != nullptr) return Below(PathOf(*node.parent), node.name);
    return node.hive->root.get() == &node && !node.hive->file.empty() ? node.hive->file + "|"
                                                                      : node.name;
}

// A hive file name as the system resolves it before opening the file ("/" is a separator too,
// runs of separators count as one, "." components go and ".." takes the previous one away), with
// its case folded: the key of the machine's hive files.
std::string FileKey(std::string_view file) {
    std::string path = text::FoldCase(file);
    for (std::size_t i = 0; i < path.size(); i += text::CharLength(path, i)) {
        if (path[i] == '/') path[i] = '\\';
    }
    std::vector<std::string> parts;
    for (std::string& part : SplitKeyPath(path)) {
        if (part == "..") {
            if (parts.size() > 1) parts.pop_back();  // never above the drive
        } else if (part != ".") {
            parts.push_back(std::move(part));
        }
    }
    std::string key;
    for (const std::string& part : parts) key += "\\" + part;
    return key;
}

// Takes the key and everything below it out of the tree; handles open on them then get
// ERROR_KEY_DELETED. The caller holds the key.
void Remove(Node& node) {
    if (node.parent != nullptr) node.parent->Detach(node);
    for (const auto& child : node.children) {
        child->parent = nullptr;
        Remove(*child);
    }
    node.children.clear();
    node.deleted = true;
}

void SetTimeBelow(Node& node, FileTime t) {
    node.time = t;
    for (const auto& child : node.children) SetTimeBelow(*child, t);
}

// The key a registry link leads to (links after links followed, as the system follows a chain
// of them up to a depth); null when it leads to no key.
std::shared_ptr<Node> Follow(std::shared_ptr<Node> node) {
    constexpr int kMaxLinkDepth = 16;
    for (int depth = 0; node && node->isLink; ++depth) {
        node = depth < kMaxLinkDepth ? node->linkTarget.lock() : nullptr;
        if (node && node->deleted) return nullptr;
    }
    return node;
}

// The key `parts` names below `node`, every link on the way followed; null when one is missing.
std::shared_ptr<Node> Descend(std::shared_ptr<Node> node, const std::vector<std::string>& parts) {
    for (std::size_t i = 0; i < parts.size() && node; ++i) node = Follow(node->Child(parts[i]));
    return node;
}

// A copy of `from` and everything below it into `to`, values and last-write times included, as a
// hive file saved from it holds them.
void CopyTree(const Node& from, Node& to) {
    to.values = from.values;
    to.time = from.time;
    for (const auto& child : from.children) {
        CopyTree(*child, *to.Attach(NewNode(child->name, to.hive, child->time)));
    }
}

void CollectKeys(const Node& node, const std::string& path,
                 std::vector<FakeRegistry::KeyRecord>* out) {
    out->push_back({path, UnixFromFileTime(node.time), node.values});
    for (const auto& child : node.children) CollectKeys(*child, Below(path, child->name), out);
}

}  // namespace

struct FakeRegistry::State {
    Wiring w;
    std::string currentUserSid;
    bool wow64 = false;

    std::vector<std::unique_ptr<Hive>> hives;
    // The hive files by FileKey: a machine has a hive file per profile, and every RegLoadKeyA
    // looks one up.
    std::map<std::string, Hive*> hiveFiles;
    Hive* machine = nullptr;
    Hive* users = nullptr;

    // What a handle stands for; for a call naming a sub key, `path` and `parts` name that key.
    struct Ref {
        std::shared_ptr<Node> node;
        std::string path;
        std::uint32_t access = 0;
        bool predefined = false;
        std::vector<std::string> parts;
    };
    std::map<HKey, Ref> handles;
    HKey nextHandle = 0x1000;

    int calls[static_cast<int>(RegOp::kSave) + 1] = {};
    std::vector<std::string> logs[static_cast<int>(RegOp::kSave) + 1];
    FakeRegistry* owner = nullptr;  // whose injected faults the calls take

    FileTime Now() const { return FileTimeFromUnix(w.now()); }

    Hive* NewHive(std::string_view rootName) {
        Hive* hive = hives.emplace_back(std::make_unique<Hive>()).get();
        hive->root = NewNode(rootName, hive, Now());
        return hive;
    }

    // A hive file not seen before, or one whose file was gone: the new hive takes the name.
    Hive* NewHiveFile(std::string_view file) {
        Hive* hive = NewHive("");
        hive->file = std::string(file);
        hiveFiles[FileKey(file)] = hive;
        return hive;
    }

    Hive* FindHiveFile(std::string_view file) const {
        auto it = hiveFiles.find(FileKey(file));
        return it == hiveFiles.end() ? nullptr : it->second;
    }

    Hive* MountedHive(std::string_view name) const {
        std::shared_ptr<Node> root = users->root->Child(name);
        return root ? root->hive : nullptr;
    }

    void Mount(Hive& hive, std::string_view name) {
        hive.root->name = std::string(name);
        users->root->Attach(hive.root);
    }

    // A hive the system itself mounted under HKEY_USERS\<name>, unless one is there already.
    void MountSystemHive(std::string_view name) {
        if (MountedHive(name) == nullptr) Mount(*NewHive(name), name);
    }

    // The roots of HKEY_LOCAL_MACHINE and HKEY_USERS hold only hive mount points; the keys
    // directly below them are hive roots, which RegDeleteKeyA never deletes.
    bool IsRootOrHiveRoot(const Node& node) const {
        return node.parent == nullptr || node.parent == machine->root.get() ||
               node.parent == users->root.get();
    }

    // HKEY_CURRENT_USER is looked up on every call, as the system maps it to the running user's
    // hive; without that hive there is nothing to map it to. The other predefined roots are not
    // part of this machine.
    Win32Error Resolve(HKey key, Ref* ref) const {
        std::shared_ptr<Node> root = key == kHkeyLocalMachine  ? machine->root
                                     : key == kHkeyUsers       ? users->root
                                     : key == kHkeyCurrentUser ? users->root->Child(currentUserSid)
                                                               : nullptr;
        if (root) {
            *ref = Ref{root, PathOf(*root), kKeyAllAccess, true, {}};
            return err::kSuccess;
        }
        if (key == kHkeyCurrentUser) return err::kFileNotFound;
        auto it = handles.find(key);
        if (it == handles.end()) return err::kInvalidHandle;
        *ref = it->second;
        return err::kSuccess;
    }

    HKey AddHandle(const std::shared_ptr<Node>& node, std::uint32_t access) {
        ++node->hive->openHandles;
        const std::uint32_t granted = (access & reg::kMaximumAllowed) ? kKeyAllAccess : access;
        handles[nextHandle] = Ref{node, PathOf(*node), granted, false, {}};
        return std::exchange(nextHandle, nextHandle + 4);
    }

    // What every call on a key does first, in this order: it is counted, the handle resolved (a
    // flush logged), a sub key name that starts with "\" refused, an injected fault on the path
    // answers, a key deleted while the handle was open gives ERROR_KEY_DELETED, the handle must
    // hold the `need` rights, and the sub key's path is taken in the view `access` asks for.
    Win32Error Begin(RegOp op, HKey key, std::uint32_t need, Ref* ref, std::string_view subKey = {},
                     std::uint32_t access = 0) {
        ++calls[static_cast<int>(op)];
        if (Win32Error e = Resolve(key, ref)) return e;
        if (op == RegOp::kFlush) logs[static_cast<int>(op)].push_back(ref->node->hive->root->name);
        if (!subKey.empty() && subKey.front() == '\\') return err::kBadPathname;
        ref->parts = SplitKeyPath(subKey);
        for (const std::string& part : ref->parts) ref->path = Below(ref->path, part);
        if (Win32Error e = owner->TakeFault(op, ref->path)) return e;
        if (ref->node->deleted) return err::kKeyDeleted;
        if ((ref->access & need) != need) return err::kAccessDenied;
        return ApplyView(ref, access);
    }

    // What a hive's load and unload check first, in this order: the call is counted and logged,
    // an injected fault answers, hives live only below HKEY_USERS on this machine, and the restore
    // privilege is checked before anything else. Windows asks for the restore and backup
    // privileges and refuses with ERROR_PRIVILEGE_NOT_HELD, as Wine does in the contract test;
    // the token check here is the restore privilege, which is what the tool enables (and all that
    // Wine asks for).
    Win32Error BeginHiveCall(RegOp op, HKey parent, std::string_view subKey) {
        ++calls[static_cast<int>(op)];
        logs[static_cast<int>(op)].emplace_back(subKey);
        if (Win32Error e = owner->TakeFault(op, subKey)) return e;
        if (parent != kHkeyUsers) return err::kInvalidParameter;
        return w.restorePrivilege() ? err::kSuccess : err::kPrivilegeNotHeld;
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
    Win32Error ApplyView(Ref* ref, std::uint32_t access) const {
        if (!wow64) return err::kSuccess;
        if ((access & reg::kViewMask) == reg::kViewMask) return err::kInvalidParameter;
        if ((access & reg::kWow64_32Key) == 0 || ref->node != machine->root ||
            !AtOrBelow(ref->path, "HKLM\\Software")) {
            return err::kSuccess;
        }
        for (std::string_view shared :
             {"HKLM\\Software\\Wow6432Node",
              "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"}) {
            if (AtOrBelow(ref->path, shared)) return err::kSuccess;
        }
        ref->parts.insert(ref->parts.begin() + 1, kWow64Node);
        return err::kSuccess;
    }

    // RegOpenKeyExA (op kOpen; `openLink` for REG_OPTION_OPEN_LINK) and RegCreateKeyExA.
    Win32Error OpenOrCreate(RegOp op, HKey parent, std::string_view subKey, std::uint32_t access,
                            HKey* key, bool openLink, std::uint32_t* disposition) {
        if (key == nullptr) return err::kInvalidParameter;
        *key = 0;
        Ref ref;
        if (Win32Error e = Begin(op, parent, 0, &ref, subKey, access)) return e;
        const std::vector<std::string>& parts = ref.parts;
        if (disposition != nullptr) *disposition = reg::kOpenedExistingKey;
        // An empty name on a predefined root gives that root back; on any other key it opens a
        // new handle to the same key.
        if (parts.empty() && ref.predefined) {
            *key = parent;
            return err::kSuccess;
        }
        std::shared_ptr<Node> node = ref.node;
        std::size_t i = 0;
        for (; i < parts.size(); ++i) {
            std::shared_ptr<Node> child = node->Child(parts[i]);
            if (!child) break;
            node = openLink && i + 1 == parts.size() ? child : Follow(child);
            if (!node) return err::kFileNotFound;  // a link that leads nowhere (unverified code)
        }
        if (i < parts.size()) {
            if (op == RegOp::kOpen) return err::kFileNotFound;
            // The whole path is checked before anything is created, so that a refused name
            // leaves no half-created keys behind. Over-long names: ERROR_INVALID_PARAMETER on
            // Windows (unverified; older releases returned ERROR_BADKEY). Wine cannot settle it:
            // in the contract test it accepts 256 characters and answers a longer name with
            // ERROR_MORE_DATA.
            for (std::size_t j = i; j < parts.size(); ++j) {
                if (CharCount(parts[j]) > kMaxKeyNameChars) return err::kInvalidParameter;
            }
            // New keys cannot be made directly below HKEY_LOCAL_MACHINE or HKEY_USERS, whose
            // children are hives; the system answers ERROR_ACCESS_DENIED.
            if (node == machine->root || node == users->root) return err::kAccessDenied;
            // Creating a key stamps its parent only; the new keys carry the current time.
            node->time = Now();
            for (; i < parts.size(); ++i) node = node->Attach(NewNode(parts[i], node->hive, Now()));
            if (disposition != nullptr) *disposition = reg::kCreatedNewKey;
        }
        *key = AddHandle(node, access);
        return err::kSuccess;
    }

    // Setup paths: "HKLM\...", "HKU\...", "HKCU\..." (and the long root names), or
    // "<hive file>|<path>". Returns the root node to start from and the components below it.
    std::pair<std::shared_ptr<Node>, std::vector<std::string>> ParseSetupPath(std::string_view path,
                                                                              bool create) {
        std::size_t bar = text::Find(path, '|');
        if (bar != text::npos) {
            Hive* hive = FindHiveFile(path.substr(0, bar));
            if (hive == nullptr && create) hive = NewHiveFile(path.substr(0, bar));
            return {hive ? hive->root : nullptr, SplitKeyPath(path.substr(bar + 1))};
        }
        std::vector<std::string> parts = SplitKeyPath(path);
        const std::string root = parts.empty() ? std::string() : text::FoldCase(parts.front());
        if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
            if (currentUserSid.empty()) throw std::logic_error("FakeRegistry: HKCU without a user");
            parts.insert(parts.begin() + 1, currentUserSid);
        } else if (root != "HKU" && root != "HKEY_USERS" && root != "HKLM" &&
                   root != "HKEY_LOCAL_MACHINE") {
            throw std::invalid_argument("FakeRegistry: unknown root in " + std::string(path));
        }
        parts.erase(parts.begin());
        if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") return {machine->root, parts};
        // A setup path below HKEY_USERS names a mounted hive; a missing one is mounted as the
        // system would have mounted it (setup creates what is missing).
        if (create && !parts.empty()) MountSystemHive(parts.front());
        return {users->root, parts};
    }

    std::shared_ptr<Node> FindSetup(std::string_view path) {
        auto [node, parts] = ParseSetupPath(path, false);
        return Descend(node, parts);
    }

    std::shared_ptr<Node> CreateSetup(std::string_view path) {
        auto [node, parts] = ParseSetupPath(path, true);
        for (const std::string& part : parts) {
            std::shared_ptr<Node> child = node->Child(part);
            node = child ? child : node->Attach(NewNode(part, node->hive, Now()));
        }
        return node;
    }
};

FakeRegistry::FakeRegistry() : s_(std::make_unique<State>()) {
    s_->owner = this;
    s_->machine = s_->NewHive("HKLM");
    s_->users = s_->NewHive("HKU");
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
    SetRawValue(path, name, type, std::string(value) + '\0');
}

void FakeRegistry::SetRawValue(std::string_view path, std::string_view name, std::uint32_t type,
                               std::string_view bytes) {
    s_->CreateSetup(path)->SetValue(name, type, bytes);
}

void FakeRegistry::DeleteTree(std::string_view path) {
    std::shared_ptr<Node> node = s_->FindSetup(path);
    if (!node) return;
    // A hive cannot be deleted.
    if (s_->IsRootOrHiveRoot(*node)) throw std::invalid_argument("FakeRegistry: a hive's root");
    Remove(*node);
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

void FakeRegistry::SetTreeTime(std::string_view path, std::int64_t unixSeconds) {
    SetTimeBelow(*s_->CreateSetup(path), FileTimeFromUnix(unixSeconds));
}

// --- inspection ---

bool FakeRegistry::KeyExists(std::string_view path) const { return s_->FindSetup(path) != nullptr; }

std::optional<std::string> FakeRegistry::GetString(std::string_view path,
                                                   std::string_view name) const {
    std::shared_ptr<Node> node = s_->FindSetup(path);
    const RawValue* v = node ? node->FindValue(name) : nullptr;
    if (v == nullptr) return std::nullopt;
    std::string text = v->bytes;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::vector<std::string> FakeRegistry::SubKeyNames(std::string_view path) const {
    std::vector<std::string> names;
    if (std::shared_ptr<Node> node = s_->FindSetup(path)) {
        for (const auto& child : node->children) names.push_back(child->name);
    }
    return names;
}

std::vector<std::string> FakeRegistry::ValueNames(std::string_view path) const {
    std::vector<std::string> names;
    if (std::shared_ptr<Node> node = s_->FindSetup(path)) {
        for (const auto& value : node->values) names.push_back(value.first);
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

std::vector<FakeRegistry::KeyRecord> FakeRegistry::AllKeys() const {
    std::vector<KeyRecord> out;
    CollectKeys(*s_->machine->root, "HKLM", &out);
    CollectKeys(*s_->users->root, "HKU", &out);
    for (const auto& file : s_->hiveFiles) {
        const Node& root = *file.second->root;
        if (root.parent == nullptr) CollectKeys(root, PathOf(root), &out);
    }
    return out;
}

std::vector<std::string> FakeRegistry::OpenKeyPaths() const {
    std::vector<std::string> paths;
    for (const auto& handle : s_->handles) paths.push_back(handle.second.path);
    return paths;
}

int FakeRegistry::CallCount(RegOp op) const { return s_->calls[static_cast<int>(op)]; }

const std::vector<std::string>& FakeRegistry::Log(RegOp op) const {
    return s_->logs[static_cast<int>(op)];
}

// --- IRegistry ---

Win32Error FakeRegistry::OpenKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                 HKey* key) noexcept {
    return s_->OpenOrCreate(RegOp::kOpen, parent, subKey, access, key, false, nullptr);
}

Win32Error FakeRegistry::OpenLinkKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                     HKey* key) noexcept {
    return s_->OpenOrCreate(RegOp::kOpen, parent, subKey, access, key, true, nullptr);
}

Win32Error FakeRegistry::CreateKey(HKey parent, std::string_view subKey, std::uint32_t options,
                                   std::uint32_t access, HKey* key,
                                   std::uint32_t* disposition) noexcept {
    (void)options;  // volatile keys are not modelled; every key persists
    return s_->OpenOrCreate(RegOp::kCreate, parent, subKey, access, key, false, disposition);
}

Win32Error FakeRegistry::EnumKey(HKey key, std::uint32_t index, std::uint32_t bufferChars,
                                 std::string* name) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->Begin(RegOp::kEnum, key, kKeyEnumerateSubKeys, &ref)) return e;
    if (name == nullptr) return err::kInvalidParameter;
    if (index >= ref.node->children.size()) return err::kNoMoreItems;
    const std::string& found = ref.node->children[index]->name;
    // The buffer size counts the terminating NUL; a name that does not fit is not copied at all.
    if (found.size() + 1 > bufferChars) return err::kMoreData;
    *name = found;
    return err::kSuccess;
}

Win32Error FakeRegistry::QueryValue(HKey key, std::string_view valueName, std::uint32_t bufferBytes,
                                    std::uint32_t* type, std::string* data,
                                    std::uint32_t* neededBytes) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->Begin(RegOp::kQuery, key, kKeyQueryValue, &ref)) return e;
    const RawValue* v = ref.node->FindValue(valueName);
    if (v == nullptr) return err::kFileNotFound;
    if (type != nullptr) *type = v->type;
    if (neededBytes != nullptr) *neededBytes = static_cast<std::uint32_t>(v->bytes.size());
    // Without a buffer the call only reports type and size. Windows leaves the buffer's contents
    // undefined when it is too small; the fake leaves it untouched, which is what callers may at
    // most rely on.
    if (data == nullptr) return err::kSuccess;
    if (v->bytes.size() > bufferBytes) return err::kMoreData;
    *data = v->bytes;
    return err::kSuccess;
}

Win32Error FakeRegistry::SetValue(HKey key, std::string_view valueName, std::uint32_t type,
                                  std::string_view data) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->Begin(RegOp::kSet, key, kKeySetValue, &ref)) return e;
    ref.node->SetValue(valueName, type, data);
    ref.node->time = s_->Now();
    return err::kSuccess;
}

Win32Error FakeRegistry::DeleteKey(HKey parent, std::string_view subKey) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->Begin(RegOp::kDelete, parent, 0, &ref, subKey)) return e;
    std::shared_ptr<Node> node = Descend(ref.node, ref.parts);
    if (!node) return err::kFileNotFound;
    // The root of a hive (HKEY_USERS\<SID>, HKEY_LOCAL_MACHINE\SOFTWARE) is never deleted; the
    // code is unverified, ERROR_ACCESS_DENIED as for the other refusals (the system's
    // STATUS_CANNOT_DELETE). Wine cannot settle it: in the contract test it deletes the root of a
    // loaded hive, and the hive with it. RegDeleteKeyA deletes one key: one that still has sub
    // keys is refused, one that holds only values goes with its values.
    if (s_->IsRootOrHiveRoot(*node) || !node->children.empty()) return err::kAccessDenied;
    node->parent->time = s_->Now();
    Remove(*node);
    return err::kSuccess;
}

Win32Error FakeRegistry::DeleteOpenKey(HKey key) noexcept {
    // NtDeleteKey needs DELETE access on the handle and deletes what it names, as RegDeleteKeyA
    // deletes what its name names, with the same refusals.
    State::Ref ref;
    if (Win32Error e = s_->Begin(RegOp::kDelete, key, kDelete, &ref)) return e;
    if (s_->IsRootOrHiveRoot(*ref.node) || !ref.node->children.empty()) {
        return err::kAccessDenied;
    }
    ref.node->parent->time = s_->Now();
    Remove(*ref.node);
    return err::kSuccess;
}

Win32Error FakeRegistry::FlushKey(HKey key) noexcept {
    // The store is the hive file itself, so there is nothing left to write.
    State::Ref ref;
    return s_->Begin(RegOp::kFlush, key, 0, &ref);
}

Win32Error FakeRegistry::QueryLastWriteTime(HKey key, FileTime* time) noexcept {
    // RegQueryInfoKeyA needs KEY_QUERY_VALUE on the handle.
    State::Ref ref;
    if (Win32Error e = s_->Begin(RegOp::kQueryInfo, key, kKeyQueryValue, &ref)) return e;
    if (time == nullptr) return err::kInvalidParameter;
    *time = ref.node->time;
    return err::kSuccess;
}

Win32Error FakeRegistry::SetLastWriteTime(HKey key, FileTime time) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->Begin(RegOp::kSet, key, kKeySetValue, &ref)) return e;
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
    if (Win32Error e = s_->Begin(RegOp::kEnumValue, key, kKeyQueryValue, &ref)) return e;
    if (name == nullptr) return err::kInvalidParameter;
    if (index >= ref.node->values.size()) return err::kNoMoreItems;
    const auto& [stored, value] = ref.node->values[index];
    *name = stored;
    if (type != nullptr) *type = value.type;
    if (data != nullptr) *data = value.bytes;
    return err::kSuccess;
}

Win32Error FakeRegistry::SaveKey(HKey key, std::string_view file) noexcept {
    State::Ref ref;
    if (Win32Error e = s_->Begin(RegOp::kSave, key, 0, &ref)) return e;
    if (file.empty()) return err::kInvalidParameter;
    // The system creates the file first (never over an existing one: ERROR_ALREADY_EXISTS), then
    // saves into it, which needs SeBackupPrivilege; a refused save leaves no file behind.
    if (s_->w.fileExists(file)) return err::kAlreadyExists;
    if (!s_->w.backupPrivilege()) return err::kPrivilegeNotHeld;
    if (Win32Error e = s_->w.createFile(file)) {
        return e == err::kFileExists ? err::kAlreadyExists : e;
    }
    CopyTree(*ref.node, *s_->NewHiveFile(file)->root);
    return err::kSuccess;
}

Win32Error FakeRegistry::LoadKey(HKey parent, std::string_view subKey,
                                 std::string_view file) noexcept {
    if (Win32Error e = s_->BeginHiveCall(RegOp::kLoad, parent, subKey)) return e;
    if (file.empty() || subKey.empty() || text::Find(subKey, '\\') != text::npos ||
        CharCount(subKey) > kMaxKeyNameChars) {
        return err::kInvalidParameter;
    }
    Hive* hive = s_->w.fileExists(file) ? s_->FindHiveFile(file) : nullptr;
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
    if (Win32Error e = s_->BeginHiveCall(RegOp::kUnload, parent, subKey)) return e;
    Hive* hive = s_->MountedHive(subKey);
    if (hive == nullptr) return err::kFileNotFound;
    // A hive the system loaded (a logged-on user, .DEFAULT) is in use by the system, and Windows
    // refuses while any key of the hive is open (Wine 8 unloads anyway).
    if (!hive->loadedByApp || hive->openHandles != 0) return err::kAccessDenied;
    s_->users->root->Detach(*hive->root);
    hive->loadedByApp = false;
    return err::kSuccess;
}

}  // namespace qv::fake
