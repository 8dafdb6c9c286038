#include "cleanup/journal.h"

#include "base/enum_names.h"
#include "base/text.h"

namespace qv {

// Alike on purpose: each enum has its own table of names, checked where it stands.
constexpr EnumName<ActionKind> kActionKindNames[] = {
    {ActionKind::kRegisterLeftoverFolder, "register-leftover-folder"},
    {ActionKind::kDeleteFolderTree, "delete-folder-tree"},
    {ActionKind::kDeleteFile, "delete-file"},
    {ActionKind::kRemoveEmptyFolder, "remove-empty-folder"},
    {ActionKind::kDeleteKeyTree, "delete-key-tree"},
    {ActionKind::kDeleteEmptyKey, "delete-empty-key"},
};
static_assert(NamesEveryValue(kActionKindNames));

constexpr EnumName<ActionResult> kActionResultNames[] = {
    {ActionResult::kPlanned, "planned"}, {ActionResult::kDone, "done"},
    {ActionResult::kFailed, "failed"},   {ActionResult::kRefused, "refused"},
    {ActionResult::kSkipped, "skipped"},
};
static_assert(NamesEveryValue(kActionResultNames));

const char* ActionKindName(ActionKind kind) { return NameOf(kActionKindNames, kind, ""); }

const char* ActionResultName(ActionResult result) { return NameOf(kActionResultNames, result, ""); }

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
