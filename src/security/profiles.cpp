#include "security/profiles.h"

#include "app/defaults.h"
#include "app/messages.h"
#include "base/text.h"
#include "security/sid_text.h"
#include "security/token.h"

namespace qv {
namespace {

constexpr char kProfileImagePath[] = "ProfileImagePath";
constexpr char kHiveFileName[] = "\\ntuser.dat";
// The profile key's path is built in a buffer of this size.
constexpr std::size_t kProfileKeyPathBytes = 1024;

// The text of a string value read into a buffer of kMaxPath bytes: up to its first NUL. A value
// without a NUL that fills the whole buffer leaves no room for one and is not a usable path.
bool ValueText(const std::string& data, std::string* out) {
    if (data.find('\0') == std::string::npos && data.size() >= kMaxPath) return false;
    *out = text::UpToNul(data);
    return true;
}

// A SID text names a hive directly below HKEY_USERS. An empty text would name HKEY_USERS itself
// and one with "\" a key inside some hive; neither is a user's hive.
bool IsHiveName(std::string_view sidText) {
    return !sidText.empty() && text::Find(sidText, '\\') == text::npos;
}

}  // namespace

bool ListProfileSids(Platform& os, std::vector<std::string>* list) {
    UniqueKey profiles = OpenKey(os.registry, kHkeyLocalMachine, kProfileListKey, reg::kReadNative);
    if (!profiles) return false;
    // Stops at the first name that cannot be read as well as at the end: a name of 260 bytes or
    // more does not fit the buffer and ends the list there.
    (void)ForEachSubKey(os.registry, profiles.get(), kMaxPath, [&](const std::string& name) {
        list->push_back(name);
        return true;
    });
    return true;
}

bool ProfileFolder(Platform& os, std::string_view sidText, std::string* folder) {
    std::string keyPath = kProfileListKey;
    keyPath += sidText;
    if (keyPath.size() >= kProfileKeyPathBytes) return false;

    UniqueKey profile = OpenKey(os.registry, kHkeyLocalMachine, keyPath, reg::kReadNative);
    if (!profile) return false;

    // The value's type is not checked: it is normally REG_EXPAND_SZ, but a REG_SZ path works too.
    std::string data;
    if (os.registry.QueryValue(profile.get(), kProfileImagePath, kMaxPath, nullptr, &data,
                               nullptr) != err::kSuccess) {
        return false;
    }
    std::string raw;
    if (!ValueText(data, &raw)) return false;

    // Expanded with the tool's own environment. A result that does not fit the 260-byte buffer
    // would be a truncated path, so it fails like an expansion that fails.
    std::string expanded;
    const std::uint32_t needed = os.system.ExpandEnvironmentStrings(raw, kMaxPath, &expanded);
    if (needed == 0 || needed > kMaxPath) return false;
    expanded = text::UpToNul(expanded);

    if (profile.close() != err::kSuccess) return false;
    *folder = std::move(expanded);
    return true;
}

bool ProfileHivePath(Platform& os, std::string_view sidText, std::string* path) {
    std::string hive;
    if (!ProfileFolder(os, sidText, &hive)) return false;
    if (IsDirectory(os.files, hive)) {
        // The hive file's name must fit a 260-byte path buffer with its NUL; a profile folder too
        // long for that cannot be loaded from, so it fails here rather than load a cut-off name.
        if (hive.size() + sizeof(kHiveFileName) > kMaxPath) return false;
        hive += kHiveFileName;
    }
    *path = std::move(hive);
    return true;
}

bool HiveBook::IsStuck(std::string_view sidText) const {
    return stuck_.find(sidText) != stuck_.end();
}

void HiveBook::SetStuck(std::string_view sidText, bool stuck) {
    if (stuck) {
        stuck_.emplace(sidText);
    } else if (auto it = stuck_.find(sidText); it != stuck_.end()) {
        stuck_.erase(it);
    }
}

HiveLease::HiveLease(const Services& services, std::string_view sidText, HiveBook* book)
    : services_(services), sid_(sidText), book_(book) {
    Platform& os = services.os;
    if (!IsHiveName(sidText)) {
        error_ = err::kInvalidName;
        return;
    }

    // Loaded already (a logged-on user, the operator, a service account): used in place. A hive
    // this run loaded and could not unload is its own, not a logged-on user's.
    {
        UniqueKey loaded = OpenKey(os.registry, kHkeyUsers, sid_, reg::kReadNative);
        if (loaded) {
            available_ = true;
            loadedHere_ = book_ != nullptr && book_->IsStuck(sid_);
            return;
        }
    }
    if (book_ != nullptr) book_->SetStuck(sid_, false);  // unloaded by someone since

    // Not checked: without a path the load itself fails and reports why.
    std::string hivePath;
    (void)ProfileHivePath(os, sidText, &hivePath);

    // The restore privilege lets the process pass file permissions: it is on for the load alone,
    // never while the tool reads or deletes the user's files.
    Win32Error e = err::kSuccess;
    {
        const ScopedPrivilege restore(os.security, sec::kRestorePrivilege);
        e = os.registry.LoadKey(kHkeyUsers, sid_, hivePath);
    }
    if (e != err::kSuccess) {
        if (services.debug) ShowSystemError(os, e, "RegLoadKey error for " + sid_ + ": ");
        error_ = e;
        return;
    }
    available_ = true;
    loadedHere_ = true;
}

// A hive that cannot be unloaded is shown by Release itself (and noted in the hive book).
HiveLease::~HiveLease() { (void)Release(); }

Win32Error HiveLease::Release() {
    if (!loadedHere_) return err::kSuccess;  // used in place: someone else's hive stays loaded
    loadedHere_ = false;
    available_ = false;
    Platform& os = services_.os;
    Win32Error e = err::kSuccess;
    for (std::size_t attempt = 0;; ++attempt) {
        {
            const ScopedPrivilege restore(os.security, sec::kRestorePrivilege);
            e = os.registry.UnLoadKey(kHkeyUsers, sid_);
        }
        if (e == err::kSuccess || attempt == std::size(kUnloadRetryWaits)) break;
        os.system.Sleep(kUnloadRetryWaits[attempt]);
    }
    if (book_ != nullptr) book_->SetStuck(sid_, e != err::kSuccess);
    // A hive left loaded is never left silently.
    if (e != err::kSuccess) ShowSystemError(os, e, "RegUnLoadKey error for " + sid_ + ": ");
    return e;
}

}  // namespace qv
