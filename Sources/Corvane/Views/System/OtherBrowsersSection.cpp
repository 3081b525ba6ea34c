#include "Corvane/Views/System/OtherBrowsersSection.h"

#include "Corvane/Views/Kit/AccessibleRows.h"

#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/RoutingComponents.h"
#include "Corvane/Views/System/BrowserPicker.h"
#include "Corvane/Views/System/SystemView.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int browserIconPoints = 26;

QString detailOf(const BrowserEntry& entry) {
    return entry.version.isEmpty() ? entry.bundleID : QStringLiteral("Version ") + entry.version;
}

} // namespace

// MARK: - BrowserRow

BrowserRow::BrowserRow(RoutingModel& routing, const BrowserEntry& entry, QWidget* parent)
    : QWidget(parent)
    , routing_(routing)
    , entry_(entry) {
    setObjectName(QStringLiteral("browser:") + entry.bundleID);
    AccessibleRows::setRole(this, QAccessible::ListItem);
    setAccessibleName(entry.name);
    setAccessibleDescription(detailOf(entry));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 1, 0, 1);
    row->setSpacing(10);

    icon_ = new QLabel(this);
    icon_->setFixedSize(browserIconPoints, browserIconPoints);
    icon_->setPixmap(
        AppIcons::icon(entry.path, browserIconPoints).pixmap(browserIconPoints, browserIconPoints));
    row->addWidget(icon_);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    name_ = new ElidedLabel(entry.name, this);
    name_->setObjectName(QStringLiteral("browserName"));
    detail_ = new QLabel(detailOf(entry), this);
    detail_->setObjectName(QStringLiteral("browserDetail"));
    detail_->setTextFormat(Qt::PlainText);
    TextStyle::caption(detail_);
    texts->addWidget(name_);
    texts->addWidget(detail_);
    row->addLayout(texts, 1);

    // The switch has no text of its own; a screen reader names it after its browser.
    switch_ = new QCheckBox(this);
    switch_->setObjectName(QStringLiteral("offeredSwitch"));
    switch_->setAccessibleName(entry.name);
    ButtonStyle::makeSmall(switch_);
    row->addWidget(switch_);
    connect(switch_, &QCheckBox::clicked, this, &BrowserRow::setOffered);

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const auto entries = contextMenuEntries();
        if (entries.empty())
            return;
        auto* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        fillMenu(menu, entries);
        menu->popup(mapToGlobal(at));
    });
    refreshOffered();
}

void BrowserRow::setEntry(const BrowserEntry& entry) {
    if (entry == entry_)
        return;
    if (entry.path != entry_.path)
        icon_->setPixmap(
            AppIcons::icon(entry.path, browserIconPoints).pixmap(browserIconPoints, browserIconPoints));
    entry_ = entry;
    name_->setFullText(entry.name);
    switch_->setAccessibleName(entry.name);
    Quiet::setText(detail_, detailOf(entry));
    setAccessibleName(entry.name);
    setAccessibleDescription(detailOf(entry));
}

void BrowserRow::refreshOffered() {
    Quiet::setChecked(switch_, isOffered(entry_, routing_.ruleSet()));
}

QString BrowserRow::shownName() const {
    return name_->fullText();
}

QString BrowserRow::shownDetail() const {
    return detail_->text();
}

std::vector<MenuEntry> BrowserRow::contextMenuEntries() {
    const BrowserEntry entry = entry_;
    RoutingModel* routing = &routing_;
    return menuEntries(entry_, routing_.ruleSet(), [routing, entry] { routing->removeBrowser(entry); });
}

bool BrowserRow::isOffered(const BrowserEntry& entry, const RuleSet& rules) {
    const auto choice = rules.browserChoices.constFind(entry.bundleID);
    return choice != rules.browserChoices.constEnd() ? *choice : entry.isKnownBrowser();
}

std::vector<MenuEntry> BrowserRow::menuEntries(const BrowserEntry& entry, const RuleSet& rules,
                                               const std::function<void()>& remove) {
    if (!rules.additionalBrowserIDs.contains(entry.bundleID))
        return {};
    MenuEntry removeEntry{.title = QStringLiteral("Remove from List")};
    removeEntry.action = remove;
    return {removeEntry};
}

void BrowserRow::setOffered(bool offered) {
    RuleSet changed = routing_.ruleSet();
    changed.browserChoices.insert(entry_.bundleID, offered);
    routing_.setRuleSet(std::move(changed));
    routing_.save();
}

// MARK: - OtherBrowsersSection

OtherBrowsersSection::OtherBrowsersSection(RoutingModel& routing, QWidget* parent)
    : FormSection(QStringLiteral("Other Browsers"), parent)
    , routing_(routing) {
    setObjectName(QStringLiteral("browsersSection"));
    setFooter(QStringLiteral("These choose which browsers appear when you pick where a rule sends links. "
                             "Switching one off leaves rules "
                             "already pointing at it working — LaunchServices lists everything that can open "
                             "a web link, which on a "
                             "developer's Mac is rather more than the browsers. Add one by hand if it opens "
                             "links without saying so — "
                             "which is exactly what keeps it off this list."));

    empty_ = new QLabel(QStringLiteral("No other browsers found."), this);
    empty_->setObjectName(QStringLiteral("noBrowsers"));
    TextStyle::secondary(empty_);
    addRow(empty_);

    list_ = new QWidget(this);
    list_->setObjectName(QStringLiteral("browserList"));
    AccessibleRows::setRole(list_, QAccessible::List);
    list_->setAccessibleName(QStringLiteral("Other Browsers"));
    listColumn_ = new QVBoxLayout(list_);
    listColumn_->setContentsMargins(0, 0, 0, 0);
    addRow(list_);

    auto* footerRow = new QWidget(this);
    auto* row = new QHBoxLayout(footerRow);
    row->setContentsMargins(0, 2, 0, 0);
    auto* addButton = new QPushButton(QStringLiteral("Add Browser…"), footerRow);
    addButton->setObjectName(QStringLiteral("addBrowserButton"));
    addButton->setAutoDefault(false);
    ButtonStyle::makeSmall(addButton);
    connect(addButton, &QPushButton::clicked, this, &OtherBrowsersSection::add);
    removeHint_ = new QLabel(QStringLiteral("Right-click one you added to remove it."), footerRow);
    removeHint_->setObjectName(QStringLiteral("removeBrowserHint"));
    TextStyle::caption(removeHint_);
    row->addWidget(addButton);
    row->addStretch(1);
    row->addWidget(removeHint_);
    addRow(footerRow);

    connect(&routing_, &RoutingModel::browsersChanged, this, &OtherBrowsersSection::refreshList);
    connect(&routing_, &RoutingModel::ruleSetChanged, this, &OtherBrowsersSection::refreshChoices);
    refreshList();
}

std::vector<BrowserRow*> OtherBrowsersSection::rows() const {
    std::vector<BrowserRow*> shown;
    for (int i = 0; i < listColumn_->count(); ++i)
        if (auto* browserRow = qobject_cast<BrowserRow*>(listColumn_->itemAt(i)->widget()))
            shown.push_back(browserRow);
    return shown;
}

void OtherBrowsersSection::refreshList() {
    const std::vector<BrowserEntry>& browsers = routing_.browsers();
    QMap<QString, BrowserRow*> kept;
    std::vector<BrowserRow*> order;
    for (const BrowserEntry& entry : browsers) {
        if (kept.contains(entry.bundleID))
            continue;
        BrowserRow* browserRow = rows_.take(entry.bundleID);
        if (browserRow)
            browserRow->setEntry(entry);
        else
            browserRow = new BrowserRow(routing_, entry, list_);
        kept.insert(entry.bundleID, browserRow);
        order.push_back(browserRow);
    }
    // Later: the row's own context menu may be what removed it, and is still handling its click.
    for (BrowserRow* gone : std::as_const(rows_)) {
        listColumn_->removeWidget(gone);
        gone->hide();
        gone->deleteLater();
    }
    rows_ = kept;
    // Rows that stay keep their widgets (and focus); only their places follow the list's order.
    for (int place = 0; place < int(order.size()); ++place) {
        if (listColumn_->indexOf(order[place]) != place) {
            listColumn_->removeWidget(order[place]);
            listColumn_->insertWidget(place, order[place]);
        }
    }
    Quiet::setVisible(empty_, browsers.empty());
    Quiet::setVisible(list_, !browsers.empty());
    refreshChoices();
}

void OtherBrowsersSection::refreshChoices() {
    for (BrowserRow* browserRow : std::as_const(rows_))
        browserRow->refreshOffered();
    Quiet::setVisible(removeHint_, routing_.hasHandAddedBrowsers());
}

void OtherBrowsersSection::add() {
    const auto chosen = BrowserPicker::ask();
    if (!chosen)
        return;
    if (const auto entry = routing_.addBrowser(*chosen))
        routing_.setStatusMessage(QStringLiteral("Added ") + entry->name + QStringLiteral("."));
}
