#include "discovery/registration.h"

#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/defaults.h"
#include "base/text.h"
#include "discovery/shell_folders.h"

namespace qv {
namespace {

// A string value as the folder values are stored: the text and its terminating NUL.
[[nodiscard]] Win32Error SetStringValue(IRegistry& registry, HKey key, std::string_view name,
                                        std::string_view value) {
    std::string data(value);
    data.push_back('\0');
    return registry.SetValue(key, name, reg::kSz, data);
}

// Whether the user has a folder, roaming (when his "AppData" may be looked in) or local.
bool EitherIsDirectory(IFileSystem& files, bool roamingAllowed, const std::string& roaming,
                       const std::string& local) {
    return (roamingAllowed && IsPlainFolder(files, roaming)) || IsPlainFolder(files, local);
}

// A name of one to eight ASCII letters and digits that names no device: a check of
// "<folder>\<name>" finds exactly the folder's entry whose name or short name is the same but
// for the case of its letters.
bool IsPlainName(std::string_view name) {
    if (name.empty() || name.size() > 8) return false;
    for (char c : name) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9')) return false;
    }
    static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    for (std::string_view device : kDevices) {
        if (text::EqualsNoCase(name, device)) return false;
    }
    const std::string_view head = name.substr(0, 3);
    const bool port = text::EqualsNoCase(head, "COM") || text::EqualsNoCase(head, "LPT");
    return !(port && name.size() == 4 && name[3] >= '0' && name[3] <= '9');
}

// An entry name that holds only printable ASCII other than '?' (the code page's stand-in for a
// character it cannot represent): a plain name matches it only by the same letters.
bool IsAsciiName(std::string_view name) {
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '?') return false;
    }
    return true;
}

// The names of a folder's entries and their short names, folded, read in one listing; empty when
// the listing does not reach its end, or an entry's name holds a character that a plain name
// might match otherwise than by the same letters.
std::optional<std::set<std::string>> ListEntryNames(IFileSystem& files, const std::string& folder) {
    UniqueFind search(files);
    FindData found;
    if (files.FindFirstFile(folder + "\\*", search.put(), &found) != err::kSuccess) {
        search.reset();
        return std::nullopt;
    }
    std::set<std::string> names;
    Win32Error next = err::kSuccess;
    for (; next == err::kSuccess; next = files.FindNextFile(search.get(), &found)) {
        for (const std::string* name : {&found.fileName, &found.alternateFileName}) {
            if (!IsAsciiName(*name)) return std::nullopt;
            names.insert(text::FoldCase(*name));
        }
    }
    if (next != err::kNoMoreFiles) return std::nullopt;
    return names;
}

// What became of one product and language folder pair.
enum class Registration { Skipped, Created, CreateFailed };

Registration RegisterLanguageFolder(Platform& os, const MachineKeyCheck& machineHasKey,
                                    std::uint32_t machineKeyView, std::string_view sidText,
                                    const std::string& keyPath, const std::string& roamLang,
                                    const std::string& localLang,
                                    std::vector<LeftoverFolder>* heldInMemory) {
    // Installed on the machine: the user's folders belong to a product that is still there.
    if (machineHasKey ? machineHasKey(keyPath)
                      : static_cast<bool>(OpenKey(os.registry, kHkeyLocalMachine, keyPath,
                                                  reg::kKeyRead | machineKeyView))) {
        return Registration::Skipped;
    }
    // The user has the registration already; its folder values stay as the product wrote them.
    const std::string userKeyPath = text::JoinPath(sidText, keyPath);
    if (OpenKey(os.registry, kHkeyUsers, userKeyPath,
                heldInMemory != nullptr ? reg::kReadNative : reg::kReadWriteNative)) {
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
    Win32Error result = os.registry.CreateKey(kHkeyUsers, text::JoinPath(sidText, leftover.keyPath),
                                              reg::kOptionNonVolatile, reg::kReadWriteNative,
                                              created.put(), nullptr);
    if (result != err::kSuccess) {
        created.reset();
        return result;
    }
    // A value that cannot be written leaves the key without it; the clean-up then simply has
    // fewer folders to remove.
    (void)SetStringValue(os.registry, created.get(), kRoamableRootFolderValue,
                         leftover.roamingFolder);
    (void)SetStringValue(os.registry, created.get(), kLocalRootFolderValue, leftover.localFolder);
    return err::kSuccess;
}

UserDataFolders::UserDataFolders(Platform& os, const Tables& tables, std::string_view sidText,
                                 UserFolderCheck confine, MachineKeyCheck machineHasKey)
    : os_(os),
      tables_(tables),
      sidText_(sidText),
      confine_(std::move(confine)),
      machineHasKey_(std::move(machineHasKey)) {}

const UserDataFolders::CompanyFolders* UserDataFolders::Company(std::string_view company) {
    if (shellFolders_ == ShellFolders::kUnread) {
        const Win32Error read = ReadUserShellFolders(
            os_.registry, sidText_,
            {{shell_folder::kAppData, &roaming_}, {shell_folder::kLocalAppData, &local_}});
        // Both values are confined before a file function sees either. The local folder decides
        // whether the user has anything: without it there is nothing to find; without the
        // roaming one the local folders alone are looked at.
        const auto allowed = [&](const char* name, const std::string& folder) {
            return read == err::kSuccess && confine_ && confine_(name, folder);
        };
        roamingAllowed_ = allowed(shell_folder::kAppData, roaming_);
        const bool localAllowed = allowed(shell_folder::kLocalAppData, local_);
        shellFolders_ = localAllowed ? ShellFolders::kRead : ShellFolders::kUnreadable;
    }
    if (shellFolders_ != ShellFolders::kRead) return nullptr;

    auto it = companies_.find(company);
    if (it == companies_.end()) {
        std::optional<CompanyFolders> found;
        CompanyFolders folders{
            text::JoinPath(roaming_, company), text::JoinPath(local_, company), {}};
        if (EitherIsDirectory(os_.files, roamingAllowed_, folders.roaming, folders.local)) {
            for (const StringTable::Row& productRow : tables_.productIds.Rows()) {
                if (EitherIsDirectory(os_.files, roamingAllowed_,
                                      text::JoinPath(folders.roaming, productRow.first),
                                      text::JoinPath(folders.local, productRow.first))) {
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
        const std::string roamRel = text::JoinPath(text::JoinPath(folders->roaming, name), release);
        const std::string localRel = text::JoinPath(text::JoinPath(folders->local, name), release);
        // Every folder on the way down from the confined shell folder is checked to be a plain
        // folder, so no path here passes a link that leads out of the user's profile. Without
        // the local release folder there is no language folder below it. The trailing
        // backslash keeps the release's name as the language folders' paths spell it: the system
        // drops trailing dots and spaces only from a path's last name.
        if (!IsPlainFolder(os_.files, localRel + '\\')) continue;

        // One listing of the release folder rules out the languages that have no entry there, so
        // that only the others are checked one by one; a folder that cannot be listed to its end
        // has every language checked.
        const std::optional<std::set<std::string>> entries = ListEntryNames(os_.files, localRel);
        for (const StringTable::Row& languageRow : tables_.localeCodes.Rows()) {
            if (entries && IsPlainName(languageRow.first) &&
                entries->count(text::FoldCase(languageRow.first)) == 0) {
                continue;
            }
            const std::string roamLang = text::JoinPath(roamRel, languageRow.first);
            const std::string localLang = text::JoinPath(localRel, languageRow.first);
            // Only the local folder decides here; the roaming one may be missing, and its value
            // then names a folder that does not exist.
            if (!IsPlainFolder(os_.files, localLang)) continue;

            const std::string keyPath =
                RegistrationKeyPath(company, product, release, code, id, languageRow.second);
            if (RegisterLanguageFolder(os_, machineHasKey_, tables_.machineKeyView, sidText_,
                                       keyPath, roamLang, localLang,
                                       heldInMemory) == Registration::CreateFailed) {
                return;
            }
        }
    }
}

namespace {

// Whether the key opened as itself is a registry link: it holds the link's value with the link's
// type. A value of that name too large to read is taken for one.
[[nodiscard]] Win32Error CheckNotALink(IRegistry& registry, HKey key) {
    constexpr std::uint32_t kLinkValueBytes = 64 * 1024;
    std::uint32_t type = reg::kNone;
    std::string target;
    Win32Error e =
        registry.QueryValue(key, kLinkValueName, kLinkValueBytes, &type, &target, nullptr);
    if (e == err::kFileNotFound) return err::kSuccess;
    if (e == err::kMoreData || (e == err::kSuccess && type == reg::kLink)) {
        return err::kStoppedOnSymlink;
    }
    return e;
}

}  // namespace

namespace {

// The walk of OpenKeyRefusingLinks and CreateKeyRefusingLinks: with `make`, a missing name is
// made instead of ending the walk.
[[nodiscard]] Win32Error WalkKeyRefusingLinks(IRegistry& registry, HKey parent,
                                              std::string_view path, std::uint32_t access,
                                              bool make, UniqueKey* key,
                                              std::uint32_t* disposition) {
    // KEY_QUERY_VALUE to read a link's value; KEY_CREATE_SUB_KEY to make the next name below.
    constexpr std::uint32_t kQueryValue = 0x1;
    constexpr std::uint32_t kCreateSubKey = 0x4;
    const std::uint32_t onTheWay =
        reg::kKeyRead | (make ? kCreateSubKey : 0u) | (access & reg::kViewMask);
    key->reset();
    UniqueKey current(registry);  // the key reached so far, once it is one the walk opened
    std::uint32_t made = reg::kOpenedExistingKey;
    std::size_t start = 0;
    for (;;) {
        std::size_t cut = text::Find(path, '\\', start);
        const bool last = cut == text::npos;
        std::string_view name = path.substr(start, last ? text::npos : cut - start);
        const std::uint32_t wanted = (last ? access : onTheWay) | kQueryValue;
        const HKey at = current ? current.get() : parent;
        UniqueKey next(registry);
        Win32Error e = registry.OpenLinkKey(at, name, wanted, next.put());
        if (make && e == err::kFileNotFound) {
            e = registry.CreateKey(at, name, reg::kOptionNonVolatile, wanted, next.put(), &made);
            // Found missing a moment ago: a key there now came from someone else, maybe as a
            // link that the create followed.
            if (e == err::kSuccess && made != reg::kCreatedNewKey) e = err::kStoppedOnSymlink;
            if (e == err::kSuccess) {
                // The name may have become a link between the look and the create, which the
                // create followed: looked at again as itself.
                UniqueKey itself(registry);
                e = registry.OpenLinkKey(at, name, kQueryValue, itself.put());
                if (e == err::kSuccess) e = CheckNotALink(registry, itself.get());
            }
        } else {
            made = reg::kOpenedExistingKey;
            if (e == err::kSuccess) e = CheckNotALink(registry, next.get());
        }
        if (e != err::kSuccess) return e;
        current = std::move(next);
        if (last) break;
        start = cut + 1;
    }
    if (disposition != nullptr) *disposition = made;
    *key = std::move(current);
    return err::kSuccess;
}

}  // namespace

Win32Error OpenKeyRefusingLinks(IRegistry& registry, HKey parent, std::string_view path,
                                std::uint32_t access, UniqueKey* key) {
    return WalkKeyRefusingLinks(registry, parent, path, access, false, key, nullptr);
}

Win32Error CreateKeyRefusingLinks(IRegistry& registry, HKey parent, std::string_view path,
                                  std::uint32_t access, UniqueKey* key,
                                  std::uint32_t* disposition) {
    return WalkKeyRefusingLinks(registry, parent, path, access, true, key, disposition);
}

}  // namespace qv
