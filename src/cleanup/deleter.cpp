#include "cleanup/deleter.h"

#include <algorithm>
#include <utility>

#include "base/text.h"
#include "cleanup/folder_guard.h"

namespace qv {
namespace {

bool IsFolder(std::uint32_t attributes) { return (attributes & fa::kDirectory) != 0; }

[[nodiscard]] DeleteReport Refused(std::string path, std::string reason) {
    DeleteReport r;
    r.outcome = DeleteOutcome::kRefused;
    r.path = std::move(path);
    r.reason = std::move(reason);
    return r;
}

[[nodiscard]] DeleteReport Failed(std::string path, Win32Error error) {
    DeleteReport r;
    r.outcome = DeleteOutcome::kFailed;
    r.error = error;
    r.path = std::move(path);
    return r;
}

[[nodiscard]] DeleteReport Missing(Win32Error error) {
    DeleteReport r;
    r.outcome = DeleteOutcome::kMissing;
    r.error = error;
    return r;
}

// What a step that deletes nothing (a walk, an open, a listing, a put-back) reports when it worked.
[[nodiscard]] DeleteReport Done() {
    DeleteReport r;
    r.outcome = DeleteOutcome::kOk;
    return r;
}

}  // namespace

Deleter::Deleter(IFileHandles& files, std::vector<std::string> anchors, Journal* dryRun,
                 Keeper* keeper)
    : files_(files), anchors_(std::move(anchors)), dryRun_(dryRun), keeper_(keeper) {}

Deleter::~Deleter() = default;

namespace {

// Checks an opened folder on the way: a plain folder on the anchor's volume. Empty when it is
// one, else the reason.
std::string CheckFolderOnTheWay(IFileHandles& files, FileRef handle, std::uint64_t volume,
                                Win32Error* error) {
    FileFacts facts;
    *error = files.QueryFacts(handle, &facts);
    if (*error != err::kSuccess) return "its attributes cannot be read";
    if (IsLink(facts)) return "reached through a link";
    if (!IsFolder(facts.attributes)) return "not a folder";
    if (facts.volumeSerial != volume) return "on another volume";
    return std::string();
}

// Empty when the open folder is no other user's profile folder, nor (`whole`: it is to be deleted
// or moved with everything in it) a folder that holds one; else the reason.
std::string CheckFence(IFileHandles& files, FileRef folder, const ProfileFence& fence, bool whole) {
    if (fence.profiles.empty() && (!whole || fence.holders.empty())) return std::string();
    FileIdentity identity;
    if (files.QueryIdentity(folder, &identity) != err::kSuccess) {
        return "its identity cannot be read";
    }
    if (Holds(fence.profiles, identity)) return "another user's profile";
    if (whole && Holds(fence.holders, identity)) return "holds another user's profile";
    return std::string();
}

// Opens the anchor that holds `parts` and walks down to the folder `depth` names below the
// volume, checking each folder on the way. `allowAnchor`: the path may be the anchor itself.
// With `make`, a folder missing on the way is made (by handle, inheriting its parent's
// protection) instead of ending the walk. Below an anchor of `machineAnchors` each folder on the
// way that was there already must be the machine's.
[[nodiscard]] DeleteReport WalkTo(IFileHandles& files, const std::vector<std::string>& anchors,
                                  const ProfileFence& fence, const PathParts& parts,
                                  std::size_t depth, bool allowAnchor, UniqueFileRef* folder,
                                  std::uint64_t* volume, bool make = false,
                                  const std::vector<std::string>& machineAnchors = {}) {
    // The innermost anchor that holds the path.
    const PathParts* best = nullptr;
    std::string bestText;
    std::vector<PathParts> split(anchors.size());
    for (std::size_t i = 0; i < anchors.size(); ++i) {
        if (!SplitAbsolutePath(anchors[i], &split[i])) continue;
        bool holds =
            IsStrictlyInside(parts, split[i]) || (allowAnchor && IsSameFolder(parts, split[i]));
        if (holds && (best == nullptr || split[i].names.size() > best->names.size())) {
            best = &split[i];
            bestText = anchors[i];
        }
    }
    if (best == nullptr)
        return Refused(std::string(), "outside the folders the clean-up may change");

    Win32Error e = files.OpenFolder(bestText, folder->put());
    if (e != err::kSuccess) {
        if (e == err::kFileNotFound || e == err::kPathNotFound) return Missing(err::kPathNotFound);
        return Failed(bestText, e);
    }
    FileFacts facts;
    e = files.QueryFacts(folder->get(), &facts);
    if (e != err::kSuccess || !IsFolder(facts.attributes)) {
        return Refused(bestText, "its attributes cannot be read");
    }
    *volume = facts.volumeSerial;
    if (std::string reason = CheckFence(files, folder->get(), fence, false); !reason.empty()) {
        return Refused(bestText, reason);
    }
    const bool machineOnly =
        std::any_of(machineAnchors.begin(), machineAnchors.end(), [&](const std::string& a) {
            PathParts split;
            return SplitAbsolutePath(a, &split) && IsSameFolder(split, *best);
        });

    std::string path = best->volume;
    for (const std::string& name : best->names) path = text::JoinPath(path, name);
    for (std::size_t i = best->names.size(); i < depth; ++i) {
        path = text::JoinPath(path, parts.names[i]);
        UniqueFileRef next(files);
        e = files.OpenRelative(folder->get(), parts.names[i], open_intent::kList, next.put());
        bool made = false;
        if (make && e == err::kFileNotFound) {
            e = files.CreateFolder(folder->get(), parts.names[i], FolderProtection::kInherited,
                                   next.put());
            made = true;
        }
        if (e != err::kSuccess) {
            if (e == err::kFileNotFound || e == err::kPathNotFound) {
                return Missing(err::kPathNotFound);
            }
            // 267: a file stands where a folder was named.
            if (e == err::kDirectory) return Refused(path, "not a folder");
            return Refused(path, "cannot be checked (error " + std::to_string(e) + ")");
        }
        std::string reason = CheckFolderOnTheWay(files, next.get(), *volume, &e);
        if (reason.empty()) reason = CheckFence(files, next.get(), fence, false);
        if (!reason.empty()) return Refused(path, reason);
        if (machineOnly && !made &&
            files.CheckProtection(next.get(), FolderProtection::kMachine) != err::kSuccess) {
            return Refused(path, "a folder of the machine's that someone else owns or may change");
        }
        *folder = std::move(next);
    }
    return Done();
}

// Deletes the entry that `handle` names; with `readOnlyToo` a read-only one goes too, as the
// shell's deletion takes it, with its attribute left as it is where the system can ignore it. A
// dry run deletes nothing: it answers as the deletion would and notes the path as deleted in the
// journal's view.
[[nodiscard]] Win32Error DeleteOpened(IFileHandles& files, FileRef handle, const FileFacts& facts,
                                      bool readOnlyToo, Journal* dryRun, std::string_view path) {
    if (dryRun != nullptr) {
        if (!readOnlyToo && (facts.attributes & fa::kReadOnly) != 0) return err::kAccessDenied;
        dryRun->MarkDeleted(path);
        return err::kSuccess;
    }
    Win32Error e = files.DeleteByHandle(handle);
    if (e == err::kAccessDenied && readOnlyToo && (facts.attributes & fa::kReadOnly) != 0) {
        // The attribute stays: a file's attributes are shared by all its hard links, and a link
        // elsewhere must keep its read-only attribute.
        e = files.DeleteIgnoringReadOnly(handle);
        if (e != err::kInvalidParameter && e != err::kNotSupported && e != err::kInvalidFunction) {
            return e;
        }
        // A system that cannot ignore the attribute (Wine answers 87; Windows before 10 1809):
        // the attribute is cleared first, as the shell's deletion does, which clears it for every
        // hard link of the file.
        e = err::kAccessDenied;
        if (files.SetAttributes(handle, facts.attributes & ~fa::kReadOnly) == err::kSuccess) {
            e = files.DeleteByHandle(handle);
        }
    }
    return e;
}

// Deletes a folder tree depth first with a stack of its own: however deep a user makes the tree,
// the walk takes no more of the thread's stack than for one level. Each folder on the stack holds
// its open handle, its listing and how far the listing has gone; the path is one buffer that grows
// and shrinks with the stack. The port calls come in the order a walk that recursed would make
// them: a folder is listed when it is entered, its entries are opened, checked and deleted one by
// one (a sub folder entered in its turn), and the folder itself is deleted after its last entry.
class TreeDeletion {
  public:
    TreeDeletion(IFileHandles& files, std::uint64_t volume, Journal* dryRun,
                 const ProfileFence& fence)
        : files_(files), volume_(volume), dryRun_(dryRun), fence_(fence) {}

    // Deletes everything in the open folder, then the folder itself.
    void DeleteFolder(FileRef folder, const FileFacts& facts, const std::string& path) {
        path_ = path;
        Enter(UniqueFileRef(files_), folder, facts);
        while (!stack_.empty()) {
            Level& level = stack_.back();
            if (level.next < level.entries.size()) {
                const FolderEntry& entry = level.entries[level.next++];
                if (entry.name == "." || entry.name == "..") continue;
                const std::size_t cut = path_.size();
                path_ += '\\';
                nameStart_ = path_.size();
                path_ += entry.name;
                // A sub folder that passed its checks is entered and keeps the path until left.
                if (!DeleteEntry(level.folder, entry)) path_.resize(cut);
                continue;
            }
            Leave();
        }
    }

    DeleteReport& first() { return first_; }

  private:
    // A folder being emptied.
    struct Level {
        UniqueFileRef owned;  // empty for the tree's own folder, which the caller holds
        FileRef folder = 0;
        FileFacts facts;
        std::vector<FolderEntry> entries;  // empty when the listing failed
        std::size_t next = 0;
        std::size_t problemsBefore = 0;
        std::size_t pathLength = 0;  // of the folder's own path in path_
        std::size_t nameStart = 0;   // where its name starts in path_
        bool listed = false;
        std::vector<std::string> gone;  // a dry run's: names of the entries that went
    };

    // Lists the open folder (path_ names it) and puts it on the stack.
    void Enter(UniqueFileRef owned, FileRef folder, const FileFacts& facts) {
        Level level;
        level.owned = std::move(owned);
        level.folder = folder;
        level.facts = facts;
        level.problemsBefore = problems_;
        level.pathLength = path_.size();
        level.nameStart = nameStart_;
        Win32Error e = files_.ListFolder(folder, "*", &level.entries);
        level.listed = e == err::kSuccess || e == err::kFileNotFound;
        if (!level.listed) {
            level.entries.clear();
            NoteFailed(e);
        }
        stack_.push_back(std::move(level));
    }

    // Deletes the folder on top of the stack when it kept nothing, and takes it off the stack.
    void Leave() {
        Level& level = stack_.back();
        path_.resize(level.pathLength);
        // A folder that kept an entry cannot go; its entry was reported already.
        bool gone = false;
        if (level.listed && problems_ == level.problemsBefore) {
            Win32Error e = Remove(level.folder, level.facts);
            if (e != err::kSuccess) NoteFailed(e);
            gone = e == err::kSuccess;
        }
        // A dry run notes what went in the journal's view once per folder that stays: below a
        // folder that went, everything went.
        if (dryRun_ != nullptr && !gone) {
            for (const std::string& name : level.gone) dryRun_->MarkDeleted(path_ + '\\' + name);
        }
        const std::size_t nameStart = level.nameStart;
        stack_.pop_back();  // closes the folder's handle after its deletion
        if (stack_.empty()) {
            if (dryRun_ != nullptr && gone) dryRun_->MarkDeleted(path_);
            return;
        }
        if (gone && dryRun_ != nullptr) stack_.back().gone.push_back(path_.substr(nameStart));
        path_.resize(stack_.back().pathLength);
    }

    // Deletes the entry the checked handle names, a read-only one too (see DeleteOpened). A dry
    // run deletes nothing and answers as the deletion would.
    [[nodiscard]] Win32Error Remove(FileRef handle, const FileFacts& facts) {
        if (dryRun_ != nullptr) return err::kSuccess;
        return DeleteOpened(files_, handle, facts, true, nullptr, path_);
    }

    // Opens, checks and deletes the listed entry of `folder` that path_ names; a plain folder is
    // entered instead (true).
    bool DeleteEntry(FileRef folder, const FolderEntry& listed) {
        const bool listedLink = (listed.attributes & fa::kReparsePoint) != 0;
        const bool listedFolder = IsFolder(listed.attributes) && !listedLink;
        UniqueFileRef entry(files_);
        std::uint32_t intent = open_intent::kDelete | (listedFolder ? open_intent::kList : 0u);
        Win32Error e = files_.OpenRelative(folder, listed.name, intent, entry.put());
        if (e != err::kSuccess) {
            // Gone or turned into a file since the listing: it changed, and is left alone.
            if (e == err::kFileNotFound || e == err::kDirectory) {
                NoteRefused("changed since its folder was listed");
            } else {
                NoteFailed(e);
            }
            return false;
        }
        FileFacts facts;
        e = files_.QueryFacts(entry.get(), &facts);
        if (e != err::kSuccess) {
            NoteRefused("its attributes cannot be read");
            return false;
        }
        if (IsLink(facts) != listedLink ||
            IsFolder(facts.attributes) != IsFolder(listed.attributes)) {
            NoteRefused("changed since its folder was listed");
            return false;
        }
        if (facts.volumeSerial != volume_) {
            NoteRefused("on another volume");
            return false;
        }
        if (listedFolder) {
            // Another user's profile folder is never entered, whatever path led to it.
            if (std::string reason = CheckFence(files_, entry.get(), fence_, false);
                !reason.empty()) {
                if (problems_++ == 0) first_ = Refused(path_, std::move(reason));
                return false;
            }
            const FileRef handle = entry.get();
            Enter(std::move(entry), handle, facts);
            return true;
        }
        // A file, or a link of any kind, which goes as the link: its target is never entered.
        e = Remove(entry.get(), facts);
        if (e != err::kSuccess) {
            NoteFailed(e);
        } else if (dryRun_ != nullptr) {
            stack_.back().gone.push_back(listed.name);
        }
        return false;
    }

    // Counts a problem at path_; the first one is the report. Later ones copy no path, so that a
    // tree with a problem on every level costs no more than one without.
    void NoteFailed(Win32Error error) {
        if (problems_++ == 0) first_ = Failed(path_, error);
    }
    void NoteRefused(const char* reason) {
        if (problems_++ == 0) first_ = Refused(path_, reason);
    }

    IFileHandles& files_;
    std::uint64_t volume_;
    Journal* dryRun_;
    const ProfileFence& fence_;
    std::vector<Level> stack_;
    std::string path_;           // of the entry at hand
    std::size_t nameStart_ = 0;  // where the entry's name starts in path_
    std::size_t problems_ = 0;
    DeleteReport first_;
};

}  // namespace

DeleteReport Deleter::OpenTarget(std::string_view path, std::uint32_t intent, Target* target) {
    PathParts parts;
    if (!SplitAbsolutePath(path, &parts) || parts.names.empty()) {
        return Refused(std::string(path), "not a plain path");
    }
    if (dryRun_ != nullptr && dryRun_->IsDeleted(path)) return Missing(err::kFileNotFound);
    UniqueFileRef parent(files_);
    DeleteReport walk = WalkTo(files_, anchors_, fence_, parts, parts.names.size() - 1, false,
                               &parent, &target->volume);
    if (walk.outcome != DeleteOutcome::kOk) {
        if (walk.path.empty()) walk.path = std::string(path);
        return walk;
    }
    const std::string& name = parts.names.back();
    target->handle = UniqueFileRef(files_);
    Win32Error e = files_.OpenRelative(parent.get(), name, intent, target->handle.put());
    if (e == err::kDirectory && (intent & open_intent::kList) != 0) {
        // A file where a folder was named: opened as what it is.
        e = files_.OpenRelative(parent.get(), name, intent & ~open_intent::kList,
                                target->handle.put());
    }
    if (e != err::kSuccess) {
        if (e == err::kFileNotFound) return Missing(e);
        return Failed(std::string(path), e);
    }
    if (files_.QueryFacts(target->handle.get(), &target->facts) != err::kSuccess) {
        return Refused(std::string(path), "its attributes cannot be read");
    }
    if (target->facts.volumeSerial != target->volume) {
        return Refused(std::string(path), "on another volume");
    }
    // A folder is deleted or moved whole here: it must neither be nor hold another's profile.
    if (IsFolder(target->facts.attributes) && !IsLink(target->facts)) {
        std::string reason = CheckFence(files_, target->handle.get(), fence_, true);
        if (!reason.empty()) return Refused(std::string(path), reason);
    }
    return Done();
}

DeleteReport Deleter::KeepTarget(Target& target, std::string_view path) {
    DeleteReport report;
    Win32Error e = keeper_->Keep(target.handle.get(), target.volume, path, &report.backup);
    return e == err::kSuccess ? report : Failed(std::string(path), e);
}

DeleteReport Deleter::DeleteTree(std::string_view path) {
    Target target;
    DeleteReport report = OpenTarget(path, open_intent::kList | open_intent::kDelete, &target);
    if (report.outcome != DeleteOutcome::kOk) return report;
    // A product folder that is itself a link is not the user's data but a way elsewhere.
    if (IsLink(target.facts)) return Refused(std::string(path), "a link");
    // The whole tree moves in one rename of the handle checked above: nothing below it is opened,
    // so no link inside it is ever followed.
    if (keeper_ != nullptr) return KeepTarget(target, path);
    if (!IsFolder(target.facts.attributes)) {
        Win32Error e = DeleteOpened(files_, target.handle.get(), target.facts, true, dryRun_, path);
        return e == err::kSuccess ? DeleteReport{} : Failed(std::string(path), e);
    }
    TreeDeletion deletion(files_, target.volume, dryRun_, fence_);
    deletion.DeleteFolder(target.handle.get(), target.facts, std::string(path));
    return deletion.first();
}

DeleteReport Deleter::DeleteFile(std::string_view path) {
    Target target;
    DeleteReport report = OpenTarget(path, open_intent::kDelete, &target);
    if (report.outcome != DeleteOutcome::kOk) return report;
    // A folder is no file (DeleteFileA answers 5); a link of any kind goes as the link.
    if (IsFolder(target.facts.attributes) && !IsLink(target.facts)) {
        return Failed(std::string(path), err::kAccessDenied);
    }
    // A read-only file stays, as DeleteFileA leaves it.
    if (keeper_ != nullptr) {
        if ((target.facts.attributes & fa::kReadOnly) != 0) {
            return Failed(std::string(path), err::kAccessDenied);
        }
        return KeepTarget(target, path);
    }
    Win32Error e = DeleteOpened(files_, target.handle.get(), target.facts, false, dryRun_, path);
    return e == err::kSuccess ? DeleteReport{} : Failed(std::string(path), e);
}

DeleteReport Deleter::RemoveEmptyFolder(std::string_view path) {
    Target target;
    DeleteReport report = OpenTarget(path, open_intent::kList | open_intent::kDelete, &target);
    if (report.outcome != DeleteOutcome::kOk) return report;
    // RemoveDirectoryA's answer for a file.
    if (!IsFolder(target.facts.attributes)) return Failed(std::string(path), err::kDirectory);
    // A dry run sees the folder as the deletions before would have left it.
    if (dryRun_ != nullptr && (target.facts.attributes & fa::kReparsePoint) == 0) {
        std::vector<FolderEntry> entries;
        if (files_.ListFolder(target.handle.get(), "*", &entries) == err::kSuccess) {
            for (const FolderEntry& entry : entries) {
                if (entry.name == "." || entry.name == "..") continue;
                if (!dryRun_->IsDeleted(text::JoinPath(path, entry.name))) {
                    return Failed(std::string(path), err::kDirNotEmpty);
                }
            }
        }
    }
    // An empty folder, or a junction, which goes as the link as RemoveDirectoryA removes it. A
    // backup keeps a junction whole; an empty folder is only noted, with its attributes.
    if (keeper_ != nullptr && IsLink(target.facts)) return KeepTarget(target, path);
    Win32Error e = DeleteOpened(files_, target.handle.get(), target.facts, false, dryRun_, path);
    if (e != err::kSuccess) return Failed(std::string(path), e);
    DeleteReport removed;
    removed.attributes = target.facts.attributes;
    return removed;
}

DeleteReport Deleter::List(std::string_view path, std::string_view mask,
                           std::vector<FolderEntry>* entries) {
    PathParts parts;
    if (!SplitAbsolutePath(path, &parts) || !HoldsOnlyNameCharacters(mask, true)) {
        return Refused(text::JoinPath(path, mask), "not a plain path");
    }
    if (dryRun_ != nullptr && dryRun_->IsDeleted(path)) return Missing(err::kPathNotFound);
    UniqueFileRef folder(files_);
    std::uint64_t volume = 0;
    DeleteReport walk =
        WalkTo(files_, anchors_, fence_, parts, parts.names.size(), true, &folder, &volume);
    if (walk.outcome != DeleteOutcome::kOk) {
        if (walk.path.empty()) walk.path = text::JoinPath(path, mask);
        return walk;
    }
    Win32Error e = files_.ListFolder(folder.get(), mask, entries);
    if (e == err::kSuccess && dryRun_ != nullptr) {
        // What the deletions before would have left of the folder.
        entries->erase(
            std::remove_if(entries->begin(), entries->end(),
                           [&](const FolderEntry& entry) {
                               return entry.name != "." && entry.name != ".." &&
                                      dryRun_->IsDeleted(text::JoinPath(path, entry.name));
                           }),
            entries->end());
        if (entries->empty()) e = err::kFileNotFound;
    }
    if (e == err::kFileNotFound) return Missing(e);
    if (e != err::kSuccess) return Failed(text::JoinPath(path, mask), e);
    return Done();
}

DeleteReport Deleter::OpenParentMaking(std::string_view path, PathParts* parts,
                                       UniqueFileRef* parent, std::uint64_t* volume) {
    if (!SplitAbsolutePath(path, parts) || parts->names.empty()) {
        return Refused(std::string(path), "not a plain path");
    }
    DeleteReport walk = WalkTo(files_, anchors_, fence_, *parts, parts->names.size() - 1, false,
                               parent, volume, true, machineAnchors_);
    if (walk.path.empty()) walk.path = std::string(path);
    return walk;
}

void Deleter::RequireMachineFolders(std::vector<std::string> anchors) {
    machineAnchors_ = std::move(anchors);
}

DeleteReport Deleter::PutBack(FileRef item, std::string_view path) {
    PathParts parts;
    UniqueFileRef parent(files_);
    std::uint64_t volume = 0;
    DeleteReport walk = OpenParentMaking(path, &parts, &parent, &volume);
    if (walk.outcome != DeleteOutcome::kOk) return walk;
    Win32Error e = files_.Rename(item, parent.get(), parts.names.back());
    return e == err::kSuccess ? Done() : Failed(std::string(path), e);
}

DeleteReport Deleter::MakeFolder(std::string_view path, std::uint32_t attributes) {
    PathParts parts;
    UniqueFileRef parent(files_);
    std::uint64_t volume = 0;
    DeleteReport walk = OpenParentMaking(path, &parts, &parent, &volume);
    if (walk.outcome != DeleteOutcome::kOk) return walk;
    UniqueFileRef folder(files_);
    Win32Error e = files_.CreateFolder(parent.get(), parts.names.back(),
                                       FolderProtection::kInherited, folder.put());
    if (e == err::kAlreadyExists) {
        DeleteReport taken;
        taken.outcome = DeleteOutcome::kAlreadyExists;
        taken.error = e;
        return taken;
    }
    if (e != err::kSuccess) return Failed(std::string(path), e);
    const std::uint32_t own =
        attributes & (fa::kReadOnly | fa::kHidden | fa::kSystem | fa::kArchive);
    if (own != 0) (void)files_.SetAttributes(folder.get(), own);  // the folder is there either way
    return Done();
}

}  // namespace qv
