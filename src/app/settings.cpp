#include "app/settings.h"

#include <utility>

#include "app/defaults.h"
#include "base/text.h"

namespace qv {
namespace {

// Whether no one but SYSTEM, the administrators and the running user can change the file or its
// folder (someone who could would have chosen what the elevated run reads), and the file is no
// link (which would read another file than the one checked). Anything that cannot be told is
// refused.
bool OnlyTrustedWriters(Platform& os, std::string_view path) {
    const std::size_t cut = text::FindLast(path, '\\');
    if (cut == text::npos) return false;
    // The folder keeps its "\" when it is a drive's root ("C:\").
    const std::string folderPath(path.substr(0, cut == 2 ? cut + 1 : cut));
    const std::string name(path.substr(cut + 1));
    FileRef raw = 0;
    if (os.handles.OpenFolder(folderPath, &raw) != err::kSuccess) return false;
    UniqueFileRef folder(os.handles, raw);
    if (os.handles.CheckWriters(folder.get(), "") != err::kSuccess) return false;
    if (os.handles.OpenRelative(folder.get(), name, 0, &raw) != err::kSuccess) return false;
    UniqueFileRef file(os.handles, raw);
    FileFacts facts;
    if (os.handles.QueryFacts(file.get(), &facts) != err::kSuccess || IsLink(facts)) return false;
    return os.handles.CheckWriters(folder.get(), name) == err::kSuccess;
}

}  // namespace

bool IsOneKeyName(std::string_view name) {
    if (name.empty() || text::Find(name, '\\') != text::npos) return false;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < name.size(); i += text::CharLength(name, i)) ++chars;
    return chars <= kMaxSettingsNameChars;
}

SettingsVerdict ReadSettings(Platform& os, std::string_view path, bool elevated,
                             Settings* settings) {
    *settings = Settings{};
    if (path.empty()) return SettingsVerdict::kNone;
    const std::uint32_t attributes = os.files.GetFileAttributes(path);
    if (attributes == kInvalidFileAttributes || (attributes & fa::kDirectory) != 0) {
        return SettingsVerdict::kNone;
    }
    if (elevated && !OnlyTrustedWriters(os, path)) return SettingsVerdict::kWriters;

    const std::string file(path);
    auto setting = [&](const char* key) {
        return os.system.GetPrivateProfileString(kSettingsSection, key, "", file);
    };
    Settings read;
    read.company = setting(kSettingsCompany);
    if (!read.company.empty()) {
        read.product = setting(kSettingsProduct);
        read.version = setting(kSettingsVersion);
        read.visibleProductName = setting(kSettingsVisibleProductName);
        if (!IsOneKeyName(read.company) || !IsOneKeyName(read.product) ||
            !IsOneKeyName(read.version)) {
            return SettingsVerdict::kNames;
        }
    }
    read.backupOff = setting(kSettingsBackup) == "0";
    read.language = ParseUiLanguage(setting(kSettingsLanguage));
    *settings = std::move(read);
    return SettingsVerdict::kUsed;
}

}  // namespace qv
