// Registry port: the advapi32 registry calls the tool makes, with the system's results.
// Every method returns 0 or the Win32 error code the system call returns. Handles returned through
// out-parameters belong to the caller, who closes them with CloseKey (use UniqueKey).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/text.h"
#include "base/unique_handle.h"
#include "base/win32_codes.h"
#include "port/port.h"

namespace qv {

using HKey = std::uintptr_t;  // a registry key handle; 0 is none
inline constexpr HKey kHkeyClassesRoot = 0x80000000u;
inline constexpr HKey kHkeyCurrentUser = 0x80000001u;
inline constexpr HKey kHkeyLocalMachine = 0x80000002u;
inline constexpr HKey kHkeyUsers = 0x80000003u;
constexpr bool IsPredefinedKey(HKey k) { return k >= 0x80000000u && k <= 0x80000006u; }

// 100-nanosecond intervals since 1601-01-01 UTC, as the registry keeps last-write times.
using FileTime = std::uint64_t;
inline constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000;
// The seconds from the file times' epoch (1601-01-01) to the Unix epoch (1970-01-01).
inline constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

// Alike on purpose: named constants, one a line, as every list of them is.
namespace reg {
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyReadWrite = 0x2001F;
inline constexpr std::uint32_t kMaximumAllowed = 0x02000000;  // what RegOpenKeyA asks for
// Registry views, added to an access mask (on 32-bit Windows they change nothing). A 32-bit
// program's plain access reads the 32-bit view, a 64-bit program's the 64-bit view; naming the
// view makes the answer the same whatever the program's bitness.
inline constexpr std::uint32_t kWow64_64Key = 0x0100;  // KEY_WOW64_64KEY: the native view
inline constexpr std::uint32_t kWow64_32Key = 0x0200;  // KEY_WOW64_32KEY: the 32-bit view
inline constexpr std::uint32_t kViewMask = kWow64_64Key | kWow64_32Key;
// Reading in the native view: the profile list, the machine's shell folders, HKEY_USERS.
inline constexpr std::uint32_t kReadNative = kKeyRead | kWow64_64Key;
inline constexpr std::uint32_t kReadWriteNative = kKeyReadWrite | kWow64_64Key;
inline constexpr std::uint32_t kOptionNonVolatile = 0;
inline constexpr std::uint32_t kOptionCreateLink = 2;
inline constexpr std::uint32_t kOptionOpenLink = 8;
inline constexpr std::uint32_t kCreatedNewKey = 1;
inline constexpr std::uint32_t kOpenedExistingKey = 2;
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kSz = 1;
inline constexpr std::uint32_t kExpandSz = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;
inline constexpr std::uint32_t kLink = 6;
}  // namespace reg

class IRegistry : public Port {
  public:
    // RegOpenKeyExA. An empty sub key on a predefined root gives that root back. On failure
    // *key is 0.
    [[nodiscard]] virtual Win32Error OpenKey(HKey parent, std::string_view subKey,
                                             std::uint32_t access, HKey* key) noexcept = 0;
    // RegOpenKeyExA with REG_OPTION_OPEN_LINK: a registry link named by the last name of `subKey`
    // opens as itself, the key whose value kLinkValueName (of type reg::kLink) names its target;
    // any other key opens as with OpenKey. Links on the way to the last name are followed.
    [[nodiscard]] virtual Win32Error OpenLinkKey(HKey parent, std::string_view subKey,
                                                 std::uint32_t access, HKey* key) noexcept = 0;
    // RegCreateKeyExA with no class and no security attributes; creates missing intermediate keys.
    // *disposition (may be null) receives reg::kCreatedNewKey or reg::kOpenedExistingKey. On
    // failure *key is 0.
    [[nodiscard]] virtual Win32Error CreateKey(HKey parent, std::string_view subKey,
                                               std::uint32_t options, std::uint32_t access,
                                               HKey* key, std::uint32_t* disposition) noexcept = 0;
    // RegEnumKeyExA (and RegEnumKeyA): the name of the sub key at `index` into a buffer of
    // `bufferChars` characters, the terminating NUL included. A name that does not fit gives
    // err::kMoreData and leaves *name untouched; past the last sub key err::kNoMoreItems.
    [[nodiscard]] virtual Win32Error EnumKey(HKey key, std::uint32_t index,
                                             std::uint32_t bufferChars,
                                             std::string* name) noexcept = 0;
    // RegQueryValueExA into a buffer of `bufferBytes` bytes. On success *data holds the stored
    // bytes exactly as stored (a string value normally ends in its NUL) and *type its type.
    // When the data does not fit: err::kMoreData, *neededBytes (may be null) = the stored size,
    // *data untouched. A missing value: err::kFileNotFound. type may be null.
    [[nodiscard]] virtual Win32Error QueryValue(HKey key, std::string_view valueName,
                                                std::uint32_t bufferBytes, std::uint32_t* type,
                                                std::string* data,
                                                std::uint32_t* neededBytes) noexcept = 0;
    // RegEnumValueA: the name, type and data of the value at `index`, whatever their size.
    // err::kNoMoreItems past the last value.
    [[nodiscard]] virtual Win32Error EnumValue(HKey key, std::uint32_t index, std::string* name,
                                               std::uint32_t* type, std::string* data) noexcept = 0;
    // RegSetValueExA: stores `data` as given (callers include the NUL of a string value).
    [[nodiscard]] virtual Win32Error SetValue(HKey key, std::string_view valueName,
                                              std::uint32_t type,
                                              std::string_view data) noexcept = 0;
    // RegDeleteKeyA: refuses a key that has sub keys (err::kAccessDenied).
    [[nodiscard]] virtual Win32Error DeleteKey(HKey parent, std::string_view subKey) noexcept = 0;
    // NtDeleteKey: deletes the key the handle names (opened with DELETE access, as
    // kMaximumAllowed gives it to an administrator), whatever path leads to it by now; a link
    // opened as itself goes as the link. Refuses a key that has sub keys (err::kAccessDenied).
    // Every handle on it is then on a deleted key (err::kKeyDeleted).
    [[nodiscard]] virtual Win32Error DeleteOpenKey(HKey key) noexcept = 0;
    // RegFlushKey.
    [[nodiscard]] virtual Win32Error FlushKey(HKey key) noexcept = 0;
    // RegQueryInfoKeyA, its last-write time output only.
    [[nodiscard]] virtual Win32Error QueryLastWriteTime(HKey key, FileTime* time) noexcept = 0;
    // NtSetInformationKey with KeyWriteTimeInformation: sets the key's last-write time, as a
    // restore from a backup does. Needs KEY_SET_VALUE (5 otherwise).
    [[nodiscard]] virtual Win32Error SetLastWriteTime(HKey key, FileTime time) noexcept = 0;
    // RegCloseKey. Closing a predefined root is a no-op that succeeds.
    [[nodiscard]] virtual Win32Error CloseKey(HKey key) noexcept = 0;
    // RegSaveKeyA without security attributes: the key and everything below it, values and
    // last-write times, into a new hive file at `file`. Needs SeBackupPrivilege enabled (1314
    // otherwise); 183 when the file exists.
    [[nodiscard]] virtual Win32Error SaveKey(HKey key, std::string_view file) noexcept = 0;
    // RegLoadKeyA / RegUnLoadKeyA.
    [[nodiscard]] virtual Win32Error LoadKey(HKey parent, std::string_view subKey,
                                             std::string_view file) noexcept = 0;
    [[nodiscard]] virtual Win32Error UnLoadKey(HKey parent, std::string_view subKey) noexcept = 0;
};

// The value of a registry link that names its target.
inline constexpr char kLinkValueName[] = "SymbolicLinkValue";

// Closes a key the tool opened; a predefined root belongs to the system and is left alone.
[[nodiscard]] inline Win32Error CloseOpenedKey(IRegistry& registry, HKey key) noexcept {
    return IsPredefinedKey(key) ? err::kSuccess : registry.CloseKey(key);
}

// An open registry key, closed when the owner goes out of scope.
using UniqueKey = UniqueHandle<HKey, &CloseOpenedKey>;

// Opens `subKey` below `parent`; the key is empty when the open fails, and *result (may be null)
// receives the system's result.
[[nodiscard]] inline UniqueKey OpenKey(IRegistry& registry, HKey parent, std::string_view subKey,
                                       std::uint32_t access,
                                       Win32Error* result = nullptr) noexcept {
    UniqueKey key(registry);
    Win32Error e = registry.OpenKey(parent, subKey, access, key.put());
    if (result != nullptr) *result = e;
    if (e != err::kSuccess) key.reset();
    return key;
}

// A REG_SZ value read into a buffer of `bufferBytes` bytes, as the text up to its first NUL. The
// query's error when it fails (2 for a missing value, 234 when it does not fit), 13 for a value of
// another type; *value changes only on success.
[[nodiscard]] inline Win32Error ReadStringValue(IRegistry& registry, HKey key,
                                                std::string_view name, std::uint32_t bufferBytes,
                                                std::string* value) {
    std::uint32_t type = reg::kNone;
    std::string data;
    Win32Error e = registry.QueryValue(key, name, bufferBytes, &type, &data, nullptr);
    if (e != err::kSuccess) return e;
    if (type != reg::kSz) return err::kInvalidData;
    *value = text::UpToNul(data);
    return err::kSuccess;
}

// Calls visit(name) for each sub key of the open `key` from index 0 on, as RegEnumKeyExA names
// them, each into a buffer of `bufferChars` characters. `visit` returns whether to go on (bool),
// or a Win32Error that ends the walk unless it is 0. The walk's result: 0 after the last sub key
// or when `visit` stopped it with false; `visit`'s error; or the error with which a name could not
// be read (234 for one that does not fit the buffer), where the walk ends too.
template <typename Visit>
[[nodiscard]] Win32Error ForEachSubKey(IRegistry& registry, HKey key, std::uint32_t bufferChars,
                                       Visit&& visit) {
    std::string name;
    for (std::uint32_t index = 0;; ++index) {
        Win32Error e = registry.EnumKey(key, index, bufferChars, &name);
        if (e == err::kNoMoreItems) return err::kSuccess;
        if (e != err::kSuccess) return e;
        if constexpr (std::is_same_v<std::invoke_result_t<Visit&, const std::string&>, bool>) {
            if (!visit(static_cast<const std::string&>(name))) return err::kSuccess;
        } else {
            e = visit(static_cast<const std::string&>(name));
            if (e != err::kSuccess) return e;
        }
    }
}

}  // namespace qv
