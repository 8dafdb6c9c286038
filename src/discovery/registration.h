// The layout of product registration keys, display names and product codes, and the registration
// of leftover product folders.
#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/tables.h"
#include "port/platform.h"

namespace qv {

// The values of a leftover folder's registration key: the folder below the user's "AppData" and
// below his "Local AppData".
inline constexpr char kRoamableRootFolderValue[] = "RoamableRootFolder";
inline constexpr char kLocalRootFolderValue[] = "LocalRootFolder";

// "Software\<company>\<product>\<release>".
std::string ReleaseKeyPath(std::string_view company, std::string_view product,
                           std::string_view release);
// "Software\<company>\<product>\<release>\<code>-<id>:<lcid>".
std::string RegistrationKeyPath(std::string_view company, std::string_view product,
                                std::string_view release, std::string_view code,
                                std::string_view id, std::string_view lcid);

// The parts of a registration key name "<code>-<id>:<lcid>": the suffix after the first "-" (the
// whole name without one), the product id before the first ":" of the suffix (empty without
// one) and the locale id after it (the whole suffix without one).
struct RegistrationName {
    std::string suffix;
    std::string productId;
    std::string localeId;
};
RegistrationName SplitRegistrationKeyName(std::string_view keyName);

// "OVLN" for "Ovaline", "OVSK" for "Ovaline Sketch", "OVXM" for anything else.
std::string ProductCodeOf(std::string_view product);
// "Ovaline Sketch 2004" for the light edition whatever the id; else the first product table row
// with that id, or empty.
std::string ProductDisplayName(const StringTable& productIds, std::string_view product,
                               std::string_view id);

// A product and language folder of a user that neither the machine nor the user has registered.
struct LeftoverFolder {
    std::string keyPath;  // the registration key it gets, below the user's hive root
    std::string roamingFolder;
    std::string localFolder;
};
// Whether the machine has a registration key (HKEY_LOCAL_MACHINE\<keyPath> opens for reading).
using MachineKeyCheck = std::function<bool(const std::string& keyPath)>;
// Whether a folder that the user's hive names (`valueName`: "AppData", "Local AppData") may be
// looked in at all. The user writes his hive and the scan runs as an administrator or SYSTEM, so
// the engine gives the clean-up's confinement here (inside his own profile folder, in no other
// user's, no UNC, WebDAV, device or relative path), which traces what it refuses. Nothing of a
// refused folder reaches a file function.
using UserFolderCheck = std::function<bool(std::string_view valueName, const std::string& folder)>;

// One user's data folders, looked up once for every product and release that a scan registers
// leftover folders of: his two application data folders (read from his "Shell Folders" through
// one key open), each company's two folders below them and the product folders below those.
class UserDataFolders {
  public:
    // `machineHasKey` answers whether the machine has a registration (a scan asks each path once
    // for all its users); without it each question opens the machine's key.
    UserDataFolders(Platform& os, const Tables& tables, std::string_view sidText,
                    UserFolderCheck confine, MachineKeyCheck machineHasKey = {});

    // Creates a registration key in the user's hive for each product and language folder that
    // the user has and neither the machine nor the user has registered. With `heldInMemory`
    // nothing is written: the folders are appended there instead.
    void RegisterOrphaned(std::string_view company, std::string_view product,
                          std::string_view release,
                          std::vector<LeftoverFolder>* heldInMemory = nullptr);

  private:
    // The user's folders of one company.
    struct CompanyFolders {
        std::string roaming;  // "<AppData>\<company>"
        std::string local;    // "<Local AppData>\<company>"
        // The product table's rows whose folder the user has, roaming or local, in its order.
        std::vector<StringTable::Row> products;
    };
    enum class ShellFolders { kUnread, kRead, kUnreadable };

    // Null when the user has none: his shell folders cannot be read, or he has neither folder.
    const CompanyFolders* Company(std::string_view company);

    Platform& os_;
    const Tables& tables_;
    std::string sidText_;
    UserFolderCheck confine_;
    MachineKeyCheck machineHasKey_;
    ShellFolders shellFolders_ = ShellFolders::kUnread;
    std::string roaming_;  // "AppData"
    std::string local_;    // "Local AppData"
    bool roamingAllowed_ = false;
    std::map<std::string, std::optional<CompanyFolders>, std::less<>> companies_;
};

// Opens the key `path` names below `parent` one name at a time, each as itself (OpenLinkKey):
// a registry link anywhere on the way is refused with err::kStoppedOnSymlink, so that a user's
// registration, read or deleted, never leads into a key elsewhere. The keys on the way are opened
// to read, the last with `access`. *key is empty unless 0 is returned.
[[nodiscard]] Win32Error OpenKeyRefusingLinks(IRegistry& registry, HKey parent,
                                              std::string_view path, std::uint32_t access,
                                              UniqueKey* key);
// Opens or makes the key `path` names below `parent` one name at a time: a key that is there is
// opened as itself and refused when it is a registry link (err::kStoppedOnSymlink), as
// OpenKeyRefusingLinks does; a missing one is made, and refused should a link have taken its
// name meanwhile. The last is opened with `access`; *disposition (may be null) receives
// reg::kCreatedNewKey when the last was made. *key is empty unless 0 is returned.
[[nodiscard]] Win32Error CreateKeyRefusingLinks(IRegistry& registry, HKey parent,
                                                std::string_view path, std::uint32_t access,
                                                UniqueKey* key, std::uint32_t* disposition);

// Writes the registration key of a leftover folder into the user's hive (a created key gets the
// two folder values); 0 or the error.
[[nodiscard]] Win32Error RegisterLeftoverFolder(Platform& os, std::string_view sidText,
                                                const LeftoverFolder& leftover);

}  // namespace qv
