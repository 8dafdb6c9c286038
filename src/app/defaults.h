// The tool's built-in defaults and the names of its settings file.
#pragma once

namespace qv {

// Alike on purpose: named constants, one a line, as every list of them is.
inline constexpr char kDefaultCompany[] = "Brennard";
inline constexpr char kMainProduct[] = "Ovaline";
inline constexpr char kMainRelease[] = "R16.0";
inline constexpr char kLightProduct[] = "Ovaline Sketch";
inline constexpr char kLightRelease[] = "R9";
inline constexpr char kLightProductDisplayName[] = "Ovaline Sketch 2004";

inline constexpr char kSettingsFileName[] = "Quorvane.ini";
inline constexpr char kSettingsSection[] = "Quorvane";  // also the caption of "Processing sid : "
inline constexpr char kSettingsCompany[] = "Company";
inline constexpr char kSettingsProduct[] = "Product";
inline constexpr char kSettingsVersion[] = "Version";
inline constexpr char kSettingsVisibleProductName[] = "VisibleProductName";
// "0" turns the dialog's backup of each clean-up off.
inline constexpr char kSettingsBackup[] = "Backup";
// "en" or "ja": the language of the tool's texts instead of the user's interface language.
inline constexpr char kSettingsLanguage[] = "Language";
// The product id under which the settings file's product is entered in the product table.
inline constexpr char kSettingsProductId[] = "6";

inline constexpr char kErrorCaption[] = "Quorvane Error";

// Registry and file-system buffers are 260 bytes (MAX_PATH) throughout.
inline constexpr unsigned kMaxPath = 260;

}  // namespace qv
