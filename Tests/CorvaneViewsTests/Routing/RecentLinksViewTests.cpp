// The recent-links page on the real models: filtering, sorting, copying, the popover, rules made from a
// link, the history switch and the page's status bar.
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Corvane/Views/Kit/RouteTargetControls.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "Corvane/Views/Routing/RecentLinksTable.h"
#include "Corvane/Views/Routing/RecentLinksView.h"
#include "Corvane/Views/Routing/RuleEditorView.h"
#include "Support/AppModelFixture.h"
#include "Support/SignalCount.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTest>

namespace {

struct Link {
    QString url{};
    std::optional<QString> source{};
    std::optional<QString> target{};
    std::optional<QString> rule{};
    double hoursAgo = 1;
};

class RecentLinksViewTest : public test::AppModelFixture {
protected:
    RoutingModel routing;
    std::unique_ptr<RecentLinksView> view;

    // Links in the stored order, newest first.
    void record(const std::vector<Link>& links) {
        std::vector<RecentLink> stored;
        for (const Link& spec : links) {
            RecentLink link;
            link.id = QUuid::createUuid();
            link.url = spec.url;
            link.date = environment.time().now().addSecs(qint64(-spec.hoursAgo * 3600));
            if (spec.source) {
                link.sourceName = spec.source;
                link.sourceBundleID = QStringLiteral("com.example.") + spec.source->toLower();
            }
            if (spec.target) {
                link.targetName = spec.target;
                link.targetBundleID =
                    QStringLiteral("org.example.") + QString(*spec.target).remove(' ').toLower();
            }
            if (spec.rule) {
                link.ruleName = spec.rule;
                link.ruleID = QUuid::createUuid();
            }
            stored.push_back(link);
        }
        for (auto it = stored.rbegin(); it != stored.rend(); ++it)
            RecentLinksStore::shared().record(*it);
    }

    // A link that the rule "Work links" matched while the app it points at was missing.
    static void recordLinkWhoseTargetWasMissing() {
        RecentLink missing;
        missing.id = QUuid::createUuid();
        missing.url = QStringLiteral("https://b.example/");
        missing.ruleID = QUuid::createUuid();
        missing.ruleName = QStringLiteral("Work links");
        missing.targetWasMissing = true;
        RecentLinksStore::shared().record(missing);
    }

    void open() {
        routing.load();
        view = std::make_unique<RecentLinksView>(*model, routing);
        view->resize(1000, 700);
        view->show();
    }

    template <typename T> T* find(const char* name) const {
        T* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QTableView* table() const { return find<QTableView>("linksTable"); }
    QString header() const { return find<QLabel>("linksHeader")->text(); }
    QString statusLine() const { return find<PageStatusBar>("pageStatusBar")->shownMessage(); }

    // What the table shows in one column, top to bottom.
    QStringList column(int column) const {
        QStringList texts;
        const QAbstractItemModel* shown = table()->model();
        for (int row = 0; row < shown->rowCount(); ++row)
            texts.append(shown->index(row, column).data().toString());
        return texts;
    }
    QStringList hosts() const {
        QStringList texts;
        const QAbstractItemModel* shown = table()->model();
        for (int row = 0; row < shown->rowCount(); ++row)
            texts.append(shown->index(row, RecentLinksTableModel::link)
                             .data(RecentLinksTableModel::hostRole)
                             .toString());
        return texts;
    }
    void typeFilter(const QString& text) {
        QLineEdit* field = find<QLineEdit>("filterField");
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, text);
    }
    QStringList pickerEntries() const {
        QStringList entries;
        const QComboBox* picker = find<QComboBox>("targetPicker");
        for (int i = 0; i < picker->count(); ++i)
            entries.append(picker->itemText(i));
        return entries;
    }
    const RecentLink& shownLink(int row) const {
        return routing.recentLinks()[size_t(static_cast<QSortFilterProxyModel*>(table()->model())
                                                ->mapToSource(table()->model()->index(row, 0))
                                                .row())];
    }
    static void choose(const std::vector<MenuEntry>& entries, const QString& title) {
        const MenuEntry* entry = findEntry(entries, title);
        ASSERT_NE(entry, nullptr) << title.toStdString();
        entry->action();
    }
};

TEST_F(RecentLinksViewTest, FilterMatchesTextsInAnyCaseAndCountsTheVisibleLinks) {
    record({{QStringLiteral("https://docs.example.com/guide"), QStringLiteral("Mail"),
             QStringLiteral("Chromium"), QStringLiteral("Docs")},
            {QStringLiteral("https://news.example.org/"), QStringLiteral("Slack"), QStringLiteral("Work App"),
             std::nullopt},
            {QStringLiteral("https://shop.example.net/cart"), QStringLiteral("Notes"), std::nullopt,
             QStringLiteral("Shopping")}});
    open();
    EXPECT_EQ(header(), QStringLiteral("Last 3 Links"));
    EXPECT_EQ(hosts(), (QStringList{QStringLiteral("docs.example.com"), QStringLiteral("news.example.org"),
                                    QStringLiteral("shop.example.net")}));
    EXPECT_EQ(find<QLabel>("fallbackAdvice")->text(),
              QStringLiteral("1 went to the fallback — use + to write a rule for one"));

    typeFilter(QStringLiteral("GUIDE"));
    EXPECT_EQ(hosts(), QStringList{QStringLiteral("docs.example.com")});
    EXPECT_EQ(header(), QStringLiteral("1 of 3 Links"));
    typeFilter(QStringLiteral("slack")); // the source's name
    EXPECT_EQ(hosts(), QStringList{QStringLiteral("news.example.org")});
    typeFilter(QStringLiteral("SHOPPING")); // the rule's name
    EXPECT_EQ(hosts(), QStringList{QStringLiteral("shop.example.net")});
    typeFilter(QStringLiteral("work a")); // the target's name
    EXPECT_EQ(hosts(), QStringList{QStringLiteral("news.example.org")});

    typeFilter(QStringLiteral("nowhere"));
    EXPECT_TRUE(hosts().isEmpty());
    EXPECT_EQ(header(), QStringLiteral("0 of 3 Links"));
    EXPECT_TRUE(find<QWidget>("linksSection")->isVisible());
    EXPECT_FALSE(table()->horizontalHeader()->isHidden());
    EXPECT_EQ(find<QLabel>("fallbackAdvice")->text(),
              QStringLiteral("1 went to the fallback — use + to write a rule for one"));

    typeFilter(QStringLiteral(" \t "));
    EXPECT_EQ(hosts().size(), 3);
    EXPECT_EQ(header(), QStringLiteral("Last 3 Links"));
}

TEST_F(RecentLinksViewTest, TargetPickerListsEveryTargetSeenInNameOrder) {
    record({{QStringLiteral("https://a.example/"), std::nullopt, QStringLiteral("Browser 10")},
            {QStringLiteral("https://b.example/"), std::nullopt, QStringLiteral("Browser 2")},
            {QStringLiteral("https://c.example/"), std::nullopt, std::nullopt},
            {QStringLiteral("https://d.example/"), std::nullopt, QStringLiteral("Browser 2")}});
    open();
    EXPECT_EQ(pickerEntries(), (QStringList{QStringLiteral("All browsers"), QStringLiteral("Browser 2"),
                                            QStringLiteral("Browser 10")}));
    QComboBox* picker = find<QComboBox>("targetPicker");
    picker->setCurrentIndex(1);
    emit picker->activated(1);
    EXPECT_EQ(hosts(), (QStringList{QStringLiteral("b.example"), QStringLiteral("d.example")}));
    EXPECT_EQ(header(), QStringLiteral("2 of 4 Links"));

    typeFilter(QStringLiteral("d.ex"));
    EXPECT_EQ(hosts(), QStringList{QStringLiteral("d.example")});
    EXPECT_EQ(pickerEntries().size(), 3);

    picker->setCurrentIndex(0);
    emit picker->activated(0);
    typeFilter(QString());
    EXPECT_EQ(hosts().size(), 4);
}

TEST_F(RecentLinksViewTest, StoredOrderUntilAColumnIsSortedAndNewLinksArriveInPlace) {
    record({{QStringLiteral("https://b.example/"), QStringLiteral("Zed"), std::nullopt, std::nullopt, 1},
            {QStringLiteral("https://a.example/"), QStringLiteral("Ann"), std::nullopt, std::nullopt, 30},
            {QStringLiteral("https://c.example/"), QStringLiteral("Bob"), std::nullopt, std::nullopt, 2}});
    open();
    EXPECT_EQ(hosts(), (QStringList{QStringLiteral("b.example"), QStringLiteral("a.example"),
                                    QStringLiteral("c.example")}));

    table()->sortByColumn(RecentLinksTableModel::time, Qt::AscendingOrder);
    EXPECT_EQ(hosts(), (QStringList{QStringLiteral("a.example"), QStringLiteral("c.example"),
                                    QStringLiteral("b.example")}));
    table()->sortByColumn(RecentLinksTableModel::source, Qt::DescendingOrder);
    EXPECT_EQ(column(RecentLinksTableModel::source),
              (QStringList{QStringLiteral("Zed"), QStringLiteral("Bob"), QStringLiteral("Ann")}));
    table()->sortByColumn(-1, Qt::AscendingOrder);
    EXPECT_EQ(hosts().front(), QStringLiteral("b.example"));

    // The helper records one more: a row is inserted, the list is not reset, the selected row stays.
    table()->setCurrentIndex(table()->model()->index(1, 0));
    const QUuid selected = shownLink(1).id;
    test::SignalCount resets(table()->model(), &QAbstractItemModel::modelReset);
    test::SignalCount inserts(table()->model(), &QAbstractItemModel::rowsInserted);
    RecentLink newest;
    newest.id = QUuid::createUuid();
    newest.url = QStringLiteral("https://new.example/");
    RecentLinksStore::shared().record(newest);
    routing.setRecentLinks(RecentLinksStore::shared().links());
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(inserts.count(), 1);
    EXPECT_EQ(hosts().front(), QStringLiteral("new.example"));
    EXPECT_EQ(header(), QStringLiteral("Last 4 Links"));
    EXPECT_EQ(shownLink(table()->currentIndex().row()).id, selected);
}

TEST_F(RecentLinksViewTest, CopyingPutsPlainTextOnTheClipboard) {
    record({{QStringLiteral("https://docs.example.com/a%20b?q=1"), std::nullopt, std::nullopt, std::nullopt},
            {QStringLiteral("file:///tmp/page.html"), std::nullopt, std::nullopt, std::nullopt}});
    open();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("earlier"));

    const std::vector<MenuEntry> web = view->contextMenu(shownLink(0));
    EXPECT_EQ(entryTitles(web),
              (std::vector<QString>{QStringLiteral("Copy URL"), QStringLiteral("Copy Host"),
                                    QStringLiteral("-"), QStringLiteral("Show Full Link"),
                                    QStringLiteral("-"), QStringLiteral("New Rule from This Link…")}));
    choose(web, QStringLiteral("Copy URL"));
    EXPECT_EQ(clipboard->text(), QStringLiteral("https://docs.example.com/a%20b?q=1"));
    choose(web, QStringLiteral("Copy Host"));
    EXPECT_EQ(clipboard->text(), QStringLiteral("docs.example.com"));
    EXPECT_FALSE(clipboard->mimeData()->hasHtml());

    EXPECT_EQ(findEntry(view->contextMenu(shownLink(1)), QStringLiteral("Copy Host")), nullptr);
}

TEST_F(RecentLinksViewTest, ThePopoverShowsTheWholeLinkCopiesItAndCloses) {
    record({{QStringLiteral("https://docs.example.com/guide"), std::nullopt, std::nullopt, std::nullopt},
            {QStringLiteral("https://x.example/"), QStringLiteral("Mail"), QStringLiteral("Chromium"),
             QStringLiteral("Docs")}});
    open();
    const QRect cell = table()->visualRect(table()->model()->index(0, RecentLinksTableModel::link));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->findChild<QWidget*>(QStringLiteral("linkPopover")); }));
    EXPECT_EQ(view->showingLink(), shownLink(0).id);
    EXPECT_EQ(find<QLabel>("linkPopoverURL")->text(), QStringLiteral("https://docs.example.com/guide"));
    EXPECT_EQ(find<QLabel>("linkPopoverSource")->text(), QStringLiteral("Unknown app"));
    EXPECT_EQ(find<QLabel>("linkPopoverTarget")->text(), QStringLiteral("—"));
    EXPECT_EQ(find<QLabel>("linkPopoverRule")->text(), QStringLiteral("Fallback"));

    find<QPushButton>("copyURLButton")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("https://docs.example.com/guide"));
    EXPECT_TRUE(find<QWidget>("linkPopover")->isVisible());

    // Another link's popover replaces it; Return closes it.
    view->showLink(shownLink(1).id);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        auto* shown = view->findChild<QLabel*>(QStringLiteral("linkPopoverURL"));
        return shown && shown->text() == QStringLiteral("https://x.example/");
    }));
    EXPECT_EQ(find<QLabel>("linkPopoverRule")->text(), QStringLiteral("Docs"));
    EXPECT_EQ(view->showingLink(), shownLink(1).id);
    QTest::keyClick(find<QWidget>("linkPopover"), Qt::Key_Return);
    EXPECT_FALSE(view->showingLink().has_value());
}

TEST_F(RecentLinksViewTest, CellsShowTimesBadgesAndMarks) {
    record({{QStringLiteral("https://a.example/x/y"), std::nullopt, std::nullopt, std::nullopt, 20.0 / 60}});
    recordLinkWhoseTargetWasMissing();
    open();
    const QAbstractItemModel* shown = table()->model();
    // Newest first: the missing-target link, then the fallback.
    EXPECT_EQ(shown->index(0, RecentLinksTableModel::matched).data().toString(),
              QStringLiteral("Work links"));
    EXPECT_EQ(shown->index(0, RecentLinksTableModel::matched).data(Qt::ToolTipRole).toString(),
              QStringLiteral("This rule matched, but the app it points at was missing — the link went to the "
                             "fallback instead."));
    EXPECT_FALSE(
        shown->index(0, RecentLinksTableModel::matched).data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(shown->index(1, RecentLinksTableModel::matched).data().toString(), QStringLiteral("Fallback"));
    EXPECT_TRUE(
        shown->index(1, RecentLinksTableModel::matched).data(RecentLinksTableModel::badgeRole).toBool());
    EXPECT_EQ(shown->index(1, RecentLinksTableModel::link).data(RecentLinksTableModel::pathRole).toString(),
              QStringLiteral("/x/y"));
    EXPECT_EQ(shown->index(1, RecentLinksTableModel::time).data().toString(), QStringLiteral("3:40 AM"));
    EXPECT_EQ(shown->index(1, RecentLinksTableModel::source).data().toString(), QStringLiteral("—"));
    EXPECT_EQ(shown->index(1, RecentLinksTableModel::target).data().toString(), QStringLiteral("—"));
}

// One cell as the table paints it, on white, and the columns of pixels that `inked` picks.
struct PaintedCell {
    QImage image;
    std::pair<int, int> columns(const std::function<bool(QColor)>& inked) const {
        int first = image.width(), last = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (inked(image.pixelColor(x, y))) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
        return {first, last};
    }
};

PaintedCell paintCell(QTableView* table, const QModelIndex& index, int width) {
    QStyleOptionViewItem option;
    option.initFrom(table);
    option.state &= ~QStyle::State_Selected;
    option.rect = QRect(0, 0, width, 24);
    option.widget = table;
    PaintedCell cell{QImage(width, 24, QImage::Format_ARGB32_Premultiplied)};
    cell.image.fill(Qt::white);
    QPainter painter(&cell.image);
    table->itemDelegateForIndex(index)->paint(&painter, option, index);
    return cell;
}

bool isOrange(QColor color) {
    return color.red() > 200 && color.green() > 100 && color.green() < 200 && color.blue() < 120;
}
bool isDark(QColor color) {
    return color.lightness() < 110;
}

TEST_F(RecentLinksViewTest, TheMissingTargetMarkFollowsTheRuleNameAndThePlusIsCentred) {
    recordLinkWhoseTargetWasMissing();
    open();
    const QAbstractItemModel* shown = table()->model();

    const PaintedCell rule = paintCell(table(), shown->index(0, RecentLinksTableModel::matched), 160);
    const auto [textStart, textEnd] = rule.columns(isDark);
    const auto [markStart, markEnd] = rule.columns(isOrange);
    ASSERT_LE(textStart, textEnd) << "the rule's name is drawn";
    ASSERT_LE(markStart, markEnd) << "the mark is drawn";
    EXPECT_GT(markStart, textEnd) << "the mark stands after the name";
    EXPECT_LE(markStart - textEnd, 8) << "right after it, not at the cell's end";

    const PaintedCell plus = paintCell(table(), shown->index(0, RecentLinksTableModel::actions), 60);
    const auto [plusStart, plusEnd] = plus.columns([](QColor color) { return color.lightness() < 230; });
    ASSERT_LE(plusStart, plusEnd);
    EXPECT_NEAR((plusStart + plusEnd) / 2.0, 30, 2.0);

    QStyleOptionViewItem option;
    struct Probe : RecentLinksDelegate {
        using RecentLinksDelegate::initStyleOption;
    } probe;
    probe.initStyleOption(&option, shown->index(0, RecentLinksTableModel::target));
    EXPECT_EQ(option.textElideMode, Qt::ElideMiddle) << "app names are cut in the middle";
    QStyleOptionViewItem ruleOption;
    ruleOption.textElideMode = Qt::ElideRight;
    probe.initStyleOption(&ruleOption, shown->index(0, RecentLinksTableModel::matched));
    EXPECT_EQ(ruleOption.textElideMode, Qt::ElideRight) << "rule names are cut at the end";
}

TEST_F(RecentLinksViewTest, ATargetNotInstalledAnyMoreIsMarkedAsOnTheRulesPage) {
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    for (const QString& bundleID : {QStringLiteral("app.corvane.gone"), QStringLiteral("app.corvane.work")}) {
        RecentLink link;
        link.id = QUuid::createUuid();
        link.url = QStringLiteral("https://example.com/") + bundleID;
        link.targetBundleID = bundleID;
        link.targetName = bundleID;
        RecentLinksStore::shared().record(link);
    }
    open();
    const QAbstractItemModel* shown = table()->model();
    // Newest first: the installed app, then the one that is gone.
    const QModelIndex installed = shown->index(0, RecentLinksTableModel::target);
    const QModelIndex gone = shown->index(1, RecentLinksTableModel::target);
    EXPECT_EQ(installed.data().toString(), QStringLiteral("Work"));
    EXPECT_FALSE(installed.data(RecentLinksTableModel::missingTargetRole).toBool());
    EXPECT_TRUE(installed.data(Qt::ToolTipRole).toString().isEmpty());
    EXPECT_TRUE(gone.data(RecentLinksTableModel::missingTargetRole).toBool());
    EXPECT_EQ(gone.data(Qt::ToolTipRole).toString(), RouteTargetLabel::missingWarningHelp());
    EXPECT_EQ(gone.data(Qt::AccessibleDescriptionRole).toString(), RouteTargetLabel::missingWarningHelp());

    // The mark is drawn after the name, at the cell's end.
    table()->resizeColumnToContents(RecentLinksTableModel::target);
    const QRect cell = table()->visualRect(gone);
    QImage drawn(table()->viewport()->size(), QImage::Format_ARGB32);
    table()->viewport()->render(&drawn);
    const QColor orange = ViewColors::orange();
    bool orangeAtTheEnd = false;
    for (int x = cell.right() - 18; x <= cell.right(); ++x)
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            const QColor pixel = drawn.pixelColor(x, y);
            orangeAtTheEnd |= std::abs(pixel.red() - orange.red()) < 24 &&
                              std::abs(pixel.green() - orange.green()) < 24 &&
                              std::abs(pixel.blue() - orange.blue()) < 24;
        }
    EXPECT_TRUE(orangeAtTheEnd);
}

TEST(RecentLinksTime, TodayYesterdayThisWeekAndEarlier) {
    // Thursday 1 January 2026, 4:00 in the morning in Los Angeles.
    const QDateTime now(QDate(2026, 1, 1), QTime(12, 0), QTimeZone::utc());
    EXPECT_EQ(RecentLinksText::timeLabel(now.addSecs(-20 * 60), now), QStringLiteral("3:40 AM"));
    EXPECT_EQ(RecentLinksText::timeLabel(now.addSecs(-8 * 3600), now), QStringLiteral("Yest."));
    EXPECT_EQ(RecentLinksText::timeLabel(now.addDays(-4), now), QStringLiteral("Sun"));
    EXPECT_EQ(RecentLinksText::timeLabel(now.addDays(-10), now), QStringLiteral("22 Dec"));
    EXPECT_EQ(RecentLinksText::timeLabel(now.addDays(3), now), QStringLiteral("Sun"));
}

TEST(RecentLinksTime, TitlesAndAdviceCountAsPeopleRead) {
    EXPECT_EQ(RecentLinksText::headerTitle(1, 1), QStringLiteral("Last 1 Link"));
    EXPECT_EQ(RecentLinksText::headerTitle(40, 40), QStringLiteral("Last 40 Links"));
    EXPECT_EQ(RecentLinksText::headerTitle(1, 17), QStringLiteral("1 of 17 Links"));
    RecentLink matched;
    matched.ruleID = QUuid::createUuid();
    EXPECT_EQ(RecentLinksText::fallbackAdvice({matched}), QStringLiteral("Every link matched a rule."));
}

TEST_F(RecentLinksViewTest, ARuleMadeFromALinkIsSavedAndShownInTheEditor) {
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    record({{QStringLiteral("https://wiki.example.com/page"), QStringLiteral("Mail"), QStringLiteral("Work"),
             std::nullopt}});
    // Recorded with the proxy app's identifier as the target.
    std::vector<RecentLink> links = RecentLinksStore::shared().links();
    links.front().targetBundleID = QStringLiteral("app.corvane.work");
    open();
    routing.setRecentLinks(links);

    choose(view->actionsMenu(shownLink(0)), QStringLiteral("New Rule from This Link…"));
    ASSERT_EQ(routing.ruleSet().rules.size(), 1u);
    const LinkRule made = routing.ruleSet().rules.front();
    EXPECT_EQ(made.name, QStringLiteral("wiki.example.com"));
    EXPECT_EQ(made.target, RouteTarget::proxyApp(QStringLiteral("app.corvane.work")));
    EXPECT_EQ(RuleStore::shared().current().rules, routing.ruleSet().rules);
    ASSERT_TRUE(view->editing().has_value());
    EXPECT_EQ(view->editing()->id, made.id);

    // The sheet opens on the saved rule, over this window only; "Cancel" keeps the rule as made.
    auto* sheet = view->findChild<RuleEditorView*>(QStringLiteral("ruleEditor"));
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->isVisible(); }));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->draft(), made);
    sheet->findChild<QPushButton*>(QStringLiteral("ruleCancel"))->click();
    EXPECT_FALSE(view->editing().has_value());
    EXPECT_EQ(RuleStore::shared().current().rules, std::vector<LinkRule>{made});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->findChild<RuleEditorView*>(); }));

    // "Edit “…”" on a link the rule routed opens it again; "Done" saves the edit.
    std::vector<RecentLink> routed = routing.recentLinks();
    routed.front().ruleID = made.id;
    routing.setRecentLinks(routed);
    choose(view->contextMenu(shownLink(0)), QStringLiteral("Edit “wiki.example.com”…"));
    sheet = view->findChild<RuleEditorView*>(QStringLiteral("ruleEditor"));
    ASSERT_NE(sheet, nullptr);
    auto* name = sheet->findChild<QLineEdit*>(QStringLiteral("ruleName"));
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Wiki"));
    sheet->findChild<QPushButton*>(QStringLiteral("ruleDone"))->click();
    EXPECT_EQ(RuleStore::shared().current().rules.front().name, QStringLiteral("Wiki"));
    EXPECT_FALSE(view->editing().has_value());

    // The next menu offers the rule to add to.
    const std::vector<MenuEntry> next = view->contextMenu(shownLink(0));
    ASSERT_NE(findEntry(next, QStringLiteral("Add to Rule")), nullptr);
    choose(findEntry(next, QStringLiteral("Add to Rule"))->children, QStringLiteral("Wiki"));
    EXPECT_EQ(statusLine(), QStringLiteral("“Wiki” already covers wiki.example.com."));
}

TEST_F(RecentLinksViewTest, ARefusedRuleIsReadOnThePage) {
    record({{QStringLiteral("https://lost.example.com/"), std::nullopt, std::nullopt, std::nullopt}});
    open();
    EXPECT_TRUE(find<PageStatusBar>("pageStatusBar")->isHidden());
    choose(view->contextMenu(shownLink(0)), QStringLiteral("New Rule from This Link…"));
    EXPECT_EQ(statusLine(), QStringLiteral("Create a proxy app first, or install another browser."));
    EXPECT_TRUE(find<PageStatusBar>("pageStatusBar")->isVisible());
    EXPECT_FALSE(view->editing().has_value());
}

TEST_F(RecentLinksViewTest, TurningHistoryOffSavesThenEmptiesTheList) {
    record({{QStringLiteral("https://a.example/")}, {QStringLiteral("https://b.example/")}});
    open();
    QCheckBox* history = find<QCheckBox>("historySwitch");
    ASSERT_TRUE(history->isChecked());
    history->click();
    EXPECT_FALSE(RuleStore::shared().current().recordsHistory);
    EXPECT_TRUE(routing.recentLinks().empty());
    EXPECT_TRUE(RecentLinksStore().links().empty()); // read back from the file
    EXPECT_FALSE(find<QWidget>("linksSection")->isVisible());
    EXPECT_EQ(find<QLabel>("emptyTitle")->text(), QStringLiteral("History is off"));
    EXPECT_EQ(find<QLabel>("emptyDetail")->text(),
              QStringLiteral("Turn it back on below to see what Corvane does with your links."));

    // On again: the old links stay gone.
    history->click();
    EXPECT_TRUE(RuleStore::shared().current().recordsHistory);
    EXPECT_TRUE(routing.recentLinks().empty());
    EXPECT_EQ(find<QLabel>("emptyTitle")->text(), QStringLiteral("No links yet"));
}

TEST_F(RecentLinksViewTest, AFailedSaveOfTheSwitchKeepsTheLinksAndSaysWhy) {
    record({{QStringLiteral("https://a.example/")}, {QStringLiteral("https://b.example/")}});
    open();
    Corvane::ensureSupportDirectory();
    QFile::remove(Corvane::rulesURL());
    QDir().mkpath(Corvane::rulesURL()); // a folder where the file should go
    find<QCheckBox>("historySwitch")->click();
    EXPECT_TRUE(statusLine().startsWith(QStringLiteral("Couldn't save the rules: ")));
    EXPECT_EQ(routing.recentLinks().size(), 2u);
    EXPECT_EQ(RecentLinksStore().links().size(), 2u);
    EXPECT_EQ(hosts().size(), 2);
    EXPECT_FALSE(find<QCheckBox>("historySwitch")->isChecked());
    QDir(Corvane::rulesURL()).removeRecursively();
}

TEST_F(RecentLinksViewTest, ClearHistoryEmptiesTheListButKeepsTheSwitch) {
    record({{QStringLiteral("https://a.example/")}});
    open();
    EXPECT_EQ(header(), QStringLiteral("Last 1 Link"));
    find<QPushButton>("clearHistoryButton")->click();
    EXPECT_TRUE(routing.recentLinks().empty());
    EXPECT_TRUE(RecentLinksStore().links().empty());
    EXPECT_TRUE(find<QCheckBox>("historySwitch")->isChecked());
    EXPECT_EQ(find<QLabel>("emptyTitle")->text(), QStringLiteral("No links yet"));
}

} // namespace

namespace {

TEST_F(RecentLinksViewTest, RowMenusOpenFromThePlusCellAndTheContextClick) {
    record({{QStringLiteral("https://a.example/page"), std::nullopt, QStringLiteral("Chromium")}});
    open();
    const QModelIndex plus = table()->model()->index(0, RecentLinksTableModel::actions);
    EXPECT_EQ(plus.data(Qt::ToolTipRole).toString(), QStringLiteral("Write a rule for this link"));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(plus).center());
    QMenu* menu = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        menu = view->findChild<QMenu*>(QStringLiteral("linkMenu"));
        return menu && menu->isVisible();
    }));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("New Rule from This Link…"));
    menu->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->findChild<QMenu*>(QStringLiteral("linkMenu")); }));

    const QRect cell = table()->visualRect(table()->model()->index(0, RecentLinksTableModel::source));
    emit table()->customContextMenuRequested(cell.center());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        menu = view->findChild<QMenu*>(QStringLiteral("linkMenu"));
        return menu && menu->isVisible();
    }));
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Copy URL"));
    EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("Copy Host"));
    menu->close();
}

TEST_F(RecentLinksViewTest, EveryControlHasAName) {
    record({{QStringLiteral("https://a.example/page"), QStringLiteral("Mail"), QStringLiteral("Chromium")}});
    open();
    view->showLink(shownLink(0).id);
    int checked = 0;
    for (QWidget* widget : view->findChildren<QWidget*>()) {
        if (widget->focusPolicy() == Qt::NoFocus || !widget->isVisible())
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 6);
    // Cells speak their text; the "+" cell its purpose.
    for (int column = 0; column < RecentLinksTableModel::columnCount_; ++column)
        EXPECT_FALSE(table()->model()->index(0, column).data(Qt::AccessibleTextRole).toString().isEmpty());
}

} // namespace

namespace {

TEST_F(RecentLinksViewTest, ClosingThePageWithItsSheetAndPopoverUpLeavesTheRulesAlone) {
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    record({{QStringLiteral("https://a.example/"), std::nullopt, std::nullopt}});
    open();
    view->showLink(shownLink(0).id);
    choose(view->contextMenu(shownLink(0)), QStringLiteral("New Rule from This Link…"));
    ASSERT_NE(view->findChild<RuleEditorView*>(QStringLiteral("ruleEditor")), nullptr);
    view.reset();
    QTest::qWait(0);
    ASSERT_EQ(RuleStore::shared().current().rules.size(), 1u);
    EXPECT_EQ(RuleStore::shared().current().rules.front().target,
              RouteTarget::proxyApp(QStringLiteral("app.corvane.work")));
}

} // namespace
