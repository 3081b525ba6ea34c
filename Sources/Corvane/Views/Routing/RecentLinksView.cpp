#include "Corvane/Views/Routing/RecentLinksView.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SourceAppControls.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "Corvane/Views/Routing/RecentLinksTable.h"
#include "Corvane/Views/Routing/RuleEditorView.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <utility>

namespace {

// Copying puts plain text on the clipboard after clearing it, so nothing of an earlier copy stays behind.
void copyText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

} // namespace

// The whole link under its row's link cell: the text, where it came from, went and why, "Copy URL" and
// "Done". Closes on a click outside or Escape like any popup.
class LinkPopover : public QFrame {
public:
    LinkPopover(const RecentLink& link, std::function<void()> closed, QWidget* parent)
        : QFrame(parent, Qt::Popup)
        , closed_(std::move(closed)) {
        setObjectName(QStringLiteral("linkPopover"));
        setAttribute(Qt::WA_DeleteOnClose);
        setFrameShape(QFrame::StyledPanel);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(14, 14, 14, 14);
        column->setSpacing(10);

        auto* url = new QLabel(link.url, this);
        url->setObjectName(QStringLiteral("linkPopoverURL"));
        url->setTextFormat(Qt::PlainText);
        url->setWordWrap(true);
        url->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        url->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        url->setMaximumWidth(460);
        // As wide as the link needs up to the limit, so a short link is not folded after its scheme.
        url->setMinimumWidth(qMin(460, url->fontMetrics().horizontalAdvance(link.url) + 4));
        column->addWidget(url);

        auto* divider = new QFrame(this);
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Sunken);
        column->addWidget(divider);

        auto* facts = new QHBoxLayout;
        facts->setSpacing(12);
        addFact(facts, QStringLiteral("linkPopoverSource"),
                link.sourceName.value_or(QStringLiteral("Unknown app")),
                QStringLiteral("arrow.up.forward.app"));
        addFact(facts, QStringLiteral("linkPopoverTarget"), link.targetName.value_or(QStringLiteral("—")),
                QStringLiteral("arrow.down.forward.app"));
        addFact(facts, QStringLiteral("linkPopoverRule"), link.ruleName.value_or(QStringLiteral("Fallback")),
                QStringLiteral("arrow.turn.up.right"));
        facts->addStretch(1);
        column->addLayout(facts);

        auto* buttons = new QHBoxLayout;
        auto* copy = new QPushButton(QStringLiteral("Copy URL"), this);
        copy->setObjectName(QStringLiteral("copyURLButton"));
        copy->setShortcut(QKeySequence(QKeySequence::Copy));
        connect(copy, &QPushButton::clicked, this, [text = link.url] { copyText(text); });
        auto* done = new QPushButton(QStringLiteral("Done"), this);
        done->setObjectName(QStringLiteral("doneButton"));
        done->setDefault(true);
        connect(done, &QPushButton::clicked, this, &QWidget::close);
        buttons->addWidget(copy);
        buttons->addStretch(1);
        buttons->addWidget(done);
        column->addLayout(buttons);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            close();
            return;
        }
        QFrame::keyPressEvent(event);
    }
    void hideEvent(QHideEvent* event) override {
        QFrame::hideEvent(event);
        if (closed_)
            std::exchange(closed_, {})();
    }

private:
    void addFact(QHBoxLayout* row, const QString& name, const QString& text, const QString& symbol) {
        auto* icon = new QLabel(this);
        QFont font = this->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        icon->setPixmap(systemImage(symbol, ViewColors::secondary(), 12));
        auto* label = new QLabel(text, this);
        label->setObjectName(name);
        label->setTextFormat(Qt::PlainText);
        label->setFont(font);
        TextStyle::secondary(label);
        auto* fact = new QHBoxLayout;
        fact->setSpacing(4);
        fact->addWidget(icon);
        fact->addWidget(label);
        row->addLayout(fact);
    }

    std::function<void()> closed_;
};

RecentLinksView::RecentLinksView(AppModel& model, RoutingModel& routing, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , routing_(routing)
    , rules_(model, routing, [this](const LinkRule& rule) { edit(rule); })
    , links_(new RecentLinksTableModel(this))
    , visible_(new RecentLinksFilterModel(links_, this)) {
    setObjectName(QStringLiteral("RecentLinksView"));
    links_->now = [] { return host::clock().now(); };
    links_->setLabels({
        [this](const RecentLink& link) { return sourceLabel(*link.sourceBundleID).name; },
        [this](const RecentLink& link) { return sourceLabel(*link.sourceBundleID).icon; },
        [this](const RecentLink& link) { return targetLabel(*link.targetBundleID).name; },
        [this](const RecentLink& link) { return targetLabel(*link.targetBundleID).icon; },
        [this](const RecentLink& link) { return targetLabel(*link.targetBundleID).isMissing; },
    });
    buildLayout();
    connectModels();
    refreshLinks();
    Quiet::setChecked(historySwitch_, routing_.ruleSet().recordsHistory);
    refreshStatus();
}

RecentLinksView::~RecentLinksView() {
    // Before the members go: closing either one calls back into this page.
    delete popover_.data();
    delete sheet_.data();
}

QString RecentLinksView::timeLabel(const QDateTime& date) {
    return RecentLinksText::timeLabel(date, host::clock().now());
}

void RecentLinksView::buildLayout() {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(20, 12, 20, 0);
    toolbar->addStretch(1);
    auto* pickerTitle = new QLabel(QStringLiteral("Opened in"), this);
    targetPicker_ = new QComboBox(this);
    targetPicker_->setObjectName(QStringLiteral("targetPicker"));
    targetPicker_->setAccessibleName(QStringLiteral("Opened in"));
    targetPicker_->setMinimumWidth(150);
    targetPicker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    targetPicker_->addItem(QStringLiteral("All browsers"));
    pickerTitle->setBuddy(targetPicker_);
    filterField_ = new QLineEdit(this);
    filterField_->setObjectName(QStringLiteral("filterField"));
    filterField_->setPlaceholderText(QStringLiteral("Filter"));
    filterField_->setAccessibleName(QStringLiteral("Filter"));
    filterField_->setClearButtonEnabled(true);
    filterField_->setMinimumWidth(180);
    toolbar->addWidget(pickerTitle);
    toolbar->addWidget(targetPicker_);
    toolbar->addWidget(filterField_);
    page->addLayout(toolbar);

    auto* content = new QVBoxLayout;
    content->setContentsMargins(20, 12, 20, 20);
    content->setSpacing(18);

    auto* history = new FormSection({}, this);
    history->setObjectName(QStringLiteral("historySection"));
    historySwitch_ = new QCheckBox(QStringLiteral("Remember the links Corvane opens"), history);
    historySwitch_->setObjectName(QStringLiteral("historySwitch"));
    history->addRow(historySwitch_);
    history
        ->setFooter(
            QStringLiteral("Corvane keeps the last ") + QString::number(RecentLinksStore::limit) +
            QStringLiteral(" links it opened, on this Mac only. Nothing is sent anywhere, and clearing "
                           "the list does not change your rules. Turning this off empties the list too."))
        ->setObjectName(QStringLiteral("historyFooter"));
    content->addWidget(history);

    auto* empty = new FormSection({}, this);
    emptySection_ = empty;
    emptySection_->setObjectName(QStringLiteral("emptySection"));
    auto* emptyStack = new QWidget(empty);
    auto* emptyColumn = new QVBoxLayout(emptyStack);
    emptyColumn->setContentsMargins(0, 4, 0, 4);
    emptyColumn->setSpacing(6);
    emptyTitle_ = new QLabel(emptyStack);
    emptyTitle_->setObjectName(QStringLiteral("emptyTitle"));
    QFont medium = emptyTitle_->font();
    medium.setWeight(QFont::Medium);
    emptyTitle_->setFont(medium);
    emptyDetail_ = new QLabel(emptyStack);
    emptyDetail_->setObjectName(QStringLiteral("emptyDetail"));
    emptyDetail_->setWordWrap(true);
    TextStyle::caption(emptyDetail_);
    emptyColumn->addWidget(emptyTitle_);
    emptyColumn->addWidget(emptyDetail_);
    empty->addRow(emptyStack);
    content->addWidget(emptySection_);

    linksSection_ = new QWidget(this);
    linksSection_->setObjectName(QStringLiteral("linksSection"));
    auto* linksColumn = new QVBoxLayout(linksSection_);
    linksColumn->setContentsMargins(0, 0, 0, 0);
    linksColumn->setSpacing(6);
    linksHeader_ = new QLabel(linksSection_);
    linksHeader_->setObjectName(QStringLiteral("linksHeader"));
    QFont bold = linksHeader_->font();
    bold.setBold(true);
    linksHeader_->setFont(bold);
    linksColumn->addWidget(linksHeader_);

    table_ = new QTableView(linksSection_);
    table_->setObjectName(QStringLiteral("linksTable"));
    table_->setAccessibleName(QStringLiteral("Recent links"));
    table_->setModel(visible_);
    table_->setItemDelegate(new RecentLinksDelegate(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->setIconSize(QSize(16, 16));
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    table_->verticalHeader()->hide();
    // Fixed row heights: no row is measured while the filter changes.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 10);
    QHeaderView* columns = table_->horizontalHeader();
    columns->setHighlightSections(false);
    columns->setDefaultAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    columns->setMinimumSectionSize(22);
    const std::pair<int, int> widths[] = {{RecentLinksTableModel::time, 52 + 12},
                                          {RecentLinksTableModel::source, 110 + 12},
                                          {RecentLinksTableModel::target, 150 + 12},
                                          {RecentLinksTableModel::matched, 130 + 12},
                                          {RecentLinksTableModel::actions, 22 + 12}};
    for (const auto& [column, width] : widths) {
        columns->setSectionResizeMode(column, QHeaderView::Fixed);
        columns->resizeSection(column, width);
    }
    columns->setSectionResizeMode(RecentLinksTableModel::link, QHeaderView::Stretch);
    // The stored order (newest first) until a column title is clicked.
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    linksColumn->addWidget(table_, 1);

    auto* footer = new QHBoxLayout;
    clearButton_ = new QPushButton(QStringLiteral("Clear History"), linksSection_);
    clearButton_->setObjectName(QStringLiteral("clearHistoryButton"));
    QFont small = clearButton_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    clearButton_->setFont(small);
    fallbackAdvice_ = new QLabel(linksSection_);
    fallbackAdvice_->setObjectName(QStringLiteral("fallbackAdvice"));
    TextStyle::caption(fallbackAdvice_);
    footer->addWidget(clearButton_);
    footer->addStretch(1);
    footer->addWidget(fallbackAdvice_);
    linksColumn->addLayout(footer);
    content->addWidget(linksSection_, 1);
    content->addStretch(0);
    page->addLayout(content, 1);

    statusBar_ = new PageStatusBar(this);
    page->addWidget(statusBar_);
}

void RecentLinksView::connectModels() {
    connect(&routing_, &RoutingModel::recentLinksChanged, this, &RecentLinksView::refreshLinks);
    connect(&routing_, &RoutingModel::ruleSetChanged, this, [this] {
        Quiet::setChecked(historySwitch_, routing_.ruleSet().recordsHistory);
        refreshSummary();
    });
    connect(&routing_, &RoutingModel::browsersChanged, this, [this] {
        forgetLabels();
        links_->relabel();
    });
    connect(&model_, &AppModel::appsChanged, this, [this] {
        forgetLabels();
        links_->relabel();
    });
    connect(&routing_, &RoutingModel::statusMessageChanged, this, &RecentLinksView::refreshStatus);
    connect(&routing_, &RoutingModel::errorMessageChanged, this, &RecentLinksView::refreshStatus);

    connect(historySwitch_, &QCheckBox::clicked, this, &RecentLinksView::setHistory);
    connect(clearButton_, &QPushButton::clicked, this, &RecentLinksView::clearHistory);
    connect(filterField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        visible_->setFilterText(text);
        refreshSummary();
    });
    connect(targetPicker_, &QComboBox::activated, this, &RecentLinksView::chooseTarget);
    connect(table_, &QTableView::clicked, this, &RecentLinksView::cellClicked);
    connect(table_, &QWidget::customContextMenuRequested, this, &RecentLinksView::showContextMenu);
}

void RecentLinksView::refreshLinks() {
    // Source names come from the links themselves.
    sourceNames_.reset();
    sourceLabels_.clear();
    links_->setLinks(routing_.recentLinks());
    refreshPicker();
    refreshSummary();
}

void RecentLinksView::refreshSummary() {
    const std::vector<RecentLink>& all = routing_.recentLinks();
    const bool isEmpty = all.empty();
    Quiet::setVisible(emptySection_, isEmpty);
    Quiet::setVisible(linksSection_, !isEmpty);
    const bool recording = routing_.ruleSet().recordsHistory;
    Quiet::setText(emptyTitle_,
                   recording ? QStringLiteral("No links yet") : QStringLiteral("History is off"));
    Quiet::setText(emptyDetail_,
                   recording
                       ? QStringLiteral("Links you open from other apps will appear here once Corvane is "
                                        "handling them.")
                       : QStringLiteral("Turn it back on below to see what Corvane does with your links."));
    Quiet::setText(linksHeader_, RecentLinksText::headerTitle(visible_->rowCount(), int(all.size())));
    Quiet::setText(fallbackAdvice_, RecentLinksText::fallbackAdvice(all));
    clearButton_->setEnabled(!isEmpty);
}

void RecentLinksView::refreshPicker() {
    // An open list is not rebuilt under the user's pointer; the next change brings it up to date.
    if (targetPicker_->view()->isVisible())
        return;
    QStringList names = RecentLinksText::targetsSeen(routing_.recentLinks());
    const std::optional<QString>& chosen = visible_->targetFilter();
    // The chosen target stays listed while it filters, so the picker keeps showing what it filters by.
    if (chosen && !names.contains(*chosen))
        names.append(*chosen);
    QStringList shown;
    for (int i = 1; i < targetPicker_->count(); ++i)
        shown.append(targetPicker_->itemText(i));
    if (shown != names) {
        const QSignalBlocker blocker(targetPicker_);
        while (targetPicker_->count() > 1)
            targetPicker_->removeItem(1);
        for (const QString& name : names)
            targetPicker_->addItem(name, name);
    }
    Quiet::setCurrentIndex(targetPicker_, chosen ? targetPicker_->findData(*chosen) : 0);
}

void RecentLinksView::refreshStatus() {
    statusBar_->setLines(routing_.errorMessage(), routing_.statusMessage());
}

void RecentLinksView::setHistory(bool on) {
    RuleSet changed = routing_.ruleSet();
    changed.recordsHistory = on;
    routing_.setRuleSet(std::move(changed));
    routing_.save();
    // The helper goes on recording while the file still says so: keep the links unless the switch was saved.
    if (!on && !routing_.errorMessage()) {
        routing_.history.clear();
        routing_.setRecentLinks({});
    }
}

void RecentLinksView::clearHistory() {
    routing_.history.clear();
    routing_.setRecentLinks({});
}

void RecentLinksView::chooseTarget(int index) {
    const QVariant value = targetPicker_->itemData(index);
    visible_->setTargetFilter(value.isValid() ? std::optional<QString>(value.toString()) : std::nullopt);
    refreshPicker();
    refreshSummary();
}

void RecentLinksView::cellClicked(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const RecentLink& link = links_->linkAt(visible_->mapToSource(index).row());
    if (index.column() == RecentLinksTableModel::link) {
        showLink(link.id);
    } else if (index.column() == RecentLinksTableModel::actions) {
        const QRect cell = table_->visualRect(index);
        popUp(actionsMenu(link), table_->viewport()->mapToGlobal(cell.bottomLeft()));
    }
}

void RecentLinksView::showContextMenu(const QPoint& position) {
    const QModelIndex index = table_->indexAt(position);
    if (!index.isValid())
        return;
    const RecentLink link = links_->linkAt(visible_->mapToSource(index).row());
    popUp(contextMenu(link), table_->viewport()->mapToGlobal(position));
}

void RecentLinksView::popUp(const std::vector<MenuEntry>& entries, const QPoint& globalPosition) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("linkMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillMenu(menu, entries);
    menu->popup(globalPosition);
}

std::vector<MenuEntry> RecentLinksView::contextMenu(const RecentLink& link) {
    std::vector<MenuEntry> entries;
    MenuEntry copyURL{.title = QStringLiteral("Copy URL")};
    copyURL.action = [url = link.url] { copyText(url); };
    entries.push_back(copyURL);
    if (const std::optional<QString> host = RulesFromRecentLinks::host(link.url)) {
        MenuEntry copyHost{.title = QStringLiteral("Copy Host")};
        copyHost.action = [host = *host] { copyText(host); };
        entries.push_back(copyHost);
    }
    entries.push_back(MenuEntry::divider());
    MenuEntry show{.title = QStringLiteral("Show Full Link")};
    show.action = [this, id = link.id] { showLink(id); };
    entries.push_back(show);
    entries.push_back(MenuEntry::divider());
    for (MenuEntry& action : rules_.ruleActions(link))
        entries.push_back(std::move(action));
    return entries;
}

std::vector<MenuEntry> RecentLinksView::actionsMenu(const RecentLink& link) {
    return rules_.ruleActions(link);
}

QModelIndex RecentLinksView::linkCell(const QUuid& id) const {
    for (int row = 0; row < visible_->rowCount(); ++row) {
        const QModelIndex index = visible_->index(row, RecentLinksTableModel::link);
        if (links_->linkAt(visible_->mapToSource(index).row()).id == id)
            return index;
    }
    return {};
}

void RecentLinksView::showLink(const QUuid& id) {
    const QModelIndex cell = linkCell(id);
    if (!cell.isValid())
        return;
    if (popover_) {
        popover_->close();
        delete popover_.data(); // at once: only one popover ever exists
    }
    const RecentLink link = links_->linkAt(visible_->mapToSource(cell).row());
    showingLink_ = id;
    table_->scrollTo(cell);
    auto* popover = new LinkPopover(
        link,
        [this, id] {
            if (showingLink_ == id)
                showingLink_.reset();
        },
        this);
    popover_ = popover;
    const QRect rect = table_->visualRect(cell);
    popover->adjustSize();
    popover->move(table_->viewport()->mapToGlobal(rect.bottomLeft()));
    popover->show();
}

void RecentLinksView::edit(const LinkRule& rule) {
    if (sheet_ && sheet_->isVisible())
        return; // one sheet at a time; the page is covered while it is up
    editing_ = rule;
    RuleEditorView* sheet =
        RuleEditorView::present(rule, TargetDirectory::of(model_, routing_), routing_, this);
    sheet_ = sheet;
    connect(sheet, &QDialog::finished, this, [this] { editing_.reset(); });
}

const RecentLinksView::AppLabel& RecentLinksView::sourceLabel(const QString& bundleID) {
    auto found = sourceLabels_.find(bundleID);
    if (found != sourceLabels_.end())
        return *found;
    // The routing model's names of source apps, read once rather than once per cell.
    if (!sourceNames_) {
        sourceNames_.emplace();
        for (const SourceApp& app : routing_.sourceApps())
            sourceNames_->insert(app.bundleID, app.name);
    }
    AppLabel label;
    label.name = sourceNames_->value(bundleID);
    if (label.name.isEmpty())
        label.name = routing_.sourceAppName(bundleID);
    const std::optional<QIcon> icon = AppIcons::iconForBundleID(bundleID, 16);
    label.icon =
        icon ? *icon : systemIcon(QStringLiteral("questionmark.app.dashed"), ViewColors::secondary(), 16);
    return *sourceLabels_.insert(bundleID, label);
}

const RecentLinksView::AppLabel& RecentLinksView::targetLabel(const QString& bundleID) {
    auto found = targetLabels_.find(bundleID);
    if (found != targetLabels_.end())
        return *found;
    if (!directory_)
        directory_ = TargetDirectory::of(model_, routing_);
    const RouteTarget target = rules_.targetFor(bundleID);
    AppLabel label;
    label.name = directory_->name(target);
    label.isMissing = !directory_->path(target);
    const std::optional<QIcon> icon = directory_->icon(target);
    label.icon =
        icon ? *icon : systemIcon(QStringLiteral("questionmark.app.dashed"), ViewColors::orange(), 16);
    return *targetLabels_.insert(bundleID, label);
}

void RecentLinksView::forgetLabels() {
    sourceLabels_.clear();
    targetLabels_.clear();
    sourceNames_.reset();
    directory_.reset();
}
