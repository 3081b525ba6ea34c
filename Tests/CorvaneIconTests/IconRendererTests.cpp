#include "CorvaneIcon/IconRenderer.h"
#include "CorvaneIcon/IconShapes.h"
#include "Support/FakeWorkspace.h"
#include "TestSymbols.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Style = StubConfig::IconStyle;
using SymbolStyle = StubConfig::SymbolStyle;

IconSpec iconDescription(const QString& symbol, const IconColor& color, Style style,
                         SymbolStyle symbolStyle = SymbolStyle::Auto) {
    return IconSpec(symbol, color, symbolStyle, style);
}

// A pixel addressed y-up, as the layout is.
QColor pixelUp(const QImage& image, double x, double y) {
    return image.pixelColor(int(x), image.height() - 1 - int(y));
}

void expectRgb(const QColor& color, int red, int green, int blue, int tolerance = 2) {
    EXPECT_NEAR(color.red(), red, tolerance);
    EXPECT_NEAR(color.green(), green, tolerance);
    EXPECT_NEAR(color.blue(), blue, tolerance);
}

QImage opaqueBase(int side, QColor color = Qt::red) {
    QImage base(side, side, QImage::Format_ARGB32_Premultiplied);
    base.fill(color);
    return base;
}

class IconRendererTest : public testing::Test {
protected:
    test::TestSymbolsScope symbols;
};

TEST(IconLayout, WorkedRingExample) {
    const auto ring = IconLayout::ring(512);
    EXPECT_NEAR(ring.width, 455.68, 1e-9);
    EXPECT_NEAR(ring.outerRadius, 191.3856, 1e-9);
    EXPECT_NEAR(ring.innerRadius, 152.6528, 1e-9);
    EXPECT_NEAR(ring.symbolRadius, 132.1472, 1e-9);
    EXPECT_EQ(ring.centre, QPointF(256, 256));
    const QSizeF drawn = IconLayout::fittedSymbolSize(QSizeF(100, 100), 0.5, ring.symbolRadius, 0.94, false);
    EXPECT_NEAR(drawn.width(), 167.154, 0.001);
    EXPECT_NEAR(drawn.height(), 167.154, 0.001);
}

TEST(IconLayout, RingGapsStartAt64Pixels) {
    EXPECT_EQ(IconLayout::ring(63).gap, 0);
    EXPECT_EQ(IconLayout::ring(64).gap, 2);
}

TEST(IconLayout, BalanceGrowsLightSymbolsAndCapsTheGrowth) {
    const double r = 100;
    const double b = 2 * r / std::sqrt(2.0);
    // A light symbol (cover well below 0.3) grows by the largest factor, but never past 0.95 of the box.
    const QSizeF light = IconLayout::fittedSymbolSize(QSizeF(100, 100), 0.05, r, 0.54, false);
    EXPECT_NEAR(light.width(), std::min(b / 100 * 0.54 * 1.35, b / 100 * 0.95) * 100, 1e-9);
    // Between 0.3 and 0.4 the fit stands.
    const double fit = b / 100 * 0.54;
    const double density = 0.35 / (fit * 100 * fit * 100 / (b * b));
    EXPECT_NEAR(IconLayout::fittedSymbolSize(QSizeF(100, 100), density, r, 0.54, false).width(), fit * 100,
                1e-9);
    // Circle-enclosed symbols fill the circle; a degenerate ink still draws one pixel.
    EXPECT_NEAR(IconLayout::fittedSymbolSize(QSizeF(50, 100), 1, r, 0.54, true).height(), 200, 1e-9);
    EXPECT_EQ(IconLayout::fittedSymbolSize(QSizeF(1000, 1), 1, 1, 0.54, false).height(), 1);
}

TEST(IconLayout, WorkedBadgeExample) {
    const auto badge = IconLayout::badge(BadgePlacement::defaultPlacement(), 1024);
    EXPECT_NEAR(badge.centre.x(), 721.92, 1e-9);
    EXPECT_NEAR(badge.centre.y(), 302.08, 1e-9);
    EXPECT_NEAR(badge.ringRadius, 179.712, 1e-9);
    EXPECT_NEAR(badge.badgeRadius, 153.6, 1e-9);
    EXPECT_TRUE(badge.shadow);
    EXPECT_NEAR(badge.shadowBlur, 20.48, 1e-9);
    EXPECT_NEAR(badge.shadowOffset.y(), -6.144, 1e-9);
    EXPECT_EQ(badge.shadowOffset.x(), 0);
    EXPECT_NEAR(badge.pointSize, 172.032, 1e-9);
    EXPECT_EQ(badge.weight, SymbolWeight::Semibold);
    EXPECT_FALSE(IconLayout::badge(BadgePlacement::defaultPlacement(), 63).shadow);
    EXPECT_TRUE(IconLayout::badge(BadgePlacement::defaultPlacement(), 64).shadow);
}

TEST(IconLayout, SymbolWeightsBySize) {
    EXPECT_EQ(BadgeStyle::symbolWeight(31), SymbolWeight::Black);
    EXPECT_EQ(BadgeStyle::symbolWeight(32), SymbolWeight::Bold);
    EXPECT_EQ(BadgeStyle::symbolWeight(127), SymbolWeight::Bold);
    EXPECT_EQ(BadgeStyle::symbolWeight(128), SymbolWeight::Semibold);
}

TEST(IconRendererCircles, StripsWholeVariantTokensOnly) {
    for (const char* name : {"checkmark.circle.fill", "arrow.up.circle.fill", "circle.fill", "circle"})
        EXPECT_TRUE(IconRenderer::isCircleEnclosed(QString::fromLatin1(name))) << name;
    for (const char* name : {"briefcase.fill", "exclamationmark.triangle.fill", "clock.arrow.circlepath",
                             "fill", "circle.grid", ""})
        EXPECT_FALSE(IconRenderer::isCircleEnclosed(QString::fromLatin1(name))) << name;
}

TEST(IconRendererBadgeColour, SwitchesToTheDarkSymbolAt055) {
    EXPECT_EQ(BadgeStyle::symbolColor(*IconColor::fromHex("#C3C3C3"), SymbolStyle::Auto), IconColor::grey(1));
    EXPECT_EQ(BadgeStyle::symbolColor(*IconColor::fromHex("#C4C4C4"), SymbolStyle::Auto),
              IconColor::grey(0.12));
    EXPECT_EQ(BadgeStyle::symbolColor(IconColor::grey(0), SymbolStyle::Dark), IconColor::grey(0.12));
    EXPECT_EQ(BadgeStyle::symbolColor(IconColor::grey(1), SymbolStyle::Light), IconColor::grey(1));
}

TEST_F(IconRendererTest, OutsideTheRoundedSquareStaysTransparent) {
    for (Style style : {Style::Segments, Style::Ring}) {
        const QImage icon =
            IconRenderer::render(iconDescription("square.fill", IconColor::grey(0.1), style), 128);
        ASSERT_EQ(icon.size(), QSize(128, 128));
        for (QPoint corner : {QPoint(0, 0), QPoint(127, 0), QPoint(0, 127), QPoint(127, 127), QPoint(10, 10)})
            EXPECT_EQ(qAlpha(icon.pixel(corner)), 0) << corner.x() << "," << corner.y();
        EXPECT_EQ(qAlpha(icon.pixel(64, 3)), 0);
        EXPECT_EQ(qAlpha(icon.pixel(64, 10)), 255);
    }
    const QImage bleed = IconRenderer::render(
        iconDescription("square.fill", IconColor::grey(0.1), Style::Segments), 128, std::nullopt, true);
    EXPECT_EQ(qAlpha(bleed.pixel(0, 0)), 255);
}

TEST_F(IconRendererTest, SegmentsDrawTheWedgesTheDiscAndTheSymbolInTheBadgeColour) {
    const QImage icon = IconRenderer::render(
        iconDescription("square.fill", *IconColor::fromHex("#336699"), Style::Segments), 256);
    expectRgb(pixelUp(icon, 200, 200), 234, 67, 53); // upper right: red
    expectRgb(pixelUp(icon, 128, 25), 52, 168, 83);  // bottom: green
    expectRgb(pixelUp(icon, 50, 200), 251, 188, 4);  // upper left: yellow
    expectRgb(pixelUp(icon, 128, 128), 0x33, 0x66, 0x99);
    // On the white disc, outside the symbol's box.
    expectRgb(pixelUp(icon, 128 + 0.3738 * 256 - 6, 128), 255, 255, 255);
}

TEST_F(IconRendererTest, SegmentsDeepenOnlyPaleSymbolColoursAndIgnoreTheSymbolStyle) {
    const QImage pale =
        IconRenderer::render(iconDescription("square.fill", IconColor::grey(1), Style::Segments), 128);
    const IconColor deep = IconShapes::deepened(IconColor::grey(1), 0.72);
    expectRgb(pixelUp(pale, 64, 64), qRound(deep.red * 255), qRound(deep.green * 255),
              qRound(deep.blue * 255));
    const QImage light = IconRenderer::render(
        iconDescription("square.fill", *IconColor::fromHex("#DCDCDC"), Style::Segments, SymbolStyle::Dark),
        128);
    expectRgb(pixelUp(light, 64, 64), 0xDC, 0xDC, 0xDC);
}

TEST_F(IconRendererTest, RingSymbolColourFollowsTheSymbolStyle) {
    const IconColor yellow = *IconColor::fromHex("#FFEE88");
    const QImage autoStyle = IconRenderer::render(iconDescription("square.fill", yellow, Style::Ring), 128);
    const IconColor deep = IconShapes::deepened(yellow, 0.3);
    EXPECT_LE(IconShapes::luminance(deep), 0.3);
    expectRgb(pixelUp(autoStyle, 64, 64), qRound(deep.red * 255), qRound(deep.green * 255),
              qRound(deep.blue * 255));
    expectRgb(pixelUp(IconRenderer::render(
                          iconDescription("square.fill", yellow, Style::Ring, SymbolStyle::Light), 128),
                      64, 64),
              255, 255, 255);
    expectRgb(pixelUp(IconRenderer::render(
                          iconDescription("square.fill", yellow, Style::Ring, SymbolStyle::Dark), 128),
                      64, 64),
              31, 31, 31);
    // The field between ring and edge.
    expectRgb(pixelUp(autoStyle, 64, 12), 0xF2, 0xF1, 0xEC);
}

TEST_F(IconRendererTest, BadgeSitsOnTheBaseWithAWhiteRing) {
    const QImage icon = IconRenderer::render(
        iconDescription("square.fill", *IconColor::fromHex("#1F2124"), Style::Badge), 256, opaqueBase(256));
    const auto badge = IconLayout::badge(BadgePlacementSolver::placement(opaqueBase(256)), 256);
    expectRgb(pixelUp(icon, 20, 230), 255, 0, 0);
    expectRgb(pixelUp(icon, badge.centre.x(), badge.centre.y()), 255, 255,
              255); // white symbol on a dark badge
    const double between = (badge.badgeRadius + badge.ringRadius) / 2;
    expectRgb(pixelUp(icon, badge.centre.x() + between, badge.centre.y()), 255, 255, 255);
    const double onBadge = (badge.badgeRadius + badge.pointSize / 2) / 2 + 1;
    expectRgb(pixelUp(icon, badge.centre.x(), badge.centre.y() + onBadge), 0x1F, 0x21, 0x24);
}

TEST_F(IconRendererTest, UnknownSymbolsAreDrawnAsTheCircle) {
    // Measured as "circle.fill" but fitted as the plain symbol it is named: a disc in the symbol colour.
    const QImage icon = IconRenderer::render(
        iconDescription("no.such.symbol", *IconColor::fromHex("#336699"), Style::Ring), 128);
    expectRgb(pixelUp(icon, 64, 64), 0x33, 0x66, 0x99);
    const QImage badge = IconRenderer::render(
        iconDescription("no.such.symbol", IconColor::grey(0), Style::Badge), 128, opaqueBase(128));
    const auto layout = IconLayout::badge(BadgePlacementSolver::placement(opaqueBase(128)), 128);
    expectRgb(pixelUp(badge, layout.centre.x(), layout.centre.y()), 255, 255, 255);
}

TEST_F(IconRendererTest, BadgeWithoutChromeFailsAndPreviewsGiveNone) {
    IconRenderer::setChromeIconPathForTesting(QString());
    const IconSpec badge = iconDescription("square.fill", IconColor::grey(0), Style::Badge);
    try {
        IconRenderer::render(badge, 64);
        FAIL() << "rendered without Chrome's icon";
    } catch (const RenderError& error) {
        EXPECT_EQ(error.code(), RenderError::Code::chromeIconMissing);
        EXPECT_EQ(error.description(), "could not load Google Chrome's icon");
    }
    EXPECT_FALSE(IconRenderer::previewImage(badge, 64));
    IconRenderer::setChromeIconPathForTesting(std::nullopt);
}

TEST_F(IconRendererTest, PreviewsUseTheChromeIconFileWhenThereIsOne) {
    QTemporaryDir folder;
    const QString path = folder.filePath("chrome.png");
    ASSERT_TRUE(opaqueBase(128, Qt::blue).save(path));
    IconRenderer::setChromeIconPathForTesting(path);
    const auto preview =
        IconRenderer::previewImage(iconDescription("square.fill", IconColor::grey(0), Style::Badge), 64);
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->size(), QSize(128, 128));
    EXPECT_EQ(preview->deviceIndependentSize(), QSizeF(64, 64));
    expectRgb(preview->pixelColor(5, 5), 0, 0, 255);
    IconRenderer::setChromeIconPathForTesting(std::nullopt);
}

TEST_F(IconRendererTest, ThreadsRenderingAtOnceGetTheSameIcons) {
    const IconSpec icon = iconDescription("bar", *IconColor::fromHex("#884422"), Style::Ring);
    const QImage expected = IconRenderer::render(icon, 96);
    SymbolInk::forgetAll();
    std::vector<QImage> results(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = IconRenderer::render(icon, 96); });
    for (auto& thread : threads)
        thread.join();
    for (const QImage& result : results)
        EXPECT_EQ(result, expected);
}

TEST_F(IconRendererTest, OtherThreadsDrawTheChromeIconTheMainThreadLoaded) {
    // Chrome's icon lives in a bundle the workspace knows; only the main thread may ask the workspace.
    test::FakeWorkspaceScope scope;
    QVariantMap info = test::FakeWorkspace::info(QStringLiteral("com.google.Chrome"));
    info.insert(QStringLiteral("CFBundleIconFile"), QStringLiteral("chrome.png"));
    const QString chrome = scope.workspace().addApplication(QStringLiteral("Google Chrome"), info);
    QDir().mkpath(chrome + QStringLiteral("/Contents/Resources"));
    ASSERT_TRUE(opaqueBase(128, Qt::blue).save(chrome + QStringLiteral("/Contents/Resources/chrome.png")));
    const IconSpec badge = iconDescription("square.fill", IconColor::grey(0), Style::Badge);

    auto renderOnThreads = [&] {
        std::vector<std::optional<QImage>> results(6);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < results.size(); ++i)
            threads.emplace_back([&, i] { results[i] = IconRenderer::previewImage(badge, 32); });
        for (auto& thread : threads)
            thread.join();
        return results;
    };
    // Before the main thread has loaded it, a badge drawn elsewhere has no base and fails.
    for (const auto& result : renderOnThreads())
        EXPECT_FALSE(result);

    ASSERT_TRUE(IconRenderer::chromeBaseImage());
    for (const auto& result : renderOnThreads()) {
        ASSERT_TRUE(result);
        expectRgb(result->pixelColor(3, 3), 0, 0, 255);
    }

    // A base handed in is drawn whichever thread renders.
    std::optional<QImage> given;
    std::thread([&] { given = IconRenderer::previewImage(badge, 32, opaqueBase(64, Qt::green)); }).join();
    ASSERT_TRUE(given);
    expectRgb(given->pixelColor(3, 3), 0, 255, 0);
    IconRenderer::setChromeIconPathForTesting(std::nullopt);
}

} // namespace
