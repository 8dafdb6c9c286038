#include "app/language.h"

#include "base/text.h"

namespace qv {
namespace {

constexpr std::uint16_t kPrimaryLanguageMask = 0x3FF;  // PRIMARYLANGID

}  // namespace

std::optional<UiLanguage> ParseUiLanguage(std::string_view name) {
    if (text::EqualsNoCase(name, "en")) return UiLanguage::kEnglish;
    if (text::EqualsNoCase(name, "ja")) return UiLanguage::kJapanese;
    return std::nullopt;
}

UiLanguage UiLanguageOf(std::uint16_t languageId) {
    return (languageId & kPrimaryLanguageMask) == (kLangIdJapanese & kPrimaryLanguageMask)
               ? UiLanguage::kJapanese
               : UiLanguage::kEnglish;
}

std::uint16_t LanguageIdOf(UiLanguage language) {
    return language == UiLanguage::kJapanese ? kLangIdJapanese : kLangIdEnglishUs;
}

UiLanguage UseUiLanguage(IResources& resources, std::optional<UiLanguage> chosen) {
    const UiLanguage language = chosen ? *chosen : UiLanguageOf(resources.UserInterfaceLanguage());
    resources.UseLanguage(LanguageIdOf(language));
    return language;
}

}  // namespace qv
