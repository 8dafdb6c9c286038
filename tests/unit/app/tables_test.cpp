#include "app/tables.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using Rows = std::vector<StringTable::Row>;

class TablesTest : public ::testing::Test {
  protected:
    void SetUp() override { tables.FillBuiltIn(); }
    Tables tables;
};

// Every row, in the order the tables enumerate them (the order folders are scanned in and a search
// by value sees).
TEST_F(TablesTest, BuiltInRowsInTheirFixedOrder) {
    const Rows products = {{"Ovaline Kinetra 2004", "205"},
                           {"Brennard Geoview 2004", "202"},
                           {"Ovaline 2004", "201"},
                           {"Brennard Spanwell 2004", "206"},
                           {"Brennard Terrane 2004", "208"},
                           {"Ovaline Sketch 2004", "201"},
                           {"Brennard Frontwell 2004", "204"},
                           {"Kinetra Studio 2004", "203"}};
    const Rows locales = {{"nld", "413"}, {"fra", "40C"}, {"jpn", "411"}, {"csy", "405"},
                          {"fin", "40B"}, {"enu", "409"}, {"kor", "412"}, {"chs", "804"},
                          {"cht", "404"}, {"ptb", "416"}, {"plk", "415"}, {"rus", "419"},
                          {"nor", "414"}, {"dan", "406"}, {"grk", "408"}, {"swe", "41D"},
                          {"hun", "40E"}, {"esp", "40A"}, {"ptg", "816"}, {"deu", "407"}};
    // Alike on purpose: the rows are written out again, so that a changed row of the code fails
    // here.
    const Rows languages = {{"409", "English"},
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
                            {"413", "Dutch"}};
    EXPECT_EQ(tables.productIds.Rows(), products);
    EXPECT_EQ(tables.localeCodes.Rows(), locales);
    EXPECT_EQ(tables.languageNames.Rows(), languages);
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
