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

// Removes the candidate folder if it is empty, then each parent while the removal succeeds. The
// trace names the folders as the line named them; the deleter acts on their full paths.
void RemoveEmptyFolders(Platform& os, Deleter& deleter, std::string folder,
                        const WalkStops& stops) {
    Win32Error e = err::kSuccess;
    for (;; folder = text::CutBeforeLastBackslash(folder)) {
        if (stops.StopsAt(folder)) return;
        Trace(os.debug, "\tAttempting to remove directory \"", folder, "\"\n");
        DeleteReport report = deleter.RemoveEmptyFolder(FullFolder(os.files, folder));
        if (report.outcome == DeleteOutcome::kRefused) {
            TraceRefusal(os.debug, report);
            return;
        }
        if (report.outcome != DeleteOutcome::kDeleted) {
            e = report.error;
            break;
        }
    }
    TraceError(os.debug, "\tERROR: Couldn't remove directory (", e);
    // A folder whose last file was still being released can go on the second try.
    (void)deleter.RemoveEmptyFolder(FullFolder(os.files, folder));
}

// The line from `start` up to the line feed at `lf`, without the line feed and without the one
// character before it (the carriage return of a CR LF line end).
std::string_view LineBefore(std::string_view text, std::size_t start, std::size_t lf) {
    std::size_t lastChar = start;
    for (std::size_t i = start; i < lf; i += text::CharLength(text, i)) lastChar = i;
    return text.substr(start, lastChar - start);
}

void DeleteLine(Platform& os, Deleter& deleter, std::string_view line, const WalkStops& stops) {
    Trace(os.debug, "Processing \"", line, "\"\n");
    // The line is a search pattern: the folder searched, and the mask of its last name. The
    // folder is taken as the system takes a path (GetFullPathNameA: repeated separators, "."
    // and ".." resolved); an empty pattern names no folder.
    std::string full;
    Win32Error e = line.empty() ? err::kPathNotFound
                                : os.files.GetFullPathName(line, kMaxPath, &full);
    if (e != err::kSuccess) {
        TraceError(os.debug, "\tERROR: FindFile failed. (", e);
        return;
    }
    std::size_t cut = text::FindLast(full, '\\');
    std::string root = cut == text::npos ? std::string() : full.substr(0, cut);
    std::string mask = cut == text::npos ? full : full.substr(cut + 1);
    std::vector<FolderEntry> entries;
    DeleteReport found = deleter.List(root, mask, &entries);
    if (found.outcome == DeleteOutcome::kRefused) {
        TraceRefusal(os.debug, found);
        return;
    }
    if (found.outcome != DeleteOutcome::kDeleted) {
        TraceError(os.debug, "\tERROR: FindFile failed. (", found.error);
        return;
    }
    std::string candidate;
    for (const FolderEntry& entry : entries) {
        std::string path = root + "\\" + entry.name;
        Trace(os.debug, "\tFound \"", path, "\"\n");
        if ((entry.attributes & fa::kDirectory) != 0) {
            candidate = path;
            os.debug.Write("\tThis is a directory.\n");
            continue;
        }
        Trace(os.debug, "\tRemoving \"", path, "\"\n");
        candidate = root;
        // A read-only or open file stays; the walk then stops at its folder.
        DeleteReport removed = deleter.DeleteFile(path);
        if (removed.outcome == DeleteOutcome::kRefused) TraceRefusal(os.debug, removed);
    }
    RemoveEmptyFolders(os, deleter, candidate, stops);
}

}  // namespace

ProductFilesOutcome CleanProductFiles(Platform& os, const Tables& tables,
                                      std::string_view registrationPath, std::string_view sidText,
                                      Win32Error* tableError) {
    PlaceholderTable table;
    PlaceholderBuild build = BuildPlaceholderTable(os, registrationPath, sidText, tables, &table);
    if (tableError != nullptr) *tableError = build.result;
    if (build.result != err::kSuccess) return ProductFilesOutcome::kNoTable;
    for (const FolderRefusal& refusal : build.refusals) {
        Trace(os.debug, "\tRefused to use \"", refusal.value,
              "\" as " + refusal.placeholder + ": " + refusal.reason + "\n");
    }
    Deleter deleter(os.handles, build.anchors);
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
            report.path = root.folder;
            report.reason = root.refusal;
        } else {
            report = deleter.DeleteTree(root.folder);
        }
        if (report.outcome == DeleteOutcome::kRefused) {
            TraceRefusal(os.debug, report);
            dataLeft = true;
        } else if (report.outcome == DeleteOutcome::kFailed) {
            Trace(os.debug, "\tERROR: Couldn't delete \"", report.path,
                  "\" (" + std::to_string(report.error) + ")\n");
            dataLeft = true;
        }
    }
    (void)LoadFileList(os, deleter, IDR_FILELIST_CLEANUP, kFileListType, table);  // traced
    return dataLeft ? ProductFilesOutcome::kDataLeft : ProductFilesOutcome::kRemoved;
}

HResult LoadFileList(Platform& os, Deleter& deleter, std::uint32_t id, std::string_view type,
                     const PlaceholderTable& table) {
    std::string bytes;
    Win32Error e = os.resources.LoadResourceBytes(id, type, &bytes);
    if (e != err::kSuccess) return hr::FromWin32(e);
    // The list is read as a NUL-terminated text: anything after a NUL byte is not part of it.
    std::string_view listText = bytes;
    listText = listText.substr(0, text::Find(listText, '\0'));
    std::string expanded;
    HResult result = ExpandPlaceholders(listText, table, &expanded);
    if (result != hr::kOk) return result;
    return DeleteBuffer(os, deleter, expanded, table);
}

HResult DeleteBuffer(Platform& os, Deleter& deleter, std::string_view text,
                     const PlaceholderTable& table) {
    os.debug.Write("Start of DeleteBuffer\n");
    os.debug.Write(text);
    os.debug.Write("End of DeleteBuffer\n");

    WalkStops stops(os.files, table);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text::Find(text, '\n', start);
        if (lf == text::npos) break;  // text after the last line feed is no line
        DeleteLine(os, deleter, LineBefore(text, start, lf), stops);
        start = lf + 1;
    }
    return hr::kOk;
}

}  // namespace qv
