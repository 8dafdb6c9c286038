// The cost of the console scan over many profiles whose hives are not loaded, against a bare loop
// that only loads and unloads the same hives. The program prepares the profiles itself: one hive
// file of about the given size is written by the system from a scratch key (RegSaveKeyA), in two
// forms, one of them with registrations of both products (two the machine lacks, so stale, and
// one the machine has, so judged and fresh) and shell folders that hold their data folders and a
// leftover language folder, and copied into a folder per profile; the machine's
// profile list gets an entry per profile (S-1-5-21-1-2-3-<n>) naming that folder, and the machine
// gets its own registration of the fresh one. Each round times the scan of both products
// (ScanProducts, an administrator's scan that writes nothing, on the real adapters), the dialog's
// refresh (its logic bound to a window with a real tree control, every step run; the measurement's
// users named by the security port, as the dialog lists only named users) and the bare loop
// (RegLoadKeyA and RegUnLoadKeyA of every hive, the restore privilege enabled around each call as
// the scan's hive lease does); the order turns between rounds. Prints each time, the median of
// each and their ratios to the bare loop, and where the time of one more scan and one more bare
// loop went: the calls each made to the ports (the bare loop: its own two calls and the privilege
// switches), how many and how long they took. Everything it added is removed again at the end.
//   qv_scan_speed.exe [rounds [profiles [hive kilobytes [every]]]]
//   (default 9 rounds, 100 profiles, 1024 KB, every 10th profile with registrations)
// Needs a display for the dialog's window. Exit code: 0 measured, 1 the preparation, a scan, a
// refresh or a load failed, 2 bad arguments.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/tables.h"
#include "base/unique_handle.h"
#include "engine/findings.h"
#include "engine/scan.h"
#include "engine/workspace.h"
#include "resource.h"
#include "security/profiles.h"
#include "security/token.h"
#include "speed_support.h"
#include "tests/windows/plain_tree.h"
#include "ui/quorvane_dlg.h"
#include "win32/win32_controls.h"
#include "win32/win32_handles.h"
#include "win32/win32_platform.h"
#include "win32/windows_api.h"

namespace {

using qv::bench::Argument;
using qv::bench::Median;
using qv::bench::Now;

using qv::Win32Error;

constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
// Where the products' 32-bit installer writes the machine's keys on 64-bit Windows (the 32-bit
// view, which the tool reads); this 64-bit program names it by its place in the native view.
constexpr char kMachineCompanyKey[] = "Software\\Wow6432Node\\Brennard";
constexpr char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kBackupPrivilege[] = "SeBackupPrivilege";

struct Registration {
    const char* path;         // below Software\Brennard
    const char* dataFolders;  // below the user's application data folders
    bool onMachine;           // the machine has it (fresh), or not (stale: the product was removed)
};
constexpr Registration kRegistrations[] = {
    {"Ovaline\\R16.0\\OVLN-201:409", "Ovaline 2004\\R16.0\\enu", true},
    {"Ovaline\\R16.0\\OVLN-201:407", "Ovaline 2004\\R16.0\\deu", false},
    {"Ovaline Sketch\\R9\\OVSK-201:411", "Ovaline Sketch 2004\\R9\\jpn", false},
};
// A language folder without a registration, which the scan holds as a leftover.
constexpr char kLeftoverFolder[] = "Ovaline 2004\\R16.0\\fra";

std::string ProfileSid(int i) { return "S-1-5-21-1-2-3-" + std::to_string(1000 + i); }

using qv::win32::UniqueSystemKey;
using qv::win32::testing::RemoveTree;

UniqueSystemKey OpenSystemKey(HKEY root, const std::string& path, REGSAM access) {
    UniqueSystemKey key;
    if (::RegOpenKeyExA(root, path.c_str(), 0, access, key.put()) != ERROR_SUCCESS) key.reset();
    return key;
}

bool KeyExists(HKEY root, const std::string& path) {
    return static_cast<bool>(OpenSystemKey(root, path, KEY_READ));
}

// Creates the key (and what is missing above it) and sets REG_SZ or REG_EXPAND_SZ values in it.
bool SetStrings(HKEY root, const std::string& path,
                const std::vector<std::pair<std::string, std::string>>& values,
                DWORD type = REG_SZ) {
    UniqueSystemKey key;
    if (::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        key.reset();
        return false;
    }
    for (const auto& [name, value] : values) {
        if (::RegSetValueExA(key.get(), name.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
            return false;
        }
    }
    return true;
}

std::uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The count and the time of the calls a scan makes to the ports, by the system function called.
class CallClock {
  public:
    struct Stat {
        long calls = 0;
        double seconds = 0;
    };
    class Timer {
      public:
        Timer(CallClock& clock, const char* name) : clock_(clock), name_(name), start_(Now()) {}
        ~Timer() { clock_.Add(name_, Now() - start_); }
        Timer(const Timer&) = delete;
        Timer& operator=(const Timer&) = delete;

      private:
        CallClock& clock_;
        const char* name_;
        double start_;
    };

    void Add(const char* name, double seconds) {
        Stat& stat = stats_[name];
        stat.calls += 1;
        stat.seconds += seconds;
    }

    // Each call's count (in all and per profile of the measurement), time and share of
    // `wholeSeconds`, the longest first, their sum, and what is left of the whole outside them.
    void Print(double wholeSeconds, int profiles) const {
        std::vector<std::pair<std::string, Stat>> rows(stats_.begin(), stats_.end());
        std::sort(rows.begin(), rows.end(),
                  [](const auto& a, const auto& b) { return a.second.seconds > b.second.seconds; });
        Stat all;
        for (const auto& row : rows) {
            all.calls += row.second.calls;
            all.seconds += row.second.seconds;
        }
        rows.emplace_back("(all these calls)", all);
        std::printf("  %-26s %7s %9s %9s %8s %6s\n", "call", "calls", "/profile", "ms", "us/call",
                    "share");
        for (const auto& [name, stat] : rows) {
            std::printf("  %-26s %7ld %9.2f %9.1f %8.1f %5.1f%%\n", name.c_str(), stat.calls,
                        static_cast<double>(stat.calls) / profiles, stat.seconds * 1000,
                        stat.seconds * 1e6 / static_cast<double>(stat.calls),
                        100 * stat.seconds / wholeSeconds);
        }
        std::printf("  %-26s %7s %9s %9.1f %8s %5.1f%%\n", "(outside these calls)", "", "",
                    (wholeSeconds - all.seconds) * 1000, "",
                    100 * (wholeSeconds - all.seconds) / wholeSeconds);
    }

  private:
    std::map<std::string, Stat> stats_;
};

// A port whose calls go to the same port on the system, each counted and timed on the clock: what
// the timed ports below build on.
template <typename Port>
class TimedPort : public Port {
  public:
    TimedPort(Port& system, CallClock& clock) : system_(system), clock_(clock) {}

  protected:
    Port& system_;
    CallClock& clock_;
};

// Alike on purpose: every timed port below forwards each of its methods the same way, a timer
// around the system's call.
// The registry port on the system, every call counted and timed.
class TimedRegistry final : public TimedPort<qv::IRegistry> {
  public:
    using TimedPort::TimedPort;

    [[nodiscard]] Win32Error OpenKey(qv::HKey parent, std::string_view subKey, std::uint32_t access,
                                     qv::HKey* key) noexcept override {
        CallClock::Timer t(clock_, "RegOpenKeyExA");
        return system_.OpenKey(parent, subKey, access, key);
    }
    [[nodiscard]] Win32Error OpenLinkKey(qv::HKey parent, std::string_view subKey,
                                         std::uint32_t access, qv::HKey* key) noexcept override {
        CallClock::Timer t(clock_, "RegOpenKeyExA");
        return system_.OpenLinkKey(parent, subKey, access, key);
    }
    [[nodiscard]] Win32Error CreateKey(qv::HKey parent, std::string_view subKey,
                                       std::uint32_t options, std::uint32_t access, qv::HKey* key,
                                       std::uint32_t* disposition) noexcept override {
        CallClock::Timer t(clock_, "RegCreateKeyExA");
        return system_.CreateKey(parent, subKey, options, access, key, disposition);
    }
    [[nodiscard]] Win32Error EnumKey(qv::HKey key, std::uint32_t index, std::uint32_t bufferChars,
                                     std::string* name) noexcept override {
        CallClock::Timer t(clock_, "RegEnumKeyExA");
        return system_.EnumKey(key, index, bufferChars, name);
    }
    [[nodiscard]] Win32Error QueryValue(qv::HKey key, std::string_view valueName,
                                        std::uint32_t bufferBytes, std::uint32_t* type,
                                        std::string* data,
                                        std::uint32_t* neededBytes) noexcept override {
        CallClock::Timer t(clock_, "RegQueryValueExA");
        return system_.QueryValue(key, valueName, bufferBytes, type, data, neededBytes);
    }
    [[nodiscard]] Win32Error EnumValue(qv::HKey key, std::uint32_t index, std::string* name,
                                       std::uint32_t* type, std::string* data) noexcept override {
        CallClock::Timer t(clock_, "RegEnumValueA");
        return system_.EnumValue(key, index, name, type, data);
    }
    [[nodiscard]] Win32Error SetValue(qv::HKey key, std::string_view valueName, std::uint32_t type,
                                      std::string_view data) noexcept override {
        CallClock::Timer t(clock_, "RegSetValueExA");
        return system_.SetValue(key, valueName, type, data);
    }
    [[nodiscard]] Win32Error DeleteKey(qv::HKey parent, std::string_view subKey) noexcept override {
        CallClock::Timer t(clock_, "RegDeleteKeyA");
        return system_.DeleteKey(parent, subKey);
    }
    [[nodiscard]] Win32Error DeleteOpenKey(qv::HKey key) noexcept override {
        CallClock::Timer t(clock_, "NtDeleteKey");
        return system_.DeleteOpenKey(key);
    }
    [[nodiscard]] Win32Error FlushKey(qv::HKey key) noexcept override {
        CallClock::Timer t(clock_, "RegFlushKey");
        return system_.FlushKey(key);
    }
    [[nodiscard]] Win32Error QueryLastWriteTime(qv::HKey key,
                                                qv::FileTime* time) noexcept override {
        CallClock::Timer t(clock_, "RegQueryInfoKeyA");
        return system_.QueryLastWriteTime(key, time);
    }
    [[nodiscard]] Win32Error SetLastWriteTime(qv::HKey key, qv::FileTime time) noexcept override {
        return system_.SetLastWriteTime(key, time);
    }
    [[nodiscard]] Win32Error CloseKey(qv::HKey key) noexcept override {
        CallClock::Timer t(clock_, "RegCloseKey");
        return system_.CloseKey(key);
    }
    [[nodiscard]] Win32Error SaveKey(qv::HKey key, std::string_view file) noexcept override {
        CallClock::Timer t(clock_, "RegSaveKeyA");
        return system_.SaveKey(key, file);
    }
    [[nodiscard]] Win32Error LoadKey(qv::HKey parent, std::string_view subKey,
                                     std::string_view file) noexcept override {
        CallClock::Timer t(clock_, "RegLoadKeyA");
        return system_.LoadKey(parent, subKey, file);
    }
    [[nodiscard]] Win32Error UnLoadKey(qv::HKey parent, std::string_view subKey) noexcept override {
        CallClock::Timer t(clock_, "RegUnLoadKeyA");
        return system_.UnLoadKey(parent, subKey);
    }
};

// The security port on the system, every call counted and timed.
class TimedSecurity : public TimedPort<qv::ISecurity> {
  public:
    using TimedPort::TimedPort;

    [[nodiscard]] Win32Error AllocateAndInitializeSid(const qv::SidIdentifierAuthority& authority,
                                                      std::uint8_t subAuthorityCount,
                                                      const std::uint32_t (&subAuthorities)[8],
                                                      qv::Sid* sid) noexcept override {
        CallClock::Timer t(clock_, "AllocateAndInitializeSid");
        return system_.AllocateAndInitializeSid(authority, subAuthorityCount, subAuthorities, sid);
    }
    void FreeSid(qv::Sid sid) noexcept override {
        CallClock::Timer t(clock_, "FreeSid");
        system_.FreeSid(sid);
    }
    [[nodiscard]] bool IsValidSid(qv::ConstSid sid) noexcept override {
        CallClock::Timer t(clock_, "IsValidSid");
        return system_.IsValidSid(sid);
    }
    const qv::SidIdentifierAuthority* GetSidIdentifierAuthority(
        qv::ConstSid sid) noexcept override {
        CallClock::Timer t(clock_, "GetSidIdentifierAuthority");
        return system_.GetSidIdentifierAuthority(sid);
    }
    const std::uint8_t* GetSidSubAuthorityCount(qv::ConstSid sid) noexcept override {
        CallClock::Timer t(clock_, "GetSidSubAuthorityCount");
        return system_.GetSidSubAuthorityCount(sid);
    }
    const std::uint32_t* GetSidSubAuthority(qv::ConstSid sid,
                                            std::uint32_t index) noexcept override {
        CallClock::Timer t(clock_, "GetSidSubAuthority");
        return system_.GetSidSubAuthority(sid, index);
    }
    [[nodiscard]] bool EqualSid(qv::ConstSid a, qv::ConstSid b) noexcept override {
        CallClock::Timer t(clock_, "EqualSid");
        return system_.EqualSid(a, b);
    }
    [[nodiscard]] Win32Error LookupAccountSid(qv::ConstSid sid, char* name,
                                              std::uint32_t* nameChars, char* domain,
                                              std::uint32_t* domainChars,
                                              std::uint32_t* use) noexcept override {
        CallClock::Timer t(clock_, "LookupAccountSidA");
        return system_.LookupAccountSid(sid, name, nameChars, domain, domainChars, use);
    }
    [[nodiscard]] Win32Error LookupPrivilegeValue(const char* name,
                                                  qv::Luid* luid) noexcept override {
        CallClock::Timer t(clock_, "LookupPrivilegeValueA");
        return system_.LookupPrivilegeValue(name, luid);
    }
    [[nodiscard]] Win32Error OpenProcessToken(std::uint32_t access,
                                              qv::TokenHandle* token) noexcept override {
        CallClock::Timer t(clock_, "OpenProcessToken");
        return system_.OpenProcessToken(access, token);
    }
    [[nodiscard]] Win32Error GetTokenInformation(qv::TokenHandle token, std::uint32_t infoClass,
                                                 void* buffer, std::uint32_t length,
                                                 std::uint32_t* returnLength) noexcept override {
        CallClock::Timer t(clock_, "GetTokenInformation");
        return system_.GetTokenInformation(token, infoClass, buffer, length, returnLength);
    }
    [[nodiscard]] Win32Error AdjustTokenPrivilege(qv::TokenHandle token, qv::Luid luid,
                                                  std::uint32_t attributes) noexcept override {
        CallClock::Timer t(clock_, "AdjustTokenPrivileges");
        return system_.AdjustTokenPrivilege(token, luid, attributes);
    }
    [[nodiscard]] Win32Error CloseToken(qv::TokenHandle token) noexcept override {
        CallClock::Timer t(clock_, "CloseHandle (token)");
        return system_.CloseToken(token);
    }
    [[nodiscard]] Win32Error GetUserName(char* buffer, std::uint32_t* chars) noexcept override {
        CallClock::Timer t(clock_, "GetUserNameA");
        return system_.GetUserName(buffer, chars);
    }
};

// The files port on the system, every call counted and timed.
class TimedFiles final : public TimedPort<qv::IFileSystem> {
  public:
    using TimedPort::TimedPort;

    [[nodiscard]] std::uint32_t GetFileAttributes(std::string_view path) noexcept override {
        CallClock::Timer t(clock_, "GetFileAttributesA");
        return system_.GetFileAttributes(path);
    }
    [[nodiscard]] Win32Error FindFirstFile(std::string_view pattern, qv::FindHandle* handle,
                                           qv::FindData* data) noexcept override {
        CallClock::Timer t(clock_, "FindFirstFileA");
        return system_.FindFirstFile(pattern, handle, data);
    }
    [[nodiscard]] Win32Error FindNextFile(qv::FindHandle handle,
                                          qv::FindData* data) noexcept override {
        CallClock::Timer t(clock_, "FindNextFileA");
        return system_.FindNextFile(handle, data);
    }
    [[nodiscard]] Win32Error FindClose(qv::FindHandle handle) noexcept override {
        CallClock::Timer t(clock_, "FindClose");
        return system_.FindClose(handle);
    }
    [[nodiscard]] Win32Error GetFullPathName(std::string_view path, std::uint32_t bufferChars,
                                             std::string* fullPath) noexcept override {
        CallClock::Timer t(clock_, "GetFullPathNameA");
        return system_.GetFullPathName(path, bufferChars, fullPath);
    }
};

// The system port, every call counted and timed.
class TimedSystem final : public TimedPort<qv::ISystem> {
  public:
    using TimedPort::TimedPort;

    void InitCommonControls() noexcept override {
        CallClock::Timer t(clock_, "InitCommonControls");
        system_.InitCommonControls();
    }
    [[nodiscard]] Win32Error GetVersion(qv::OsVersion* version) noexcept override {
        CallClock::Timer t(clock_, "GetVersionExA");
        return system_.GetVersion(version);
    }
    qv::ModuleHandle LoadLibrary(std::string_view name) noexcept override {
        CallClock::Timer t(clock_, "LoadLibraryA");
        return system_.LoadLibrary(name);
    }
    [[nodiscard]] Win32Error FreeLibrary(qv::ModuleHandle module) noexcept override {
        CallClock::Timer t(clock_, "FreeLibrary");
        return system_.FreeLibrary(module);
    }
    void* GetProcAddress(qv::ModuleHandle module, std::string_view name) noexcept override {
        CallClock::Timer t(clock_, "GetProcAddress");
        return system_.GetProcAddress(module, name);
    }
    [[nodiscard]] std::uint32_t GetCurrentDirectory(std::uint32_t bufferChars,
                                                    std::string* directory) noexcept override {
        CallClock::Timer t(clock_, "GetCurrentDirectoryA");
        return system_.GetCurrentDirectory(bufferChars, directory);
    }
    [[nodiscard]] std::uint32_t ExpandEnvironmentStrings(std::string_view source,
                                                         std::uint32_t bufferChars,
                                                         std::string* expanded) noexcept override {
        CallClock::Timer t(clock_, "ExpandEnvironmentStringsA");
        return system_.ExpandEnvironmentStrings(source, bufferChars, expanded);
    }
    [[nodiscard]] Win32Error GetEnvironmentVariable(std::string_view name,
                                                    std::string* value) noexcept override {
        CallClock::Timer t(clock_, "GetEnvironmentVariableA");
        return system_.GetEnvironmentVariable(name, value);
    }
    std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                        std::string_view defaultValue,
                                        std::string_view file) noexcept override {
        CallClock::Timer t(clock_, "GetPrivateProfileStringA");
        return system_.GetPrivateProfileString(section, key, defaultValue, file);
    }
    std::string FormatSystemMessage(Win32Error code) noexcept override {
        CallClock::Timer t(clock_, "FormatMessageA");
        return system_.FormatSystemMessage(code);
    }
    std::int64_t CurrentTime() noexcept override {
        CallClock::Timer t(clock_, "time");
        return system_.CurrentTime();
    }
    void Sleep(std::uint32_t milliseconds) noexcept override {
        CallClock::Timer t(clock_, "Sleep");
        system_.Sleep(milliseconds);
    }
    [[nodiscard]] bool LocalTimeRoundTrip(std::int64_t utcSeconds,
                                          std::int64_t* result) noexcept override {
        CallClock::Timer t(clock_, "localtime + mktime");
        return system_.LocalTimeRoundTrip(utcSeconds, result);
    }
    [[nodiscard]] Win32Error GetComputerName(std::string* name) noexcept override {
        CallClock::Timer t(clock_, "GetComputerNameA");
        return system_.GetComputerName(name);
    }
    std::string AnsiToUtf8(std::string_view ansi) noexcept override {
        CallClock::Timer t(clock_, "AnsiToUtf8");
        return system_.AnsiToUtf8(ansi);
    }
    std::string Utf8ToAnsi(std::string_view utf8) noexcept override {
        CallClock::Timer t(clock_, "WideCharToMultiByte");
        return system_.Utf8ToAnsi(utf8);
    }
    [[nodiscard]] bool EqualsIgnoringCase(std::string_view a,
                                          std::string_view b) noexcept override {
        CallClock::Timer t(clock_, "CompareStringOrdinal");
        return system_.EqualsIgnoringCase(a, b);
    }
    [[nodiscard]] Win32Error GenerateRandom(unsigned char* bytes,
                                            std::size_t count) noexcept override {
        CallClock::Timer t(clock_, "RtlGenRandom");
        return system_.GenerateRandom(bytes, count);
    }
    [[nodiscard]] qv::MachineLockOutcome AcquireMachineLock(std::uint32_t timeoutMs,
                                                            qv::MachineLockRef* lock,
                                                            Win32Error* error) noexcept override {
        CallClock::Timer t(clock_, "CreateMutexA+WaitForSingleObject");
        return system_.AcquireMachineLock(timeoutMs, lock, error);
    }
    [[nodiscard]] Win32Error ReleaseMachineLock(qv::MachineLockRef lock) noexcept override {
        CallClock::Timer t(clock_, "ReleaseMutex");
        return system_.ReleaseMachineLock(lock);
    }
};

// Message boxes go to the console: a hive the scan cannot unload is reported there, and nothing
// waits for a button.
class ConsoleMessages final : public qv::IMessageBoxes {
  public:
    int Show(qv::WindowRef, std::string_view text, std::string_view caption,
             std::uint32_t) noexcept override {
        std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        return IDOK;
    }
};

// The profiles of the measurement: folders with their hive files, the profile list's entries and
// the machine's registration, all removed again at the end, whatever happened.
class SpeedMachine {
  public:
    // Every `registeredEvery`th profile holds the registrations and their data folders.
    SpeedMachine(qv::ISecurity& security, int profiles, int hiveKilobytes, int registeredEvery)
        : security_(security),
          profiles_(profiles),
          hiveBytes_(hiveKilobytes * 1024),
          registeredEvery_(registeredEvery) {}
    SpeedMachine(const SpeedMachine&) = delete;
    SpeedMachine& operator=(const SpeedMachine&) = delete;
    ~SpeedMachine() { Remove(); }

    bool Prepare() {
        char temp[MAX_PATH] = {};
        if (::GetTempPathA(MAX_PATH, temp) == 0) return Fail("no temporary folder");
        const std::string pid = std::to_string(::GetCurrentProcessId());
        scratch_ = std::string(temp) + "qv-scan-speed-" + pid;
        scratchKey_ = "Software\\Quorvane scan speed\\" + pid;
        if (!::CreateDirectoryA(scratch_.c_str(), nullptr))
            return Fail("cannot create " + scratch_);
        madeScratch_ = true;

        // Nothing of the machine's own is overwritten, or removed at the end.
        if (KeyExists(HKEY_LOCAL_MACHINE, kMachineCompanyKey)) {
            return Fail(std::string("the machine has HKLM\\") + kMachineCompanyKey + " already");
        }
        for (int i = 0; i < profiles_; ++i) {
            if (KeyExists(HKEY_LOCAL_MACHINE, ProfileKey(i)) ||
                KeyExists(HKEY_USERS, ProfileSid(i))) {
                return Fail("the machine has a profile " + ProfileSid(i) + " already");
            }
        }

        if (!WriteHives()) return false;
        madeMachineKey_ = true;
        for (const Registration& r : kRegistrations) {
            if (r.onMachine &&
                !SetStrings(HKEY_LOCAL_MACHINE,
                            std::string(kMachineCompanyKey) + "\\" + r.path + "\\Settings",
                            {{"Style", "standard"}})) {
                return Fail("cannot write the machine's registration");
            }
        }
        for (int i = 0; i < profiles_; ++i) {
            const std::string folder = ProfileFolder(i);
            if (!::CreateDirectoryA(folder.c_str(), nullptr))
                return Fail("cannot create " + folder);
            const std::string& source = i % registeredEvery_ == 0 ? registeredHive_ : plainHive_;
            if (!::CopyFileA(source.c_str(), HivePath(i).c_str(), TRUE)) {
                return Fail("cannot copy the hive to " + folder);
            }
            profileKeys_ = i + 1;
            if (!SetStrings(HKEY_LOCAL_MACHINE, ProfileKey(i), {{"ProfileImagePath", folder}},
                            REG_EXPAND_SZ)) {
                return Fail("cannot write the profile list entry of " + ProfileSid(i));
            }
        }
        return true;
    }

    void Remove() {
        // A hive left loaded by a failed run first: its file cannot go while it is loaded.
        for (int i = 0; i < profileKeys_; ++i) {
            if (KeyExists(HKEY_USERS, ProfileSid(i))) {
                const qv::ScopedPrivilege restore(security_, qv::sec::kRestorePrivilege);
                ::RegUnLoadKeyA(HKEY_USERS, ProfileSid(i).c_str());
            }
        }
        for (int i = 0; i < profileKeys_; ++i) {
            ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProfileKey(i).c_str());
        }
        profileKeys_ = 0;
        if (madeMachineKey_) ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kMachineCompanyKey);
        madeMachineKey_ = false;
        if (madeScratchKey_) {
            ::RegDeleteTreeA(HKEY_CURRENT_USER, scratchKey_.c_str());
            ::RegDeleteKeyA(HKEY_CURRENT_USER, scratchKey_.c_str());
            ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quorvane scan speed");
        }
        madeScratchKey_ = false;
        if (madeScratch_) RemoveTree(scratch_);
        madeScratch_ = false;
    }

    int profiles() const { return profiles_; }
    std::string HivePath(int i) const { return ProfileFolder(i) + "\\ntuser.dat"; }
    std::uint64_t HiveSize() const { return FileSize(plainHive_); }
    std::uint64_t RegisteredHiveSize() const { return FileSize(registeredHive_); }

  private:
    static std::string ProfileKey(int i) {
        return std::string(kProfileList) + "\\" + ProfileSid(i);
    }
    std::string ProfileFolder(int i) const { return scratch_ + "\\p" + std::to_string(1000 + i); }

    bool Fail(const std::string& what) {
        std::fprintf(stderr, "preparation: %s\n", what.c_str());
        return false;
    }

    // The hive's contents in a scratch key of the running user, saved to a file by the system:
    // ballast keys of many small values up to the size, and the shell folders. Saved once with
    // shell folders that name empty folders, and once more with the registrations and shell
    // folders that name folders holding the registrations' data folders and a leftover one.
    bool WriteHives() {
        madeScratchKey_ = true;
        // Keys of eight values of 120 characters, as settings keys hold them, until the size.
        constexpr int kValuesPerKey = 8;
        constexpr std::size_t kValueChars = 120;
        const std::string value(kValueChars, 'x');
        const int keys = hiveBytes_ / static_cast<int>(kValuesPerKey * (kValueChars + 16));
        for (int k = 0; k < keys; ++k) {
            std::vector<std::pair<std::string, std::string>> values;
            for (int v = 0; v < kValuesPerKey; ++v) {
                values.emplace_back("Value" + std::to_string(v), value);
            }
            const std::string key = scratchKey_ + "\\Software\\Ballast\\Group" +
                                    std::to_string(k / 64) + "\\Key" + std::to_string(k);
            if (!SetStrings(HKEY_CURRENT_USER, key, values)) return Fail("cannot write " + key);
        }
        std::string appData, localAppData;
        if (!ShellFolders(scratch_ + "\\plain", &appData, &localAppData)) return false;
        plainHive_ = scratch_ + "\\plain.dat";
        if (!Save(plainHive_)) return false;

        if (!ShellFolders(scratch_ + "\\registered", &appData, &localAppData)) return false;
        for (const Registration& r : kRegistrations) {
            const std::string key = scratchKey_ + "\\Software\\Brennard\\" + r.path;
            const std::string roaming = appData + "\\Brennard\\" + r.dataFolders;
            const std::string local = localAppData + "\\Brennard\\" + r.dataFolders;
            if (!SetStrings(HKEY_CURRENT_USER, key,
                            {{"RoamableRootFolder", roaming}, {"LocalRootFolder", local}}) ||
                !SetStrings(HKEY_CURRENT_USER, key + "\\Settings", {{"Style", "standard"}})) {
                return Fail("cannot write " + key);
            }
            if (!MakeFolders(roaming) || !MakeFolders(local)) return false;
        }
        if (!MakeFolders(appData + "\\Brennard\\" + kLeftoverFolder) ||
            !MakeFolders(localAppData + "\\Brennard\\" + kLeftoverFolder)) {
            return false;
        }
        registeredHive_ = scratch_ + "\\registered.dat";
        return Save(registeredHive_);
    }

    // Application data folders below `root`, named by the shell folders of the scratch key.
    bool ShellFolders(const std::string& root, std::string* appData, std::string* localAppData) {
        const std::string localSettings = root + "\\Local Settings";
        *appData = root + "\\Application Data";
        *localAppData = localSettings + "\\Application Data";
        if (!MakeFolders(*appData) || !MakeFolders(*localAppData)) return false;
        if (!SetStrings(HKEY_CURRENT_USER, scratchKey_ + "\\" + kShellFolders,
                        {{"AppData", *appData},
                         {"Local AppData", *localAppData},
                         {"Local Settings", localSettings}})) {
            return Fail("cannot write the shell folders");
        }
        return true;
    }

    // The folder and every folder above it up to the scratch folder.
    bool MakeFolders(const std::string& folder) {
        for (std::size_t at = scratch_.size() + 1; at <= folder.size(); ++at) {
            if (at < folder.size() && folder[at] != '\\') continue;
            const std::string part = folder.substr(0, at);
            if (!::CreateDirectoryA(part.c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                return Fail("cannot create " + part);
            }
        }
        return true;
    }

    bool Save(const std::string& file) {
        UniqueSystemKey key = OpenSystemKey(HKEY_CURRENT_USER, scratchKey_, KEY_READ);
        if (!key) return Fail("cannot open the scratch key");
        LONG e = ERROR_SUCCESS;
        {
            // Saving a key asks for the backup privilege on Windows.
            const qv::ScopedPrivilege backup(security_, kBackupPrivilege);
            e = ::RegSaveKeyA(key.get(), file.c_str(), nullptr);
        }
        if (e != ERROR_SUCCESS) return Fail("RegSaveKeyA answered " + std::to_string(e));
        return true;
    }

    qv::ISecurity& security_;
    int profiles_;
    int hiveBytes_;
    int registeredEvery_;
    std::string scratch_;
    std::string scratchKey_;
    std::string plainHive_;
    std::string registeredHive_;
    bool madeScratch_ = false;
    bool madeScratchKey_ = false;
    bool madeMachineKey_ = false;
    int profileKeys_ = 0;
};

const std::vector<qv::ProductScope> kScopes = {{"Brennard", "Ovaline", "R16.0"},
                                               {"Brennard", "Ovaline Sketch", "R9"}};

// One console scan. False when the scan fails or a profile of the measurement was not loaded and
// unloaded by it.
bool Scan(qv::Platform& os, const qv::Tables& tables, const SpeedMachine& machine,
          qv::Findings* findings) {
    qv::HiveBook hives;
    qv::Workspace ws{qv::Services{os, false}, tables, true, 0, &hives};
    if (!qv::ScanProducts(ws, kScopes, findings, qv::ScanMode::kWriteNothing)) {
        std::fprintf(stderr, "the scan could not read the registry\n");
        return false;
    }
    int loaded = 0;
    for (const qv::ProfileFinding& profile : findings->profiles) {
        if (profile.sid.rfind("S-1-5-21-1-2-3-", 0) == 0 &&
            profile.state == qv::ProfileState::kLoaded) {
            ++loaded;
        }
    }
    if (loaded != machine.profiles() || hives.StuckCount() != 0) {
        std::fprintf(stderr, "the scan loaded %d of %d profiles, %zu stayed loaded\n", loaded,
                     machine.profiles(), hives.StuckCount());
        return false;
    }
    return true;
}

// The bare loop: each hive loaded and unloaded, the restore privilege on around each call. With a
// clock, the two calls are counted and timed as the scan's port calls are.
bool LoadAndUnload(qv::ISecurity& security, const SpeedMachine& machine,
                   CallClock* clock = nullptr) {
    for (int i = 0; i < machine.profiles(); ++i) {
        const std::string sid = ProfileSid(i);
        LONG e = ERROR_SUCCESS;
        {
            const qv::ScopedPrivilege restore(security, qv::sec::kRestorePrivilege);
            const double start = Now();
            e = ::RegLoadKeyA(HKEY_USERS, sid.c_str(), machine.HivePath(i).c_str());
            if (clock != nullptr) clock->Add("RegLoadKeyA", Now() - start);
        }
        if (e != ERROR_SUCCESS) {
            std::fprintf(stderr, "RegLoadKeyA of %s answered %ld\n", sid.c_str(), e);
            return false;
        }
        {
            const qv::ScopedPrivilege restore(security, qv::sec::kRestorePrivilege);
            const double start = Now();
            e = ::RegUnLoadKeyA(HKEY_USERS, sid.c_str());
            if (clock != nullptr) clock->Add("RegUnLoadKeyA", Now() - start);
        }
        if (e != ERROR_SUCCESS) {
            std::fprintf(stderr, "RegUnLoadKeyA of %s answered %ld\n", sid.c_str(), e);
            return false;
        }
    }
    return true;
}

// The security port on the system, except that it names the measurement's users ("speed<n>" of
// "QVSPEED"), which have no account here: the dialog lists only users with a name. Every call
// goes through the timed port (to a clock of its own), so the dialog pays that, not less.
class NamingSecurity final : public TimedSecurity {
  public:
    using TimedSecurity::TimedSecurity;

    [[nodiscard]] Win32Error LookupAccountSid(qv::ConstSid sid, char* name,
                                              std::uint32_t* nameChars, char* domain,
                                              std::uint32_t* domainChars,
                                              std::uint32_t* use) noexcept override {
        const Win32Error e =
            TimedSecurity::LookupAccountSid(sid, name, nameChars, domain, domainChars, use);
        if (e != ERROR_NONE_MAPPED) return e;
        const std::uint8_t* count = system_.GetSidSubAuthorityCount(sid);
        if (count == nullptr || *count != 5) return e;
        const std::uint32_t prefix[] = {21, 1, 2, 3};
        for (std::uint32_t i = 0; i < 4; ++i) {
            const std::uint32_t* part = system_.GetSidSubAuthority(sid, i);
            if (part == nullptr || *part != prefix[i]) return e;
        }
        const std::string account = "speed" + std::to_string(*system_.GetSidSubAuthority(sid, 4));
        const std::string domainName = "QVSPEED";
        if (*nameChars <= account.size() || *domainChars <= domainName.size()) {
            *nameChars = static_cast<std::uint32_t>(account.size() + 1);
            *domainChars = static_cast<std::uint32_t>(domainName.size() + 1);
            return ERROR_INSUFFICIENT_BUFFER;
        }
        std::memcpy(name, account.c_str(), account.size() + 1);
        std::memcpy(domain, domainName.c_str(), domainName.size() + 1);
        *nameChars = static_cast<std::uint32_t>(account.size());
        *domainChars = static_cast<std::uint32_t>(domainName.size());
        *use = 1;  // SidTypeUser
        return ERROR_SUCCESS;
    }
};

// The dialog's refresh as the program runs it, on the real adapters into a real tree control: a
// window with the tree (IDC_TREE), the status line and the clean-up button, the dialog's logic
// bound to it from its initialisation (both products, as an administrator; the dialog's scan
// registers leftover folders) to the end of its last step, each step run in turn as the window
// host's posted messages run them. *users: the user items the tree shows at the end.
bool DialogRefresh(qv::Platform& os, std::size_t* users) {
    using qv::win32::UniqueWindow;
    UniqueWindow frame(::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 480, 360, nullptr,
                                         nullptr, nullptr, nullptr));
    if (!frame) {
        std::fprintf(stderr, "no window for the dialog (%lu)\n", ::GetLastError());
        return false;
    }
    HWND tree = ::CreateWindowExA(0x00004220, WC_TREEVIEWA, "", 0x50800117, 0, 0, 460, 300,
                                  frame.get(), reinterpret_cast<HMENU>(IDC_TREE), nullptr, nullptr);
    HWND status =
        ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 310, 460, 20, frame.get(),
                          reinterpret_cast<HMENU>(IDC_STATUS), nullptr, nullptr);
    HWND button = ::CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE, 0, 330, 80, 24,
                                    frame.get(), reinterpret_cast<HMENU>(IDOK), nullptr, nullptr);
    if (tree == nullptr || status == nullptr || button == nullptr) {
        std::fprintf(stderr, "no controls for the dialog (%lu)\n", ::GetLastError());
        return false;
    }
    auto window = qv::win32::MakeDialogWindow(frame.get());
    auto control = qv::win32::MakeTreeControl(tree);
    qv::CQuorvaneDlg dialog(qv::Services{os, false}, "");
    *users = 0;
    {
        qv::DialogBinding binding = dialog.Attach(*window, *control);
        (void)dialog.OnInitDialog();
        while (dialog.Busy()) dialog.Step();
        for (qv::TreeItem item = control->GetNextItem(0, qv::tv::kGetRoot); item != 0;
             item = control->GetNextItem(item, qv::tv::kGetNext)) {
            for (qv::TreeItem user = control->GetNextItem(item, qv::tv::kGetChild); user != 0;
                 user = control->GetNextItem(user, qv::tv::kGetNext)) {
                ++*users;
            }
        }
    }
    return true;
}

std::size_t UsersFound(const qv::Findings& findings) {
    std::size_t users = 0;
    for (const qv::RegistrationFinding& r : findings.registrations) users += r.users.size();
    return users;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = Argument(argc, argv, 1, 9);
    const int profiles = Argument(argc, argv, 2, 100);
    const int kilobytes = Argument(argc, argv, 3, 1024);
    const int every = Argument(argc, argv, 4, 10);
    if (rounds < 0 || profiles < 0 || kilobytes < 0 || every < 0) {
        std::fprintf(stderr, "usage: %s [rounds [profiles [hive kilobytes [every]]]]\n", argv[0]);
        return 2;
    }
    qv::win32::InstallAnsiLeadBytes();

    // The security library loaded as start-up loads it, and the real adapters bound to it.
    qv::win32::UniqueModule library(
        ::LoadLibraryExA(qv::kSecurityLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    const qv::ModuleHandle advapi32 = reinterpret_cast<qv::ModuleHandle>(library.get());
    qv::win32::Win32Platform system(advapi32, ::GetModuleHandleA(nullptr));
    ConsoleMessages messages;
    qv::Platform os{system.registry, system.security,  system.files,
                    system.handles,  system.system,    messages,
                    system.debug,    system.resources, system.audit};
    qv::Tables tables;
    tables.FillBuiltIn();

    if (!qv::IsMemberOfAdministrators(os)) {
        std::fprintf(stderr, "the scan of every profile needs an administrator\n");
        return 1;
    }

    SpeedMachine machine(system.security, profiles, kilobytes, every);
    const double prepareStart = Now();
    if (!machine.Prepare()) return 1;
    std::printf(
        "profiles: %d, hive files of %.0f KB (%.0f KB with the registrations and data folders, "
        "every %dth profile), prepared in %.1f s; %d rounds\n",
        profiles, static_cast<double>(machine.HiveSize()) / 1024,
        static_cast<double>(machine.RegisteredHiveSize()) / 1024, every, Now() - prepareStart,
        rounds);
    std::fflush(stdout);

    // The dialog's own port of the security library: it names the measurement's users.
    CallClock namingClock;
    NamingSecurity naming(system.security, namingClock);
    qv::Platform dialogOs{system.registry, naming,           system.files,
                          system.handles,  system.system,    messages,
                          system.debug,    system.resources, system.audit};
    ::InitCommonControls();

    // Each round: the console scan, the bare loop and the dialog's refresh, in an order that
    // turns from round to round.
    std::vector<double> scans, loops, dialogs;
    qv::Findings lastFindings;
    std::size_t dialogUsers = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int step = 0; step < 3; ++step) {
            const int turn = (step + round) % 3;  // 0 scan, 1 bare loop, 2 dialog
            qv::Findings findings;
            const double start = Now();
            bool ok = false;
            if (turn == 0) {
                ok = Scan(os, tables, machine, &findings);
            } else if (turn == 1) {
                ok = LoadAndUnload(system.security, machine);
            } else {
                ok = DialogRefresh(dialogOs, &dialogUsers);
            }
            const double seconds = Now() - start;
            if (!ok) return 1;
            (turn == 0 ? scans : turn == 1 ? loops : dialogs).push_back(seconds);
            if (turn == 0) lastFindings = std::move(findings);
            const char* name = turn == 0 ? "scan" : turn == 1 ? "bare loop" : "dialog";
            std::printf("round %d: %-10s %8.1f ms\n", round + 1, name, seconds * 1000);
            std::fflush(stdout);
        }
    }
    if (rounds > 0 && dialogUsers != UsersFound(lastFindings)) {
        std::fprintf(stderr, "the dialog listed %zu users, the scan found %zu\n", dialogUsers,
                     UsersFound(lastFindings));
        return 1;
    }

    // One more scan through ports that count and time every call.
    CallClock clock;
    TimedRegistry registry(system.registry, clock);
    TimedSecurity security(system.security, clock);
    TimedFiles files(system.files, clock);
    TimedSystem systemPort(system.system, clock);
    qv::Platform timedOs{registry,       security,         files,
                         system.handles, systemPort,       messages,
                         system.debug,   system.resources, system.audit};
    qv::Findings timedFindings;
    const double timedStart = Now();
    if (!Scan(timedOs, tables, machine, &timedFindings)) return 1;
    const double timedSeconds = Now() - timedStart;
    // And one more bare loop, its calls timed the same way.
    CallClock loopClock;
    TimedSecurity loopSecurity(system.security, loopClock);
    const double loopStart = Now();
    if (!LoadAndUnload(loopSecurity, machine, &loopClock)) return 1;
    const double loopSeconds = Now() - loopStart;

    const double scanMedian = Median(scans);
    const double loopMedian = Median(loops);
    std::printf("scan: %zu profiles, %zu registrations listed with %zu users\n",
                lastFindings.profiles.size(), lastFindings.registrations.size(),
                UsersFound(lastFindings));
    std::printf("scan median:      %8.1f ms  (%.2f ms per profile)\n", scanMedian * 1000,
                scanMedian * 1000 / profiles);
    std::printf("bare loop median: %8.1f ms  (%.2f ms per profile)\n", loopMedian * 1000,
                loopMedian * 1000 / profiles);
    std::printf("ratio (scan / bare loop): %.2f\n", scanMedian / loopMedian);
    const double dialogMedian = Median(dialogs);
    std::printf("dialog refresh median: %8.1f ms  (%.2f ms per profile, %zu users listed)\n",
                dialogMedian * 1000, dialogMedian * 1000 / profiles, dialogUsers);
    std::printf("ratio (dialog refresh / bare loop): %.2f\n", dialogMedian / loopMedian);
    // Each round's scan against the same round's bare loop, which ran under the same load.
    std::vector<double> roundRatios;
    for (std::size_t r = 0; r < scans.size(); ++r) roundRatios.push_back(scans[r] / loops[r]);
    std::printf("median of the rounds' own ratios: %.2f\n", Median(roundRatios));
    std::printf("the calls of one more scan (%.1f ms) to the ports:\n", timedSeconds * 1000);
    clock.Print(timedSeconds, profiles);
    std::printf("the calls of one more bare loop (%.1f ms):\n", loopSeconds * 1000);
    loopClock.Print(loopSeconds, profiles);
    return 0;
}
