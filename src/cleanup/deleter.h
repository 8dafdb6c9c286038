// The one deleter of the clean-up. Every removal of a file or folder goes through it: a product
// folder tree, a file a list line matches, an emptied folder of the walk upwards.
//
// It works only below trusted folders (the anchors: a user's profile folder from the machine's
// profile list, the machine's own shell and program folders). An anchor is opened by its path
// once; every name below it is opened relative to its parent's handle without reparse
// processing, and each handle is checked before anything is done through it: a folder on the
// way must be a plain folder (no junction, no symbolic link, no mount point) on the anchor's
// volume. What is deleted is deleted through the handle that was checked, so a link swapped in
// after a check is never followed; a link met inside a tree is removed as the link.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/win32_codes.h"
#include "cleanup/folder_guard.h"
#include "cleanup/journal.h"
#include "port/file_handles.h"

namespace qv {

enum class DeleteOutcome {
    kDeleted,        // everything asked for is gone
    kOk,             // done, and it was no deletion: a listing, a put-back, a folder made
    kMissing,        // there was nothing to delete (no entry at the path, or nothing matched)
    kAlreadyExists,  // MakeFolder: something has the name already and is left as it is
    kRefused,  // the path or something on the way to it was not safe to act on; nothing done there
    kFailed,   // the system refused an open or a deletion; what could go is gone
};

struct DeleteReport {
    DeleteOutcome outcome = DeleteOutcome::kDeleted;
    // The system's error for kFailed, kMissing and kAlreadyExists (2, 3, 145, 32, 5, 183, ...); 0
    // otherwise.
    Win32Error error = err::kSuccess;
    // For kRefused and kFailed: the path that stopped it, and for kRefused why (for the trace).
    std::string path;
    std::string reason;
    // Where the backup keeps what went (a deleter with a keeper); the attributes of a removed
    // empty folder.
    std::string backup;
    std::uint32_t attributes = 0;

    bool ok() const {
        return outcome == DeleteOutcome::kDeleted || outcome == DeleteOutcome::kOk ||
               outcome == DeleteOutcome::kMissing || outcome == DeleteOutcome::kAlreadyExists;
    }
};

class Deleter {
  public:
    // `anchors` are absolute folder paths named by the machine. A path is handled below the
    // innermost anchor that holds it; a path outside every anchor, or equal to one, is refused.
    // With `dryRun` nothing is deleted: every call opens and checks as it would, answers as the
    // deletion would, and notes what it would delete in the journal's view, which the later
    // calls see.
    // With a `keeper` (a real run with a backup) a folder tree or file is moved into the backup
    // in one rename of its checked handle instead of being deleted; what cannot be moved stays.
    Deleter(IFileHandles& files, std::vector<std::string> anchors, Journal* dryRun = nullptr,
            Keeper* keeper = nullptr);
    ~Deleter();
    Deleter(const Deleter&) = delete;
    Deleter& operator=(const Deleter&) = delete;

    // Folders of other users' profiles, known by identity: none of them is entered, and neither
    // one of them nor a folder that holds one is deleted or moved whole, whatever the path that
    // names it looks like.
    void SetFence(ProfileFence fence) { fence_ = std::move(fence); }

    // Deletes the folder at `path` with everything below it. Read-only entries are deleted too.
    // An entry that changed between the listing and its open (another kind, or a link now) is
    // left and makes the outcome kFailed; so does any entry that could not be deleted.
    [[nodiscard]] DeleteReport DeleteTree(std::string_view path);
    // Deletes the file (or the link) at `path`; a folder is not touched (kFailed, 5).
    [[nodiscard]] DeleteReport DeleteFile(std::string_view path);
    // Removes the folder at `path` when it is empty (kFailed with 145 when it is not).
    [[nodiscard]] DeleteReport RemoveEmptyFolder(std::string_view path);
    // The entries of the folder at `path` that match `mask` (see IFileHandles::ListFolder), the
    // folder reached as a deletion would reach it: kOk, kMissing with 2 when nothing matches, with
    // 3 when the folder is missing.
    [[nodiscard]] DeleteReport List(std::string_view path, std::string_view mask,
                                    std::vector<FolderEntry>* entries);

    // --- putting a backup back ---
    // From now on PutBack and MakeFolder, below any of `anchors` (the machine's own folders), use
    // a folder on the way that exists already only when it is the machine's
    // (FolderProtection::kMachine), and refuse the path otherwise: after a clean-up removed an
    // emptied folder there, a user may have made it again, and what is put back into his folder
    // he could replace.
    void RequireMachineFolders(std::vector<std::string> anchors);
    // Moves the entry `item` names (opened with open_intent::kDelete) to `path`, making the
    // folders missing on the way below the anchor, each by handle and never through a link.
    // kOk, or kFailed with 183 when the name is taken again: nothing is replaced.
    [[nodiscard]] DeleteReport PutBack(FileRef item, std::string_view path);
    // Makes the folder at `path` (and the missing ones on the way) with `attributes`: kOk. An
    // existing folder there is left as it is (kAlreadyExists with 183).
    [[nodiscard]] DeleteReport MakeFolder(std::string_view path, std::uint32_t attributes);

  private:
    struct Target {
        UniqueFileRef handle;
        FileFacts facts;
        std::uint64_t volume = 0;  // the anchor's
    };
    // Walks to the folder that holds `path`, checking each folder on the way, and opens the
    // entry itself with `intent` (a file where kList asked for a folder is opened without it).
    [[nodiscard]] DeleteReport OpenTarget(std::string_view path, std::uint32_t intent,
                                          Target* target);
    // Moves the checked target into the backup; the report of the action.
    [[nodiscard]] DeleteReport KeepTarget(Target& target, std::string_view path);
    // Walks to the folder that holds `path`, making missing folders, for PutBack and MakeFolder.
    [[nodiscard]] DeleteReport OpenParentMaking(std::string_view path, PathParts* parts,
                                                UniqueFileRef* parent, std::uint64_t* volume);

    IFileHandles& files_;
    std::vector<std::string> anchors_;
    Journal* dryRun_;
    Keeper* keeper_;
    ProfileFence fence_;
    std::vector<std::string> machineAnchors_;
};

}  // namespace qv
