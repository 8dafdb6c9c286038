#include "app/tables.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

std::vector<std::string> Keys(const StringTable& table) {
    std::vector<std::string> keys;
    for (const auto& row : table.Rows()) keys.push_back(row.first);
    return keys;
}

class TablesTest : public ::testing::Test {
  protected:
    void SetUp() override { tables.FillBuiltIn(); }
    Tables tables;
};

TEST_F(TablesTest, EnumerateInTheirFixedOrder) {
    EXPECT_EQ(Keys(tables.productIds),
              (std::vector<std::string>{"Ovaline Kinetra 2004", "Brennard Geoview 2004",
                                        "Ovaline 2004", "Brennard Spanwell 2004",
                                        "Brennard Terrane 2004", "Ovaline Sketch 2004",
                                        "Brennard Frontwell 2004", "Kinetra Studio 2004"}));
    EXPECT_EQ(Keys(tables.localeCodes),
              (std::vector<std::string>{"nld", "fra", "jpn", "csy", "fin", "enu", "kor",
                                        "chs", "cht", "ptb", "plk", "rus", "nor", "dan",
                                        "grk", "swe", "hun", "esp", "ptg", "deu"}));
}

TEST_F(TablesTest, EveryLanguageCodeHasALanguageName) {
    EXPECT_EQ(tables.languageNames.Size(), 20u);
    for (const auto& row : tables.localeCodes.Rows()) {
        EXPECT_TRUE(tables.languageNames.Lookup(row.second).has_value()) << row.first;
    }
    EXPECT_EQ(tables.localeCodes.Lookup("ptg"), "816");
    EXPECT_EQ(tables.languageNames.Lookup("816"), "Portuguese");
    EXPECT_EQ(tables.languageNames.Lookup("40B"), "Finish");
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
