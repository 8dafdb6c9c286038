#include "cleanup/journal.h"

#include "base/text.h"

namespace qv {

// Alike on purpose: one switch per enum, so that the compiler reports a value left without its
// name.
const char* ActionKindName(ActionKind kind) {
    switch (kind) {
        case ActionKind::kRegisterLeftoverFolder:
            return "register-leftover-folder";
        case ActionKind::kDeleteFolderTree:
            return "delete-folder-tree";
        case ActionKind::kDeleteFile:
            return "delete-file";
        case ActionKind::kRemoveEmptyFolder:
            return "remove-empty-folder";
        case ActionKind::kDeleteKeyTree:
            return "delete-key-tree";
        case ActionKind::kDeleteEmptyKey:
            return "delete-empty-key";
    }
    return "";
}

// Alike on purpose: one switch per enum, so that the compiler reports a value left without its
// name.
const char* ActionResultName(ActionResult result) {
    switch (result) {
        case ActionResult::kPlanned:
            return "planned";
        case ActionResult::kDone:
            return "done";
        case ActionResult::kFailed:
            return "failed";
        case ActionResult::kRefused:
            return "refused";
        case ActionResult::kSkipped:
            return "skipped";
    }
    return "";
}

void Journal::Note(ActionKind kind, std::string path, std::string_view sid, ActionResult result,
                   Win32Error error, std::string reason) {
    Action action;
    action.kind = kind;
    action.path = std::move(path);
    action.sid = std::string(sid);
    action.result = result;
    action.error = error;
    action.reason = std::move(reason);
    Note(std::move(action));
}

void Journal::Note(Action action) {
    // A refusal is known before anything is done, and a plan shows it.
    if (dryRun_ && action.result != ActionResult::kRefused) action.result = ActionResult::kPlanned;
    actions_.push_back(std::move(action));
    if (observer_ && !dryRun_) observer_(actions_.back());
}

void Journal::MarkDeleted(std::string_view path) {
    deleted_.insert(text::FoldCase(text::TrimTrailingBackslashes(path)));
}

bool Journal::IsDeleted(std::string_view path) const {
    std::string folded = text::FoldCase(text::TrimTrailingBackslashes(path));
    for (;;) {
        if (deleted_.count(folded) != 0) return true;
        std::size_t cut = text::FindLast(folded, '\\');
        if (cut == text::npos) return false;
        folded.resize(cut);
    }
}

}  // namespace qv
