#include "cleanup/file_list.h"

#include <vector>

#include "app/defaults.h"
#include "base/text.h"
#include "cleanup/deleter.h"
#include "cleanup/folder_guard.h"
#include "res/resource.h"

namespace qv {
namespace {

// A trace line is formatted into a 1024-byte buffer, its NUL included. A line that would not fit
// (only a path far beyond 260 characters can make one) loses the end of its inserted text, cut at
// a character boundary, and keeps its own closing text and line feed, so that every line of the
// trace stays one line and no double-byte character is split.
constexpr std::size_t kTraceLineBytes = 1024;

void Trace(IDebugOutput& debug, std::string_view before, std::string_view inserted,
           std::string_view after) {
    std::size_t fixed = before.size() + after.size();
    std::size_t room = fixed < kTraceLineBytes - 1 ? kTraceLineBytes - 1 - fixed : 0;
    if (inserted.size() > room) {
        std::size_t end = 0;
        while (end < inserted.size() && end + text::CharLength(inserted, end) <= room) {
            end += text::CharLength(inserted, end);
        }
        inserted = inserted.substr(0, end);
    }
    std::string line;
    line.reserve(before.size() + inserted.size() + after.size());
    line.append(before).append(inserted).append(after);
    debug.Write(line);
}

void TraceError(IDebugOutput& debug, std::string_view before, Win32Error code) {
    Trace(debug, before, std::to_string(static_cast<int>(code)), ")\n");
}

ActionResult ResultOf(const DeleteReport& report) {
    switch (report.outcome) {
        case DeleteOutcome::kDeleted:
        case DeleteOutcome::kOk:
            return ActionResult::kDone;
        case DeleteOutcome::kRefused:
            return ActionResult::kRefused;
        case DeleteOutcome::kMissing:
        case DeleteOutcome::kAlreadyExists:
        case DeleteOutcome::kFailed:
            break;
    }
    return ActionResult::kFailed;
}

// Where a dry run's trace goes: a dry run deletes nothing, and its trace would tell of deletions.
class NullTrace final : public IDebugOutput {
  public:
    void Write(std::string_view) noexcept override {}
};

// "\tRefused to delete "<path>": <reason>\n": a path the clean-up would not act on, and why.
void TraceRefusal(IDebugOutput& debug, const DeleteReport& report) {
    Trace(debug, "\tRefused to delete \"", report.path, "\": " + report.reason + "\n");
}

std::string FullFolder(IFileSystem& files, std::string_view path) {
    std::string full;
    if (files.GetFullPathName(path, kMaxPath, &full) != err::kSuccess) full = std::string(path);
    return text::TrimTrailingBackslashes(full);
}

// Where the walk up from an emptied folder stops before it tries a removal: the user's temporary
// folder, the application-data and program folders of the user and of the machine, the profile
// folder, and every drive or share root. Any of them may be empty and removable, and none of
// them belongs to the product.
class WalkStops {
  public:
    WalkStops(IFileSystem& files, const PlaceholderTable& table) : files_(files) {
        for (const char* name : {"TEMP", "APPDATAFOLDER", "COMMONAPPDATAFOLDER", "PROGRAMFILES"}) {
            if (std::optional<std::string> value = table.Lookup(name)) Add(*value);
        }
        for (const std::string& folder : table.KeptFolders()) Add(folder);
    }

    bool StopsAt(std::string_view candidate) const {
        if (IsVolumeRootOrRelative(candidate)) return true;
        std::string full = FullFolder(files_, candidate);
        if (IsVolumeRootOrRelative(full)) return true;
        std::string written = text::TrimTrailingBackslashes(candidate);
        for (const std::string& folder : folders_) {
            if (text::EqualsNoCase(full, folder) || text::EqualsNoCase(written, folder)) {
                return true;
            }
        }
        return false;
    }

  private:
    void Add(std::string_view folder) {
        if (folder.empty()) return;
        folders_.push_back(FullFolder(files_, folder));
        folders_.push_back(text::TrimTrailingBackslashes(folder));
    }

    IFileSystem& files_;
    std::vector<std::string> folders_;
};

// What one pass over the list works with: the deleter, where the trace goes (nowhere in a dry
// run), and the journal that notes each action (optional).
struct Run {
    Platform& os;
    Deleter& deleter;
    IDebugOutput& trace;
    Journal* journal;
    std::string_view sid;
    // A file that a line matched stayed: its deletion was refused or failed.
    bool fileLeft = false;

    void Note(ActionKind kind, const DeleteReport& report) {
        if (journal == nullptr || report.outcome == DeleteOutcome::kMissing) return;
        Action action;
        action.kind = kind;
        action.path = report.path;
        action.sid = std::string(sid);
        action.result = ResultOf(report);
        action.error = report.error;
        action.reason = report.reason;
        action.backup = report.backup;
        action.attributes = report.attributes;
        journal->Note(std::move(action));
    }
};

// Removes the candidate folder if it is empty, then each parent while the removal succeeds. The
// trace names the folders as the line named them; the deleter acts on their full paths.
void RemoveEmptyFolders(Run& run, std::string folder, const WalkStops& stops) {
    Win32Error e = err::kSuccess;
    for (;; folder = text::CutBeforeLastBackslash(folder)) {
        if (stops.StopsAt(folder)) return;
        Trace(run.trace, "\tAttempting to remove directory \"", folder, "\"\n");
        const std::string full = FullFolder(run.os.files, folder);
        DeleteReport report = run.deleter.RemoveEmptyFolder(full);
        if (report.outcome == DeleteOutcome::kRefused) {
            TraceRefusal(run.trace, report);
            return;
        }
        if (report.outcome == DeleteOutcome::kDeleted) {
            report.path = full;
            run.Note(ActionKind::kRemoveEmptyFolder, report);
        }
        if (report.outcome != DeleteOutcome::kDeleted) {
            e = report.error;
            break;
        }
    }
    TraceError(run.trace, "\tERROR: Couldn't remove directory (", e);
    // A folder whose last file was still being released can go on the second try.
    const std::string full = FullFolder(run.os.files, folder);
    DeleteReport again = run.deleter.RemoveEmptyFolder(full);
    if (again.outcome == DeleteOutcome::kDeleted) {
        again.path = full;
        run.Note(ActionKind::kRemoveEmptyFolder, again);
    }
}

// The line from `start` up to the line feed at `lf`, without the line feed and without the one
// character before it (the carriage return of a CR LF line end).
std::string_view LineBefore(std::string_view text, std::size_t start, std::size_t lf) {
    std::size_t lastChar = start;
    for (std::size_t i = start; i < lf; i += text::CharLength(text, i)) lastChar = i;
    return text.substr(start, lastChar - start);
}

void DeleteLine(Run& run, std::string_view line, const WalkStops& stops) {
    Platform& os = run.os;
    Trace(run.trace, "Processing \"", line, "\"\n");
    // The line is a search pattern: the folder searched, and the mask of its last name. The
    // folder is taken as the system takes a path (GetFullPathNameA: repeated separators, "."
    // and ".." resolved); an empty pattern names no folder.
    std::string full;
    Win32Error e =
        line.empty() ? err::kPathNotFound : os.files.GetFullPathName(line, kMaxPath, &full);
    if (e != err::kSuccess) {
        TraceError(run.trace, "\tERROR: FindFile failed. (", e);
        return;
    }
    std::size_t cut = text::FindLast(full, '\\');
    std::string root = cut == text::npos ? std::string() : full.substr(0, cut);
    std::string mask = cut == text::npos ? full : full.substr(cut + 1);
    std::vector<FolderEntry> entries;
    DeleteReport found = run.deleter.List(root, mask, &entries);
    if (found.outcome == DeleteOutcome::kRefused) {
        TraceRefusal(run.trace, found);
        return;
    }
    if (found.outcome != DeleteOutcome::kOk) {
        TraceError(run.trace, "\tERROR: FindFile failed. (", found.error);
        return;
    }
    std::string candidate;
    for (const FolderEntry& entry : entries) {
        std::string path = root + "\\" + entry.name;
        Trace(run.trace, "\tFound \"", path, "\"\n");
        if ((entry.attributes & fa::kDirectory) != 0) {
            candidate = path;
            run.trace.Write("\tThis is a directory.\n");
            continue;
        }
        Trace(run.trace, "\tRemoving \"", path, "\"\n");
        candidate = root;
        // A read-only or open file stays; the walk then stops at its folder.
        DeleteReport removed = run.deleter.DeleteFile(path);
        if (removed.outcome == DeleteOutcome::kRefused) TraceRefusal(run.trace, removed);
        if (removed.outcome == DeleteOutcome::kRefused ||
            removed.outcome == DeleteOutcome::kFailed) {
            run.fileLeft = true;
        }
        if (removed.path.empty()) removed.path = path;
        run.Note(ActionKind::kDeleteFile, removed);
    }
    RemoveEmptyFolders(run, candidate, stops);
}

}  // namespace

ProductFilesOutcome CleanProductFiles(Platform& os, const Tables& tables,
                                      std::string_view registrationPath, std::string_view sidText,
                                      Win32Error* tableError, Journal* journal,
                                      const LeftoverFolder* leftover) {
    PlaceholderTable table;
    PlaceholderBuild build =
        BuildPlaceholderTable(os, registrationPath, sidText, tables, &table, leftover);
    if (tableError != nullptr) *tableError = build.result;
    if (build.result != err::kSuccess) return ProductFilesOutcome::kNoTable;
    const bool dryRun = journal != nullptr && journal->dryRun();
    NullTrace quiet;
    IDebugOutput& trace = dryRun ? static_cast<IDebugOutput&>(quiet) : os.debug;
    for (const FolderRefusal& refusal : build.refusals) {
        Trace(trace, "\tRefused to use \"", refusal.value,
              "\" as " + refusal.placeholder + ": " + refusal.reason + "\n");
    }
    Deleter deleter(os.handles, build.anchors, dryRun ? journal : nullptr,
                    journal != nullptr ? journal->keeper() : nullptr);
    deleter.SetFence(build.fence);
    Run run{os, deleter, trace, journal, sidText};
    bool dataLeft = false;
    struct Root {
        const std::string& folder;
        const std::string& refusal;
    };
    for (const Root& root : {Root{build.localRootFolder, build.localRootRefusal},
                             Root{build.roamableRootFolder, build.roamableRootRefusal}}) {
        DeleteReport report;
        if (!root.refusal.empty()) {
            report.outcome = DeleteOutcome::kRefused;
            report.reason = root.refusal;
        } else {
            report = deleter.DeleteTree(root.folder);
        }
        report.path = root.folder;  // the action is the whole folder, whatever stopped it
        run.Note(ActionKind::kDeleteFolderTree, report);
        if (report.outcome == DeleteOutcome::kRefused) {
            TraceRefusal(trace, report);
            dataLeft = true;
        } else if (report.outcome == DeleteOutcome::kFailed) {
            Trace(trace, "\tERROR: Couldn't delete \"", report.path,
                  "\" (" + std::to_string(report.error) + ")\n");
            dataLeft = true;
        }
    }
    // A file of the list that stayed is data left behind as much as a product folder is, and so
    // is a list that could not be run: the key, their only record, stays (traced either way).
    if (LoadFileList(os, deleter, IDR_FILELIST_CLEANUP, kFileListType, table, journal, sidText) !=
        hr::kOk) {
        dataLeft = true;
    }
    return dataLeft ? ProductFilesOutcome::kDataLeft : ProductFilesOutcome::kRemoved;
}

HResult LoadFileList(Platform& os, Deleter& deleter, std::uint32_t id, std::string_view type,
                     const PlaceholderTable& table, Journal* journal, std::string_view sid) {
    std::string bytes;
    Win32Error e = os.resources.LoadResourceBytes(id, type, &bytes);
    if (e != err::kSuccess) return hr::FromWin32(e);
    // The list is read as a NUL-terminated text: anything after a NUL byte is not part of it.
    std::string_view listText = bytes;
    listText = listText.substr(0, text::Find(listText, '\0'));
    std::string expanded;
    HResult result = ExpandPlaceholders(listText, table, &expanded);
    if (result != hr::kOk) return result;
    return DeleteBuffer(os, deleter, expanded, table, journal, sid);
}

HResult DeleteBuffer(Platform& os, Deleter& deleter, std::string_view text,
                     const PlaceholderTable& table, Journal* journal, std::string_view sid) {
    NullTrace quiet;
    const bool dryRun = journal != nullptr && journal->dryRun();
    Run run{os, deleter, dryRun ? static_cast<IDebugOutput&>(quiet) : os.debug, journal, sid};
    run.trace.Write("Start of DeleteBuffer\n");
    run.trace.Write(text);
    run.trace.Write("End of DeleteBuffer\n");

    WalkStops stops(os.files, table);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text::Find(text, '\n', start);
        if (lf == text::npos) break;  // text after the last line feed is no line
        DeleteLine(run, LineBefore(text, start, lf), stops);
        start = lf + 1;
    }
    return run.fileLeft ? hr::kFalse : hr::kOk;
}

}  // namespace qv
