// Every page, sheet and menu of the window as a user sees it, at 1280×800 with the default palette and with a
// dark one set from outside the app (run again by ctest at twice the scale). The pictures are kept under
// Tests/artifacts/screens/ in the build folder; the test fails where a text or button is cut or two controls
// overlap.
#include "Corvane/Views/Editor/MigrationView.h"
#include "Corvane/Views/Kit/MenuEntries.h"
#include "Corvane/Views/System/AboutPanel.h"
#include "Corvane/Views/Window/SidebarView.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/BackgroundWork.h"
#include "Support/CreatorWindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

namespace {

using Selection = AppModel::Selection;

QPalette darkPalette() {
    QPalette dark;
    const QColor window(0x2B, 0x2B, 0x2B), base(0x1E, 0x1E, 0x1E), text(0xEE, 0xEE, 0xEE);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x26));
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::Highlight, QColor(0x2A, 0x82, 0xDA));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Mid, QColor(0x50, 0x50, 0x50));
    dark.setColor(QPalette::Light, QColor(0x45, 0x45, 0x45));
    dark.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    dark.setColor(QPalette::ToolTipBase, window);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    return dark;
}

// Visible texts and buttons narrower than their text, and visible siblings that overlap, below `top`.
QStringList cutOrOverlapping(QWidget* top) {
    QStringList problems;
    const auto name = [](const QWidget* widget) {
        const QString text = widget->objectName();
        return QStringLiteral("%1 \"%2\"")
            .arg(QString::fromLatin1(widget->metaObject()->className()),
                 text.isEmpty() ? widget->accessibleName() : text);
    };
    for (QWidget* widget : top->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(top) || widget->width() == 0)
            continue;
        // Texts that are cut on purpose (middle or end truncation) paint their own text and are not QLabels.
        if (auto* label = qobject_cast<QLabel*>(widget);
            label && !label->wordWrap() && !label->text().isEmpty() && label->pixmap().isNull()) {
            if (label->width() + 1 < label->sizeHint().width())
                problems << QStringLiteral("cut: %1 %2 < %3 (%4)")
                                .arg(name(label))
                                .arg(label->width())
                                .arg(label->sizeHint().width())
                                .arg(label->text());
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget);
                   button && !button->text().isEmpty()) {
            if (button->width() + 1 < button->minimumSizeHint().width())
                problems << QStringLiteral("cut: %1 %2 < %3")
                                .arg(name(button))
                                .arg(button->width())
                                .arg(button->minimumSizeHint().width());
        }
    }
    for (QWidget* parent : top->findChildren<QWidget*>()) {
        if (!parent->isVisibleTo(top) || qobject_cast<QScrollArea*>(parent))
            continue;
        QList<QWidget*> shown;
        for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisibleTo(top) && parent->layout() && parent->layout()->indexOf(child) >= 0)
                shown << child;
        for (int a = 0; a < shown.size(); ++a)
            for (int b = a + 1; b < shown.size(); ++b)
                if (shown[a]->geometry().intersects(shown[b]->geometry()))
                    problems << QStringLiteral("overlap: %1 and %2").arg(name(shown[a]), name(shown[b]));
    }
    return problems;
}

class ScreenshotTest : public test::CreatorWindowFixture, public testing::WithParamInterface<bool> {
protected:
    QPalette originalPalette = QApplication::palette();
    QString originalStyle = QApplication::style()->name();
    QString folder;

    bool dark() const { return GetParam(); }

    void SetUp() override {
        CreatorWindowFixture::SetUp();
        const QString scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                                  ? QStringLiteral("@") + qEnvironmentVariable("QT_SCALE_FACTOR") + "x"
                                  : QString();
        folder = QStringLiteral(CORVANE_BUILD_DIR "/Tests/artifacts/screens/") +
                 (dark() ? QStringLiteral("dark") : QStringLiteral("light")) + scale;
        QDir().mkpath(folder);
        if (dark()) {
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
            QApplication::setPalette(darkPalette());
        }
        installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
        installApp(QStringLiteral("A Rather Long Proxy App Name For Testing"),
                   QStringLiteral("app.corvane.long"));
        RuleSet rules;
        LinkRule work{.name = QStringLiteral("Work links"),
                      .target = RouteTarget::proxyApp(QStringLiteral("app.corvane.work"))};
        work.conditions.push_back(Condition{Condition::Kind::addresses, {QStringLiteral("example.com")}});
        rules.rules.push_back(work);
        LinkRule longRule{
            .name = QStringLiteral("Everything from the company's internal documentation and ticket sites"),
            .target = RouteTarget::browser(QStringLiteral("org.mozilla.firefox")),
            .isEnabled = false};
        rules.rules.push_back(longRule);
        RuleStore().save(rules);
        for (int i = 0; i < 3; ++i) {
            RecentLink link;
            link.id = QUuid::createUuid();
            link.date = QDateTime::currentDateTimeUtc().addSecs(-600 * i);
            link.url = QStringLiteral("https://docs.example.com/a/very/long/path/%1?query=value").arg(i);
            if (i == 0) {
                link.ruleID = QUuid::createUuid();
                link.ruleName = work.name;
                link.targetWasMissing = true;
            }
            RecentLinksStore::shared().record(link);
        }
        showWindow();
        root->resize(1280, 800);
        QCoreApplication::processEvents();
    }

    void TearDown() override {
        CreatorWindowFixture::TearDown();
        QApplication::setStyle(originalStyle);
        QApplication::setPalette(originalPalette);
    }

    void show(const Selection& page) {
        appModel().setSelection(page);
        QCoreApplication::processEvents();
        environment.time().runUntilIdle();
        QCoreApplication::processEvents();
    }

    void keep(QWidget* widget, const QString& name) {
        // Icon previews are drawn in the background: the picture shows them drawn.
        host::waitForBackgroundWork(10);
        QCoreApplication::processEvents();
        const QString path = folder + "/" + name + ".png";
        EXPECT_TRUE(widget->grab().save(path)) << path.toStdString();
        const QStringList problems = cutOrOverlapping(widget);
        EXPECT_TRUE(problems.isEmpty()) << name.toStdString() << ":\n" << problems.join('\n').toStdString();
    }

    QDialog* openSheet() {
        QCoreApplication::processEvents();
        for (QDialog* dialog : root->findChildren<QDialog*>())
            if (dialog->isVisible())
                return dialog;
        return nullptr;
    }
};

TEST_P(ScreenshotTest, EveryPageSheetAndMenu) {
    keep(root.get(), QStringLiteral("editor-Work"));

    show(Selection::rules());
    keep(root.get(), QStringLiteral("rules"));
    auto* add = root->findChild<QAbstractButton*>(QStringLiteral("addRule"));
    ASSERT_NE(add, nullptr);
    add->click();
    QPointer<QDialog> ruleSheet = openSheet();
    ASSERT_TRUE(ruleSheet) << "the rule editor sheet opens";
    keep(ruleSheet, QStringLiteral("rules-sheet-rule-editor"));
    ruleSheet->reject();

    show(Selection::system());
    keep(root.get(), QStringLiteral("system"));

    show(Selection::recentLinks());
    keep(root.get(), QStringLiteral("recent-links"));

    appModel().navigate(AppModel::PendingNavigation::newApp());
    QCoreApplication::processEvents();
    keep(root.get(), QStringLiteral("editor-new"));
    auto* glyph = root->findChild<QAbstractButton*>(QStringLiteral("glyphButton"));
    ASSERT_NE(glyph, nullptr);
    glyph->click();
    QPointer<QDialog> symbols = openSheet();
    ASSERT_TRUE(symbols) << "the symbol sheet opens";
    keep(symbols, QStringLiteral("editor-sheet-symbols"));
    symbols->reject();

    QMenu menu(root.get());
    fillMenu(&menu, sidebar().contextMenuEntries(Selection::saved(QStringLiteral("app.corvane.work"))));
    menu.popup(root->mapToGlobal(QPoint(200, 200)));
    keep(&menu, QStringLiteral("sidebar-menu"));
    menu.hide();

    appModel().setShowingMigration(true);
    ASSERT_NE(root->migrationSheet(), nullptr);
    keep(root->migrationSheet(), QStringLiteral("sheet-import"));
    root->migrationSheet()->reject();

    AboutPanel::show();
    ASSERT_NE(AboutPanel::current(), nullptr);
    keep(AboutPanel::current(), QStringLiteral("about"));
    AboutPanel::current()->close();

    appModel().setSelection(std::nullopt);
    QCoreApplication::processEvents();
    keep(root.get(), QStringLiteral("placeholder"));
}

INSTANTIATE_TEST_SUITE_P(Palettes, ScreenshotTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Dark") : std::string("Default");
                         });

} // namespace
