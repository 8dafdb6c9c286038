#include "win32/win32_audit.h"

#include <aclapi.h>
#include <shlobj.h>

#include <new>
#include <vector>

#include "win32/win32_file_handles.h"
#include "win32/win32_folder_security.h"

namespace qv::win32 {
namespace {

constexpr char kFolderName[] = "Quorvane";
constexpr char kLogName[] = "audit.jsonl";

// Both refuse deletion and renaming while the handle is open: no FILE_SHARE_DELETE.
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A text the shell allocated with the COM allocator (SHGetKnownFolderPath).
void FreeCoTaskMemory(PWSTR p) noexcept { ::CoTaskMemFree(p); }
using UniqueCoTaskText = UniqueHandle<PWSTR, &FreeCoTaskMemory>;

// The machine's common application data folder, or the running user's local one (see the header
// for the order).
[[nodiscard]] Win32Error DataFolder(AuditPlace place, std::string* folder) noexcept {
    const bool machine = place == AuditPlace::kMachine;
    try {
        PWSTR raw = nullptr;
        HRESULT hr = ::SHGetKnownFolderPath(machine ? FOLDERID_ProgramData : FOLDERID_LocalAppData,
                                            0, nullptr, &raw);
        UniqueCoTaskText path(raw);
        if (SUCCEEDED(hr) && path && ToExactAnsi(path.get(), ::wcslen(path.get()), folder)) {
            return err::kSuccess;
        }

        char buffer[MAX_PATH + 1] = {};
        DWORD chars = ::GetEnvironmentVariableA(machine ? "ProgramData" : "LOCALAPPDATA", buffer,
                                                sizeof buffer);
        if (chars > 0 && chars < sizeof buffer) {
            folder->assign(buffer, chars);
            return err::kSuccess;
        }
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }
    return err::kPathNotFound;
}

// What an open handle names: FILE_ATTRIBUTE_TAG_INFO.
[[nodiscard]] Win32Error Attributes(HANDLE handle, DWORD* attributes) noexcept {
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
        return ::GetLastError();
    }
    *attributes = info.FileAttributes;
    return err::kSuccess;
}

}  // namespace

Win32Error Win32AuditStore::QuorvaneFolder(std::string* folder) const noexcept {
    try {
        std::string base = dataFolder_;
        if (base.empty()) {
            Win32Error e = DataFolder(place_, &base);
            if (e != err::kSuccess) return e;
        }
        if (base.back() != '\\') base += '\\';
        *folder = base + kFolderName;
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }
    return err::kSuccess;
}

Win32Error Win32AuditStore::Open(AuditPlace place, std::string_view folderSecurity) noexcept {
    Close();
    place_ = place;
    std::string folder;
    std::string sddl;
    try {
        Win32Error e = QuorvaneFolder(&folder);
        if (e != err::kSuccess) return e;
        if (!ToSystemText(folder, &folder)) return err::kInvalidName;
        if (!ToSystemText(folderSecurity, &sddl) || sddl.empty()) return err::kInvalidParameter;
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }

    UniqueLocalMemory descriptor;
    if (Win32Error e = DescriptorFromSddl(sddl, &descriptor); e != err::kSuccess) return e;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    if (!::CreateDirectoryA(folder.c_str(), &attributes)) {
        const DWORD e = ::GetLastError();
        if (e != ERROR_ALREADY_EXISTS) return e;
    }

    // The folder as itself, whether made just now or found: a link in its place opens as the
    // link and is refused; held open, it cannot be swapped for one.
    UniqueKernelHandle folderHandle(::CreateFileA(
        folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareReadWrite, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folderHandle) return ::GetLastError();
    DWORD facts = 0;
    Win32Error e = Attributes(folderHandle.get(), &facts);
    if (e != err::kSuccess) return e;
    if (facts & FILE_ATTRIBUTE_REPARSE_POINT) return err::kReparsePointEncountered;
    if (!(facts & FILE_ATTRIBUTE_DIRECTORY)) return err::kDirectory;
    e = CheckGrants(folderHandle.get(), descriptor.get());
    if (e != err::kSuccess) return e;

    // The lower rotation size a test asks for.
    char limit[16] = {};
    const DWORD limitChars =
        ::GetEnvironmentVariableA(kAuditRotateBytesVariable, limit, sizeof limit);
    rotateBytes_ = limitChars > 0 && limitChars < sizeof limit
                       ? AuditRotateBytes(std::string_view(limit, limitChars))
                       : kAuditRotateBytes;

    try {
        folderPath_ = folder;
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }
    folder_ = std::move(folderHandle);
    e = OpenLog();
    if (e != err::kSuccess) Close();
    return e;
}

Win32Error Win32AuditStore::OpenLog() noexcept {
    std::string logPath;
    try {
        logPath = folderPath_ + "\\" + kLogName;
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }
    // Appending only: every write lands at the end of the file, whole, whoever else appends.
    UniqueKernelHandle log(
        ::CreateFileA(logPath.c_str(), FILE_APPEND_DATA, kShareReadWrite, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!log) return ::GetLastError();
    DWORD facts = 0;
    Win32Error e = Attributes(log.get(), &facts);
    if (e != err::kSuccess) return e;
    if (facts & FILE_ATTRIBUTE_REPARSE_POINT) return err::kReparsePointEncountered;
    // A second name (a hard link) would let the lines be read or changed wherever it lies.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(log.get(), &info)) return ::GetLastError();
    if (info.nNumberOfLinks != 1) return err::kAccessDenied;
    log_ = std::move(log);
    return err::kSuccess;
}

void Win32AuditStore::RotateBefore(std::uint64_t adding) noexcept {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(log_.get(), &size) || size.QuadPart <= 0) return;
    if (static_cast<std::uint64_t>(size.QuadPart) + adding <= rotateBytes_) return;
    // names[0] is the log, names[n] "audit.<n>.jsonl", names[kAuditRotatedLogs + 1] the name the
    // log takes on its way to "audit.1.jsonl".
    std::string names[kAuditRotatedLogs + 2];
    try {
        names[0] = folderPath_ + "\\" + kLogName;
        for (int n = 1; n <= kAuditRotatedLogs; ++n) {
            names[n] = folderPath_ + "\\audit." + std::to_string(n) + ".jsonl";
        }
        names[kAuditRotatedLogs + 1] = folderPath_ + "\\audit.0.jsonl";
    } catch (const std::bad_alloc&) {
        return;
    }
    const std::string& leaving = names[kAuditRotatedLogs + 1];
    // Moves every rotated log one up (the oldest is dropped) and the leaving log to audit.1. The
    // renames never replace: a name still taken keeps the leaving log where it is, for next time.
    auto place = [&]() {
        (void)::DeleteFileA(names[kAuditRotatedLogs].c_str());
        for (int n = kAuditRotatedLogs - 1; n >= 1; --n) {
            (void)::MoveFileExA(names[n].c_str(), names[n + 1].c_str(), 0);
        }
        return ::MoveFileExA(leaving.c_str(), names[1].c_str(), 0) != FALSE;
    };
    // The logs are renamed by their names in the folder held open since Open (which cannot be
    // moved or replaced meanwhile). This process's handle shares no deletion, so it goes first.
    // The log is first renamed aside: a log another process holds open cannot be, and then nothing
    // is moved and the log is opened again as it was. Meanwhile another writer finds no log and
    // makes a new one: its lines are kept either way.
    log_.reset();
    if (::GetFileAttributesA(leaving.c_str()) != INVALID_FILE_ATTRIBUTES && !place()) return;
    if (!::MoveFileExA(names[0].c_str(), leaving.c_str(), 0)) return;
    (void)place();
}

Win32Error Win32AuditStore::Append(std::string_view utf8Line) noexcept {
    if (!folder_) return err::kInvalidHandle;
    if (utf8Line.find_first_of("\r\n") != std::string_view::npos) return err::kInvalidParameter;
    if (utf8Line.size() >= MAXDWORD) return err::kInvalidParameter;
    std::string line;
    try {
        line.reserve(utf8Line.size() + 1);
        line.assign(utf8Line.data(), utf8Line.size());
        line += '\n';
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }
    if (log_) RotateBefore(line.size());
    if (!log_) {
        // Reopened with the checks of Open, whether the log was renamed or is the one it was.
        Win32Error e = OpenLog();
        if (e != err::kSuccess) return e;
    }
    // One write per line: the system appends it as one piece.
    const auto size = static_cast<DWORD>(line.size());
    DWORD written = 0;
    if (!::WriteFile(log_.get(), line.data(), size, &written, nullptr)) return ::GetLastError();
    if (written != size) return ERROR_WRITE_FAULT;
    return err::kSuccess;
}

void Win32AuditStore::Close() noexcept {
    log_.reset();
    folder_.reset();
    folderPath_.clear();
}

std::string Win32AuditStore::LogPath() const {
    std::string folder;
    if (QuorvaneFolder(&folder) != err::kSuccess) return std::string();
    return folder + "\\" + kLogName;
}

}  // namespace qv::win32
