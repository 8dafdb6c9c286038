#include "engine/backup/restore.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "base/enum_names.h"
#include "base/text.h"
#include "cleanup/deleter.h"
#include "cleanup/folder_guard.h"
#include "cleanup/placeholders.h"
#include "discovery/registration.h"
#include "engine/backup/backup.h"
#include "engine/backup/key_backup.h"
#include "security/profiles.h"
#include "security/sid_text.h"

namespace qv {
namespace {

constexpr char kUsersPrefix[] = "HKEY_USERS\\";
constexpr std::int64_t kSecondsPerDay = 86400;
// Folders deeper than this below a run's folder are not counted into its size.
constexpr int kMaxSizeDepth = 64;

// The bytes of the files below the open folder; links are counted as entries, never entered.
std::uint64_t SizeBelow(IFileHandles& files, FileRef folder, int depth) {
    std::vector<FolderEntry> entries;
    if (depth > kMaxSizeDepth || files.ListFolder(folder, "*", &entries) != err::kSuccess) {
        return 0;
    }
    std::uint64_t size = 0;
    for (const FolderEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..") continue;
        const bool plainFolder =
            (entry.attributes & fa::kDirectory) != 0 && (entry.attributes & fa::kReparsePoint) == 0;
        if (!plainFolder) {
            size += entry.size;
            continue;
        }
        UniqueFileRef sub(files);
        if (files.OpenRelative(folder, entry.name, open_intent::kList, sub.put()) !=
            err::kSuccess) {
            continue;
        }
        FileFacts facts;
        if (files.QueryFacts(sub.get(), &facts) == err::kSuccess && !IsLink(facts)) {
            size += SizeBelow(files, sub.get(), depth + 1);
        }
    }
    return size;
}

// Reads the manifest of the run folder `folder`; 0 or the error. *text receives the file.
[[nodiscard]] Win32Error ReadManifest(IFileHandles& files, FileRef folder, Manifest* manifest,
                                      std::string* text = nullptr) {
    std::string read;
    Win32Error e = files.ReadWholeFile(folder, kManifestName, &read);
    if (e != err::kSuccess) return e;
    if (!ManifestFromText(read, manifest)) return err::kInvalidData;
    if (text != nullptr) *text = std::move(read);
    return err::kSuccess;
}

// Marks actions of a run as restored, a line each, added to its manifest.
class RestoreMarks {
  public:
    RestoreMarks(Platform& os, FileRef folder, std::string text)
        : os_(os), folder_(folder), text_(std::move(text)) {}

    [[nodiscard]] Win32Error Mark(const Manifest& manifest, std::size_t index) {
        if (!ready_) {
            // The run stopped in the middle of a line: the marks start on lines of their own.
            if (!text_.empty() && text_.back() != '\n') {
                Win32Error e = os_.handles.AppendToFile(folder_, kManifestName, "\n");
                if (e != err::kSuccess) return e;
            }
            ready_ = true;
        }
        return os_.handles.AppendToFile(
            folder_, kManifestName,
            ManifestRestoredLine(index, manifest.restoredTime, manifest.restoredBy));
    }

  private:
    Platform& os_;
    FileRef folder_;
    std::string text_;
    bool ready_ = false;
};

// Whether `path` names an entry directly in one of the run's folders; *folder and *name receive
// which.
bool SplitBackupPath(const Manifest& manifest, std::string_view path, std::string* folder,
                     std::string* name) {
    const std::string parent = text::CutBeforeLastBackslash(path);
    const std::string leaf = text::AfterLastBackslash(path);
    if (!HoldsOnlyNameCharacters(leaf, false)) return false;
    for (const std::string& f : manifest.folders) {
        if (text::EqualsNoCase(f, parent)) {
            *folder = f;
            *name = leaf;
            return true;
        }
    }
    return false;
}

// What a restore writes to the audit log for an action it undoes: "restore-" and the action's name
// without its verb, so "delete-folder-tree" is undone by "restore-folder-tree". A leftover folder's
// registration is not put back by itself: it counts as a plain "restore".
std::string AuditActionOf(ActionKind kind) {
    const std::string_view name = ActionKindName(kind);
    const std::size_t verb = name.find('-');
    if (kind == ActionKind::kRegisterLeftoverFolder || verb == std::string_view::npos) {
        return "restore";
    }
    return "restore-" + std::string(name.substr(verb + 1));
}

class Restorer {
  public:
    Restorer(Workspace& ws, Manifest& manifest, FileRef runFolder)
        : ws_(ws), os_(ws.services.os), manifest_(manifest), runFolder_(runFolder) {}

    RestoredItem Restore(std::size_t index) {
        const Action& a = manifest_.actions[index].action;
        RestoredItem item{a.kind, a.path, a.sid, RestoreOutcome::kNothing, err::kSuccess};
        switch (a.kind) {
            case ActionKind::kRegisterLeftoverFolder:
                break;  // undone with the key the run made
            case ActionKind::kDeleteKeyTree:
                if (!MadeByRun(a)) Finish(&item, PutKeyTree(a));
                break;
            case ActionKind::kDeleteEmptyKey:
                if (!MadeByRun(KeyTreeBefore(index))) Finish(&item, MakeKey(a));
                break;
            case ActionKind::kDeleteFolderTree:
            case ActionKind::kDeleteFile:
                if (a.backup.empty()) break;
                Finish(&item, PutBackEntry(a, &item.outcome));
                break;
            case ActionKind::kRemoveEmptyFolder: {
                const UserReach& reach = ReachOf(a.sid);
                Deleter deleter(os_.handles, reach.anchors);
                reach.Limit(MachineAnchors(), &deleter);
                DeleteReport made = deleter.MakeFolder(a.path, a.attributes);
                if (made.outcome == DeleteOutcome::kRefused)
                    item.outcome = RestoreOutcome::kRefused;
                Finish(&item,
                       made.ok() ? err::kSuccess
                                 : (made.error != err::kSuccess ? made.error : err::kAccessDenied));
                break;
            }
        }
        return item;
    }

  private:
    // The outcome of the error; a refusal, noted before, stays one.
    static void Finish(RestoredItem* item, Win32Error e) {
        item->error = e;
        if (item->outcome == RestoreOutcome::kRefused) return;
        item->outcome = e == err::kSuccess ? RestoreOutcome::kRestored
                        : e == err::kAlreadyExists || e == err::kFileExists
                            ? RestoreOutcome::kTaken
                            : RestoreOutcome::kFailed;
    }

    // A registration key the run made itself for leftover folders: before the run there was none.
    bool MadeByRun(const Action* keyTree) const {
        if (keyTree == nullptr) return false;
        return std::any_of(
            manifest_.actions.begin(), manifest_.actions.end(), [&](const ManifestAction& m) {
                return m.action.kind == ActionKind::kRegisterLeftoverFolder &&
                       m.action.result == ActionResult::kDone && m.action.sid == keyTree->sid &&
                       text::EqualsNoCase(m.action.path, keyTree->path);
            });
    }
    bool MadeByRun(const Action& keyTree) const { return MadeByRun(&keyTree); }

    // The registration key whose deletion emptied the key of the action at `index`.
    const Action* KeyTreeBefore(std::size_t index) const {
        const std::string& sid = manifest_.actions[index].action.sid;
        for (std::size_t i = index; i-- > 0;) {
            const Action& a = manifest_.actions[i].action;
            if (a.sid == sid && a.kind == ActionKind::kDeleteKeyTree) return &a;
        }
        return nullptr;
    }

    static bool UsersPath(const Action& a, std::string* path) {
        if (!text::EqualsNoCase(a.path.substr(0, sizeof kUsersPrefix - 1), kUsersPrefix)) {
            return false;
        }
        *path = a.path.substr(sizeof kUsersPrefix - 1);
        // The key must lie in the hive of the action's user.
        return text::EqualsNoCase(path->substr(0, a.sid.size() + 1), a.sid + "\\");
    }

    [[nodiscard]] Win32Error PutKeyTree(const Action& a) {
        std::string path, folder, name, json;
        KeyTreeCopy tree;
        if (!UsersPath(a, &path) || !SplitBackupPath(manifest_, a.backup, &folder, &name) ||
            !text::EqualsNoCase(folder, manifest_.folders.front())) {
            return err::kInvalidData;
        }
        Win32Error e = os_.handles.ReadWholeFile(runFolder_, name, &json);
        if (e != err::kSuccess) return e;
        if (!KeyTreeFromJson(json, &tree)) return err::kInvalidData;
        HiveLease hive(ws_.services, a.sid, ws_.hives);
        if (!hive.available()) return err::kFileNotFound;
        e = WriteKeyTree(os_.registry, kHkeyUsers, path, tree);
        return Settle(hive, a.sid, e);
    }

    [[nodiscard]] Win32Error MakeKey(const Action& a) {
        std::string path;
        if (!UsersPath(a, &path)) return err::kInvalidData;
        HiveLease hive(ws_.services, a.sid, ws_.hives);
        if (!hive.available()) return err::kFileNotFound;
        UniqueKey key(os_.registry);
        Win32Error e = CreateKeyRefusingLinks(os_.registry, kHkeyUsers, path, reg::kReadWriteNative,
                                              &key, nullptr);
        key.reset();
        return Settle(hive, a.sid, e);
    }

    // Flushes a hive this restore loaded, so that the keys reach its file, and unloads it.
    [[nodiscard]] Win32Error Settle(HiveLease& hive, const std::string& sid, Win32Error e) {
        if (e == err::kSuccess && hive.loadedHere()) {
            UniqueKey root = OpenKey(os_.registry, kHkeyUsers, sid, reg::kReadNative);
            if (root) e = os_.registry.FlushKey(root.get());
        }
        Win32Error released = hive.Release();
        return e != err::kSuccess ? e : released;
    }

    // *outcome becomes kRefused when the deleter refused the way to the place.
    [[nodiscard]] Win32Error PutBackEntry(const Action& a, RestoreOutcome* outcome) {
        std::string folder, name;
        if (!SplitBackupPath(manifest_, a.backup, &folder, &name)) return err::kInvalidData;
        UniqueFileRef kept(os_.handles);
        UniqueFileRef backupFolder(os_.handles);
        Win32Error e = OpenKeptFolder(ws_, folder, &backupFolder);
        if (e != err::kSuccess) return e;
        e = os_.handles.OpenRelative(backupFolder.get(), name, open_intent::kDelete, kept.put());
        if (e != err::kSuccess) return e;
        const UserReach& reach = ReachOf(a.sid);
        Deleter deleter(os_.handles, reach.anchors);
        reach.Limit(MachineAnchors(), &deleter);
        DeleteReport back = deleter.PutBack(kept.get(), a.path);
        if (back.outcome == DeleteOutcome::kOk) return err::kSuccess;
        if (back.outcome == DeleteOutcome::kRefused) {
            *outcome = RestoreOutcome::kRefused;
            return back.error != err::kSuccess ? back.error : err::kAccessDenied;
        }
        return back.error != err::kSuccess ? back.error : err::kPathNotFound;
    }

    // The machine's own folders among the anchors: a user's profile is no part of them.
    const std::vector<std::string>& MachineAnchors() {
        if (!machineAnchors_) machineAnchors_ = CleanupAnchors(os_, ProfileFolders{});
        return *machineAnchors_;
    }

    // What a put-back for a user may reach, as his clean-up's deleter had it: the anchors of his
    // data; the machine's folders among them must be the machine's own, and the other users'
    // profile folders are neither entered nor moved into.
    struct UserReach {
        std::vector<std::string> anchors;
        ProfileFence fence;
        void Limit(const std::vector<std::string>& machineAnchors, Deleter* deleter) const {
            deleter->RequireMachineFolders(machineAnchors);
            deleter->SetFence(fence);
        }
    };

    const UserReach& ReachOf(const std::string& sid) {
        auto it = users_.find(sid);
        if (it == users_.end()) {
            ProfileFolders profile = ReadProfileFolders(os_, sid);
            UserReach reach{CleanupAnchors(os_, profile), profile.fence};
            it = users_.emplace(sid, std::move(reach)).first;
        }
        return it->second;
    }

    Workspace& ws_;
    Platform& os_;
    Manifest& manifest_;
    FileRef runFolder_;
    std::map<std::string, UserReach> users_;
    std::optional<std::vector<std::string>> machineAnchors_;
};

// Whether the user `sid` is one of `users` (by SID or account name); every user when none is given.
bool Wanted(Platform& os, const std::string& sid, const std::vector<std::string>& users) {
    if (users.empty()) return true;
    std::string account;
    (void)AccountNameFromSidText(os.security, sid, &account);  // empty if unknown
    for (const std::string& user : users) {
        if (text::EqualsNoCase(user, sid) ||
            (!account.empty() && text::EqualsNoCase(user, account))) {
            return true;
        }
    }
    return false;
}

void Audit(AuditLog* audit, const RestoredItem& item, std::string_view account) {
    if (audit == nullptr) return;
    const char* result =
        item.outcome == RestoreOutcome::kRestored ? "done"
        : item.outcome == RestoreOutcome::kTaken || item.outcome == RestoreOutcome::kRefused
            ? "refused"
            : "failed";
    const char* reason = item.outcome == RestoreOutcome::kTaken ? "the place is taken again"
                         : item.outcome == RestoreOutcome::kRefused
                             ? "a folder on the way is not safe to put it into"
                             : "";
    audit->Record(
        {AuditActionOf(item.kind), item.path, item.sid, account, result, item.error, reason});
}

}  // namespace

// Alike on purpose: each enum has its own table of names, checked where it stands.
constexpr EnumName<RestoreOutcome> kRestoreOutcomeNames[] = {
    {RestoreOutcome::kRestored, "restored"}, {RestoreOutcome::kTaken, "taken"},
    {RestoreOutcome::kFailed, "failed"},     {RestoreOutcome::kRefused, "refused"},
    {RestoreOutcome::kNothing, "nothing"},
};
static_assert(NamesEveryValue(kRestoreOutcomeNames));

const char* RestoreOutcomeName(RestoreOutcome outcome) {
    return NameOf(kRestoreOutcomeNames, outcome, "");
}

bool RestoreReport::anyTaken() const {
    return std::any_of(items.begin(), items.end(),
                       [](const RestoredItem& i) { return i.outcome == RestoreOutcome::kTaken; });
}

bool RestoreReport::anyFailed() const {
    return error != err::kSuccess ||
           std::any_of(items.begin(), items.end(), [](const RestoredItem& i) {
               return i.outcome == RestoreOutcome::kFailed || i.outcome == RestoreOutcome::kRefused;
           });
}

Win32Error ListKeptRuns(Workspace& ws, std::vector<KeptRun>* runs) {
    IFileHandles& files = ws.services.os.handles;
    runs->clear();
    const std::string backups = BackupsFolder(ws);
    if (backups.empty()) return err::kPathNotFound;
    UniqueFileRef folder(files);
    Win32Error e = OpenKeptFolder(ws, backups, &folder);
    if (e != err::kSuccess) {
        return e == err::kFileNotFound || e == err::kPathNotFound ? err::kSuccess : e;
    }
    std::vector<FolderEntry> entries;
    e = files.ListFolder(folder.get(), "*", &entries);
    if (e == err::kFileNotFound) return err::kSuccess;
    if (e != err::kSuccess) return e;
    for (const FolderEntry& entry : entries) {
        if (entry.name == "." || entry.name == ".." || (entry.attributes & fa::kDirectory) == 0 ||
            (entry.attributes & fa::kReparsePoint) != 0) {
            continue;
        }
        UniqueFileRef run(files);
        if (files.OpenRelative(folder.get(), entry.name, open_intent::kList, run.put()) !=
            err::kSuccess) {
            continue;
        }
        KeptRun kept;
        // A run's folder that others could reach holds nothing a restore may trust.
        if (files.CheckProtection(run.get(), BackupProtection(ws)) != err::kSuccess ||
            ReadManifest(files, run.get(), &kept.manifest) != err::kSuccess ||
            !text::EqualsNoCase(kept.manifest.run, entry.name)) {
            continue;  // not a run's folder
        }
        kept.folder = text::JoinPath(backups, entry.name);
        std::set<std::string> sids;
        for (const ManifestAction& a : kept.manifest.actions) sids.insert(a.action.sid);
        kept.users = sids.size();
        runs->push_back(std::move(kept));
    }
    std::stable_sort(runs->begin(), runs->end(), [](const KeptRun& a, const KeptRun& b) {
        return a.manifest.time < b.manifest.time;
    });
    return err::kSuccess;
}

void MeasureKeptRuns(Workspace& ws, std::vector<KeptRun>* runs) {
    IFileHandles& files = ws.services.os.handles;
    for (KeptRun& kept : *runs) {
        kept.size = 0;
        for (const std::string& path : kept.manifest.folders) {
            UniqueFileRef f(files);
            if (OpenKeptFolder(ws, path, &f) == err::kSuccess) {
                kept.size += SizeBelow(files, f.get(), 0);
            }
        }
    }
}

RestoreReport RestoreRun(Workspace& ws, std::string_view run, const std::vector<std::string>& users,
                         AuditLog* audit) {
    Platform& os = ws.services.os;
    RestoreReport report;
    std::vector<KeptRun> runs;
    report.error = ListKeptRuns(ws, &runs);
    if (report.error != err::kSuccess) return report;
    const KeptRun* chosen = nullptr;
    if (run.empty()) {
        if (!runs.empty()) chosen = &runs.back();
    } else {
        for (const KeptRun& r : runs) {
            if (!text::EqualsNoCase(r.manifest.run.substr(0, run.size()), run)) continue;
            if (chosen != nullptr) {
                report.error = err::kInvalidParameter;  // the beginning names more than one run
                return report;
            }
            chosen = &r;
        }
    }
    if (chosen == nullptr) {
        report.error = err::kFileNotFound;
        return report;
    }
    report.run = chosen->manifest.run;
    Manifest manifest;
    std::string text;
    UniqueFileRef folder(os.handles);
    report.error = OpenKeptFolder(ws, chosen->folder, &folder);
    if (report.error == err::kSuccess) {
        report.error = ReadManifest(os.handles, folder.get(), &manifest, &text);
    }
    if (report.error != err::kSuccess) return report;
    RestoreMarks marks(os, folder.get(), std::move(text));
    // Each user's account as the manifest names it, and whether he is wanted, once per user.
    std::map<std::string, std::string> accounts;
    std::map<std::string, bool> wanted;
    for (const ManifestAction& a : manifest.actions) {
        accounts[a.action.sid] = a.account;
        if (wanted.count(a.action.sid) == 0) {
            wanted[a.action.sid] = Wanted(os, a.action.sid, users);
        }
    }
    // Who restores: the same for every item marked.
    std::string restoredBy;
    {
        std::string account;
        const std::string sid = CurrentUserSidText(os.security);
        restoredBy = !sid.empty() && QualifiedAccountFromSidText(os.security, sid, &account)
                         ? os.system.AnsiToUtf8(account)
                         : sid;
    }

    Restorer restorer(ws, manifest, folder.get());
    // Backwards: each action is undone after the ones that came after it.
    for (std::size_t i = manifest.actions.size(); i-- > 0;) {
        ManifestAction& entry = manifest.actions[i];
        if (entry.restored || entry.action.result != ActionResult::kDone ||
            !wanted[entry.action.sid]) {
            continue;
        }
        RestoredItem item = restorer.Restore(i);
        if (item.outcome == RestoreOutcome::kRestored || item.outcome == RestoreOutcome::kNothing) {
            entry.restored = true;
            manifest.restoredTime = os.system.CurrentTime();
            manifest.restoredBy = restoredBy;
            // Marked at once, so that a restore that stops half way is never done twice.
            Win32Error e = marks.Mark(manifest, i);
            if (e != err::kSuccess && item.outcome == RestoreOutcome::kRestored) {
                item.outcome = RestoreOutcome::kFailed;
                item.error = e;
            }
        }
        if (item.outcome != RestoreOutcome::kNothing) {
            Audit(audit, item, accounts[item.sid]);
            report.items.push_back(std::move(item));
        }
    }
    return report;
}

PurgeReport PurgeKeptRuns(Workspace& ws, std::uint32_t days, AuditLog* audit) {
    Platform& os = ws.services.os;
    PurgeReport report;
    std::vector<KeptRun> runs;
    report.error = ListKeptRuns(ws, &runs);
    if (report.error != err::kSuccess) return report;
    const std::int64_t cut =
        os.system.CurrentTime() - static_cast<std::int64_t>(days) * kSecondsPerDay;
    for (const KeptRun& run : runs) {
        // A run of the cut's own second is old enough: "--older-than 0" purges every run, also
        // one made a moment ago.
        if (run.manifest.time > cut) continue;
        Win32Error failure = err::kSuccess;
        // The run's own folder last: it holds the manifest that names the others.
        std::vector<std::string> folders(run.manifest.folders.rbegin(),
                                         run.manifest.folders.rend());
        for (const std::string& path : folders) {
            // Only a folder of the backups that no one else reaches, and only below its "Backups"
            // folder, never above it.
            UniqueFileRef trusted(os.handles);
            Win32Error e = OpenKeptFolder(ws, path, &trusted);
            if (e != err::kSuccess) {
                if (e != err::kFileNotFound && e != err::kPathNotFound &&
                    failure == err::kSuccess) {
                    failure = e;
                }
                continue;
            }
            trusted.reset();
            Deleter deleter(os.handles, {text::CutBeforeLastBackslash(path)});
            DeleteReport gone = deleter.DeleteTree(path);
            if (!gone.ok() && failure == err::kSuccess) {
                failure = gone.error != err::kSuccess ? gone.error : err::kAccessDenied;
            }
        }
        if (audit != nullptr) {
            audit->Record({"purge-backup", run.folder, "", "",
                           failure == err::kSuccess ? "done" : "failed", failure, ""});
        }
        if (failure == err::kSuccess) {
            report.purged.push_back(run.manifest.run);
        } else {
            report.failed.emplace_back(run.manifest.run, failure);
        }
    }
    return report;
}

}  // namespace qv
