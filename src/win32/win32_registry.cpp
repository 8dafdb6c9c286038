#include "win32/win32_registry.h"

#include <winternl.h>

#include <algorithm>
#include <new>
#include <vector>

#include "win32/win32_handles.h"

// Exported by ntdll; winternl.h does not declare it.
extern "C" NTSYSAPI NTSTATUS NTAPI NtDeleteKey(HANDLE KeyHandle);

namespace qv::win32 {
namespace {

// Registry key names are at most 255 characters (Wine accepts 256), so a name buffer larger than
// this never changes a result; larger requests are served with this many characters.
constexpr std::uint32_t kLargestKeyNameBuffer = 1024;

// Value names are at most 16383 characters; the first buffers hold the usual ones.
constexpr DWORD kFirstValueNameBuffer = 256;
constexpr DWORD kFirstValueDataBuffer = 1024;
constexpr int kEnumValueAttempts = 4;

class Win32Registry final : public IRegistry {
  public:
    [[nodiscard]] Win32Error OpenKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                     HKey* key) noexcept override {
        *key = 0;
        std::string sub;
        if (!ToSystemText(subKey, &sub)) return err::kInvalidParameter;
        HKEY opened = nullptr;
        LONG e = ::RegOpenKeyExA(ToSystemKey(parent), sub.c_str(), 0, access, &opened);
        if (e == ERROR_SUCCESS) *key = FromSystemKey(opened);
        return static_cast<Win32Error>(e);
    }

    [[nodiscard]] Win32Error OpenLinkKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                         HKey* key) noexcept override {
        *key = 0;
        std::string sub;
        if (!ToSystemText(subKey, &sub)) return err::kInvalidParameter;
        HKEY opened = nullptr;
        LONG e = ::RegOpenKeyExA(ToSystemKey(parent), sub.c_str(), REG_OPTION_OPEN_LINK, access,
                                 &opened);
        if (e == ERROR_SUCCESS) *key = FromSystemKey(opened);
        return static_cast<Win32Error>(e);
    }

    [[nodiscard]] Win32Error CreateKey(HKey parent, std::string_view subKey, std::uint32_t options,
                                       std::uint32_t access, HKey* key,
                                       std::uint32_t* disposition) noexcept override {
        *key = 0;
        std::string sub;
        if (!ToSystemText(subKey, &sub)) return err::kInvalidParameter;
        HKEY created = nullptr;
        DWORD how = 0;
        LONG e = ::RegCreateKeyExA(ToSystemKey(parent), sub.c_str(), 0, nullptr, options, access,
                                   nullptr, &created, &how);
        if (e == ERROR_SUCCESS) {
            *key = FromSystemKey(created);
            if (disposition != nullptr) *disposition = how;
        }
        return static_cast<Win32Error>(e);
    }

    [[nodiscard]] Win32Error EnumKey(HKey key, std::uint32_t index, std::uint32_t bufferChars,
                                     std::string* name) noexcept override {
        std::uint32_t chars = std::min(bufferChars, kLargestKeyNameBuffer);
        char buffer[kLargestKeyNameBuffer];
        DWORD length = chars;
        LONG e = ::RegEnumKeyExA(ToSystemKey(key), index, buffer, &length, nullptr, nullptr,
                                 nullptr, nullptr);
        // A name that does not fit leaves *name as it was: the system copies nothing then.
        if (e == ERROR_SUCCESS) name->assign(buffer, length);
        return static_cast<Win32Error>(e);
    }

    [[nodiscard]] Win32Error QueryValue(HKey key, std::string_view valueName,
                                        std::uint32_t bufferBytes, std::uint32_t* type,
                                        std::string* data,
                                        std::uint32_t* neededBytes) noexcept override {
        std::string value;
        if (!ToSystemText(valueName, &value)) return err::kInvalidParameter;
        std::vector<BYTE> buffer;
        try {
            // Never a null data pointer: with one the system reports the size instead of reading.
            buffer.resize(std::max<std::uint32_t>(bufferBytes, 1));
        } catch (const std::bad_alloc&) {
            return err::kNotEnoughMemory;
        }
        DWORD valueType = 0;
        DWORD size = bufferBytes;
        LONG e = ::RegQueryValueExA(ToSystemKey(key), value.c_str(), nullptr, &valueType,
                                    buffer.data(), &size);
        if (e == ERROR_SUCCESS) {
            data->assign(reinterpret_cast<const char*>(buffer.data()), size);
            if (type != nullptr) *type = valueType;
        } else if (e == ERROR_MORE_DATA && neededBytes != nullptr) {
            *neededBytes = size;
        }
        return static_cast<Win32Error>(e);
    }

    // Grows its buffers until the value fits (ERROR_MORE_DATA), a few times at most: a value that
    // keeps growing in between gives ERROR_MORE_DATA.
    [[nodiscard]] Win32Error EnumValue(HKey key, std::uint32_t index, std::string* name,
                                       std::uint32_t* type, std::string* data) noexcept override {
        std::vector<char> nameBuffer;
        std::vector<BYTE> dataBuffer;
        DWORD nameChars = kFirstValueNameBuffer;
        DWORD dataBytes = kFirstValueDataBuffer;
        for (int attempt = 0; attempt < kEnumValueAttempts; ++attempt) {
            try {
                nameBuffer.resize(nameChars);
                dataBuffer.resize(std::max<DWORD>(dataBytes, 1));
            } catch (const std::bad_alloc&) {
                return err::kNotEnoughMemory;
            }
            DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
            DWORD dataLength = static_cast<DWORD>(dataBuffer.size());
            DWORD valueType = 0;
            LONG e = ::RegEnumValueA(ToSystemKey(key), index, nameBuffer.data(), &nameLength,
                                     nullptr, &valueType, dataBuffer.data(), &dataLength);
            if (e == ERROR_SUCCESS) {
                try {
                    name->assign(nameBuffer.data(), nameLength);
                    data->assign(reinterpret_cast<const char*>(dataBuffer.data()), dataLength);
                } catch (const std::bad_alloc&) {
                    return err::kNotEnoughMemory;
                }
                if (type != nullptr) *type = valueType;
                return err::kSuccess;
            }
            if (e != ERROR_MORE_DATA) return static_cast<Win32Error>(e);
            // Whether the name or the data did not fit, the key says how large both may be.
            DWORD longestName = 0;
            DWORD largestData = 0;
            e = ::RegQueryInfoKeyA(ToSystemKey(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, &longestName, &largestData, nullptr, nullptr);
            if (e != ERROR_SUCCESS) return static_cast<Win32Error>(e);
            // The name's size leaves out its NUL; an ANSI name may take two bytes a character.
            nameChars = std::max<DWORD>(nameChars * 2, (longestName + 1) * 2);
            dataBytes = std::max<DWORD>(dataBytes * 2, largestData);
        }
        return err::kMoreData;
    }

    [[nodiscard]] Win32Error SetValue(HKey key, std::string_view valueName, std::uint32_t type,
                                      std::string_view data) noexcept override {
        std::string value;
        if (!ToSystemText(valueName, &value)) return err::kInvalidParameter;
        return static_cast<Win32Error>(::RegSetValueExA(ToSystemKey(key), value.c_str(), 0, type,
                                                        reinterpret_cast<const BYTE*>(data.data()),
                                                        static_cast<DWORD>(data.size())));
    }

    [[nodiscard]] Win32Error DeleteKey(HKey parent, std::string_view subKey) noexcept override {
        std::string sub;
        if (!ToSystemText(subKey, &sub)) return err::kInvalidParameter;
        return static_cast<Win32Error>(::RegDeleteKeyA(ToSystemKey(parent), sub.c_str()));
    }

    [[nodiscard]] Win32Error DeleteOpenKey(HKey key) noexcept override {
        return FromStatus(::NtDeleteKey(ToSystemKey(key)));
    }

    [[nodiscard]] Win32Error FlushKey(HKey key) noexcept override {
        return static_cast<Win32Error>(::RegFlushKey(ToSystemKey(key)));
    }

    [[nodiscard]] Win32Error QueryLastWriteTime(HKey key, FileTime* time) noexcept override {
        FILETIME written{};
        LONG e = ::RegQueryInfoKeyA(ToSystemKey(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, &written);
        if (e == ERROR_SUCCESS) {
            *time = (static_cast<FileTime>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
        }
        return static_cast<Win32Error>(e);
    }

    [[nodiscard]] Win32Error SetLastWriteTime(HKey key, FileTime time) noexcept override {
        // KEY_WRITE_TIME_INFORMATION: the time alone.
        LARGE_INTEGER written;
        written.QuadPart = static_cast<LONGLONG>(time);
        return FromStatus(::NtSetInformationKey(ToSystemKey(key), KeyWriteTimeInformation, &written,
                                                sizeof written));
    }

    [[nodiscard]] Win32Error CloseKey(HKey key) noexcept override {
        if (IsPredefinedKey(key)) return err::kSuccess;
        return static_cast<Win32Error>(::RegCloseKey(ToSystemKey(key)));
    }

    [[nodiscard]] Win32Error SaveKey(HKey key, std::string_view file) noexcept override {
        std::string path;
        if (!ToSystemText(file, &path) || path.empty()) return err::kInvalidParameter;
        return static_cast<Win32Error>(::RegSaveKeyA(ToSystemKey(key), path.c_str(), nullptr));
    }

    [[nodiscard]] Win32Error LoadKey(HKey parent, std::string_view subKey,
                                     std::string_view file) noexcept override {
        std::string sub;
        std::string path;
        if (!ToSystemText(subKey, &sub) || !ToSystemText(file, &path)) {
            return err::kInvalidParameter;
        }
        return static_cast<Win32Error>(
            ::RegLoadKeyA(ToSystemKey(parent), sub.c_str(), path.c_str()));
    }

    [[nodiscard]] Win32Error UnLoadKey(HKey parent, std::string_view subKey) noexcept override {
        std::string sub;
        if (!ToSystemText(subKey, &sub)) return err::kInvalidParameter;
        return static_cast<Win32Error>(::RegUnLoadKeyA(ToSystemKey(parent), sub.c_str()));
    }
};

}  // namespace

std::unique_ptr<IRegistry> MakeRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace qv::win32
