#include "app/tables.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace qv {
namespace {

using Rows = std::vector<StringTable::Row>;

class TablesTest : public ::testing::Test {
  protected:
    void SetUp() override { tables.FillBuiltIn(); }
    Tables tables;
};

// Every row, in the order the tables enumerate them (the order folders are scanned in and a search
// by value sees), and the language each locale id is named by.
TEST_F(TablesTest, BuiltInRowsInTheirFixedOrder) {
    // The products as "name = id", one a line.
    const std::string products = R"(Ovaline Kinetra 2004 = 205
Brennard Geoview 2004 = 202
Ovaline 2004 = 201
Brennard Spanwell 2004 = 206
Brennard Terrane 2004 = 208
Ovaline Sketch 2004 = 201
Brennard Frontwell 2004 = 204
Kinetra Studio 2004 = 203
)";
    std::string productRows;
    for (const auto& [name, id] : tables.productIds.Rows()) productRows += name + " = " + id + "\n";
    EXPECT_EQ(productRows, products);
    // Each locale folder name with its locale id and the language named for that id, in the
    // order the folders are scanned in.
    struct Locale {
        const char* code;
        const char* id;
        const char* language;
    };
    const Locale locales[] = {
        {"nld", "413", "Dutch"},
        {"fra", "40C", "French"},
        {"jpn", "411", "Japanese"},
        {"csy", "405", "Czech"},
        {"fin", "40B", "Finish"},
        {"enu", "409", "English"},
        {"kor", "412", "Korean"},
        {"chs", "804", "Simplified Chinese"},
        {"cht", "404", "Traditional Chinese"},
        {"ptb", "416", "Brazilian"},
        {"plk", "415", "Polish"},
        {"rus", "419", "Russian"},
        {"nor", "414", "Norwegian"},
        {"dan", "406", "Danish"},
        {"grk", "408", "Greek"},
        {"swe", "41D", "Swedish"},
        {"hun", "40E", "Hungarian"},
        {"esp", "40A", "Spanish"},
        {"ptg", "816", "Portuguese"},
        {"deu", "407", "German"},
    };
    Rows localeRows;
    for (const Locale& locale : locales) {
        localeRows.emplace_back(locale.code, locale.id);
        EXPECT_EQ(tables.languageNames.Lookup(locale.id), locale.language) << locale.id;
    }
    EXPECT_EQ(tables.localeCodes.Rows(), localeRows);
    EXPECT_EQ(tables.languageNames.Size(), std::size(locales));
}

TEST_F(TablesTest, LookupsAreCaseSensitive) {
    EXPECT_EQ(tables.languageNames.Lookup("40C"), "French");
    EXPECT_FALSE(tables.languageNames.Lookup("40c").has_value());
    EXPECT_FALSE(tables.localeCodes.Lookup("ENU").has_value());
    EXPECT_FALSE(tables.productIds.Lookup("ovaline 2004").has_value());
}

TEST_F(TablesTest, SearchByIdFindsTheMainProductFirst) {
    EXPECT_EQ(tables.productIds.KeyOfValue("201"), "Ovaline 2004");
    EXPECT_EQ(tables.productIds.KeyOfValue("208"), "Brennard Terrane 2004");
    EXPECT_FALSE(tables.productIds.KeyOfValue("207").has_value());
    EXPECT_FALSE(tables.productIds.KeyOfValue("20").has_value());
}

TEST_F(TablesTest, SettingsModeKeepsOnlyTheSettingsProduct) {
    tables.UseSettingsProduct("Ovaline LT 2004");
    ASSERT_EQ(tables.productIds.Size(), 1u);
    EXPECT_EQ(tables.productIds.KeyOfValue("6"), "Ovaline LT 2004");
    EXPECT_FALSE(tables.productIds.KeyOfValue("201").has_value());
    EXPECT_EQ(tables.localeCodes.Size(), 20u);
}

}  // namespace
}  // namespace qv
