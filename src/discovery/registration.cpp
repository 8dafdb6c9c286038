#include "discovery/registration.h"

#include <string>
#include <utility>

#include "app/defaults.h"
#include "base/text.h"
#include "discovery/shell_folders.h"

namespace qv {
namespace {

constexpr char kRoamableRootFolder[] = "RoamableRootFolder";
constexpr char kLocalRootFolder[] = "LocalRootFolder";
constexpr char kAppData[] = "AppData";
constexpr char kLocalAppData[] = "Local AppData";

std::string Join(std::string_view a, std::string_view b) {
    std::string joined(a);
    joined += '\\';
    joined += b;
    return joined;
}

// A string value as the folder values are stored: the text and its terminating NUL.
Win32Error SetStringValue(IRegistry& registry, HKey key, std::string_view name,
                          std::string_view value) {
    std::string data(value);
    data.push_back('\0');
    return registry.SetValue(key, name, reg::kSz, data);
}

bool EitherIsDirectory(IFileSystem& files, const std::string& a, const std::string& b) {
    return IsDirectory(files, a) || IsDirectory(files, b);
}

// What became of one product and language folder pair.
enum class Registration { Skipped, Created, CreateFailed };

Registration RegisterLanguageFolder(Platform& os, const MachineKeyCheck& machineHasKey,
                                    std::string_view sidText, const std::string& keyPath,
                                    const std::string& roamLang, const std::string& localLang,
                                    std::vector<LeftoverFolder>* heldInMemory) {
    // Installed on the machine: the user's folders belong to a product that is still there.
    if (machineHasKey
            ? machineHasKey(keyPath)
            : static_cast<bool>(OpenKey(os.registry, kHkeyLocalMachine, keyPath, reg::kKeyRead))) {
        return Registration::Skipped;
    }
    // The user has the registration already; its folder values stay as the product wrote them.
    const std::string userKeyPath = Join(sidText, keyPath);
    if (OpenKey(os.registry, kHkeyUsers, userKeyPath,
                heldInMemory != nullptr ? reg::kKeyRead : reg::kKeyReadWrite)) {
        return Registration::Skipped;
    }
    LeftoverFolder leftover{keyPath, roamLang, localLang};
    if (heldInMemory != nullptr) {
        heldInMemory->push_back(std::move(leftover));
        return Registration::Created;
    }
    return RegisterLeftoverFolder(os, sidText, leftover) == err::kSuccess
               ? Registration::Created
               : Registration::CreateFailed;
}

}  // namespace

std::string ReleaseKeyPath(std::string_view company, std::string_view product,
                           std::string_view release) {
    std::string path("Software");
    for (std::string_view part : {company, product, release}) {
        path += '\\';
        path += part;
    }
    return path;
}

std::string RegistrationKeyPath(std::string_view company, std::string_view product,
                                std::string_view release, std::string_view code,
                                std::string_view id, std::string_view lcid) {
    std::string path = ReleaseKeyPath(company, product, release);
    path += '\\';
    path += code;
    path += '-';
    path += id;
    path += ':';
    path += lcid;
    return path;
}

RegistrationName SplitRegistrationKeyName(std::string_view keyName) {
    RegistrationName parts;
    std::size_t dash = text::Find(keyName, '-');
    parts.suffix = std::string(dash == text::npos ? keyName : keyName.substr(dash + 1));
    std::size_t colon = text::Find(parts.suffix, ':');
    if (colon == text::npos) {
        parts.localeId = parts.suffix;
    } else {
        parts.productId = parts.suffix.substr(0, colon);
        parts.localeId = parts.suffix.substr(colon + 1);
    }
    return parts;
}

std::string ProductCodeOf(std::string_view product) {
    if (text::Equals(product, kMainProduct)) return "OVLN";
    if (text::Equals(product, kLightProduct)) return "OVSK";
    return "OVXM";
}

std::string ProductDisplayName(const StringTable& productIds, std::string_view product,
                               std::string_view id) {
    // The light edition shares its id with the main product, so its name cannot come from the
    // table.
    if (text::Equals(product, kLightProduct)) return kLightProductDisplayName;
    return productIds.KeyOfValue(id).value_or(std::string());
}

bool IsDirectory(IFileSystem& files, std::string_view path) {
    std::uint32_t attributes = files.GetFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & fa::kDirectory) != 0;
}

Win32Error RegisterLeftoverFolder(Platform& os, std::string_view sidText,
                                  const LeftoverFolder& leftover) {
    UniqueKey created(os.registry);
    Win32Error result =
        os.registry.CreateKey(kHkeyUsers, Join(sidText, leftover.keyPath), reg::kOptionNonVolatile,
                              reg::kKeyReadWrite, created.put(), nullptr);
    if (result != err::kSuccess) {
        created.reset();
        return result;
    }
    // A value that cannot be written leaves the key without it; the clean-up then simply has
    // fewer folders to remove.
    (void)SetStringValue(os.registry, created.get(), kRoamableRootFolder, leftover.roamingFolder);
    (void)SetStringValue(os.registry, created.get(), kLocalRootFolder, leftover.localFolder);
    return err::kSuccess;
}

UserDataFolders::UserDataFolders(Platform& os, const Tables& tables, std::string_view sidText,
                                 MachineKeyCheck machineHasKey)
    : os_(os), tables_(tables), sidText_(sidText), machineHasKey_(std::move(machineHasKey)) {}

const UserDataFolders::CompanyFolders* UserDataFolders::Company(std::string_view company) {
    if (shellFolders_ == ShellFolders::kUnread) {
        const Win32Error read = ReadUserShellFolders(
            os_.registry, sidText_, {{kAppData, &roaming_}, {kLocalAppData, &local_}});
        shellFolders_ = read == err::kSuccess ? ShellFolders::kRead : ShellFolders::kUnreadable;
    }
    if (shellFolders_ != ShellFolders::kRead) return nullptr;

    auto it = companies_.find(company);
    if (it == companies_.end()) {
        std::optional<CompanyFolders> found;
        CompanyFolders folders{Join(roaming_, company), Join(local_, company), {}};
        if (EitherIsDirectory(os_.files, folders.roaming, folders.local)) {
            for (const StringTable::Row& productRow : tables_.productIds.Rows()) {
                if (EitherIsDirectory(os_.files, Join(folders.roaming, productRow.first),
                                      Join(folders.local, productRow.first))) {
                    folders.products.push_back(productRow);
                }
            }
            found = std::move(folders);
        }
        it = companies_.emplace(std::string(company), std::move(found)).first;
    }
    return it->second ? &*it->second : nullptr;
}

void UserDataFolders::RegisterOrphaned(std::string_view company, std::string_view product,
                                       std::string_view release,
                                       std::vector<LeftoverFolder>* heldInMemory) {
    const CompanyFolders* folders = Company(company);
    if (folders == nullptr) return;

    const std::string code = ProductCodeOf(product);
    // Every pass walks every product folder the user has, whatever product the pass is for: the
    // light edition's pass also looks below "Ovaline 2004" for folders of its own release.
    for (const StringTable::Row& productRow : folders->products) {
        const std::string& name = productRow.first;
        const std::string& id = productRow.second;
        const std::string roamRel = Join(Join(folders->roaming, name), release);
        const std::string localRel = Join(Join(folders->local, name), release);
        // Without the local release folder there is no language folder below it. The trailing
        // backslash keeps the release's name as the language folders' paths spell it: the system
        // drops trailing dots and spaces only from a path's last name.
        if (!IsDirectory(os_.files, localRel + '\\')) continue;

        for (const StringTable::Row& languageRow : tables_.localeCodes.Rows()) {
            const std::string roamLang = Join(roamRel, languageRow.first);
            const std::string localLang = Join(localRel, languageRow.first);
            // Only the local folder decides here; the roaming one may be missing, and its value
            // then names a folder that does not exist.
            if (!IsDirectory(os_.files, localLang)) continue;

            const std::string keyPath =
                RegistrationKeyPath(company, product, release, code, id, languageRow.second);
            if (RegisterLanguageFolder(os_, machineHasKey_, sidText_, keyPath, roamLang, localLang,
                                       heldInMemory) == Registration::CreateFailed) {
                return;
            }
        }
    }
}

void RegisterOrphanedUserData(Platform& os, const Tables& tables, std::string_view sidText,
                              std::string_view company, std::string_view product,
                              std::string_view release, std::vector<LeftoverFolder>* heldInMemory) {
    UserDataFolders(os, tables, sidText).RegisterOrphaned(company, product, release, heldInMemory);
}

}  // namespace qv
