#include "CorvaneIcon/IconColor.h"
#include "CorvaneIcon/IconSpec.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

void expectColor(const std::optional<IconColor>& color, int red, int green, int blue, double alpha = 1) {
    ASSERT_TRUE(color.has_value());
    EXPECT_DOUBLE_EQ(color->red, red / 255.0);
    EXPECT_DOUBLE_EQ(color->green, green / 255.0);
    EXPECT_DOUBLE_EQ(color->blue, blue / 255.0);
    EXPECT_DOUBLE_EQ(color->alpha, alpha);
}

TEST(IconColorHex, ReadsSixDigitsInEverySpelling) {
    expectColor(IconColor::fromHex("#1F2124"), 31, 33, 36);
    expectColor(IconColor::fromHex("1F2124"), 31, 33, 36);
    expectColor(IconColor::fromHex("#1f2124"), 31, 33, 36);
    expectColor(IconColor::fromHex(" \t#1F2124\n "), 31, 33, 36);
}

TEST(IconColorHex, ReadsEightDigitsWithAlphaFirst) {
    expectColor(IconColor::fromHex("#80FF0000"), 255, 0, 0, 128 / 255.0);
}

TEST(IconColorHex, RejectsTextThatIsNoColour) {
    for (const char* text : {"##1F2124", "#FFF", "#FFFFF", "#FFFFFFF", "#FFFFFFFFF", "#1F212G", "", "#", "  ",
                             "#1F2124 x", "#-1F212"})
        EXPECT_FALSE(IconColor::fromHex(QString::fromUtf8(text))) << text;
}

TEST(IconColorHex, ToleratesALeadingPlusAsTheNumberParseDoes) {
    expectColor(IconColor::fromHex("+1F212"), 1, 242, 18);
    expectColor(IconColor::fromHex("-00000"), 0, 0, 0);
}

TEST(IconColorHex, WritesUpperCaseAndRoundsHalvesUp) {
    EXPECT_EQ(IconColor::fromHex("#1f2124")->hexString(), "#1F2124");
    EXPECT_EQ(IconColor::rgb(0.5, 0, 1).hexString(), "#8000FF");
    EXPECT_EQ(IconColor::fromHex("#80AB12CD")->hexString(), "#AB12CD");
}

TEST(IconColorHex, EveryByteRoundTrips) {
    for (int value = 0; value < 256; ++value) {
        const QString text = QStringLiteral("#%1%2%3")
                                 .arg(value, 2, 16, QLatin1Char('0'))
                                 .arg(255 - value, 2, 16, QLatin1Char('0'))
                                 .arg(value / 2, 2, 16, QLatin1Char('0'))
                                 .toUpper();
        EXPECT_EQ(IconColor::fromHex(text)->hexString(), text);
    }
}

TEST(IconColorHex, ClampsComponentsOutsideTheRangeSoTheTextReadsBack) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(IconColor::rgb(1.2, -0.3, nan).hexString(), "#FF0000");
    EXPECT_TRUE(IconColor::fromHex(IconColor::rgb(7, -7, 0.5).hexString()));
}

TEST(IconColorChromeHighlight, OpaqueColourUnlessTheAlphaByteIsZero) {
    expectColor(IconColor::fromChromeHighlight(0xFF336699), 51, 102, 153);
    expectColor(IconColor::fromChromeHighlight(0x80336699), 51, 102, 153);
    EXPECT_FALSE(IconColor::fromChromeHighlight(0x00336699));
    // Chrome stores the value as a signed 32-bit number.
    expectColor(IconColor::fromChromeHighlight(qint64(qint32(0xFF336699u))), 51, 102, 153);
}

TEST(IconColorHSB, RoundTripsThroughHueSaturationAndBrightness) {
    const IconColor color = IconColor::rgb(0.918, 0.263, 0.208);
    const auto hsb = color.hsb();
    const IconColor back = IconColor::fromHSB(hsb.hue, hsb.saturation, hsb.brightness);
    EXPECT_NEAR(back.red, color.red, 1e-12);
    EXPECT_NEAR(back.green, color.green, 1e-12);
    EXPECT_NEAR(back.blue, color.blue, 1e-12);
}

TEST(IconSpecFromConfig, TakesTheStoredChoicesAndBlackForAnUnreadableColour) {
    StubConfig config(QStringLiteral("Profile 1"), QStringLiteral("Work"));
    config.symbolName = QStringLiteral("briefcase.fill");
    config.badgeColorHex = QStringLiteral("#336699");
    config.iconStyle = StubConfig::IconStyle::Ring;
    config.symbolStyle = StubConfig::SymbolStyle::Dark;
    EXPECT_EQ(IconSpec(config), IconSpec(QStringLiteral("briefcase.fill"), *IconColor::fromHex("#336699"),
                                         StubConfig::SymbolStyle::Dark, StubConfig::IconStyle::Ring));
    config.badgeColorHex = QStringLiteral("blue");
    EXPECT_EQ(IconSpec(config).badgeColor, IconColor::rgb(0, 0, 0));
}

} // namespace
