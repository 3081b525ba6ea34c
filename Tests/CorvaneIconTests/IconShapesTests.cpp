#include "CorvaneIcon/IconShapes.h"

#include <gtest/gtest.h>

namespace {

double luminanceOf(const char* hex) {
    return IconShapes::luminance(*IconColor::fromHex(QString::fromLatin1(hex)));
}

TEST(IconShapesLuminance, MatchesTheThresholdExamples) {
    EXPECT_DOUBLE_EQ(luminanceOf("#FFFFFF"), 1.0);
    EXPECT_DOUBLE_EQ(luminanceOf("#000000"), 0.0);
    EXPECT_NEAR(luminanceOf("#EA4335"), 0.218, 0.0005);
    EXPECT_NEAR(luminanceOf("#C3C3C3"), 0.546, 0.0005);
    EXPECT_NEAR(luminanceOf("#C4C4C4"), 0.552, 0.0005);
    EXPECT_NEAR(luminanceOf("#FBBC04"), 0.564, 0.001);
    EXPECT_LT(luminanceOf("#DCDCDC"), 0.72);
    EXPECT_GT(luminanceOf("#DDDDDD"), 0.72);
    // Alpha plays no part.
    EXPECT_DOUBLE_EQ(IconShapes::luminance(IconColor::rgb(0.2, 0.4, 0.6, 0.1)),
                     IconShapes::luminance(IconColor::rgb(0.2, 0.4, 0.6, 1)));
}

TEST(IconShapesDeepened, WhiteTakesTwoStepsTowardsAFaintRed) {
    const IconColor deep = IconShapes::deepened(IconColor::grey(1), 0.72);
    const auto hsb = deep.hsb();
    EXPECT_NEAR(hsb.brightness, 0.8464, 1e-12);
    EXPECT_NEAR(hsb.saturation, 0.042, 1e-12);
    EXPECT_NEAR(hsb.hue, 0, 1e-12);
    EXPECT_NEAR(IconShapes::luminance(deep), 0.64, 0.01);
    EXPECT_EQ(deep.alpha, 1);
}

TEST(IconShapesDeepened, AColourAlreadyDarkEnoughComesBackUnchanged) {
    const IconColor dark = IconColor::rgb(0.1, 0.2, 0.3, 0.5);
    EXPECT_EQ(IconShapes::deepened(dark, 0.72), dark);
}

TEST(IconShapesDeepened, StopsAfterFortySteps) {
    // Forty steps of 8 % leave about 3.6 % of the brightness: never below a limit of 0.
    const IconColor deep = IconShapes::deepened(IconColor::grey(1), 0.0);
    EXPECT_NEAR(deep.hsb().brightness, std::pow(0.92, 40), 1e-12);
    EXPECT_GT(IconShapes::luminance(deep), 0);
}

TEST(IconShapesSquircle, FillsItsRectStretchedOnEachAxis) {
    const QRectF rect(10, 20, 200, 100);
    const QPainterPath path = IconShapes::squircle(rect, 5);
    const QRectF bounds = path.boundingRect();
    EXPECT_NEAR(bounds.left(), 10, 1e-9);
    EXPECT_NEAR(bounds.right(), 210, 1e-9);
    EXPECT_NEAR(bounds.top(), 20, 1e-9);
    EXPECT_NEAR(bounds.bottom(), 120, 1e-9);
    // Strongly rounded corners: the corner itself is outside, a point well inside the rounding is in.
    EXPECT_FALSE(path.contains(QPointF(209, 119)));
    EXPECT_TRUE(path.contains(QPointF(195, 110)));
    EXPECT_EQ(path.elementCount(), 722);
}

TEST(IconShapesWedges, CoverTheCircleClockwiseInThirds) {
    const auto& wedges = IconShapes::wedges();
    ASSERT_EQ(wedges.size(), 3u);
    EXPECT_EQ(wedges[0].color, IconShapes::chromeRed);
    EXPECT_EQ(wedges[0].start, 90);
    EXPECT_EQ(wedges[1].color, IconShapes::chromeGreen);
    EXPECT_EQ(wedges[1].start, -30);
    EXPECT_EQ(wedges[2].color, IconShapes::chromeYellow);
    EXPECT_EQ(wedges[2].start, -150);
}

TEST(IconShapesArcs, RunClockwiseOrCounterClockwiseBetweenTheirEnds) {
    const auto clockwise = IconShapes::arcPoints(QPointF(0, 0), 10, 90, -30, true);
    EXPECT_NEAR(clockwise.front().x(), 0, 1e-9);
    EXPECT_NEAR(clockwise.front().y(), 10, 1e-9);
    EXPECT_NEAR(clockwise.back().x(), 10 * std::cos(-M_PI / 6), 1e-9);
    EXPECT_NEAR(clockwise.back().y(), -5, 1e-9);
    // Clockwise from the top passes the right-hand side (angle 0), not the left.
    const QPointF middle = clockwise[clockwise.size() / 2];
    EXPECT_GT(middle.x(), 0);
    const auto counter = IconShapes::arcPoints(QPointF(0, 0), 10, -30, 90, false);
    EXPECT_GT(counter[counter.size() / 2].x(), 0);
}

} // namespace
