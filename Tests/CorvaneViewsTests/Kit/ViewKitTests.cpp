// The shared pieces every page is built from: system images, the page status bar, menus as data.
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/MenuEntries.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QMenu>
#include <gtest/gtest.h>

namespace {

// Every system image the window draws; each must come out of the symbol provider.
const char* const viewImageNames[] = {
    "app.dashed",
    "arrow.down.forward.app",
    "arrow.triangle.2.circlepath",
    "arrow.trianglehead.2.clockwise.rotate.90",
    "arrow.turn.up.right",
    "arrow.up.circle.fill",
    "arrow.up.forward.app",
    "briefcase.fill",
    "checkmark.circle.fill",
    "chevron.down",
    "clock.arrow.circlepath",
    "doc.on.doc",
    "ellipsis.circle",
    "exclamationmark.triangle",
    "exclamationmark.triangle.fill",
    "folder",
    "info.circle",
    "line.3.horizontal",
    "magnifyingglass",
    "minus",
    "plus",
    "questionmark.app.dashed",
    "questionmark.circle.fill",
    "questionmark.folder",
    "slider.horizontal.3",
    "square.grid.2x2",
    "xmark.octagon.fill",
};

TEST(SystemImages, EveryNameTheWindowUsesDrawsAnImage) {
    for (const char* name : viewImageNames) {
        SCOPED_TRACE(name);
        const QImage image = systemImage(QString::fromLatin1(name), Qt::red, 16).toImage();
        ASSERT_FALSE(image.isNull());
        bool inked = false;
        for (int y = 0; y < image.height() && !inked; ++y)
            for (int x = 0; x < image.width() && !inked; ++x)
                inked = qAlpha(image.pixel(x, y)) > 0;
        EXPECT_TRUE(inked);
    }
    EXPECT_TRUE(systemImage(QStringLiteral("no.such.image"), Qt::red, 16).isNull());
}

TEST(PageStatusBar, ShowsTheErrorOverTheStatusAndHidesWhenEmpty) {
    PageStatusBar bar;
    bar.setLines(QStringLiteral("Couldn't save the rules: disk full"), QStringLiteral("Saved."));
    EXPECT_EQ(bar.shownMessage(), QStringLiteral("Couldn't save the rules: disk full"));
    bar.setLines(std::nullopt, QStringLiteral("Saved."), QStringLiteral("Pick a Chrome profile."));
    EXPECT_EQ(bar.shownMessage(), QStringLiteral("Saved."));
    EXPECT_EQ(bar.shownWarning(), QStringLiteral("Pick a Chrome profile."));
    bar.setLines(std::nullopt, std::nullopt);
    EXPECT_TRUE(bar.isHidden());
    EXPECT_TRUE(bar.shownMessage().isEmpty());
}

TEST(MenuEntries, FillAMenuWithDoubledAmpersandsAndWorkingActions) {
    int chosen = 0;
    MenuEntry open{.title = QStringLiteral("Open Privacy & Security…")};
    open.action = [&] { ++chosen; };
    MenuEntry off{.title = QStringLiteral("Forget"), .enabled = false};
    QMenu menu;
    fillMenu(&menu, {open, MenuEntry::divider(), off});
    ASSERT_EQ(menu.actions().size(), 3);
    EXPECT_EQ(menu.actions()[0]->text(), QStringLiteral("Open Privacy && Security…"));
    EXPECT_TRUE(menu.actions()[1]->isSeparator());
    EXPECT_FALSE(menu.actions()[2]->isEnabled());
    menu.actions()[0]->trigger();
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(entryTitles({open, MenuEntry::divider(), off}),
              (std::vector<QString>{QStringLiteral("Open Privacy & Security…"), QStringLiteral("-"),
                                    QStringLiteral("Forget")}));
}

TEST(ElidedLabel, CutsLongNamesInTheMiddleAndKeepsTheWholeNameForReaders) {
    ElidedLabel label(QStringLiteral("Chrome - A Very Long Profile Name Indeed"));
    label.show();
    label.resize(80, 20);
    EXPECT_TRUE(label.text().contains(QStringLiteral("…")));
    EXPECT_TRUE(label.text().startsWith(QStringLiteral("Ch")));
    EXPECT_EQ(label.accessibleName(), QStringLiteral("Chrome - A Very Long Profile Name Indeed"));
    label.resize(1000, 20);
    EXPECT_EQ(label.text(), label.fullText());
}

} // namespace
