// The language of the tool's texts: Japanese or English, as the operator or the settings file
// chose, otherwise as the user's interface is.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "port/user.h"

namespace qv {

enum class UiLanguage { kEnglish, kJapanese };

// The LANGIDs the resources are in.
inline constexpr std::uint16_t kLangIdEnglishUs = 0x0409;  // LANG_ENGLISH, SUBLANG_ENGLISH_US
inline constexpr std::uint16_t kLangIdJapanese = 0x0411;   // LANG_JAPANESE, SUBLANG_DEFAULT

// "en" or "ja" (either case); nothing for anything else.
std::optional<UiLanguage> ParseUiLanguage(std::string_view name);
// Japanese for a LANGID whose primary language is Japanese, English for every other.
UiLanguage UiLanguageOf(std::uint16_t languageId);
std::uint16_t LanguageIdOf(UiLanguage language);

// Makes `resources` serve the texts in `chosen`, or without a choice in the language of the
// user's interface; the language used.
UiLanguage UseUiLanguage(IResources& resources, std::optional<UiLanguage> chosen);

}  // namespace qv
