#include "win32/win32_files.h"

#include <cstring>
#include <new>
#include <vector>

#include "win32/win32_handles.h"

namespace qv::win32 {
namespace {

[[nodiscard]] Win32Error Result(BOOL ok) noexcept { return ok ? err::kSuccess : ::GetLastError(); }

void Copy(const WIN32_FIND_DATAA& found, FindData* data) {
    data->attributes = found.dwFileAttributes;
    data->fileName.assign(found.cFileName, ::strnlen(found.cFileName, MAX_PATH));
    data->alternateFileName.assign(found.cAlternateFileName,
                                   ::strnlen(found.cAlternateFileName, 14));
}

HANDLE ToSystemFind(FindHandle handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

class Win32FileSystem final : public IFileSystem {
  public:
    [[nodiscard]] std::uint32_t GetFileAttributes(std::string_view path) noexcept override {
        std::string text;
        if (!ToSystemText(path, &text)) return kInvalidFileAttributes;
        return ::GetFileAttributesA(text.c_str());
    }

    [[nodiscard]] Win32Error FindFirstFile(std::string_view pattern, FindHandle* handle,
                                           FindData* data) noexcept override {
        *handle = 0;
        std::string text;
        if (!ToSystemText(pattern, &text)) return err::kInvalidName;
        WIN32_FIND_DATAA found{};
        HANDLE search = ::FindFirstFileA(text.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return ::GetLastError();
        *handle = reinterpret_cast<FindHandle>(search);
        Copy(found, data);
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error FindNextFile(FindHandle handle, FindData* data) noexcept override {
        WIN32_FIND_DATAA found{};
        if (!::FindNextFileA(ToSystemFind(handle), &found)) return ::GetLastError();
        Copy(found, data);
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error FindClose(FindHandle handle) noexcept override {
        return Result(::FindClose(ToSystemFind(handle)));
    }

    [[nodiscard]] Win32Error GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                                             std::string* fullPath) noexcept override {
        std::string text;
        if (!ToSystemText(path, &text)) return err::kInvalidName;
        std::vector<char> buffer;
        try {
            buffer.resize(bufferChars + std::size_t{1});
        } catch (const std::bad_alloc&) {
            return err::kNotEnoughMemory;
        }
        DWORD length = ::GetFullPathNameA(text.c_str(), bufferChars, buffer.data(), nullptr);
        // On success the system returns the length without the NUL; when the buffer is too small it
        // returns the size needed, NUL included, which is at least bufferChars.
        if (length == 0 || length >= bufferChars) return err::kInvalidName;
        fullPath->assign(buffer.data(), length);
        return err::kSuccess;
    }
};

}  // namespace

std::unique_ptr<IFileSystem> MakeFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace qv::win32
