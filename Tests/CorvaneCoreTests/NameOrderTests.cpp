#include "CorvaneCore/Foundation/NameOrder.h"

#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

QStringList sorted(QStringList names) {
    std::stable_sort(names.begin(), names.end(), NameOrder::less);
    return names;
}

TEST(NameOrder, ComparesCharacterByCharacterWithDigitRunsByValue) {
    // A space sorts before a digit, and both before letters, wherever they stand.
    EXPECT_LT(NameOrder::compare("Beta 1", "Beta2"), 0);
    EXPECT_LT(NameOrder::compare("a b", "a1"), 0);
    EXPECT_LT(NameOrder::compare("a1", "ab"), 0);
    EXPECT_EQ(sorted({"Profile 10", "Profile 9", "Profile 1", "Profile"}),
              QStringList({"Profile", "Profile 1", "Profile 9", "Profile 10"}));
    EXPECT_EQ(sorted({"x10y2", "x9y10", "x10y1", "x9y9"}), QStringList({"x9y9", "x9y10", "x10y1", "x10y2"}));
    EXPECT_EQ(sorted({"Beta", "App 10", "app 2"}), QStringList({"app 2", "App 10", "Beta"}));
    EXPECT_EQ(NameOrder::compare("Work 007", "Work 7"), 0);
}

TEST(NameOrder, IgnoresCaseAndLetsAccentsDecideOnlyBetweenOtherwiseEqualNames) {
    EXPECT_EQ(NameOrder::compare("ÉCOLE", "école"), 0);
    EXPECT_LT(NameOrder::compare("apple", "Banana"), 0);
    EXPECT_LT(NameOrder::compare("éa", "eb"), 0);
    EXPECT_LT(NameOrder::compare("e", "é"), 0);
    // A decomposed accent is the same letter as the composed one.
    EXPECT_EQ(
        NameOrder::compare(QString::fromUtf8("e\xCC\x81t\xC3\xA9"), QString::fromUtf8("\xC3\xA9t\xC3\xA9")),
        0);
    EXPECT_EQ(NameOrder::compare("", ""), 0);
    EXPECT_LT(NameOrder::compare("", "a"), 0);
}

} // namespace
