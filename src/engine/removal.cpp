#include "engine/removal.h"

#include <map>
#include <string>
#include <vector>

#include "app/messages.h"
#include "base/scope_exit.h"
#include "base/text.h"
#include "cleanup/file_list.h"
#include "discovery/registration.h"
#include "engine/backup/backup.h"
#include "security/profiles.h"
#include "security/sid_text.h"

namespace qv {
namespace {

// RegEnumKeyA's name buffer in characters, its NUL included: a sub key name of 255 characters
// does not fit and stops the deletion of its tree.
constexpr std::uint32_t kEnumNameChars = 255;

// Flushes a hive that this run loaded, so that the deletion reaches the hive file before the
// unload. 0 or the flush error.
[[nodiscard]] Win32Error FlushUserHive(const Services& services, std::string_view sidText) {
    IRegistry& registry = services.os.registry;
    UniqueKey root = OpenKey(registry, kHkeyUsers, sidText, reg::kReadNative);
    if (!root) return err::kSuccess;  // nothing to flush through, nothing reported
    Win32Error e = registry.FlushKey(root.get());
    if (e != err::kSuccess && services.debug) ShowSystemError(services.os, e, "Flushing error:");
    return e;
}

// A key below HKEY_USERS as the journal names it.
std::string UsersKeyName(std::string_view path) { return "HKEY_USERS\\" + std::string(path); }

// Whether the key below HKEY_USERS has a sub key that the dry run has not deleted. A key that
// does not exist has none.
bool HasSubKeyLeft(IRegistry& registry, const std::string& key, const Journal& journal) {
    UniqueKey open = OpenKey(registry, kHkeyUsers, key, reg::kReadNative);
    if (!open) return false;
    // A name that cannot be read ends the walk.
    bool left = false;
    (void)ForEachSubKey(registry, open.get(), kEnumNameChars, [&](const std::string& name) {
        left = !journal.IsDeleted(UsersKeyName(key + "\\" + name));
        return !left;
    });
    return left;
}

}  // namespace

namespace {
[[nodiscard]] RemovalOutcome RemoveSelection(Workspace& ws,
                                             const std::vector<SelectedPair>& selection,
                                             RunBackup* backup, Journal* journal);
}  // namespace

RemovalOutcome RemoveCheckedUserData(Workspace& ws, const std::vector<SelectedPair>& selection,
                                     const CleanupRun& run, Journal* journal) {
    // A real clean-up with an audit log records every action as it is taken, so that the lines
    // written so far stay whatever happens after them.
    // The backup's manifest, likewise, gets a line for each action.
    Journal recorded(false, run.backup);
    const bool recording = run.audit != nullptr || run.backup != nullptr;
    if (journal == nullptr && recording) journal = &recorded;
    if (journal == nullptr || journal->dryRun() || !recording) {
        return RemoveSelection(ws, selection, run.backup, journal);
    }
    std::map<std::string, std::string> accounts;
    journal->SetObserver([&ws, &run, &accounts](const Action& action) {
        auto it = accounts.find(action.sid);
        if (it == accounts.end()) {
            std::string account;
            // An account that cannot be named is left out of the records; the SID stays.
            (void)AccountNameFromSidText(ws.services.os.security, action.sid, &account);
            it = accounts.emplace(action.sid, account).first;
        }
        if (run.audit != nullptr) {
            run.audit->Record({ActionKindName(action.kind), action.path, action.sid, it->second,
                               ActionResultName(action.result), action.error, action.reason});
        }
        if (run.backup != nullptr)
            run.backup->Record(action, ws.services.os.system.AnsiToUtf8(it->second));
    });
    const auto detach = MakeScopeExit([journal] { journal->SetObserver(nullptr); });
    return RemoveSelection(ws, selection, run.backup, journal);
}

namespace {

[[nodiscard]] RemovalOutcome RemoveSelection(Workspace& ws,
                                             const std::vector<SelectedPair>& selection,
                                             RunBackup* backup, Journal* journal) {
    Platform& os = ws.services.os;
    const bool dryRun = journal != nullptr && journal->dryRun();
    RemovalOutcome result = RemovalOutcome::kNothingSelected;
    // A checked user whose hive could not be made available, or whose product folders could not
    // be deleted whole, was not cleaned: the run must not end as a success, nor as "nothing
    // selected".
    bool userSkipped = false;
    // Each pair carries the user's own registration key path: two registrations that share a
    // label stand under one registration item, and each user is removed with his own.
    for (const SelectedPair& pair : selection) {
        HiveLease hive(ws.services, pair.sidText, ws.hives);
        if (!hive.available()) {
            userSkipped = true;
            continue;
        }
        std::string registrationPath = pair.sidText + "\\" + pair.registrationKeyPath;
        const std::string keyName = UsersKeyName(registrationPath);
        // Leftover folders that a scan held in memory get their registration key first, so that
        // the clean-up of them is the one of any registration; a dry run only notes it.
        const LeftoverFolder leftover{pair.registrationKeyPath, pair.roamingFolder,
                                      pair.localFolder};
        if (pair.leftover) {
            Win32Error e =
                dryRun ? err::kSuccess : RegisterLeftoverFolder(os, pair.sidText, leftover);
            if (journal != nullptr) {
                journal->Note(ActionKind::kRegisterLeftoverFolder, keyName, pair.sidText,
                              e == err::kSuccess ? ActionResult::kDone : ActionResult::kFailed, e);
            }
            if (e != err::kSuccess) {
                userSkipped = true;
                continue;
            }
        }
        // The files first: their folders are named by values of the key deleted next.
        if (CleanProductFiles(os, ws.tables, registrationPath, pair.sidText, nullptr, journal,
                              dryRun && pair.leftover ? &leftover : nullptr) ==
            ProductFilesOutcome::kDataLeft) {
            // The key is the only record of the data left behind: it stays, and the user stays
            // listed. The other users are still cleaned.
            userSkipped = true;
            continue;
        }
        Win32Error e = err::kSuccess;
        std::string kept;
        if (!dryRun) {
            // The key goes only once its backup is kept.
            if (backup != nullptr) e = backup->KeepKeyTree(registrationPath, &kept);
            if (e == err::kSuccess) e = DeleteKeyTree(os.registry, kHkeyUsers, registrationPath);
        } else if (!pair.leftover) {
            // What the deletion would find: the key, unless it is gone already.
            UniqueKey key(os.registry);
            Win32Error opened = OpenKeyRefusingLinks(os.registry, kHkeyUsers, registrationPath,
                                                     reg::kReadNative, &key);
            e = journal->IsDeleted(keyName) ? err::kFileNotFound : opened;
        }
        if (journal != nullptr) {
            Action action;
            action.kind = ActionKind::kDeleteKeyTree;
            action.path = keyName;
            action.sid = pair.sidText;
            action.result = e == err::kSuccess ? ActionResult::kDone : ActionResult::kFailed;
            action.error = e;
            action.backup = std::move(kept);
            journal->Note(std::move(action));
            if (dryRun && e == err::kSuccess) journal->MarkDeleted(keyName);
        }
        result = e == err::kSuccess ? RemovalOutcome::kDone : RemovalOutcome::kFailed;
        if (e == err::kSuccess) {
            PruneEmptyParentKeys(os.registry, registrationPath, journal, pair.sidText);
        }
        if (!dryRun && hive.loadedHere() &&
            FlushUserHive(ws.services, pair.sidText) != err::kSuccess) {
            result = RemovalOutcome::kFailed;
        }
        // A hive left loaded is no success either (the lease has shown why).
        if (hive.Release() != err::kSuccess) result = RemovalOutcome::kFailed;
        if (result == RemovalOutcome::kFailed) return RemovalOutcome::kFailed;
    }
    return userSkipped ? RemovalOutcome::kFailed : result;
}

}  // namespace

Win32Error DeleteKeyTree(IRegistry& registry, HKey parent, std::string_view name) {
    // Each key of the tree opens as itself: a registry link in it is refused, never followed. The
    // keys open on the way down are a stack of their own, not a recursion: the user shapes the
    // tree.
    constexpr std::uint32_t kAccess = reg::kMaximumAllowed | reg::kWow64_64Key;
    std::vector<UniqueKey> open;
    open.emplace_back(registry);
    Win32Error e = OpenKeyRefusingLinks(registry, parent, name, kAccess, &open.back());
    std::string subKey;
    while (e == err::kSuccess && !open.empty()) {
        // Index 0 every time: each deletion that succeeds takes that sub key away.
        e = registry.EnumKey(open.back().get(), 0, kEnumNameChars, &subKey);
        if (e == err::kSuccess) {
            UniqueKey below(registry);
            e = OpenKeyRefusingLinks(registry, open.back().get(), subKey, kAccess, &below);
            if (e == err::kSuccess) open.push_back(std::move(below));
        } else if (e == err::kNoMoreItems || e == err::kBadKey) {
            // The key goes by its handle: what was checked is what goes, even if the user has put
            // a link in its place by now.
            e = registry.DeleteOpenKey(open.back().get());
            open.pop_back();
        }
    }
    return e;
}

void PruneEmptyParentKeys(IRegistry& registry, std::string_view path, Journal* journal,
                          std::string_view sid) {
    const bool dryRun = journal != nullptr && journal->dryRun();
    std::string key(path);
    for (;;) {
        std::size_t cut = text::FindLast(key, '\\');
        if (cut == text::npos) return;
        key.resize(cut);
        // A hive's root key is never deleted.
        if (text::FindLast(key, '\\') == text::npos) return;
        if (dryRun) {
            // A key goes when the sub keys it has, or the one a leftover registration would have
            // made, are all gone in the dry run.
            if (HasSubKeyLeft(registry, key, *journal)) return;
            journal->Note(ActionKind::kDeleteEmptyKey, UsersKeyName(key), sid, ActionResult::kDone);
            journal->MarkDeleted(UsersKeyName(key));
            continue;
        }
        // Each key on the way opens as itself (a link stops the pruning) and goes by its handle;
        // the registry refuses a key that still has a sub key.
        UniqueKey parent(registry);
        if (OpenKeyRefusingLinks(registry, kHkeyUsers, key,
                                 reg::kMaximumAllowed | reg::kWow64_64Key,
                                 &parent) != err::kSuccess ||
            registry.DeleteOpenKey(parent.get()) != err::kSuccess) {
            return;
        }
        if (journal != nullptr) {
            journal->Note(ActionKind::kDeleteEmptyKey, UsersKeyName(key), sid, ActionResult::kDone);
        }
    }
}

}  // namespace qv
