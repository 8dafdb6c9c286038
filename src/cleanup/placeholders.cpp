#include "cleanup/placeholders.h"

#include <new>

#include "app/defaults.h"
#include "base/text.h"
#include "cleanup/deleter.h"
#include "cleanup/folder_guard.h"
#include "discovery/registration.h"
#include "discovery/shell_folders.h"

namespace qv {
namespace {

// Names longer than this are refused before any lookup: the expansion copies a name into a
// 32-byte area with its terminating NUL.
constexpr std::size_t kMaxPlaceholderName = 31;

constexpr char kProgramFilesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char kDefaultProgramFiles[] = "C:\\Program Files";
constexpr char kDefaultTemp[] = "c:\\temp";
constexpr char kDefaultRelease[] = "2004";

const HResult kInvalidArgument = hr::FromWin32(err::kInvalidParameter);  // E_INVALIDARG

// Trims a root folder value into *folder and checks it; true when it may be deleted, else
// *refusal says why.
bool CheckRoot(const ProfileFolders& profile, std::string_view value, std::string* folder,
               std::string* refusal) {
    *folder = text::TrimTrailingBackslashes(value);
    const RootFolderVerdict verdict = CheckRootFolder(profile, *folder);
    *refusal = RefusalReason(verdict);
    return verdict == RootFolderVerdict::kAllowed;
}

// A machine shell folder that the file list may build paths on; kUnknownFolder when it cannot be
// read or is no absolute folder below a drive or share (an empty value would put the list's lines
// at the root of the current drive, a relative one in the current directory).
std::string FolderOrUnknown(Win32Error readResult, const std::string& folder) {
    if (readResult == err::kSuccess && IsUsableFolder(folder)) return folder;
    return kUnknownFolder;
}

// A folder of the user's own: kept when it lies inside his profile, else noted as refused and
// replaced by kUnknownFolder.
std::string UserFolderOrUnknown(const ProfileFolders& profile, const char* placeholder,
                                std::string folder, PlaceholderBuild* build) {
    const RootFolderVerdict verdict = CheckUserFolder(profile, folder);
    if (verdict == RootFolderVerdict::kAllowed) return folder;
    build->refusals.push_back({placeholder, std::move(folder), RefusalReason(verdict)});
    return kUnknownFolder;
}

// A release text from a file name: letters, digits, ".", "_" and "-", at most 32 of them. It is
// put into file names of the machine's shared folder, so it must not widen a name into a
// pattern or lead into another folder.
bool IsPlainRelease(std::string_view release) {
    if (release.size() > 32) return false;
    for (char c : release) {
        bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                     c == '.' || c == '_' || c == '-';
        if (!plain) return false;
    }
    return true;
}

// The registration path's parts: "...\<company>\<product>\<release>\<code>-<id>:<lcid>".
struct RegistrationParts {
    std::string productCode;
    std::string productId;
    std::string release;
    std::string product;
    std::string company;
};

RegistrationParts SplitRegistrationPath(std::string_view path) {
    RegistrationParts parts;
    std::size_t lastSep = text::FindLast(path, '\\');
    std::size_t nameStart = lastSep == text::npos ? 0 : lastSep + 1;
    std::string_view name = path.substr(nameStart);
    // The last "-" of the name ends the product code; the product id runs to the first ":"
    // after it.
    std::size_t dash = text::FindLast(name, '-');
    if (dash == text::npos) {
        parts.productCode = std::string(name);
    } else {
        parts.productCode = std::string(name.substr(0, dash));
        std::size_t colon = text::Find(name, ':', dash + 1);
        parts.productId =
            std::string(name.substr(dash + 1, colon == text::npos ? text::npos : colon - dash - 1));
    }
    std::string rest = text::CutBeforeLastBackslash(path);
    parts.release = text::AfterLastBackslash(rest);
    rest = text::CutBeforeLastBackslash(rest);
    parts.product = text::AfterLastBackslash(rest);
    rest = text::CutBeforeLastBackslash(rest);
    parts.company = text::AfterLastBackslash(rest);
    return parts;
}

// The release text from the product's configuration file in the folder above the local root
// folder ("OVLN2004.cfg" gives "2004"); "2004" when there is none. The folder is searched as the
// deleter reaches it: never through a link, never outside the user's profile.
std::string ProbeRelease(Deleter& deleter, std::string_view localRootParent,
                         std::string_view productCode) {
    std::vector<FolderEntry> found;
    DeleteReport report = deleter.List(localRootParent, std::string(productCode) + "*.cfg", &found);
    if (report.outcome != DeleteOutcome::kOk || found.empty()) return kDefaultRelease;
    const std::string& name = found.front().name;
    std::size_t dot = text::FindLast(name, '.');
    std::string title = dot == text::npos ? name : name.substr(0, dot);
    return title.size() > productCode.size() ? title.substr(productCode.size()) : std::string();
}

// Whether `name` is one of the product's three-letter language folder names (any case).
bool IsLanguageCode(const Tables& tables, std::string_view name) {
    for (const StringTable::Row& row : tables.localeCodes.Rows()) {
        if (text::EqualsNoCase(row.first, name)) return true;
    }
    return false;
}

// TEMP: the user's "Local Settings" followed by "\Temp"; without that value the tool's own
// TEMP, else "c:\temp". Either must lie inside the user's profile.
std::string TempFolder(Platform& os, std::string_view sidText, const ProfileFolders& profile,
                       PlaceholderBuild* build) {
    std::string temp = kDefaultTemp;
    std::string env;
    if (os.system.GetEnvironmentVariable("TEMP", &env) == err::kSuccess) temp = env;
    std::string localSettings;
    if (ReadUserShellFolder(os.registry, sidText, shell_folder::kLocalSettings, &localSettings) ==
        err::kSuccess) {
        temp = localSettings + "\\Temp";
    }
    return UserFolderOrUnknown(profile, "TEMP", text::TrimTrailingBackslashes(temp), build);
}

// The products are 32-bit programs: their folder is the 32-bit program files folder, which the
// native view names "ProgramFilesDir (x86)" on 64-bit Windows; 32-bit Windows has only
// "ProgramFilesDir".
std::string ProgramFilesFolder(IRegistry& registry) {
    std::string folder = kDefaultProgramFiles;
    UniqueKey key = OpenKey(registry, kHkeyLocalMachine, kProgramFilesKey, reg::kReadNative);
    if (key) {
        std::string value;
        if (ReadStringValue(registry, key.get(), "ProgramFilesDir (x86)", kMaxPath, &value) ==
                err::kSuccess ||
            ReadStringValue(registry, key.get(), "ProgramFilesDir", kMaxPath, &value) ==
                err::kSuccess) {
            folder = value;
        }
    }
    return folder;
}

}  // namespace

std::vector<std::string> CleanupAnchors(Platform& os, const ProfileFolders& profile) {
    std::vector<std::string> anchors;
    if (profile.known) anchors.push_back(profile.profile);
    std::string commonAppData;
    Win32Error e = ReadCommonShellFolder(os.registry, shell_folder::kCommonAppData, &commonAppData);
    for (const std::string& machineFolder :
         {FolderOrUnknown(e, commonAppData), ProgramFilesFolder(os.registry)}) {
        if (IsUsableFolder(machineFolder)) anchors.push_back(machineFolder);
    }
    return anchors;
}

HResult PlaceholderTable::Add(const char* name, const char* value) {
    if (name == nullptr || value == nullptr) return kInvalidArgument;
    return Add(std::string_view(name), std::string_view(value));
}

HResult PlaceholderTable::Add(std::string_view name, std::string_view value) {
    if (name.data() == nullptr || value.data() == nullptr) return kInvalidArgument;
    try {
        entries_.emplace_back(std::string(name), std::string(value));
    } catch (const std::bad_alloc&) {
        return hr::kOutOfMemory;
    }
    return hr::kOk;
}

std::optional<std::string> PlaceholderTable::Lookup(std::string_view name) const {
    for (const auto& entry : entries_) {
        if (text::EqualsNoCase(entry.first, name)) return entry.second;
    }
    return std::nullopt;
}

void PlaceholderTable::Clear() {
    entries_.clear();
    keptFolders_.clear();
}

std::size_t PlaceholderTable::Size() const { return entries_.size(); }

void PlaceholderTable::AddKeptFolder(std::string_view folder) {
    try {
        keptFolders_.emplace_back(folder);
    } catch (const std::bad_alloc&) {
        // Only the walk's extra stop is lost; the volume roots and placeholders still hold it.
    }
}

std::vector<std::string> PlaceholderTable::KeptFolders() const { return keptFolders_; }

PlaceholderBuild BuildPlaceholderTable(Platform& os, std::string_view registrationPath,
                                       std::string_view sidText, const Tables& tables,
                                       PlaceholderTable* table, const LeftoverFolder* given) {
    PlaceholderBuild build;
    std::string roamable;
    std::string local;
    if (given != nullptr) {
        roamable = given->roamingFolder;
        local = given->localFolder;
    } else {
        // A registration that is a registry link names another key's folders: refused.
        UniqueKey key(os.registry);
        Win32Error e =
            OpenKeyRefusingLinks(os.registry, kHkeyUsers, registrationPath, reg::kReadNative, &key);
        if (e != err::kSuccess) {
            build.result = e;
            return build;
        }
        e = ReadStringValue(os.registry, key.get(), kRoamableRootFolderValue, kMaxPath, &roamable);
        if (e != err::kSuccess) {
            build.result = e;
            return build;
        }
        e = ReadStringValue(os.registry, key.get(), kLocalRootFolderValue, kMaxPath, &local);
        if (e != err::kSuccess) {
            build.result = e;
            return build;
        }
    }
    Win32Error e = err::kSuccess;

    // Where the user's profile is, from the machine's profile list: every folder that his hive
    // names must lie inside it before it is deleted, searched or walked up from.
    ProfileFolders profile = ReadProfileFolders(os, sidText);
    std::string commonAppData;
    e = ReadCommonShellFolder(os.registry, shell_folder::kCommonAppData, &commonAppData);
    commonAppData = FolderOrUnknown(e, commonAppData);
    const std::string programFiles = ProgramFilesFolder(os.registry);
    build.anchors = CleanupAnchors(os, profile);
    build.fence = profile.fence;
    Deleter deleter(os.handles, build.anchors);
    deleter.SetFence(build.fence);
    // An entry that cannot be added (out of memory) is left out: a line of the file list that
    // names it is then refused as a bad placeholder and deletes nothing.
    auto put = [table](std::string_view name, std::string_view value) {
        (void)table->Add(name, value);
    };

    const bool roamableAllowed =
        CheckRoot(profile, roamable, &build.roamableRootFolder, &build.roamableRootRefusal);
    put("ROAMABLEROOTFOLDER", roamableAllowed ? build.roamableRootFolder : kUnknownFolder);
    put("ROAMABLEROOTPARENT", roamableAllowed
                                  ? text::CutBeforeLastBackslash(build.roamableRootFolder)
                                  : std::string(kUnknownFolder));

    const bool localAllowed =
        CheckRoot(profile, local, &build.localRootFolder, &build.localRootRefusal);
    std::string localParent = localAllowed ? text::CutBeforeLastBackslash(build.localRootFolder)
                                           : std::string(kUnknownFolder);
    put("LOCALROOTFOLDER", localAllowed ? build.localRootFolder : kUnknownFolder);
    // The language folder's name picks per-language files in the machine's folders: it must be
    // one of the product's language codes.
    std::string language =
        localAllowed ? text::AfterLastBackslash(build.localRootFolder) : std::string(kRefusedName);
    if (localAllowed && !IsLanguageCode(tables, language)) {
        build.refusals.push_back({"LANG", language, "not a language folder of the product"});
        language = kRefusedName;
    }
    put("LANG", language);
    put("LOCALROOTPARENT", localParent);

    RegistrationParts parts = SplitRegistrationPath(registrationPath);
    put("PRODNAME", parts.productCode);
    std::string release = ProbeRelease(deleter, localParent, parts.productCode);
    if (!IsPlainRelease(release)) {
        build.refusals.push_back({"RELEASE", release, "not a plain release name"});
        release = kRefusedName;
    }
    put("RELEASE", release);
    put("REGRELEASE", parts.release);
    put("PRODUCT", parts.product);
    put("FULLPRODUCTNAME", ProductDisplayName(tables.productIds, parts.product, parts.productId));
    put("COMPANY", parts.company);

    std::string appData;
    e = ReadUserShellFolder(os.registry, sidText, shell_folder::kAppData, &appData);
    put("APPDATAFOLDER", e == err::kSuccess
                             ? UserFolderOrUnknown(profile, "APPDATAFOLDER", appData, &build)
                             : std::string(kUnknownFolder));
    put("COMMONAPPDATAFOLDER", commonAppData);
    put("TEMP", TempFolder(os, sidText, profile, &build));
    put("PROGRAMFILES", programFiles);
    put("PERCENT", "%");
    put("UNNAMEDPROFILE", "Unnamed Profile");

    if (profile.known) table->AddKeptFolder(profile.profile);
    for (const std::string& folder : profile.sharedFolders) table->AddKeptFolder(folder);
    return build;
}

HResult ExpandPlaceholders(std::string_view text, const PlaceholderTable& table,
                           std::string* expanded) {
    std::string out;
    try {
        std::size_t i = 0;
        while (i < text.size()) {
            if (text[i] != '%') {
                std::size_t length = text::CharLength(text, i);
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
            if (i + 1 < text.size() && text[i + 1] == '%') {
                out += '%';
                i += 2;
                continue;
            }
            std::size_t close = text::Find(text, '%', i + 1);
            if (close == text::npos) return hr::kBadPlaceholder;
            std::string_view name = text.substr(i + 1, close - i - 1);
            if (name.size() > kMaxPlaceholderName) return hr::kFail;
            std::optional<std::string> value = table.Lookup(name);
            if (!value) return hr::kBadPlaceholder;
            // The value goes in as it is: a "%" inside it is not read as a reference.
            out += *value;
            i = close + 1;
        }
    } catch (const std::bad_alloc&) {
        return hr::kOutOfMemory;
    }
    *expanded = std::move(out);
    return hr::kOk;
}

}  // namespace qv
