#include "core/strings/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qm {
namespace {

TEST(StringTable, FrenchTextsAreBuiltIn) {
    StringTable table;
    EXPECT_EQ(table.text(1000), "Icon");
    EXPECT_EQ(table.text(1006), "Polynôme, type A");
    EXPECT_EQ(table.text(1010), "Unravel");
    EXPECT_EQ(table.text(1801), "Niveau");
    EXPECT_EQ(table.text(424242), "");
}

TEST(StringTable, OverridesFallBackToFrenchForMissingTexts) {
    StringTable table;
    table.setOverrides({{1801, "Level"}});
    EXPECT_EQ(table.text(1801), "Level");
    EXPECT_EQ(table.text(1009), "Polynôme Sprott");
    EXPECT_EQ(StringTable::builtinText(1801), "Niveau");
    table.clearOverrides();
    EXPECT_EQ(table.text(1801), "Niveau");
}

TEST(StringTable, FileKeywordsNeverChangeAndOldTextsStayValid) {
    StringTable table;
    EXPECT_TRUE(table.isFrench());
    const std::string& french = table.text(2002);
    table.setOverrides({{2002, "Light"}, {2400, "attracteur"}, {1403, "lorenz"}, {1402, "Julia"}});
    EXPECT_FALSE(table.isFrench());
    EXPECT_EQ(table.text(2002), "Light");
    EXPECT_EQ(table.text(2400), "attractor");
    EXPECT_EQ(table.text(1402), "julia");
    EXPECT_EQ(french, "Lumière");  // handed out before the change
    const std::string& english = table.text(2002);
    table.clearOverrides();
    EXPECT_TRUE(table.isFrench());
    EXPECT_EQ(english, "Light");
    EXPECT_EQ(table.text(2002), "Lumière");

    EXPECT_TRUE(StringTable::isFileKeyword(1400) && StringTable::isFileKeyword(2405));
    EXPECT_FALSE(StringTable::isFileKeyword(1010) || StringTable::isFileKeyword(1801));
    const auto ids = StringTable::builtinIds();
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(ids.front(), 1000);
}

}  // namespace
}  // namespace qm
