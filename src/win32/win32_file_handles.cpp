#include "win32/win32_file_handles.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "win32/win32_folder_security.h"
#include "win32/win32_handles.h"

// The directory query and the upper-casing of ntdll; the import library has them, the user-mode
// headers do not declare them.
extern "C" NTSYSAPI WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR SourceCharacter);
extern "C" NTSYSAPI NTSTATUS NTAPI
NtQueryDirectoryFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                     PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation, ULONG Length,
                     FILE_INFORMATION_CLASS FileInformationClass, BOOLEAN ReturnSingleEntry,
                     PUNICODE_STRING FileName, BOOLEAN RestartScan);
extern "C" NTSYSAPI NTSTATUS NTAPI NtReadFile(HANDLE FileHandle, HANDLE Event,
                                              PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                              PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer,
                                              ULONG Length, PLARGE_INTEGER ByteOffset, PULONG Key);
extern "C" NTSYSAPI NTSTATUS NTAPI NtWriteFile(HANDLE FileHandle, HANDLE Event,
                                               PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                               PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer,
                                               ULONG Length, PLARGE_INTEGER ByteOffset, PULONG Key);

namespace qv::win32 {
namespace {

constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005u);
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006u);
constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000Fu);
constexpr NTSTATUS kStatusEndOfFile = static_cast<NTSTATUS>(0xC0000011u);
// FILE_NON_DIRECTORY_FILE on a folder. The system's own mapping says 5; the port says 267.
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAu);

// One read or write of a whole file moves at most this much at a time.
constexpr ULONG kWholeFileChunk = 1u << 20;

// FileDispositionInfoEx and its flags (Windows 10 1607 and later; the headers show them only to
// builds for that version).
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;  // Windows 10 1809 and later
struct DispositionInfoEx {
    DWORD flags;
};

// The wildcards of the file systems' DOS matching (DOS_STAR, DOS_QM, DOS_DOT).
constexpr wchar_t kDosStar = L'<';
constexpr wchar_t kDosQm = L'>';
constexpr wchar_t kDosDot = L'"';

// The only attribute bits SetAttributes takes.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// A listing's buffer: a folder of a few hundred entries comes back in one call.
constexpr std::size_t kListingBufferBytes = 64 * 1024;

HANDLE ToSystemFile(FileRef handle) noexcept { return reinterpret_cast<HANDLE>(handle); }
FileRef FromSystemFile(HANDLE handle) noexcept { return reinterpret_cast<FileRef>(handle); }

[[nodiscard]] Win32Error Result(BOOL ok) noexcept { return ok ? err::kSuccess : ::GetLastError(); }

// An ANSI text as the system's UTF-16. Refused (123): a text holding a NUL, which the system
// would read cut short, and bytes that are not text of the ANSI code page.
[[nodiscard]] Win32Error ToWide(std::string_view text, std::wstring* wide) noexcept {
    wide->clear();
    if (text.empty()) return err::kSuccess;
    if (text.find('\0') != std::string_view::npos) return err::kInvalidName;
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), 0x7FFFFFFF));
    if (static_cast<std::size_t>(length) != text.size()) return err::kInvalidName;
    int units =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (units <= 0) return err::kInvalidName;
    try {
        wide->resize(static_cast<std::size_t>(units));
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, wide->data(),
                              units) != units) {
        return err::kInvalidName;
    }
    return err::kSuccess;
}

bool IsDotEntry(std::string_view name) noexcept { return name == "." || name == ".."; }

// A counted string over `text` for the system; false when it is too long for one.
bool ToCounted(std::wstring& text, UNICODE_STRING* counted) noexcept {
    if (text.size() > 0x7FFF) return false;
    counted->Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    counted->MaximumLength = counted->Length;
    counted->Buffer = text.empty() ? nullptr : text.data();
    return true;
}

// FindFirstFileA's mask in the DOS form that kernel32 hands to the file systems: "*.*" is "*"; "?"
// is DOS_QM; a "*" before a "." is DOS_STAR; a "." before a "?" or a "*", or at the end, is
// DOS_DOT. So "*.*" matches names without a dot, "a?.txt" matches "a.txt" and "name." matches
// "name", as the searches always did.
std::wstring ToDosMask(std::wstring mask) {
    if (mask == L"*.*") return L"*";
    for (std::size_t i = 0; i < mask.size(); ++i) {
        const wchar_t next = i + 1 < mask.size() ? mask[i + 1] : L'\0';
        switch (mask[i]) {
            case L'?':
                mask[i] = kDosQm;
                break;
            case L'*':
                if (next == L'.') mask[i] = kDosStar;
                break;
            case L'.':
                if (next == L'?' || next == L'*' || next == L'\0') mask[i] = kDosDot;
                break;
            default:
                break;
        }
    }
    return mask;
}

// Whether `name` matches the DOS-form `mask` as the file systems compare them (case folded with
// the system's upper-casing): "*" matches any run; DOS_STAR any run that does not take the name's
// last "."; DOS_QM one character other than ".", or nothing at a "." or the end; DOS_DOT a "." or
// the end of the name. The set of mask positions reached is carried along the name, so a mask
// of many stars costs no more than one pass per character.
//
// The matching is done here rather than by the directory query: Wine 8's query knows DOS_QM but
// takes DOS_STAR and DOS_DOT as plain characters, and given the mask before its conversion it
// matches as a Unix shell would ("*." finds every name, "a?.txt" misses "a.txt").
bool MatchesDosMask(std::wstring_view mask, std::wstring_view name) {
    const std::size_t lastDot = name.rfind(L'.');
    std::vector<unsigned char> reached(mask.size() + 1, 0);
    std::vector<unsigned char> next(mask.size() + 1, 0);
    // Adds the positions reached without taking a character at name position n.
    auto close = [&](std::vector<unsigned char>& set, std::size_t n) {
        const bool atEnd = n == name.size();
        for (std::size_t m = 0; m < mask.size(); ++m) {
            if (!set[m]) continue;
            const wchar_t c = mask[m];
            if (c == L'*' || c == kDosStar || (c == kDosQm && (atEnd || name[n] == L'.')) ||
                (c == kDosDot && atEnd)) {
                set[m + 1] = 1;
            }
        }
    };
    reached[0] = 1;
    close(reached, 0);
    for (std::size_t n = 0; n < name.size(); ++n) {
        std::fill(next.begin(), next.end(), 0);
        const wchar_t ch = name[n];
        bool any = false;
        for (std::size_t m = 0; m < mask.size(); ++m) {
            if (!reached[m]) continue;
            const wchar_t c = mask[m];
            if (c == L'*' || (c == kDosStar && n != lastDot)) {
                next[m] = 1;
            } else if (c == L'?' || (c == kDosQm && ch != L'.') || (c == kDosDot && ch == L'.') ||
                       (c != kDosStar && c != kDosQm && c != kDosDot &&
                        ::RtlUpcaseUnicodeChar(c) == ::RtlUpcaseUnicodeChar(ch))) {
                next[m + 1] = 1;
            } else {
                continue;
            }
            any = true;
        }
        if (!any) return false;
        close(next, n + 1);
        reached.swap(next);
    }
    return reached[mask.size()] != 0;
}

// Whether an open folder is the root folder of its volume (its name on the volume is "\"). A
// longer name does not fit the buffer (234), which also says it is not the root.
[[nodiscard]] Win32Error IsVolumeRoot(HANDLE folder, bool* root) noexcept {
    struct {
        FILE_NAME_INFO info;
        wchar_t more[8];
    } name{};
    if (!::GetFileInformationByHandleEx(folder, FileNameInfo, &name, sizeof(name))) {
        Win32Error error = ::GetLastError();
        if (error != err::kMoreData) return error;
        *root = false;
        return err::kSuccess;
    }
    *root = name.info.FileNameLength == sizeof(wchar_t) && name.info.FileName[0] == L'\\';
    return err::kSuccess;
}

// A name relative to an open folder, checked and converted as OpenRelative takes it: "", "." and
// ".." would name the folder itself or its parent, ":" a stream of the entry rather than the entry.
[[nodiscard]] Win32Error RelativeName(std::string_view name, std::wstring* wide,
                                      UNICODE_STRING* counted) noexcept {
    if (name.empty() || name == "." || name == "..") return err::kInvalidName;
    if (Win32Error error = ToWide(name, wide); error != err::kSuccess) return error;
    if (wide->find(L':') != std::wstring::npos) return err::kInvalidName;
    if (!ToCounted(*wide, counted)) return err::kInvalidName;
    return err::kSuccess;
}

// NtCreateFile of `name` relative to the open folder `folder` (an empty name opens the folder
// itself), case-insensitive; `security` is the descriptor of an entry it creates (null: inherited).
NTSTATUS CreateRelative(FileRef folder, UNICODE_STRING* name, ACCESS_MASK access,
                        ULONG fileAttributes, ULONG share, ULONG disposition, ULONG options,
                        HANDLE* opened, PSECURITY_DESCRIPTOR security = nullptr) noexcept {
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE, ToSystemFile(folder),
                               security);
    IO_STATUS_BLOCK io{};
    return ::NtCreateFile(opened, access, &attributes, &io, nullptr, fileAttributes, share,
                          disposition, options, nullptr, 0);
}

// A file opened by NtCreateFile below `folder` for a whole-file call: never a folder (the port's
// 267), never reparsed, and refused should a link still be there once it is open.
[[nodiscard]] Win32Error OpenWholeFile(FileRef folder, std::string_view name, ACCESS_MASK access,
                                       ULONG share, ULONG disposition,
                                       UniqueKernelHandle* file) noexcept {
    std::wstring wide;
    UNICODE_STRING objectName{};
    if (Win32Error error = RelativeName(name, &wide, &objectName); error != err::kSuccess) {
        return error;
    }
    HANDLE opened = nullptr;
    NTSTATUS status = CreateRelative(
        folder, &objectName, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_ATTRIBUTE_NORMAL,
        share, disposition,
        FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, &opened);
    if (status == kStatusFileIsADirectory) return err::kDirectory;
    if (status != kStatusSuccess) return FromStatus(status);
    *file = UniqueKernelHandle(opened);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return ::GetLastError();
    }
    if (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return err::kDirectory;
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return err::kReparsePointEncountered;
    return err::kSuccess;
}

// Writes all of `data` to the open file in chunks: where the file's position says, or with
// `toEnd`, each chunk at the file's end (FILE_WRITE_TO_END_OF_FILE).
[[nodiscard]] Win32Error WriteAll(HANDLE file, std::string_view data, bool toEnd) noexcept {
    for (std::size_t done = 0; done < data.size();) {
        const ULONG chunk =
            static_cast<ULONG>(std::min<std::size_t>(data.size() - done, kWholeFileChunk));
        IO_STATUS_BLOCK io{};
        LARGE_INTEGER end{};
        end.HighPart = -1;
        end.LowPart = 0xFFFFFFFF;
        NTSTATUS status = ::NtWriteFile(file, nullptr, nullptr, nullptr, &io,
                                        const_cast<char*>(data.data() + done), chunk,
                                        toEnd ? &end : nullptr, nullptr);
        if (status != kStatusSuccess) return FromStatus(status);
        if (io.Information != chunk) return ERROR_WRITE_FAULT;
        done += chunk;
    }
    return err::kSuccess;
}

// Writes all of `data` to the file `name` below `folder`, which no one else reads or writes
// meanwhile: the file made anew or emptied, or with `append` opened or made and written at its end.
// FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file, so nothing
// that is there already can be changed through that handle.
[[nodiscard]] Win32Error WriteFileBelow(FileRef folder, std::string_view name,
                                        std::string_view data, bool append) noexcept {
    UniqueKernelHandle file;
    if (Win32Error error = OpenWholeFile(folder, name, append ? FILE_APPEND_DATA : FILE_WRITE_DATA,
                                         0, append ? FILE_OPEN_IF : FILE_OVERWRITE_IF, &file);
        error != err::kSuccess) {
        return error;
    }
    return WriteAll(file.get(), data, append);
}

}  // namespace

// A name the system returned, as ANSI text. False when the ANSI code page cannot hold it: the
// conversion would put a default character or a look-alike ("e" for "é") in its place, and that
// text would name another entry or none. The text must convert back to the same name.
bool ToExactAnsi(const wchar_t* name, std::size_t units, std::string* out) {
    if (units == 0 || units > 0x7FFF) return false;
    const int length = static_cast<int>(units);
    // CP_UTF8 as the ANSI code page takes neither flag nor default-character report; every name
    // fits it, and the check below finds the unpaired surrogates it cannot hold.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
    int bytes =
        ::WideCharToMultiByte(CP_ACP, flags, name, length, nullptr, 0, nullptr, usedDefaultOut);
    if (bytes <= 0 || usedDefault) return false;
    out->resize(static_cast<std::size_t>(bytes));
    if (::WideCharToMultiByte(CP_ACP, flags, name, length, out->data(), bytes, nullptr,
                              usedDefaultOut) != bytes ||
        usedDefault) {
        return false;
    }
    std::wstring back;
    if (ToWide(*out, &back) != err::kSuccess) return false;
    return back.size() == units && std::wmemcmp(back.data(), name, units) == 0;
}

namespace {

// The port on the handles of the system's files and folders; it holds no state of its own.
class Win32FileHandles final : public IFileHandles {
  public:
    [[nodiscard]] Win32Error OpenFolder(std::string_view path, FileRef* handle) noexcept override {
        *handle = 0;
        // Only absolute paths: a drive path ("C:\...") or a UNC path ("\\server\share\..."). A
        // relative path would be resolved against the current directory.
        const bool drivePath =
            path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/') &&
            ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
        const bool uncPath = path.size() >= 3 && path[0] == '\\' && path[1] == '\\';
        if (!drivePath && !uncPath) return err::kBadPathname;
        std::wstring wide;
        if (Win32Error error = ToWide(path, &wide); error != err::kSuccess) return error;
        // A folder opens only with FILE_FLAG_BACKUP_SEMANTICS, which also asks for backup intent.
        // That intent grants nothing unless the backup or restore privilege is enabled in the
        // token, and the tool enables the restore privilege only around loading and unloading a
        // hive, never around a deletion; so this open is checked against the folder's security as
        // any other.
        UniqueKernelHandle folder(

            ::CreateFileW(wide.c_str(),
                          FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder) return ::GetLastError();
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!::GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &tag,
                                            sizeof(tag))) {
            return ::GetLastError();
        }
        if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return err::kDirectory;
        *handle = FromSystemFile(folder.release());
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error OpenRelative(FileRef folder, std::string_view name,
                                          std::uint32_t intent, FileRef* handle) noexcept override {
        *handle = 0;
        if ((intent & ~(open_intent::kList | open_intent::kDelete)) != 0) {
            return err::kInvalidParameter;
        }
        std::wstring wide;
        UNICODE_STRING objectName{};
        if (Win32Error error = RelativeName(name, &wide, &objectName); error != err::kSuccess) {
            return error;
        }

        ACCESS_MASK access = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
        // Without reparse processing a junction or a symbolic link at `name` opens as itself. Never
        // with backup intent: the open is checked against the entry's security.
        ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT;
        if (intent & open_intent::kList) {
            access |= FILE_LIST_DIRECTORY | FILE_TRAVERSE;
            options |= FILE_DIRECTORY_FILE;
        }
        if (intent & open_intent::kDelete) access |= DELETE | FILE_WRITE_ATTRIBUTES;

        HANDLE opened = nullptr;
        NTSTATUS status = CreateRelative(folder, &objectName, access, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         FILE_OPEN, options, &opened);
        if (status != kStatusSuccess) return FromStatus(status);
        *handle = FromSystemFile(opened);
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error QueryFacts(FileRef handle, FileFacts* facts) noexcept override {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!::GetFileInformationByHandleEx(ToSystemFile(handle), FileAttributeTagInfo, &tag,
                                            sizeof(tag))) {
            return ::GetLastError();
        }
        // The volume's serial number as GetFileInformationByHandle reports it, asked for alone:
        // that call also reads the entry's times, sizes and links, which cost a round trip of
        // their own under Wine. The label after the fixed part may not fit (a warning status);
        // the serial does.
        struct {
            FILE_FS_VOLUME_INFORMATION info;
            wchar_t label[MAX_PATH];
        } volume{};
        IO_STATUS_BLOCK io{};
        NTSTATUS status = ::NtQueryVolumeInformationFile(ToSystemFile(handle), &io, &volume,
                                                         sizeof(volume), FileFsVolumeInformation);
        if (status != kStatusSuccess && status != kStatusBufferOverflow) return FromStatus(status);
        facts->attributes = tag.FileAttributes;
        facts->reparseTag =
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? tag.ReparseTag : 0;
        facts->volumeSerial = volume.info.VolumeSerialNumber;
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error QueryIdentity(FileRef handle,
                                           FileIdentity* identity) noexcept override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(ToSystemFile(handle), &info)) return ::GetLastError();
        identity->volumeSerial = info.dwVolumeSerialNumber;
        identity->fileIndex =
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        return err::kSuccess;
    }

    // A name that the ANSI code page cannot hold fails the listing (ERROR_NO_UNICODE_TRANSLATION)
    // rather than being left out: leaving it out would list a folder as emptier than it is, and any
    // text put in its place would name another entry. Failing is what the deleter reports.
    [[nodiscard]] Win32Error ListFolder(FileRef folder, std::string_view mask,
                                        std::vector<FolderEntry>* entries) noexcept override {
        // One name's mask; a "\" would reach into another folder. Looked for in the converted text,
        // where a trail byte 0x5C of a double-byte character is no longer a "\".
        if (mask.empty()) return err::kInvalidName;
        std::wstring wideMask;
        if (Win32Error error = ToWide(mask, &wideMask); error != err::kSuccess) return error;
        if (wideMask.find(L'\\') != std::wstring::npos) return err::kInvalidName;
        try {
            const std::wstring dosMask = ToDosMask(std::move(wideMask));
            const bool all = dosMask == L"*";
            std::vector<LONGLONG> buffer(kListingBufferBytes / sizeof(LONGLONG));
            std::vector<FolderEntry> found;
            // Every entry, from the first on (RestartScan), without a mask: the handle would keep
            // the mask of its first query for all later ones, and the matching is done below.
            for (bool first = true;; first = false) {
                IO_STATUS_BLOCK io{};
                NTSTATUS status = ::NtQueryDirectoryFile(
                    ToSystemFile(folder), nullptr, nullptr, nullptr, &io, buffer.data(),
                    static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
                    FileBothDirectoryInformation, FALSE, nullptr, first ? TRUE : FALSE);
                if (status == kStatusNoMoreFiles || status == kStatusNoSuchFile) break;
                if (status != kStatusSuccess) return FromStatus(status);
                if (io.Information == 0) break;
                const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
                for (std::size_t offset = 0;;) {
                    const auto* entry =
                        reinterpret_cast<const FILE_BOTH_DIR_INFORMATION*>(bytes + offset);
                    std::wstring_view name(entry->FileName,
                                           entry->FileNameLength / sizeof(wchar_t));
                    // A mask also matches an entry by its 8.3 short name, where the volume
                    // keeps one.
                    std::wstring_view shortName(
                        entry->ShortName,
                        std::min<std::size_t>(
                            static_cast<unsigned char>(entry->ShortNameLength) / sizeof(wchar_t),
                            std::size(entry->ShortName)));
                    if (all || MatchesDosMask(dosMask, name) ||
                        (!shortName.empty() && MatchesDosMask(dosMask, shortName))) {
                        FolderEntry item;
                        item.attributes = entry->FileAttributes;
                        item.size = (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                        ? 0
                                        : static_cast<std::uint64_t>(entry->EndOfFile.QuadPart);
                        if (!ToExactAnsi(name.data(), name.size(), &item.name)) {
                            return ERROR_NO_UNICODE_TRANSLATION;
                        }
                        found.push_back(std::move(item));
                    }
                    if (entry->NextEntryOffset == 0) break;
                    offset += entry->NextEntryOffset;
                }
            }

            // "." and ".." first, as the searches give them, and none in a volume's root folder.
            auto dots = std::stable_partition(found.begin(), found.end(), [](const FolderEntry& e) {
                return IsDotEntry(e.name);
            });
            if (dots != found.begin()) {
                bool root = false;
                if (Win32Error error = IsVolumeRoot(ToSystemFile(folder), &root);
                    error != err::kSuccess) {
                    return error;
                }
                if (root) found.erase(found.begin(), dots);
            }
            if (found.empty()) return err::kFileNotFound;
            entries->swap(found);
            return err::kSuccess;
        } catch (const std::bad_alloc&) {
            return err::kNotEnoughMemory;
        }
    }

    [[nodiscard]] Win32Error SetAttributes(FileRef handle,
                                           std::uint32_t attributes) noexcept override {
        // Zero times leave the times as they are; zero attributes would too, so "none" is written
        // as FILE_ATTRIBUTE_NORMAL.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = attributes & kSettableAttributes;
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        return Result(::SetFileInformationByHandle(ToSystemFile(handle), FileBasicInfo, &basic,
                                                   sizeof(basic)));
    }

    [[nodiscard]] Win32Error DeleteByHandle(FileRef handle) noexcept override {
        // POSIX semantics take the name away at once, even while another process still holds the
        // entry open with delete sharing, so the parent folder can go right after. Without the
        // flag that ignores the read-only attribute: a read-only entry is refused (5) as with the
        // plain disposition. A system that does not know the class (before Windows 10 1607) or the
        // semantics (file systems other than NTFS) rejects the request, and the plain disposition
        // removes the name when the last handle is closed.
        DispositionInfoEx posix{kDispositionDelete | kDispositionPosixSemantics};
        if (::SetFileInformationByHandle(ToSystemFile(handle), kFileDispositionInfoEx, &posix,
                                         sizeof(posix))) {
            return err::kSuccess;
        }
        Win32Error error = ::GetLastError();
        if (error != err::kInvalidParameter && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_INVALID_FUNCTION) {
            return error;
        }
        // FILE_DISPOSITION_INFO, whose member the headers' DeleteFile macro renamed.
        struct {
            BOOLEAN deleteFile;
        } plain{TRUE};
        return Result(::SetFileInformationByHandle(ToSystemFile(handle), FileDispositionInfo,
                                                   &plain, sizeof(plain)));
    }

    [[nodiscard]] Win32Error DeleteIgnoringReadOnly(FileRef handle) noexcept override {
        // Windows 10 1809 and later on NTFS. Wine answers 87 for the flag (and older systems 87,
        // 50 or 1): the deleter then clears the attribute and deletes as before, which changes
        // the attribute of every hard link of the file.
        DispositionInfoEx ignoring{kDispositionDelete | kDispositionPosixSemantics |
                                   kDispositionIgnoreReadOnly};
        return Result(::SetFileInformationByHandle(ToSystemFile(handle), kFileDispositionInfoEx,
                                                   &ignoring, sizeof(ignoring)));
    }

    [[nodiscard]] Win32Error Close(FileRef handle) noexcept override {
        return FromStatus(::NtClose(ToSystemFile(handle)));
    }

    [[nodiscard]] Win32Error CreateFolder(FileRef folder, std::string_view name,
                                          FolderProtection protection,
                                          FileRef* handle) noexcept override {
        *handle = 0;
        std::wstring wide;
        UNICODE_STRING objectName{};
        if (Win32Error error = RelativeName(name, &wide, &objectName); error != err::kSuccess) {
            return error;
        }
        UniqueLocalMemory descriptor;
        if (protection != FolderProtection::kInherited) {
            if (Win32Error error = FolderDescriptor(protection, &descriptor);
                error != err::kSuccess) {
                return error;
            }
        }
        // As OpenRelative opens with kList | kDelete. FILE_CREATE: whatever has the name already,
        // a link included, is neither opened nor followed (STATUS_OBJECT_NAME_COLLISION, 183).
        const ACCESS_MASK access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                   SYNCHRONIZE | DELETE | FILE_WRITE_ATTRIBUTES;
        HANDLE created = nullptr;
        NTSTATUS status = CreateRelative(
            folder, &objectName, access, FILE_ATTRIBUTE_NORMAL,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_CREATE,
            FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, &created,
            descriptor.get());
        if (status != kStatusSuccess) return FromStatus(status);
        *handle = FromSystemFile(created);
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error Rename(FileRef handle, FileRef folder,
                                    std::string_view name) noexcept override {
        return Move(handle, folder, name, false);
    }

    [[nodiscard]] Win32Error RenameReplacing(FileRef handle, FileRef folder,
                                             std::string_view name) noexcept override {
        return Move(handle, folder, name, true);
    }

    // FileRenameInformation relative to `folder`, replacing a file at `name` or not.
    [[nodiscard]] static Win32Error Move(FileRef handle, FileRef folder, std::string_view name,
                                         bool replace) noexcept {
        std::wstring wide;
        UNICODE_STRING objectName{};
        if (Win32Error error = RelativeName(name, &wide, &objectName); error != err::kSuccess) {
            return error;
        }
        // FILE_RENAME_INFORMATION with the name after its fixed part, in a buffer aligned for it.
        // Never less than the structure itself: the system refuses a shorter buffer with
        // STATUS_INVALID_PARAMETER, which a name of one or two characters would give.
        const std::size_t bytes =
            std::max(offsetof(FILE_RENAME_INFORMATION, FileName) + objectName.Length,
                     sizeof(FILE_RENAME_INFORMATION));
        std::vector<LONGLONG> buffer;
        try {
            buffer.resize(bytes / sizeof(LONGLONG) + 1);
        } catch (const std::bad_alloc&) {
            return err::kNotEnoughMemory;
        }
        auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
        rename->ReplaceIfExists = replace ? TRUE : FALSE;
        rename->RootDirectory = ToSystemFile(folder);
        rename->FileNameLength = objectName.Length;
        std::copy(wide.begin(), wide.end(), rename->FileName);
        IO_STATUS_BLOCK io{};
        return FromStatus(::NtSetInformationFile(ToSystemFile(handle), &io, rename,
                                                 static_cast<ULONG>(bytes), FileRenameInformation));
    }

    [[nodiscard]] Win32Error WriteWholeFile(FileRef folder, std::string_view name,
                                            std::string_view data) noexcept override {
        return WriteFileBelow(folder, name, data, false);
    }

    [[nodiscard]] Win32Error AppendToFile(FileRef folder, std::string_view name,
                                          std::string_view data) noexcept override {
        return WriteFileBelow(folder, name, data, true);
    }

    [[nodiscard]] Win32Error ReadWholeFile(FileRef folder, std::string_view name,
                                           std::string* data) noexcept override {
        UniqueKernelHandle file;
        if (Win32Error error =
                OpenWholeFile(folder, name, FILE_READ_DATA, FILE_SHARE_READ, FILE_OPEN, &file);
            error != err::kSuccess) {
            return error;
        }
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file.get(), &size)) return ::GetLastError();
        if (size.QuadPart < 0 || static_cast<std::uint64_t>(size.QuadPart) > kMaxWholeFile) {
            return err::kFileTooLarge;
        }
        std::string contents;
        try {
            // One byte more than the size: a file that grew since is seen to have grown.
            contents.resize(static_cast<std::size_t>(size.QuadPart) + 1);
        } catch (const std::bad_alloc&) {
            return err::kNotEnoughMemory;
        }
        std::size_t done = 0;
        for (;;) {
            if (done == contents.size()) {
                if (contents.size() > kMaxWholeFile) return err::kFileTooLarge;
                try {
                    contents.resize(std::min(contents.size() * 2, kMaxWholeFile + 1));
                } catch (const std::bad_alloc&) {
                    return err::kNotEnoughMemory;
                }
            }
            const ULONG chunk =
                static_cast<ULONG>(std::min<std::size_t>(contents.size() - done, kWholeFileChunk));
            IO_STATUS_BLOCK io{};
            NTSTATUS status = ::NtReadFile(file.get(), nullptr, nullptr, nullptr, &io,
                                           contents.data() + done, chunk, nullptr, nullptr);
            if (status == kStatusEndOfFile) break;
            if (status != kStatusSuccess) return FromStatus(status);
            if (io.Information == 0) break;
            done += io.Information;
        }
        contents.resize(done);
        *data = std::move(contents);
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error CheckProtection(FileRef folder,
                                             FolderProtection protection) noexcept override {
        // SYSTEM and the administrators may reach everything on the machine anyway, and the running
        // user is always accepted (see CheckGrants): the trustees a folder of either protection may
        // name are the same.
        UniqueLocalMemory descriptor;
        if (protection != FolderProtection::kMachine) {
            if (Win32Error e = FolderDescriptor(FolderProtection::kAdministratorsOnly, &descriptor);
                e != err::kSuccess) {
                return e;
            }
        }
        // The folder once more, relative to itself (an empty name), for its security alone: the
        // handle the caller holds was opened without READ_CONTROL.
        UNICODE_STRING empty{};
        HANDLE opened = nullptr;
        NTSTATUS status = CreateRelative(
            folder, &empty, READ_CONTROL | SYNCHRONIZE, 0,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
            FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, &opened);
        if (status != kStatusSuccess) return FromStatus(status);
        UniqueKernelHandle self(opened);
        if (protection == FolderProtection::kMachine) return CheckMachineFolder(self.get());
        return CheckGrants(self.get(), descriptor.get());
    }

    [[nodiscard]] Win32Error CheckWriters(FileRef folder, std::string_view name) noexcept override {
        // The entry once more for its security alone (the caller's handles were opened without
        // READ_CONTROL): the folder relative to itself (an empty name), or the named entry in it,
        // a link as itself.
        std::wstring wide;
        UNICODE_STRING objectName{};
        ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT;
        if (name.empty()) {
            options |= FILE_DIRECTORY_FILE;
        } else if (Win32Error e = RelativeName(name, &wide, &objectName); e != err::kSuccess) {
            return e;
        }
        HANDLE opened = nullptr;
        NTSTATUS status = CreateRelative(folder, &objectName, READ_CONTROL | SYNCHRONIZE, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         FILE_OPEN, options, &opened);
        if (status != kStatusSuccess) return FromStatus(status);
        UniqueKernelHandle entry(opened);
        return win32::CheckWriters(entry.get());
    }
};

}  // namespace

std::unique_ptr<IFileHandles> MakeFileHandles() { return std::make_unique<Win32FileHandles>(); }

}  // namespace qv::win32
