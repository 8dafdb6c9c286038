#include "cleanup/file_list.h"

#include <vector>

#include "app/defaults.h"
#include "base/text.h"
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

// Removes the candidate folder if it is empty, then each parent while the removal succeeds.
void RemoveEmptyFolders(Platform& os, std::string folder, const WalkStops& stops) {
    Win32Error e = err::kSuccess;
    for (;; folder = text::CutBeforeLastBackslash(folder)) {
        if (stops.StopsAt(folder)) return;
        Trace(os.debug, "\tAttempting to remove directory \"", folder, "\"\n");
        e = os.files.RemoveDirectory(folder);
        if (e != err::kSuccess) break;
    }
    TraceError(os.debug, "\tERROR: Couldn't remove directory (", e);
    // A folder whose last file was still being released can go on the second try.
    os.files.RemoveDirectory(folder);
}

// The line from `start` up to the line feed at `lf`, without the line feed and without the one
// character before it (the carriage return of a CR LF line end).
std::string_view LineBefore(std::string_view text, std::size_t start, std::size_t lf) {
    std::size_t lastChar = start;
    for (std::size_t i = start; i < lf; i += text::CharLength(text, i)) lastChar = i;
    return text.substr(start, lastChar - start);
}

void DeleteLine(Platform& os, FileFind& finder, std::string_view line, const WalkStops& stops) {
    Trace(os.debug, "Processing \"", line, "\"\n");
    Win32Error e = err::kSuccess;
    if (!finder.FindFile(line, &e)) {
        TraceError(os.debug, "\tERROR: FindFile failed. (", e);
        return;
    }
    std::string candidate;
    for (;;) {
        bool more = finder.FindNextFile(&e);
        if (!more && e != err::kNoMoreFiles) return;  // the search broke off: no folder walk
        std::string path = finder.GetFilePath();
        Trace(os.debug, "\tFound \"", path, "\"\n");
        if (finder.IsDirectory()) {
            candidate = path;
            os.debug.Write("\tThis is a directory.\n");
        } else {
            Trace(os.debug, "\tRemoving \"", path, "\"\n");
            candidate = finder.GetRoot();
            // A read-only or open file stays; the walk then stops at its folder.
            os.files.DeleteFile(path);
        }
        if (!more) break;
    }
    RemoveEmptyFolders(os, candidate, stops);
}

}  // namespace

bool FileFind::FindFile(std::string_view pattern, Win32Error* error) {
    Close();
    FindData first;
    Win32Error e = files_.FindFirstFile(pattern, handle_.put(), &first);
    if (e != err::kSuccess) {
        (void)handle_.release();  // a failed search hands out no handle to close
        *error = e;
        return false;
    }
    std::string full;
    if (files_.GetFullPathName(pattern, kMaxPath, &full) != err::kSuccess) {
        Close();
        *error = err::kInvalidName;
        return false;
    }
    std::size_t backslash = text::FindLast(full, '\\');
    std::size_t slash = text::FindLast(full, '/');
    std::size_t cut = backslash;
    if (cut == text::npos || (slash != text::npos && slash > cut)) cut = slash;
    root_ = cut == text::npos ? std::string() : full.substr(0, cut);
    next_ = std::move(first);
    hasNext_ = true;
    *error = err::kSuccess;
    return true;
}

bool FileFind::FindNextFile(Win32Error* error) {
    if (!hasNext_) {
        *error = handle_ ? err::kNoMoreFiles : err::kInvalidHandle;
        return false;
    }
    current_ = std::move(next_);
    next_ = FindData{};
    Win32Error e = files_.FindNextFile(handle_.get(), &next_);
    if (e != err::kSuccess) {
        hasNext_ = false;
        *error = e;
        return false;
    }
    *error = err::kSuccess;
    return true;
}

std::string FileFind::GetFilePath() const {
    std::string path = root_;
    bool endsInSeparator = !path.empty() && (text::FindLast(path, '\\') == path.size() - 1 ||
                                             text::FindLast(path, '/') == path.size() - 1);
    if (!endsInSeparator) path += '\\';
    path += current_.fileName;
    return path;
}

std::string FileFind::GetFileTitle() const {
    std::size_t dot = text::FindLast(current_.fileName, '.');
    return dot == text::npos ? current_.fileName : current_.fileName.substr(0, dot);
}

bool FileFind::IsDirectory() const { return (current_.attributes & fa::kDirectory) != 0; }

void FileFind::Close() {
    handle_.reset();
    hasNext_ = false;
    root_.clear();
}

Win32Error CleanProductFiles(Platform& os, const StringTable& productIds, WindowRef owner,
                             std::string_view registrationPath, std::string_view sidText) {
    PlaceholderTable table;
    PlaceholderBuild build =
        BuildPlaceholderTable(os, registrationPath, sidText, productIds, &table);
    if (build.result != err::kSuccess) {
        table.Clear();
        return build.result;
    }
    struct Root {
        const std::string& folder;
        const std::string& refusal;
    };
    for (const Root& root : {Root{build.localRootFolder, build.localRootRefusal},
                             Root{build.roamableRootFolder, build.roamableRootRefusal}}) {
        if (root.refusal.empty()) {
            DeleteFolderTree(os, owner, root.folder);
        } else {
            Trace(os.debug, "\tRefused to delete \"", root.folder,
                  "\": " + root.refusal + "\n");
        }
    }
    LoadFileList(os, IDR_FILELIST_CLEANUP, kFileListType, table);
    table.Clear();
    return err::kSuccess;
}

void DeleteFolderTree(Platform& os, WindowRef owner, std::string_view folder) {
    // The shell takes the source in a 260-byte area ending in two NULs; a longer path would not
    // fit, and an empty one names no folder.
    if (folder.empty() || folder.size() >= kMaxPath) return;
    os.shell.DeleteTree(owner, folder, shell::kFofNoConfirmation | shell::kFofNoErrorUi);
}

HResult LoadFileList(Platform& os, std::uint32_t id, std::string_view type,
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
    return DeleteBuffer(os, expanded, table);
}

HResult DeleteBuffer(Platform& os, std::string_view text, const PlaceholderTable& table) {
    os.debug.Write("Start of DeleteBuffer\n");
    os.debug.Write(text);
    os.debug.Write("End of DeleteBuffer\n");

    WalkStops stops(os.files, table);
    FileFind finder(os.files);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text::Find(text, '\n', start);
        if (lf == text::npos) break;  // text after the last line feed is no line
        DeleteLine(os, finder, LineBefore(text, start, lf), stops);
        finder.Close();
        start = lf + 1;
    }
    return hr::kOk;
}

}  // namespace qv
