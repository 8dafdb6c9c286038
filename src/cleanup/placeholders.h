// The placeholder table of one registration of one user, and the expansion of "%NAME%" references.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/tables.h"
#include "base/win32_codes.h"
#include "cleanup/folder_guard.h"
#include "discovery/registration.h"
#include "port/platform.h"

namespace qv {

// Used on one thread: each table belongs to the clean-up of one user, and nothing of the tool
// runs on a second thread, so the table takes no lock.
class PlaceholderTable {
  public:
    // Appends an entry; hr::kOk, or E_INVALIDARG for an absent name or value.
    [[nodiscard]] HResult Add(const char* name, const char* value);
    [[nodiscard]] HResult Add(std::string_view name, std::string_view value);
    // The value of the first entry whose name equals `name` without regard to case.
    std::optional<std::string> Lookup(std::string_view name) const;
    void Clear();
    std::size_t Size() const;

    // Folders that the file clean-up never removes, even when a walk up from an emptied folder
    // reaches them (the user's profile and its shared data folders). They are no placeholders.
    void AddKeptFolder(std::string_view folder);
    std::vector<std::string> KeptFolders() const;

  private:
    std::vector<std::pair<std::string, std::string>> entries_;
    std::vector<std::string> keptFolders_;
};

// A folder or name from the user's hive that the clean-up will not use, and why.
struct FolderRefusal {
    std::string placeholder;
    std::string value;
    std::string reason;
};

struct PlaceholderBuild {
    Win32Error result = err::kSuccess;  // 0, or the registry error that stopped the build
    std::string roamableRootFolder;     // trimmed "RoamableRootFolder"
    std::string localRootFolder;        // trimmed "LocalRootFolder"
    // Why a root folder must not be deleted (it is not a folder of the user's own data); empty
    // when it may be. A refused folder's placeholders name nothing.
    std::string roamableRootRefusal;
    std::string localRootRefusal;
    // The other values of the user's hive that were refused: lines built on them match nothing.
    std::vector<FolderRefusal> refusals;
    // The folders the deleter may work below: the user's profile folder and the machine's
    // common application-data and program-files folders.
    std::vector<std::string> anchors;
    // The other users' profile folders that the deleter must keep out of.
    ProfileFence fence;
};

// The folders a deleter for the user of `profile` may work below: his profile folder (when known)
// and the machine's common application-data and program-files folders.
std::vector<std::string> CleanupAnchors(Platform& os, const ProfileFolders& profile);

// Fills `table` for the registration at `registrationPath` (SID text + "\" + key path below
// HKEY_USERS) of the user `sidText`.
// `given` (optional) holds the two folder values instead of the registration key.
PlaceholderBuild BuildPlaceholderTable(Platform& os, std::string_view registrationPath,
                                       std::string_view sidText, const Tables& tables,
                                       PlaceholderTable* table,
                                       const LeftoverFolder* given = nullptr);
// Expands "%NAME%" references; hr::kOk and *expanded, or kBadPlaceholder, kFail (name of more
// than 31 bytes) or kOutOfMemory with *expanded untouched.
[[nodiscard]] HResult ExpandPlaceholders(std::string_view text, const PlaceholderTable& table,
                                         std::string* expanded);

}  // namespace qv
