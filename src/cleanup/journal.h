// The journal of a clean-up: every action it takes (or, in a dry run, would take), in order, with
// its result. A dry run changes nothing on the machine; the journal then keeps what the run has
// deleted so far in its own view, so that the later steps see the machine as they would find it.
#pragma once
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_codes.h"

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
};

class Journal {
  public:
    explicit Journal(bool dryRun) : dryRun_(dryRun) {}

    bool dryRun() const noexcept { return dryRun_; }
    const std::vector<Action>& actions() const noexcept { return actions_; }
    std::vector<Action> TakeActions() { return std::move(actions_); }

    // Notes an action; in a dry run its result is kPlanned unless it is a refusal.
    void Note(ActionKind kind, std::string path, std::string_view sid, ActionResult result,
              Win32Error error = err::kSuccess, std::string reason = {});

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
    std::function<void(const Action&)> observer_;
    std::vector<Action> actions_;
    std::set<std::string> deleted_;  // folded
};

}  // namespace qv
