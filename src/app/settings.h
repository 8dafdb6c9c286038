// The settings file (Quorvane.ini): another company, product and release to clean up instead of
// the built-in ones, and the dialog's backup switch. Read once, at the start of a run, and used
// only when it can be trusted.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "app/language.h"
#include "port/platform.h"

namespace qv {

// What the settings file named. Without a company the built-in products are cleaned up.
struct Settings {
    std::string company;  // empty: the built-in products
    std::string product;
    std::string version;
    std::string visibleProductName;
    bool backupOff = false;              // "Backup=0": the dialog's clean-up keeps no backup
    std::optional<UiLanguage> language;  // "Language=en|ja"; otherwise the user's interface's
};

enum class SettingsVerdict {
    kNone,     // no settings file there: the built-in defaults
    kUsed,     // read and used
    kWriters,  // in an elevated run, the file or its folder can be changed by someone else
    kNames,    // Company, Product or Version is not one key name
};

// Company, Product and Version are each used as one key name below every user's Software key:
// not empty, no "\" (which would reach other keys), at most this many characters.
inline constexpr std::size_t kMaxSettingsNameChars = 64;
[[nodiscard]] bool IsOneKeyName(std::string_view name);

// Reads the settings file at the absolute path `path` (empty: none) into *settings. In an
// elevated run (`elevated`) the file is used only when neither it nor its folder can be changed
// by anyone but SYSTEM, the administrators and the running user (IFileHandles::CheckWriters),
// and it is not a link; a file that names a company must name one key name each for company,
// product and version. A file that is refused leaves *settings at the built-in defaults, as a
// missing one does: the verdict says why, and the caller tells the operator.
[[nodiscard]] SettingsVerdict ReadSettings(Platform& os, std::string_view path, bool elevated,
                                           Settings* settings);

}  // namespace qv
