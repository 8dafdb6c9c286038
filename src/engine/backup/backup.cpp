#include "engine/backup/backup.h"

#include <cstdio>
#include <map>
#include <utility>

#include "base/text.h"
#include "base/time_text.h"
#include "cleanup/folder_guard.h"
#include "discovery/shell_folders.h"
#include "engine/backup/key_backup.h"
#include "engine/backup/manifest.h"
#include "security/sid_text.h"
#include "security/token.h"

namespace qv {

struct ManifestState {
    Manifest manifest;  // the run's own fields and folders; the actions are only in the file
    bool headerWritten = false;
    std::size_t foldersWritten = 0;
    // A line whose writing failed may have left part of it: the next one starts on a line of its
    // own, so that the reader drops only the broken one.
    bool mayBeTorn = false;
    // The kept key trees ("<n>.keys.json") that have no registry script, with why.
    std::map<std::string, std::string> notes;
};

struct RunBackup::VolumeFolder {
    std::uint64_t volume = 0;
    std::string path;
    UniqueFileRef handle;
};

namespace {

constexpr char kQuorvaneFolder[] = "Quorvane";
constexpr char kBackupsFolderName[] = "Backups";

// Opens `base`, a folder the machine names; *volume receives its volume's serial number.
[[nodiscard]] Win32Error OpenChainBase(IFileHandles& files, std::string_view base,
                                       UniqueFileRef* folder, std::uint64_t* volume) {
    Win32Error e = files.OpenFolder(base, folder->put());
    if (e != err::kSuccess) return e;
    FileFacts facts;
    e = files.QueryFacts(folder->get(), &facts);
    if (e != err::kSuccess) return e;
    *volume = facts.volumeSerial;
    return err::kSuccess;
}

// Takes `next`, a folder just opened or made below *folder, as the chain's new end. A link or a
// file put there by someone else is never used, nor a folder on another volume than `volume`.
// Users may make folders where the backups go: one that someone beyond `protection` could reach
// (and so empty, or fill with a run of his own making) is refused.
[[nodiscard]] Win32Error StepDown(IFileHandles& files, UniqueFileRef next, std::uint64_t volume,
                                  FolderProtection protection, UniqueFileRef* folder) {
    FileFacts facts;
    Win32Error e = files.QueryFacts(next.get(), &facts);
    if (e != err::kSuccess) return e;
    if (IsLink(facts) || (facts.attributes & fa::kDirectory) == 0) {
        return err::kReparsePointEncountered;
    }
    if (facts.volumeSerial != volume) return err::kNotSameDevice;
    e = files.CheckProtection(next.get(), protection);
    if (e != err::kSuccess) return e;
    *folder = std::move(next);
    return err::kSuccess;
}

// Whether an entry found where the tool's folder belongs is someone else's: a link, a file, a
// folder on another volume or one that someone beyond the tool's owners may reach (or whose
// security cannot be read as that).
bool IsForeign(Win32Error e) {
    return e == err::kAccessDenied || e == err::kReparsePointEncountered || e == err::kDirectory ||
           e == err::kNotSameDevice;
}

// "<name>.untrusted-20261209T013000Z": where an entry that is not the tool's own goes; `attempt`
// above 0 adds "-<attempt>" for a second one in the same second.
std::string UntrustedName(std::string_view name, std::int64_t now, int attempt) {
    std::string stamp;
    for (char c : Iso8601Utc(now)) {
        if (c != '-' && c != ':') stamp += c;
    }
    std::string aside = std::string(name) + ".untrusted-" + stamp;
    if (attempt > 0) aside += "-" + std::to_string(attempt);
    return aside;
}

// Moves the entry `name` of the open folder `parent` aside within it, by a handle opened without
// following a link. 0 and *asideName, or the error.
[[nodiscard]] Win32Error MoveAside(IFileHandles& files, FileRef parent, std::string_view name,
                                   std::int64_t now, std::string* asideName) {
    UniqueFileRef entry(files);
    Win32Error e = files.OpenRelative(parent, name, open_intent::kDelete, entry.put());
    if (e != err::kSuccess) return e;
    constexpr int kAttempts = 10;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        *asideName = UntrustedName(name, now, attempt);
        e = files.Rename(entry.get(), parent, *asideName);
        if (e != err::kFileExists && e != err::kAlreadyExists) return e;
    }
    return e;
}

// Opens the tool's folder `name` in the open folder `parent` (at `parentPath`, on `volume`), made
// with `protection` when missing. What is found there must be a plain folder on that volume that
// no one beyond `protection` reaches. In an administrator's run (kAdministratorsOnly) anything
// else was put there by someone else: it is moved aside by its handle, never opened further nor
// read, noted in *moved, and a new folder is made in its place. A run for the running user alone
// refuses it instead: his own folder is his to mend.
[[nodiscard]] Win32Error OpenOwnFolder(IFileHandles& files, FileRef parent,
                                       std::string_view parentPath, std::string_view name,
                                       std::uint64_t volume, FolderProtection protection,
                                       std::int64_t now, std::vector<MovedAside>* moved,
                                       UniqueFileRef* folder) {
    UniqueFileRef next(files);
    Win32Error e = files.OpenRelative(parent, name, open_intent::kList, next.put());
    if (e == err::kSuccess) {
        e = StepDown(files, std::move(next), volume, protection, folder);
        if (e == err::kSuccess || !IsForeign(e) ||
            protection != FolderProtection::kAdministratorsOnly) {
            return e;
        }
    } else {
        if (e != err::kFileNotFound &&
            (!IsForeign(e) || protection != FolderProtection::kAdministratorsOnly)) {
            return e;
        }
    }
    if (e != err::kFileNotFound) {
        std::string aside;
        e = MoveAside(files, parent, name, now, &aside);
        if (e != err::kSuccess) return e;
        moved->push_back({text::JoinPath(parentPath, name), text::JoinPath(parentPath, aside)});
    }
    UniqueFileRef made(files);
    e = files.CreateFolder(parent, name, protection, made.put());
    if (e != err::kSuccess) return e;
    return StepDown(files, std::move(made), volume, protection, folder);
}

// Opens `base` (a folder the machine names), then each of `names` below it by handle as the tool's
// own folder (OpenOwnFolder), the last one made new: it must not exist yet. Each folder on the way
// must be a plain folder on the volume of `base`. *volume receives that volume's serial number.
[[nodiscard]] Win32Error MakeChain(IFileHandles& files, std::string_view base,
                                   const std::vector<std::string>& names,
                                   FolderProtection protection, std::int64_t now,
                                   std::vector<MovedAside>* moved, UniqueFileRef* folder,
                                   std::uint64_t* volume) {
    Win32Error e = OpenChainBase(files, base, folder, volume);
    if (e != err::kSuccess) return e;
    std::string path(base);
    if (!path.empty() && path.back() == '\\') path.pop_back();  // a volume's root
    for (std::size_t i = 0; i < names.size(); ++i) {
        UniqueFileRef next(files);
        if (i + 1 < names.size()) {
            e = OpenOwnFolder(files, folder->get(), path, names[i], *volume, protection, now, moved,
                              &next);
            if (e != err::kSuccess) return e;
            *folder = std::move(next);
        } else {
            e = files.CreateFolder(folder->get(), names[i], protection, next.put());
            if (e != err::kSuccess) return e;
            e = StepDown(files, std::move(next), *volume, protection, folder);
            if (e != err::kSuccess) return e;
        }
        path = text::JoinPath(path, names[i]);
    }
    return err::kSuccess;
}

}  // namespace

Win32Error OpenKeptFolder(Workspace& ws, std::string_view path, UniqueFileRef* folder) {
    IFileHandles& files = ws.services.os.handles;
    PathParts parts;
    // "<volume or shell folder>\Quorvane\Backups[\<run>]": every folder from "Quorvane" on must
    // be a plain folder that only the backups' owners reach.
    if (!SplitAbsolutePath(path, &parts) || parts.names.empty()) return err::kBadPathname;
    std::size_t first = parts.names.size();
    for (std::size_t i = 0; i + 1 < parts.names.size(); ++i) {
        if (text::EqualsNoCase(parts.names[i], kQuorvaneFolder) &&
            text::EqualsNoCase(parts.names[i + 1], kBackupsFolderName)) {
            first = i;
        }
    }
    if (first == parts.names.size()) return err::kBadPathname;
    std::string base = parts.volume;
    for (std::size_t i = 0; i < first; ++i) base = text::JoinPath(base, parts.names[i]);
    if (first == 0) base += '\\';
    std::uint64_t volume = 0;
    Win32Error e = OpenChainBase(files, base, folder, &volume);
    if (e != err::kSuccess) return e;
    for (std::size_t i = first; i < parts.names.size(); ++i) {
        UniqueFileRef next(files);
        e = files.OpenRelative(folder->get(), parts.names[i], open_intent::kList, next.put());
        if (e != err::kSuccess) return e;
        e = StepDown(files, std::move(next), volume, BackupProtection(ws), folder);
        if (e != err::kSuccess) return e;
    }
    return err::kSuccess;
}

std::string BackupsFolder(Workspace& ws) {
    IRegistry& registry = ws.services.os.registry;
    std::string base;
    Win32Error e = ws.admin
                       ? ReadCommonShellFolder(registry, shell_folder::kCommonAppData, &base)
                       : ReadUserShellFolder(registry, CurrentUserSidText(ws.services.os.security),
                                             shell_folder::kLocalAppData, &base);
    if (e != err::kSuccess || !IsUsableFolder(base)) return std::string();
    return text::JoinPath(text::JoinPath(base, kQuorvaneFolder), kBackupsFolderName);
}

FolderProtection BackupProtection(const Workspace& ws) {
    return ws.admin ? FolderProtection::kAdministratorsOnly : FolderProtection::kCurrentUserOnly;
}

Win32Error ClaimMachineFolder(Workspace& ws, std::vector<MovedAside>* moved) {
    if (!ws.admin) return err::kSuccess;
    Platform& os = ws.services.os;
    std::string base;
    Win32Error e = ReadCommonShellFolder(os.registry, shell_folder::kCommonAppData, &base);
    if (e != err::kSuccess) return e;
    if (!IsUsableFolder(base)) return err::kPathNotFound;
    UniqueFileRef parent(os.handles);
    std::uint64_t volume = 0;
    e = OpenChainBase(os.handles, base, &parent, &volume);
    if (e != err::kSuccess) return e;
    const std::int64_t now = os.system.CurrentTime();
    UniqueFileRef own(os.handles);
    e = OpenOwnFolder(os.handles, parent.get(), base, kQuorvaneFolder, volume,
                      FolderProtection::kAdministratorsOnly, now, moved, &own);
    if (e != err::kSuccess) return e;
    UniqueFileRef backups(os.handles);
    return OpenOwnFolder(os.handles, own.get(), text::JoinPath(base, kQuorvaneFolder),
                         kBackupsFolderName, volume, FolderProtection::kAdministratorsOnly, now,
                         moved, &backups);
}

void RecordMovedAside(AuditLog& log, const MovedAside& moved) {
    const std::string reason = "someone else could change it; moved to " + moved.to;
    log.Record({"move-aside", moved.from, "", "", "done", err::kSuccess, reason});
}

std::string MovedAsideText(const MovedAside& moved) {
    return "Moved \"" + moved.from + "\" aside to \"" + moved.to +
           "\": someone else could change it; a new one only administrators reach is used.\n";
}

Win32Error OpenRunAuditLog(Workspace& ws, AuditLog& log, std::vector<MovedAside>* moved) {
    // The machine's folder is claimed first: its log is never written where others could reach.
    const std::size_t known = moved->size();
    const Win32Error claimed = ClaimMachineFolder(ws, moved);
    Win32Error e = log.Open(ws.admin ? AuditPlace::kMachine : AuditPlace::kCurrentUser);
    for (std::size_t i = known; i < moved->size(); ++i) RecordMovedAside(log, (*moved)[i]);
    return e != err::kSuccess ? e : claimed;
}

RunBackup::RunBackup(Workspace& ws, AuditLog* audit, std::string run)
    : ws_(ws), audit_(audit), run_(std::move(run)), manifest_(std::make_unique<ManifestState>()) {}

RunBackup::~RunBackup() = default;

Win32Error RunBackup::Begin(Workspace& ws, AuditLog* audit, std::string_view runId,
                            std::string_view program, std::unique_ptr<RunBackup>* backup) {
    Platform& os = ws.services.os;
    const std::string backups = BackupsFolder(ws);
    if (backups.empty() || !HoldsOnlyNameCharacters(runId, false)) return err::kPathNotFound;
    std::unique_ptr<RunBackup> run(new RunBackup(ws, audit, std::string(runId)));
    auto own = std::make_unique<VolumeFolder>();
    own->handle = UniqueFileRef(os.handles);
    // The base is the shell folder the backups lie in; the two names above the run's own folder
    // are made when missing.
    const std::string base = text::CutBeforeLastBackslash(text::CutBeforeLastBackslash(backups));
    Win32Error e = MakeChain(os.handles, base, {kQuorvaneFolder, kBackupsFolderName, run->run_},
                             BackupProtection(ws), os.system.CurrentTime(), &run->movedAside_,
                             &own->handle, &own->volume);
    run->NoteMovedAside(0);
    if (e != err::kSuccess) return e;
    own->path = text::JoinPath(backups, run->run_);
    run->folder_ = own->path;
    run->volumes_.push_back(std::move(own));

    Manifest& m = run->manifest_->manifest;
    m.run = run->run_;
    m.program = std::string(program);
    m.time = os.system.CurrentTime();
    std::string machine;
    if (os.system.GetComputerName(&machine) == err::kSuccess)
        m.machine = os.system.AnsiToUtf8(machine);
    m.operatorSid = CurrentUserSidText(os.security);
    std::string account;
    if (!m.operatorSid.empty() &&
        QualifiedAccountFromSidText(os.security, m.operatorSid, &account)) {
        m.operatorName = os.system.AnsiToUtf8(account);
    }
    m.currentUser = !ws.admin;
    m.folders.push_back(run->folder_);
    run->WriteManifest();
    if (run->manifestError_ != err::kSuccess) return run->manifestError_;
    *backup = std::move(run);
    return err::kSuccess;
}

Win32Error RunBackup::FolderOn(std::uint64_t volume, std::string_view path, VolumeFolder** folder) {
    for (const auto& v : volumes_) {
        if (v->volume == volume) {
            *folder = v.get();
            return err::kSuccess;
        }
    }
    // A run that is not an administrator's makes nothing outside the running user's own folder:
    // what lies on another volume cannot be moved there, and stays.
    if (!ws_.admin) return err::kNotSameDevice;
    PathParts parts;
    if (!SplitAbsolutePath(path, &parts)) return err::kBadPathname;
    IFileHandles& files = ws_.services.os.handles;
    auto made = std::make_unique<VolumeFolder>();
    made->handle = UniqueFileRef(files);
    const std::size_t known = movedAside_.size();
    Win32Error e =
        MakeChain(files, parts.volume + "\\", {kQuorvaneFolder, kBackupsFolderName, run_},
                  BackupProtection(ws_), ws_.services.os.system.CurrentTime(), &movedAside_,
                  &made->handle, &made->volume);
    NoteMovedAside(known);
    if (e != err::kSuccess) return e;
    // The volume's root was reached by its path: it must be the volume the entry lies on.
    if (made->volume != volume) return err::kNotSameDevice;
    made->path = text::JoinPath(
        text::JoinPath(text::JoinPath(parts.volume, kQuorvaneFolder), kBackupsFolderName), run_);
    manifest_->manifest.folders.push_back(made->path);
    *folder = made.get();
    volumes_.push_back(std::move(made));
    WriteManifest();
    return err::kSuccess;
}

void RunBackup::NoteMovedAside(std::size_t from) {
    if (audit_ == nullptr) return;
    for (std::size_t i = from; i < movedAside_.size(); ++i) {
        RecordMovedAside(*audit_, movedAside_[i]);
    }
}

std::string RunBackup::NextName() {
    char name[16];
    std::snprintf(name, sizeof name, "%05u", ++next_);
    return name;
}

Win32Error RunBackup::Keep(FileRef handle, std::uint64_t volume, std::string_view path,
                           std::string* where) noexcept {
    try {
        VolumeFolder* folder = nullptr;
        Win32Error e = FolderOn(volume, path, &folder);
        if (e != err::kSuccess) return e;
        const std::string name = NextName();
        e = ws_.services.os.handles.Rename(handle, folder->handle.get(), name);
        if (e != err::kSuccess) return e;
        *where = text::JoinPath(folder->path, name);
        return err::kSuccess;
    } catch (const std::exception&) {
        return err::kNotEnoughMemory;
    }
}

Win32Error RunBackup::KeepKeyTree(std::string_view usersPath, std::string* where) {
    Platform& os = ws_.services.os;
    KeyTreeCopy tree;
    Win32Error e = ReadKeyTree(os.registry, kHkeyUsers, usersPath, &tree);
    if (e != err::kSuccess) return e;
    const std::string name = NextName();
    const std::string keyName = "HKEY_USERS\\" + std::string(usersPath);
    FileRef folder = volumes_.front()->handle.get();
    e = os.handles.WriteWholeFile(folder, name + ".keys.json", KeyTreeJson(tree));
    if (e != err::kSuccess) return e;
    // The script and the registry's own copy are for the administrator: the restore needs
    // neither, and a failure of them keeps no key from being deleted. A tree with a name that the
    // script cannot carry gets none: imported, it could write keys outside the registration.
    std::string script;
    if (RegExport(tree, keyName, &script)) {
        (void)os.handles.WriteWholeFile(folder, name + ".reg", script);
    } else {
        manifest_->notes[text::JoinPath(folder_, name + ".keys.json")] =
            "no " + name +
            ".reg: a key or value name in the tree holds a character that a registry script "
            "cannot carry safely (a line break, a bracket, a control character or a broken "
            "double-byte character)";
    }
    if (ws_.admin) {
        UniqueKey key = OpenKey(os.registry, kHkeyUsers, usersPath, reg::kReadNative);
        if (key) {
            ScopedPrivilege backup(os.security, sec::kBackupPrivilege);
            (void)os.registry.SaveKey(key.get(), text::JoinPath(folder_, name + ".hiv"));
        }
    }
    *where = text::JoinPath(folder_, name + ".keys.json");
    return err::kSuccess;
}

void RunBackup::Record(const Action& action, std::string_view account) {
    ManifestAction entry{action, std::string(account), false, {}};
    auto note = manifest_->notes.find(action.backup);
    if (note != manifest_->notes.end()) entry.note = note->second;
    Append(ManifestActionLine(ws_.services.os.system, entry));
}

void RunBackup::Finish(bool succeeded) {
    Append(ManifestResultLine(succeeded ? "done" : "failed"));
}

void RunBackup::WriteManifest() {
    Platform& os = ws_.services.os;
    ManifestState& state = *manifest_;
    if (!state.headerWritten) {
        // The run's folder is new: the header begins the file.
        Win32Error e = os.handles.WriteWholeFile(volumes_.front()->handle.get(), kManifestName,
                                                 ManifestHeaderLine(os.system, state.manifest));
        if (e != err::kSuccess && manifestError_ == err::kSuccess) manifestError_ = e;
        state.headerWritten = e == err::kSuccess;
        state.foldersWritten = state.manifest.folders.size();
        return;
    }
    for (; state.foldersWritten < state.manifest.folders.size(); ++state.foldersWritten) {
        Append(ManifestFolderLine(os.system, state.manifest.folders[state.foldersWritten]));
    }
}

void RunBackup::Append(const std::string& line) {
    Platform& os = ws_.services.os;
    Win32Error e = os.handles.AppendToFile(volumes_.front()->handle.get(), kManifestName,
                                           manifest_->mayBeTorn ? "\n" + line : line);
    manifest_->mayBeTorn = e != err::kSuccess;
    if (e != err::kSuccess && manifestError_ == err::kSuccess) manifestError_ = e;
}

}  // namespace qv
