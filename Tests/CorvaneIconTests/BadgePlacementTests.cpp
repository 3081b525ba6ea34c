#include "CorvaneIcon/BadgePlacement.h"
#include "TestSymbols.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace {

QImage filled(int side, QColor color) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

void expectPlacement(const BadgePlacement& placement, QPointF centre, double diameter, double ring,
                     double tolerance = 1e-5) {
    EXPECT_NEAR(placement.centre.x(), centre.x(), tolerance);
    EXPECT_NEAR(placement.centre.y(), centre.y(), tolerance);
    EXPECT_NEAR(placement.diameter, diameter, tolerance);
    EXPECT_NEAR(placement.ring, ring, tolerance);
}

TEST(BadgePlacementSolver, AFullyOpaqueIconTakesTheFirstDiameterAtTheFourthStep) {
    // m = 255: d = 91.8, ring 7.803; t = 3 steps of 2.55 moves the centre to 255 - 53.703 - 7.65.
    const double centre = 255 - (45.9 + 7.803) - 7.65;
    expectPlacement(BadgePlacementSolver::solve(filled(512, Qt::red)),
                    QPointF(centre / 256, 1 - centre / 256), 91.8 / 256, 7.803 / 256, 1e-9);
    expectPlacement(BadgePlacementSolver::solve(filled(512, Qt::red)), QPointF(0.75643, 0.24357), 0.35859,
                    0.03048);
}

TEST(BadgePlacementSolver, FallsBackToTheDefaultPlacement) {
    const BadgePlacement fallback = BadgePlacement::defaultPlacement();
    expectPlacement(fallback, QPointF(0.705, 0.295), 0.3, 0.0255, 0);
    EXPECT_EQ(BadgePlacementSolver::solve(filled(256, Qt::transparent)), fallback);
    EXPECT_EQ(BadgePlacementSolver::solve(QImage()), fallback);
    // A single opaque column or row has no box.
    QImage column = filled(256, Qt::transparent);
    QPainter(&column).fillRect(100, 0, 1, 256, Qt::black);
    EXPECT_EQ(BadgePlacementSolver::solve(column), fallback);
    // Semi-transparent pixels (alpha 200 and below) do not count as opaque.
    EXPECT_EQ(BadgePlacementSolver::solve(filled(256, QColor(0, 0, 0, 200))), fallback);
}

TEST(BadgePlacementSolver, MovesInwardsOnARoundIcon) {
    QImage disc = filled(256, Qt::transparent);
    {
        QPainter painter(&disc);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::black);
        painter.drawEllipse(QRectF(8, 8, 240, 240));
    }
    const BadgePlacement placement = BadgePlacementSolver::solve(disc);
    EXPECT_NE(placement, BadgePlacement::defaultPlacement());
    // Lower right of the centre, but pulled well inside the box's corner.
    EXPECT_GT(placement.centre.x(), 0.5);
    EXPECT_LT(placement.centre.y(), 0.5);
    EXPECT_LT(placement.centre.x() + placement.outerRadius(), 248.0 / 256);
}

TEST(BadgePlacementSolver, CachesByPictureNotByObject) {
    const QImage first = filled(64, Qt::blue);
    const int before = BadgePlacementSolver::solveCount();
    const BadgePlacement placement = BadgePlacementSolver::placement(first);
    EXPECT_EQ(BadgePlacementSolver::placement(first), placement);
    // Another image holding the same picture is the same key; a different picture is solved on its own.
    EXPECT_EQ(BadgePlacementSolver::placement(filled(64, Qt::blue)), placement);
    EXPECT_EQ(BadgePlacementSolver::solveCount(), before + 1);
    EXPECT_EQ(BadgePlacementSolver::placement(filled(64, Qt::transparent)),
              BadgePlacement::defaultPlacement());
    EXPECT_EQ(BadgePlacementSolver::solveCount(), before + 2);
}

TEST(BadgePlacementSolver, CacheStaysBounded) {
    // Many different pictures, then the first again: it was evicted, so it is solved anew.
    const int before = BadgePlacementSolver::solveCount();
    for (int i = 0; i < BadgePlacementSolver::cacheCapacity + 2; ++i)
        BadgePlacementSolver::placement(filled(32, QColor(i, 0, 0)));
    BadgePlacementSolver::placement(filled(32, QColor(0, 0, 0)));
    EXPECT_EQ(BadgePlacementSolver::solveCount(), before + BadgePlacementSolver::cacheCapacity + 3);
}

TEST(SymbolInk, BoxIsInclusiveAndDensityCountsAlpha) {
    QImage canvas = filled(256, Qt::transparent);
    canvas.setPixelColor(10, 20, QColor(0, 0, 0, 51));
    auto ink = SymbolInk::inkOf(canvas);
    ASSERT_TRUE(ink);
    EXPECT_EQ(ink->size, QSizeF(1, 1));
    EXPECT_NEAR(ink->density, 0.2, 1e-9);
    // At most alpha 16 is no ink.
    canvas.setPixelColor(10, 20, QColor(0, 0, 0, 16));
    EXPECT_FALSE(SymbolInk::inkOf(canvas));
    canvas.setPixelColor(10, 20, QColor(0, 0, 0, 255));
    canvas.setPixelColor(19, 20, QColor(0, 0, 0, 255));
    ink = SymbolInk::inkOf(canvas);
    ASSERT_TRUE(ink);
    EXPECT_EQ(ink->size, QSizeF(10, 1));
    EXPECT_NEAR(ink->density, 0.2, 1e-9);
}

TEST(SymbolInk, MeasuresOncePerNameAndWeight) {
    test::TestSymbolsScope scope;
    const auto square = SymbolInk::measure("square.fill", SymbolWeight::Bold);
    ASSERT_TRUE(square);
    // The square is 159 pixels (158.72 points rounded up) and fully inked.
    EXPECT_EQ(square->size, QSizeF(159, 159));
    EXPECT_NEAR(square->density, 1, 1e-9);
    SymbolInk::measure("square.fill", SymbolWeight::Bold);
    EXPECT_EQ(scope.symbols->made, 1);
    SymbolInk::measure("square.fill", SymbolWeight::Black);
    EXPECT_EQ(scope.symbols->made, 2);
}

TEST(SymbolInk, UnknownNamesAreMeasuredAsTheCircle) {
    test::TestSymbolsScope scope;
    const auto unknown = SymbolInk::measure("no.such.symbol", SymbolWeight::Semibold);
    const auto circle = SymbolInk::measure("circle.fill", SymbolWeight::Semibold);
    ASSERT_TRUE(unknown && circle);
    EXPECT_EQ(unknown->size, circle->size);
    EXPECT_EQ(unknown->image, circle->image);
}

TEST(SymbolInk, NothingToMeasureIsNotCached) {
    struct NoSymbols final : SymbolImageSource {
        std::optional<QImage> image(const QString&, double, SymbolWeight) const override {
            return std::nullopt;
        }
        bool canRender(const QString&) const override { return false; }
    };
    setSymbolImageSource(std::make_shared<NoSymbols>());
    EXPECT_FALSE(SymbolInk::measure("square.fill", SymbolWeight::Bold));
    test::TestSymbolsScope scope;
    EXPECT_TRUE(SymbolInk::measure("square.fill", SymbolWeight::Bold));
}

} // namespace
