// The live icon preview and the style thumbnails: renders after the settle delay, off the main thread, the
// newest description winning.
#include "Corvane/Views/Editor/IconPreviewView.h"
#include "Corvane/Views/Editor/IconStylePicker.h"
#include "IconViewsSupport.h"
#include "Support/VirtualTime.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Style = StubConfig::IconStyle;

IconSpec iconOf(const QString& symbol, const QString& hex, Style style = Style::Segments) {
    return IconSpec(symbol, *IconColor::fromHex(hex), StubConfig::SymbolStyle::Auto, style);
}

class IconPreviewTest : public testing::Test {
protected:
    test::VirtualTimeScope time;
    test::RecordingRenderer renderer;

    static bool shows(const IconPreviewView& view, const QString& hex) {
        for (const int points : {128, 32, 16})
            if (test::RecordingRenderer::colourOf(view.shownImage(points)) != QColor(hex))
                return false;
        return true;
    }
    static bool showsPlaceholders(const IconPreviewView& view) {
        return view.shownImage(128).isNull() && view.shownImage(32).isNull() && view.shownImage(16).isNull();
    }
};

TEST_F(IconPreviewTest, ABurstOfChangesRendersOnceAfterTheSettleDelayLargestFirst) {
    IconPreviewView view;
    view.setSpec(iconOf("star", "#FF0000"));
    view.show();
    time->advance(0.1);
    view.setSpec(iconOf("star", "#0000FF"));
    time->advance(0.1);
    test::RecordingRenderer::settle(time.time());
    EXPECT_TRUE(renderer.calls().empty());
    EXPECT_TRUE(showsPlaceholders(view));

    time->advance(0.05);
    ASSERT_TRUE(time->runUntil([&] { return shows(view, "#0000FF"); }));
    const auto calls = renderer.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].points, 128);
    EXPECT_EQ(calls[1].points, 32);
    EXPECT_EQ(calls[2].points, 16);
    for (const auto& call : calls)
        EXPECT_EQ(call.spec, iconOf("star", "#0000FF"));
    EXPECT_EQ(view.shownImage(128).deviceIndependentSize(), QSizeF(128, 128));

    // The same description again renders nothing new.
    view.setSpec(iconOf("star", "#0000FF"));
    time->advance(1);
    test::RecordingRenderer::settle(time.time());
    EXPECT_EQ(renderer.calls().size(), 3u);
}

TEST_F(IconPreviewTest, ARenderOvertakenByANewerDescriptionIsDroppedAndTheOldIconStaysMeanwhile) {
    IconPreviewView view;
    view.show();
    view.setSpec(iconOf("car", "#00FF00"));
    time->advance(0.15);
    ASSERT_TRUE(time->runUntil([&] { return shows(view, "#00FF00"); }));

    renderer.hold("star");
    view.setSpec(iconOf("star", "#FF0000"));
    time->advance(0.15);
    ASSERT_TRUE(time->runUntil([&] {
        return !renderer.rendered(128).empty() && renderer.rendered(128).back().symbolName == "star";
    }));
    // While the slow render runs, the previous icon stays on screen.
    EXPECT_TRUE(shows(view, "#00FF00"));

    view.setSpec(iconOf("globe", "#0000FF"));
    time->advance(0.15);
    ASSERT_TRUE(time->runUntil([&] { return shows(view, "#0000FF"); }));
    renderer.release();
    test::RecordingRenderer::settle(time.time());
    EXPECT_TRUE(shows(view, "#0000FF"));
    EXPECT_EQ(renderer.rendered(16).size(),
              3u); // the slow render ran to its end; only its result was dropped
}

TEST_F(IconPreviewTest, AFailedRenderShowsThePlaceholdersNotTheEarlierIcon) {
    IconPreviewView view;
    view.show();
    view.setSpec(iconOf("car", "#00FF00"));
    time->advance(0.15);
    ASSERT_TRUE(time->runUntil([&] { return shows(view, "#00FF00"); }));

    renderer.failFor("no.such.symbol");
    view.setSpec(iconOf("no.such.symbol", "#00FF00", Style::Badge));
    time->advance(0.15);
    ASSERT_TRUE(time->runUntil([&] { return showsPlaceholders(view); }));
}

TEST_F(IconPreviewTest, AViewOffScreenDropsItsPendingRenderAndRendersAgainWhenShown) {
    IconPreviewView view;
    view.show();
    view.setSpec(iconOf("car", "#00FF00"));
    time->advance(0.1);
    view.hide();
    time->advance(1);
    test::RecordingRenderer::settle(time.time());
    EXPECT_TRUE(renderer.calls().empty());

    view.show();
    time->advance(0.15);
    ASSERT_TRUE(time->runUntil([&] { return shows(view, "#00FF00"); }));
}

TEST_F(IconPreviewTest, ThumbnailsRenderEachStyleAndOnlyThoseWhoseDescriptionChanged) {
    IconStylePicker picker;
    QColor badge("#123456");
    auto specs = [&](Style style) {
        // The badge thumbnail alone keeps its colour, as a caller may decide.
        return iconOf("star", style == Style::Badge ? "#AA0000" : badge.name(), style);
    };
    picker.setSpecs(specs);
    picker.show();
    time->advance(0.12);
    ASSERT_TRUE(time->runUntil([&] {
        return !picker.thumbnailImage(Style::Segments).isNull() &&
               !picker.thumbnailImage(Style::Ring).isNull() && !picker.thumbnailImage(Style::Badge).isNull();
    }));
    ASSERT_EQ(renderer.rendered(64).size(), 3u);
    EXPECT_EQ(test::RecordingRenderer::colourOf(picker.thumbnailImage(Style::Badge)), QColor("#AA0000"));

    badge = QColor("#654321");
    picker.setSpecs(specs);
    time->advance(0.12);
    ASSERT_TRUE(time->runUntil([&] {
        return test::RecordingRenderer::colourOf(picker.thumbnailImage(Style::Ring)) == QColor("#654321");
    }));
    test::RecordingRenderer::settle(time.time());
    EXPECT_EQ(renderer.rendered(64).size(), 5u);
    EXPECT_EQ(test::RecordingRenderer::colourOf(picker.thumbnailImage(Style::Segments)), QColor("#654321"));
}

TEST_F(IconPreviewTest, ClickingAThumbnailAsksForItsStyleAndTheHighlightFollowsTheSelectionOnly) {
    IconStylePicker picker;
    picker.setSelection(Style::Ring);
    picker.show();
    QSignalSpy clicked(&picker, &IconStylePicker::styleClicked);
    auto* badge = picker.findChild<QAbstractButton*>("iconStyle:badge");
    auto* ring = picker.findChild<QAbstractButton*>("iconStyle:ring");
    ASSERT_TRUE(badge && ring);
    EXPECT_EQ(badge->accessibleName(), "Corner badge");

    QTest::mouseClick(badge, Qt::LeftButton);
    ASSERT_EQ(clicked.size(), 1);
    EXPECT_EQ(clicked[0][0].value<Style>(), Style::Badge);
    EXPECT_TRUE(ring->isChecked()); // until the editor says otherwise
    EXPECT_FALSE(badge->isChecked());

    QTest::mouseClick(ring, Qt::LeftButton);
    EXPECT_EQ(clicked.size(), 2);
    EXPECT_TRUE(ring->isChecked());
}

} // namespace
