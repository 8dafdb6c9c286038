#include "ui/population.h"

#include <string>
#include <vector>

#include "app/defaults.h"
#include "base/text.h"
#include "discovery/registration.h"
#include "security/profiles.h"
#include "security/sid_text.h"

namespace qv {
namespace {

// Registry last-write times count 100-nanosecond intervals from 1601; key times count seconds
// from 1970.
constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

// A user's registration counts as stale only when its oldest key is more than this many seconds
// older than the oldest key of the machine's registration.
constexpr KeyTime kStaleMarginSeconds = 60;

constexpr char kProcessingSid[] = "Processing sid : ";

// Tests each registration key below an open release key and lists the stale ones for `sidText`.
// A sub key name that does not fit the buffer, or any other enumeration error, ends the walk.
void AddStaleRegistrations(Workspace& ws, HKey releaseKey, std::string_view releaseKeyPath,
                           std::string_view product, std::string_view sidText) {
    IRegistry& registry = ws.services.os.registry;
    std::string name;
    for (std::uint32_t index = 0;
         registry.EnumKey(releaseKey, index, kMaxPath, &name) == err::kSuccess; ++index) {
        std::string registrationKeyPath(releaseKeyPath);
        registrationKeyPath += '\\';
        registrationKeyPath += name;
        UniqueKey registration = OpenKey(registry, releaseKey, name, reg::kKeyRead);
        if (!registration) continue;
        if (IsStaleRegistration(ws.services.os, registrationKeyPath, registration.get())) {
            AddRegistrationItem(ws, product, name, registrationKeyPath, sidText);
        }
    }
}

// A key's last-write time as a key time, 0 when it cannot be taken through local time.
KeyTime KeyTimeFromFileTime(ISystem& system, FileTime time) {
    const std::int64_t utc =
        static_cast<std::int64_t>(time / kFileTimeTicksPerSecond) - kSecondsFrom1601To1970;
    std::int64_t local = 0;
    return system.LocalTimeRoundTrip(utc, &local) ? local : 0;
}

}  // namespace

bool PopulateTree(Workspace& ws, std::string_view company, std::string_view product,
                  std::string_view release) {
    // A settings file that names a company but leaves out the product or release would make the
    // release key path end early, at the company or product key: its sub keys are whole products
    // or releases, not registrations, and listing them would offer them for deletion.
    if (company.empty() || product.empty() || release.empty()) return true;
    return ws.admin ? PopulateAllProfiles(ws, company, product, release)
                    : PopulateCurrentUser(ws, company, product, release);
}

bool PopulateAllProfiles(Workspace& ws, std::string_view company, std::string_view product,
                         std::string_view release) {
    Platform& os = ws.services.os;
    std::vector<std::string> sids;
    // A profile list that cannot be read is a registry that cannot be read, not an empty machine.
    if (!ListProfileSids(os, &sids)) return false;

    const std::string releaseKeyPath = ReleaseKeyPath(company, product, release);
    for (const std::string& sid : sids) {
        std::string userReleaseKeyPath = sid;
        userReleaseKeyPath += '\\';
        userReleaseKeyPath += releaseKeyPath;

        if (ws.services.debug) {
            os.messages.Show(ws.owner, std::string(kProcessingSid) + sid, kSettingsSection,
                             mb::kIconInformation);
        }

        HiveLease hive(ws.services, sid, ws.hives);
        if (!hive.available()) {
            // Not "nothing to clean": the operator is told how many users could not be read.
            if (ws.unreadableUsers != nullptr) ws.unreadableUsers->insert(sid);
            continue;
        }

        RegisterOrphanedUserData(os, ws.tables, sid, company, product, release);
        {
            // Every key of the hive is closed at the end of this block, before the unload: the
            // system refuses to unload a hive with open keys.
            UniqueKey releaseKey =
                OpenKey(os.registry, kHkeyUsers, userReleaseKeyPath, reg::kKeyRead);
            if (releaseKey) {
                AddStaleRegistrations(ws, releaseKey.get(), releaseKeyPath, product, sid);
            }
        }
        // A failed unload is reported by the lease itself; the scan of this user is complete.
        (void)hive.Release();
    }
    return true;
}

bool PopulateCurrentUser(Workspace& ws, std::string_view company, std::string_view product,
                         std::string_view release) {
    Platform& os = ws.services.os;
    Win32Error opened = err::kSuccess;
    UniqueKey currentUser = OpenKey(os.registry, kHkeyCurrentUser, "", reg::kKeyRead, &opened);
    if (opened != err::kSuccess) return false;

    const std::string sid = CurrentUserSidText(os.security);
    const std::string releaseKeyPath = ReleaseKeyPath(company, product, release);
    UniqueKey releaseKey = OpenKey(os.registry, currentUser.get(), releaseKeyPath, reg::kKeyRead);
    if (releaseKey) AddStaleRegistrations(ws, releaseKey.get(), releaseKeyPath, product, sid);
    return true;
}

bool IsStaleRegistration(Platform& os, std::string_view registrationKeyPath,
                         HKey userRegistrationKey) {
    UniqueKey machine = OpenKey(os.registry, kHkeyLocalMachine, registrationKeyPath, reg::kKeyRead);
    // The product and language are no longer installed: whatever the user holds is left over.
    if (!machine) return true;
    const KeyTime machineTime = OldestKeyTime(os, machine.get());
    const KeyTime userTime = OldestKeyTime(os, userRegistrationKey);
    machine.reset();
    return userTime + kStaleMarginSeconds < machineTime;
}

KeyTime OldestKeyTime(Platform& os, HKey key) {
    KeyTime oldest = os.system.CurrentTime();
    FileTime written = 0;
    if (os.registry.QueryLastWriteTime(key, &written) == err::kSuccess) {
        oldest = KeyTimeFromFileTime(os.system, written);
    }

    std::string name;
    for (std::uint32_t index = 0; os.registry.EnumKey(key, index, kMaxPath, &name) == err::kSuccess;
         ++index) {
        UniqueKey child = OpenKey(os.registry, key, name, reg::kKeyRead);
        if (!child) continue;
        const KeyTime childTime = OldestKeyTime(os, child.get());
        child.reset();
        if (childTime < oldest) oldest = childTime;
    }
    return oldest;
}

bool AddRegistrationItem(Workspace& ws, std::string_view product,
                         std::string_view registrationKeyName, std::string_view registrationKeyPath,
                         std::string_view sidText) {
    // No SID (the running user's could not be found): there is no account to list.
    if (sidText.empty()) return false;
    std::string accountName;
    if (!AccountNameFromSidText(ws.services.os.security, sidText, &accountName)) return false;

    const RegistrationName parts = SplitRegistrationKeyName(registrationKeyName);
    const std::string displayName =
        ProductDisplayName(ws.tables.productIds, product, parts.productId);
    const std::string languageName =
        ws.tables.languageNames.Lookup(parts.localeId).value_or(std::string());

    std::string label;
    if (!displayName.empty() && !languageName.empty()) {
        label = displayName + " (" + languageName + ")";
    } else {
        label = std::string(product) + " (" + parts.suffix + ")";
    }

    TreeItem registration = ws.tree.FindRegistrationItem(label);
    if (registration == 0)
        registration = ws.tree.InsertRegistrationItem(label, registrationKeyPath);
    if (registration == 0) return false;
    // The user keeps the path of his own registration: when two registrations share a label,
    // the item's path is the first one's, and removing this user must take his key, not that one.
    return ws.tree.InsertUserItem(registration, accountName, sidText, registrationKeyPath) != 0;
}

}  // namespace qv
