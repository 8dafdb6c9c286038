// The machine's profile list and the users' registry hives.
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "port/platform.h"

namespace qv {

inline constexpr char kProfileListKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

// Appends the SID texts of all profiles, in the order the profile list enumerates them. False only
// when the profile list cannot be opened (the list is then unchanged).
[[nodiscard]] bool ListProfileSids(Platform& os, std::vector<std::string>* list);
// The profile's folder: "ProfileImagePath" expanded with the tool's environment. False when the
// key or value is missing or the expansion fails or does not fit in 260 bytes.
[[nodiscard]] bool ProfileFolder(Platform& os, std::string_view sidText, std::string* folder);
// The full name of the profile's hive file: the folder + "\ntuser.dat", or the path itself when it
// names a file.
[[nodiscard]] bool ProfileHivePath(Platform& os, std::string_view sidText, std::string* path);
// The hives this run loaded and could not unload again. Such a hive is under HKEY_USERS as a
// logged-on user's is, but it is the tool's own: a later lease takes it as loaded here and tries
// the unload again, instead of leaving it loaded for good.
class HiveBook {
  public:
    [[nodiscard]] bool IsStuck(std::string_view sidText) const;
    void SetStuck(std::string_view sidText, bool stuck);
    std::size_t StuckCount() const { return stuck_.size(); }

  private:
    std::set<std::string, std::less<>> stuck_;
};

// A user's hive made available under HKEY_USERS\<sidText> for the lifetime of the lease: used in
// place when it is loaded already (a logged-on user, a service account), else loaded from the
// profile's hive file with the restore privilege on for the load alone. At its end the lease
// unloads what it loaded, on every path. A failed unload is tried again a few times after short
// waits (a virus scanner or an indexer may hold a key for a moment); a hive that still stays
// loaded is reported with a message box and noted in the book.
class HiveLease {
  public:
    HiveLease(const Services& services, std::string_view sidText, HiveBook* book = nullptr);
    ~HiveLease();
    HiveLease(const HiveLease&) = delete;
    HiveLease& operator=(const HiveLease&) = delete;

    // Whether HKEY_USERS\<sidText> can be used.
    bool available() const noexcept { return available_; }
    // Why the hive cannot be used (the load's error; 123 for a text that names no hive); 0 when
    // it can.
    [[nodiscard]] Win32Error error() const noexcept { return error_; }
    // Whether this lease loaded the hive: it unloads it at its end (a clean-up flushes it first).
    bool loadedHere() const noexcept { return loadedHere_; }
    // Unloads now what the lease loaded; 0, or the error of the last unload attempt. The
    // destructor does this for a lease not released.
    [[nodiscard]] Win32Error Release();

    // How often and after which waits (milliseconds) a failed unload is tried again.
    static constexpr std::uint32_t kUnloadRetryWaits[] = {100, 250, 500};

  private:
    Services services_;
    std::string sid_;
    HiveBook* book_;
    bool available_ = false;
    Win32Error error_ = err::kSuccess;
    bool loadedHere_ = false;
};

}  // namespace qv
