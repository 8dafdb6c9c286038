// The journal of a clean-up: every action it takes (or, in a dry run, would take), in order, with
// its result. A dry run changes nothing on the machine; the journal then keeps what the run has
// deleted so far in its own view, so that the later steps see the machine as they would find it.
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/interface.h"
#include "base/win32_codes.h"
#include "port/file_handles.h"

namespace qv {

enum class ActionKind {
    kRegisterLeftoverFolder,  // the registration key the scan found leftover folders for
    kDeleteFolderTree,        // a product folder with everything below it
    kDeleteFile,              // a file a line of the file list matches
    kRemoveEmptyFolder,       // a folder the clean-up left empty
    kDeleteKeyTree,           // the user's registration key with its sub keys
    kDeleteEmptyKey,          // a key above it left without sub keys
};
// "register-leftover-folder", "delete-folder-tree", "delete-file", "remove-empty-folder",
// "delete-key-tree", "delete-empty-key".
const char* ActionKindName(ActionKind kind);

enum class ActionResult {
    kPlanned,  // not carried out (yet)
    kDone,
    kFailed,   // the system refused it; `error` says why
    kRefused,  // not safe to act on; `reason` says why
    kSkipped,  // not tried: an earlier action of the same user failed
};
// "planned", "done", "failed", "refused", "skipped".
const char* ActionResultName(ActionResult result);

struct Action {
    ActionKind kind = ActionKind::kDeleteFile;
    // A Windows path, or a key as "HKEY_USERS\<SID>\Software\...".
    std::string path;
    std::string sid;
    ActionResult result = ActionResult::kPlanned;
    Win32Error error = err::kSuccess;
    std::string reason;
    // Where a real run with a backup kept what the action removed (a moved file or folder tree, a
    // saved key tree); empty when nothing was kept.
    std::string backup;
    // The attributes of a folder the clean-up left empty and removed, so that it can be made again
    // as it was.
    std::uint32_t attributes = 0;
};

// Where a real clean-up keeps what it removes instead of deleting it: each file or folder tree is
// moved, by its checked handle, into the run's backup folder on its volume.
class Keeper : public Interface {
  public:
    // Moves the entry `handle` names (opened with open_intent::kDelete and checked; it lies on the
    // volume with serial `volume` at `path`) into the backup. *where receives the path it has
    // there. 0, or the error with which nothing was moved.
    [[nodiscard]] virtual Win32Error Keep(FileRef handle, std::uint64_t volume,
                                          std::string_view path, std::string* where) noexcept = 0;
};

class Journal {
  public:
    explicit Journal(bool dryRun, Keeper* keeper = nullptr) : dryRun_(dryRun), keeper_(keeper) {}

    bool dryRun() const noexcept { return dryRun_; }
    // The backup of a real run; null in a dry run and when nothing is kept.
    Keeper* keeper() const noexcept { return dryRun_ ? nullptr : keeper_; }
    const std::vector<Action>& actions() const noexcept { return actions_; }
    std::vector<Action> TakeActions() { return std::move(actions_); }

    // Notes an action; in a dry run its result is kPlanned unless it is a refusal.
    void Note(ActionKind kind, std::string path, std::string_view sid, ActionResult result,
              Win32Error error = err::kSuccess, std::string reason = {});
    // Notes an action as it is given (its result as Note sets it).
    void Note(Action action);

    // Called with each action as it is noted in a real run (the audit log's writer).
    void SetObserver(std::function<void(const Action&)> observer) {
        observer_ = std::move(observer);
    }

    // The dry run's view: paths (of files, folders and keys) deleted so far. A path counts as
    // deleted when it or a folder or key above it was.
    void MarkDeleted(std::string_view path);
    [[nodiscard]] bool IsDeleted(std::string_view path) const;

  private:
    bool dryRun_;
    Keeper* keeper_;
    std::function<void(const Action&)> observer_;
    std::vector<Action> actions_;
    std::set<std::string> deleted_;  // folded
};

}  // namespace qv
