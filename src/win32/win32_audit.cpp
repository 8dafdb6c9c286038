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
    std::string logPath;
    std::string sddl;
    try {
        Win32Error e = QuorvaneFolder(&folder);
        if (e != err::kSuccess) return e;
        if (!ToSystemText(folder, &folder)) return err::kInvalidName;
        if (!ToSystemText(folderSecurity, &sddl) || sddl.empty()) return err::kInvalidParameter;
        logPath = folder + "\\" + kLogName;
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

    // Appending only: every write lands at the end of the file, whole, whoever else appends.
    UniqueKernelHandle log(
        ::CreateFileA(logPath.c_str(), FILE_APPEND_DATA, kShareReadWrite, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!log) return ::GetLastError();
    e = Attributes(log.get(), &facts);
    if (e != err::kSuccess) return e;
    if (facts & FILE_ATTRIBUTE_REPARSE_POINT) return err::kReparsePointEncountered;
    // A second name (a hard link) would let the lines be read or changed wherever it lies.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(log.get(), &info)) return ::GetLastError();
    if (info.nNumberOfLinks != 1) return err::kAccessDenied;

    folder_ = std::move(folderHandle);
    log_ = std::move(log);
    return err::kSuccess;
}

Win32Error Win32AuditStore::Append(std::string_view utf8Line) noexcept {
    if (!log_) return err::kInvalidHandle;
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
}

std::string Win32AuditStore::LogPath() const {
    std::string folder;
    if (QuorvaneFolder(&folder) != err::kSuccess) return std::string();
    return folder + "\\" + kLogName;
}

}  // namespace qv::win32
