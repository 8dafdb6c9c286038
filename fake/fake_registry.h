// The fake machine's registry: a Windows-faithful in-memory IRegistry (see the notes in
// fake_registry.cpp for each rule and its source).
//
// Test setup addresses keys by a text path:
//   "HKLM\Software\..." or "HKEY_LOCAL_MACHINE\...", "HKU\S-1-...\..." or "HKEY_USERS\...",
//   "HKCU\..." or "HKEY_CURRENT_USER\..." (the hive of the running user), and
//   "<hive file>|<path>" for a hive file that is not loaded, e.g.
//   "C:\Users\ann\ntuser.dat|Software".
// Setup calls create what is missing and never fail; they do not stamp times unless they say so.
//
// Handles carry the access they were opened with, as on Windows: setting a value needs
// KEY_SET_VALUE, reading values and the last-write time KEY_QUERY_VALUE, enumerating
// KEY_ENUMERATE_SUB_KEYS (otherwise 5); reg::kMaximumAllowed grants everything.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fake/fault_plan.h"
#include "port/registry.h"

namespace qv::fake {

// The port's calls, for counting and injected faults. A fault's subject is the key's full path as
// OpenKeyPaths writes it (for a call naming a sub key, the path of that sub key), or for kLoad and
// kUnload the sub key name under HKEY_USERS.
enum class RegOp {
    kOpen,
    kCreate,
    kEnum,
    kQuery,
    kSet,
    kDelete,
    kFlush,
    kQueryInfo,
    kLoad,
    kUnload,
    kEnumValue,
    kSave
};

class FakeRegistry final : public IRegistry, public FaultInjection<RegOp> {
  public:
    FakeRegistry();
    ~FakeRegistry() override;

    // --- wiring (done by FakeMachine) ---
    // What the registry asks of the rest of the machine.
    struct Wiring {
        // The clock that stamps last-write times (seconds since 1970); unwired, 2004-11-09.
        std::function<std::int64_t()> now = [] { return std::int64_t{1099958400}; };
        // Whether SeRestorePrivilege is enabled in the process token; RegLoadKeyA and
        // RegUnLoadKeyA fail with 1314 otherwise. SeBackupPrivilege the same for RegSaveKeyA.
        std::function<bool()> restorePrivilege = [] { return false; };
        std::function<bool()> backupPrivilege = [] { return false; };
        // Whether a file exists on the machine's disk: RegLoadKeyA reads the hive from its file,
        // so a hive whose file is gone fails to load with 2; RegSaveKeyA never writes over one.
        // This and createFile have no default: FakeMachine wires them to its disk.
        std::function<bool(std::string_view)> fileExists;
        // Creates the file a saved hive goes into, as CreateFileA with CREATE_NEW does: 0, or the
        // error (80 when the name is taken, 3 when the folder is missing).
        std::function<Win32Error(std::string_view)> createFile;
    };
    void Wire(Wiring wiring);
    // The SID text whose hive HKEY_CURRENT_USER is (it must be mounted under HKEY_USERS).
    void SetCurrentUserSid(std::string sid);
    // Makes the machine 64-bit Windows, the tool a 64-bit program on it:
    // HKEY_LOCAL_MACHINE\Software gets its 32-bit view in Software\Wow6432Node (see ApplyView in
    // fake_registry.cpp). By default the machine is 32-bit Windows, where the view flags change
    // nothing.
    void SetWow64(bool wow64);

    // --- setup ---
    void CreateKey(std::string_view path);
    void SetString(std::string_view path, std::string_view name, std::string_view value,
                   std::uint32_t type = reg::kSz);  // stores the text and its NUL
    void SetRawValue(std::string_view path, std::string_view name, std::uint32_t type,
                     std::string_view bytes);
    // Removes the key and everything below it (handles open on them then get 1018); not a root or
    // a hive's root, as a hive itself cannot be deleted. A missing key is no error.
    void DeleteTree(std::string_view path);
    // A registry link at `path` (made as REG_OPTION_CREATE_LINK makes one) to the existing key
    // `target`: every path through it reaches the target, except an open with
    // REG_OPTION_OPEN_LINK of the link itself, which holds the value kLinkValueName of type
    // reg::kLink (here the target's setup path; on Windows its absolute name, "\Registry\...").
    void AddLink(std::string_view path, std::string_view target);
    // A hive file on disk (not loaded); empty hive when it does not exist yet.
    void CreateHiveFile(std::string_view file);
    // A setup path "HKU\<name>\..." for a name not mounted mounts it this way first.
    // A hive that the system loaded under HKEY_USERS\<name> (a logged-on user, .DEFAULT, the
    // service accounts): usable in place, RegUnLoadKeyA refuses it.
    void MountSystemHive(std::string_view name);
    // Sets the last-write time (seconds since 1970) of the key and of every key below it.
    void SetTreeTime(std::string_view path, std::int64_t unixSeconds);

    // --- inspection ---
    bool KeyExists(std::string_view path) const;
    // The value's bytes without the terminating NUL of a string (one NUL removed, if present).
    std::optional<std::string> GetString(std::string_view path, std::string_view name) const;
    struct RawValue {
        std::uint32_t type;
        std::string bytes;
    };
    // In enumeration order (by name, case-insensitive).
    std::vector<std::string> SubKeyNames(std::string_view path) const;
    // In the order the values were first set.
    std::vector<std::string> ValueNames(std::string_view path) const;
    // Whether HKEY_USERS\<name> is present, and whether this process loaded it with RegLoadKeyA.
    bool IsMounted(std::string_view name) const;
    bool IsLoadedByApp(std::string_view name) const;
    // Every key of the machine, each before the keys below it: HKEY_LOCAL_MACHINE, the hives
    // mounted under HKEY_USERS, then the hive files that are not loaded ("<hive file>|..."), with
    // the key's path as OpenKeyPaths writes it, its last-write time and its values in order.
    struct KeyRecord {
        std::string path;
        std::int64_t time;
        std::vector<std::pair<std::string, RawValue>> values;
    };
    std::vector<KeyRecord> AllKeys() const;
    // Keys opened through the port and not closed yet, as "HKU\S-1-...\Software\..." paths.
    std::vector<std::string> OpenKeyPaths() const;
    // How often each operation was called through the port.
    int CallCount(RegOp op) const;
    // For kLoad and kUnload, the sub key names passed to RegLoadKeyA / RegUnLoadKeyA, in call
    // order (failed calls too); for kFlush, for each RegFlushKey on a valid handle the name of its
    // hive under HKEY_USERS ("HKLM" for a key of HKEY_LOCAL_MACHINE).
    const std::vector<std::string>& Log(RegOp op) const;

    // --- IRegistry ---
    [[nodiscard]] Win32Error OpenKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                     HKey* key) noexcept override;
    [[nodiscard]] Win32Error OpenLinkKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                         HKey* key) noexcept override;
    [[nodiscard]] Win32Error CreateKey(HKey parent, std::string_view subKey, std::uint32_t options,
                                       std::uint32_t access, HKey* key,
                                       std::uint32_t* disposition) noexcept override;
    [[nodiscard]] Win32Error EnumKey(HKey key, std::uint32_t index, std::uint32_t bufferChars,
                                     std::string* name) noexcept override;
    [[nodiscard]] Win32Error QueryValue(HKey key, std::string_view valueName,
                                        std::uint32_t bufferBytes, std::uint32_t* type,
                                        std::string* data,
                                        std::uint32_t* neededBytes) noexcept override;
    [[nodiscard]] Win32Error SetValue(HKey key, std::string_view valueName, std::uint32_t type,
                                      std::string_view data) noexcept override;
    [[nodiscard]] Win32Error DeleteKey(HKey parent, std::string_view subKey) noexcept override;
    [[nodiscard]] Win32Error DeleteOpenKey(HKey key) noexcept override;
    [[nodiscard]] Win32Error FlushKey(HKey key) noexcept override;
    [[nodiscard]] Win32Error QueryLastWriteTime(HKey key, FileTime* time) noexcept override;
    [[nodiscard]] Win32Error SetLastWriteTime(HKey key, FileTime time) noexcept override;
    [[nodiscard]] Win32Error CloseKey(HKey key) noexcept override;
    [[nodiscard]] Win32Error EnumValue(HKey key, std::uint32_t index, std::string* name,
                                       std::uint32_t* type, std::string* data) noexcept override;
    [[nodiscard]] Win32Error SaveKey(HKey key, std::string_view file) noexcept override;
    [[nodiscard]] Win32Error LoadKey(HKey parent, std::string_view subKey,
                                     std::string_view file) noexcept override;
    [[nodiscard]] Win32Error UnLoadKey(HKey parent, std::string_view subKey) noexcept override;

  private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace qv::fake
