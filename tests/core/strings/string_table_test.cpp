#include "core/strings/string_table.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qm
