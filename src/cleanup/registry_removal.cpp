#include "cleanup/registry_removal.h"

#include <string>

#include "base/text.h"
#include "cleanup/file_list.h"
#include "security/profiles.h"
#include "security/sid_text.h"

namespace qv {
namespace {

// RegEnumKeyA's name buffer in characters, its NUL included: a sub key name of 255 characters
// does not fit and stops the deletion of its tree.
constexpr std::uint32_t kEnumNameChars = 255;

// Flushes a hive that this run loaded, so that the deletion reaches the hive file before the
// unload. 0 or the flush error.
Win32Error FlushUserHive(const Services& services, std::string_view sidText) {
    IRegistry& registry = services.os.registry;
    UniqueKey root = OpenKey(registry, kHkeyUsers, sidText, reg::kKeyRead);
    if (!root) return err::kSuccess;  // nothing to flush through, nothing reported
    Win32Error e = registry.FlushKey(root.get());
    if (e != err::kSuccess && services.debug) ShowSystemError(services.os, e, "Flushing error:");
    return e;
}

}  // namespace

int RemoveCheckedUserData(Workspace& ws) {
    Platform& os = ws.services.os;
    int result = kRemovalNothingSelected;
    // A checked user whose hive could not be made available, or whose product folders could not
    // be deleted whole, was not cleaned: the run must not end as a success, nor as "nothing
    // selected".
    bool userSkipped = false;
    // Each pair carries the user's own registration key path: two registrations that share a
    // label stand under one registration item, and each user is removed with his own.
    for (const SelectedPair& pair : ws.tree.CheckedPairs()) {
        HiveLease hive(ws.services, pair.sidText, ws.hives);
        if (!hive.available()) {
            userSkipped = true;
            continue;
        }
        std::string registrationPath = pair.sidText + "\\" + pair.registrationKeyPath;
        // The files first: their folders are named by values of the key deleted next.
        if (CleanProductFiles(os, ws.tables, registrationPath, pair.sidText) ==
            ProductFilesOutcome::kDataLeft) {
            // The key is the only record of the data left behind: it stays, and the user stays
            // listed. The other users are still cleaned.
            userSkipped = true;
            continue;
        }
        Win32Error e = DeleteKeyTree(os.registry, kHkeyUsers, registrationPath);
        result = e == err::kSuccess ? kRemovalDone : kRemovalFailed;
        if (e == err::kSuccess) PruneEmptyParentKeys(os.registry, registrationPath);
        if (hive.loadedHere() && FlushUserHive(ws.services, pair.sidText) != err::kSuccess) {
            result = kRemovalFailed;
        }
        // A hive left loaded is no success either (the lease has shown why).
        if (hive.Release() != err::kSuccess) result = kRemovalFailed;
        if (result == kRemovalFailed) return kRemovalFailed;
    }
    return userSkipped ? kRemovalFailed : result;
}

Win32Error DeleteKeyTree(IRegistry& registry, HKey parent, std::string_view name) {
    Win32Error e = err::kSuccess;
    UniqueKey key = OpenKey(registry, parent, name, reg::kMaximumAllowed, &e);
    if (!key) return e;
    std::string subKey;
    // Index 0 every time: each deletion that succeeds takes that sub key away.
    while ((e = registry.EnumKey(key.get(), 0, kEnumNameChars, &subKey)) == err::kSuccess) {
        e = DeleteKeyTree(registry, key.get(), subKey);
        if (e != err::kSuccess) break;
    }
    if (e == err::kNoMoreItems || e == err::kBadKey) e = registry.DeleteKey(parent, name);
    return e;
}

void PruneEmptyParentKeys(IRegistry& registry, std::string_view path) {
    std::string key(path);
    for (;;) {
        std::size_t cut = text::FindLast(key, '\\');
        if (cut == text::npos) return;
        key.resize(cut);
        // The registry refuses a key that still has a sub key, and a hive's root key.
        if (registry.DeleteKey(kHkeyUsers, key) != err::kSuccess) return;
    }
}

}  // namespace qv
