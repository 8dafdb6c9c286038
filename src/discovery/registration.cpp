#include "discovery/registration.h"

#include <string>

#include "app/defaults.h"
#include "base/text.h"
#include "discovery/shell_folders.h"

namespace qv {
namespace {

// Alike on purpose: named constants, one a line, as every list of them is.
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

Registration RegisterLanguageFolder(Platform& os, std::string_view sidText,
                                    const std::string& keyPath, const std::string& roamLang,
                                    const std::string& localLang,
                                    std::vector<LeftoverFolder>* heldInMemory) {
    // Installed on the machine: the user's folders belong to a product that is still there.
    if (OpenKey(os.registry, kHkeyLocalMachine, keyPath, reg::kKeyRead)) {
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

void RegisterOrphanedUserData(Platform& os, const Tables& tables, std::string_view sidText,
                              std::string_view company, std::string_view product,
                              std::string_view release, std::vector<LeftoverFolder>* heldInMemory) {
    std::string roaming;
    if (ReadUserShellFolder(os.registry, sidText, kAppData, &roaming) != err::kSuccess) return;
    std::string local;
    if (ReadUserShellFolder(os.registry, sidText, kLocalAppData, &local) != err::kSuccess) return;

    const std::string roamCompany = Join(roaming, company);
    const std::string localCompany = Join(local, company);
    if (!EitherIsDirectory(os.files, roamCompany, localCompany)) return;

    const std::string code = ProductCodeOf(product);
    // Every pass walks every product folder, whatever product the pass is for: the light
    // edition's pass also looks below "Ovaline 2004" for folders of its own release.
    for (const StringTable::Row& productRow : tables.productIds.Rows()) {
        const std::string& name = productRow.first;
        const std::string& id = productRow.second;
        const std::string roamProduct = Join(roamCompany, name);
        const std::string localProduct = Join(localCompany, name);
        if (!EitherIsDirectory(os.files, roamProduct, localProduct)) continue;
        const std::string roamRel = Join(roamProduct, release);
        const std::string localRel = Join(localProduct, release);

        for (const StringTable::Row& languageRow : tables.localeCodes.Rows()) {
            const std::string roamLang = Join(roamRel, languageRow.first);
            const std::string localLang = Join(localRel, languageRow.first);
            // Only the local folder decides here; the roaming one may be missing, and its value
            // then names a folder that does not exist.
            if (!IsDirectory(os.files, localLang)) continue;

            const std::string keyPath =
                RegistrationKeyPath(company, product, release, code, id, languageRow.second);
            if (RegisterLanguageFolder(os, sidText, keyPath, roamLang, localLang, heldInMemory) ==
                Registration::CreateFailed) {
                return;
            }
        }
    }
}

}  // namespace qv
