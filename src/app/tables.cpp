#include "app/tables.h"

#include "app/defaults.h"

namespace qv {

void StringTable::Set(std::string_view key, std::string_view value) {
    for (Row& row : rows_) {
        if (row.first == key) {
            row.second = std::string(value);
            return;
        }
    }
    rows_.emplace_back(std::string(key), std::string(value));
}

std::optional<std::string> StringTable::Lookup(std::string_view key) const {
    for (const Row& row : rows_) {
        if (row.first == key) return row.second;
    }
    return std::nullopt;
}

std::optional<std::string> StringTable::KeyOfValue(std::string_view value) const {
    for (const Row& row : rows_) {
        if (row.second == value) return row.first;
    }
    return std::nullopt;
}

void Tables::FillBuiltIn() {
    // Enumeration order: "Ovaline 2004" precedes "Ovaline Sketch 2004", so a search by id "201"
    // finds the main product.
    static const char* const kProducts[][2] = {
        {"Ovaline Kinetra 2004", "205"},
        {"Brennard Geoview 2004", "202"},
        {"Ovaline 2004", "201"},
        {"Brennard Spanwell 2004", "206"},
        {"Brennard Terrane 2004", "208"},
        {"Ovaline Sketch 2004", "201"},
        {"Brennard Frontwell 2004", "204"},
        {"Kinetra Studio 2004", "203"},
    };
    static const char* const kLocales[][2] = {
        {"nld", "413"}, {"fra", "40C"}, {"jpn", "411"}, {"csy", "405"}, {"fin", "40B"},
        {"enu", "409"}, {"kor", "412"}, {"chs", "804"}, {"cht", "404"}, {"ptb", "416"},
        {"plk", "415"}, {"rus", "419"}, {"nor", "414"}, {"dan", "406"}, {"grk", "408"},
        {"swe", "41D"}, {"hun", "40E"}, {"esp", "40A"}, {"ptg", "816"}, {"deu", "407"},
    };
    static const char* const kLanguages[][2] = {
        {"409", "English"},
        {"407", "German"},
        {"40C", "French"},
        {"40A", "Spanish"},
        {"415", "Polish"},
        {"40E", "Hungarian"},
        {"405", "Czech"},
        {"419", "Russian"},
        {"816", "Portuguese"},
        {"416", "Brazilian"},
        {"408", "Greek"},
        {"804", "Simplified Chinese"},
        {"404", "Traditional Chinese"},
        {"412", "Korean"},
        {"411", "Japanese"},
        {"41D", "Swedish"},
        {"406", "Danish"},
        {"40B", "Finish"},
        {"414", "Norwegian"},
        {"413", "Dutch"},
    };
    for (const auto& row : kProducts) productIds.Set(row[0], row[1]);
    for (const auto& row : kLocales) localeCodes.Set(row[0], row[1]);
    for (const auto& row : kLanguages) languageNames.Set(row[0], row[1]);
}

void Tables::UseSettingsProduct(std::string_view visibleProductName) {
    productIds.Clear();
    productIds.Set(visibleProductName, kSettingsProductId);
}

}  // namespace qv
