#include "Corvane/Views/RulesView.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/PageForm.h"
#include "Corvane/Views/PageStatusBar.h"
#include "Corvane/Views/QuietSetters.h"
#include "Corvane/Views/RuleTesterView.h"
#include "Corvane/Views/RulesList.h"
#include "Corvane/Views/SystemImages.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString emptyRulesText = QStringLiteral(
    "No rules yet. Every link goes to the fallback below — use + to send some of them somewhere else.");
const QString rulesCaption =
    QStringLiteral("Drag to set priority — the first match wins. Double-click a rule to edit it.");
const QString automaticPreference = QStringLiteral(
    "Automatic prefers Chrome, then Safari, then whichever browsers are switched on under System. ");
const QString defaultBrowserAdvice =
    QStringLiteral("Corvane must be the default browser in System Settings for rules to run, and it never "
                   "opens a link itself — it hands it to a browser. Links opened from a proxy app directly skip "
                   "the rules entirely.");
const QString notDefaultWarning =
    QStringLiteral("Corvane isn't the default browser yet, so these rules aren't running.");

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    if (palette.color(QPalette::WindowText) == color)
        return;
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

} // namespace

RulesView::RulesView(AppModel& model, RoutingModel& routing, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , routing_(routing) {
    setObjectName(QStringLiteral("RulesView"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    auto* form = new PageForm(this);
    form->setObjectName(QStringLiteral("rulesForm"));
    page->addWidget(form, 1);

    form->addWidget(buildRulesSection());
    buildFallbackSections();
    form->addWidget(fallbackSection_);
    form->addWidget(localFilesSection_);
    tester_ = new RuleTesterView(
        model_, routing_,
        [this](const RouteTarget& target, int iconSize, QWidget* parent) {
            return targetLabel(target, iconSize, parent);
        },
        form->widget());
    form->addWidget(tester_);
    form->addStretch();
    buildFooter();
    page->addWidget(footer_);

    connect(&routing_, &RoutingModel::ruleSetChanged, this, &RulesView::refreshRules);
    connect(&routing_, &RoutingModel::browsersChanged, this, &RulesView::refreshTargets);
    connect(&model_, &AppModel::appsChanged, this, &RulesView::refreshTargets);
    connect(&routing_, &RoutingModel::handledFileTypesChanged, this, &RulesView::refreshLocalFileAdvice);
    connect(&routing_, &RoutingModel::errorMessageChanged, this, &RulesView::refreshFooter);
    connect(&routing_, &RoutingModel::statusMessageChanged, this, &RulesView::refreshFooter);
    connect(&routing_, &RoutingModel::isDefaultBrowserChanged, this, &RulesView::refreshFooter);

    refreshFallbacks();
    refreshLocalFileAdvice();
    refreshFooter();
}

// MARK: building

FormSection* RulesView::buildRulesSection() {
    auto* section = new FormSection(QStringLiteral("Link Rules"), this);
    section->setObjectName(QStringLiteral("linkRulesSection"));

    auto* box = new QFrame(section);
    box->setObjectName(QStringLiteral("rulesListBox"));
    box->setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    emptyState_ = new QLabel(emptyRulesText, box);
    emptyState_->setObjectName(QStringLiteral("rulesEmptyState"));
    emptyState_->setWordWrap(true);
    emptyState_->setContentsMargins(10, 10, 10, 10);
    emptyState_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    TextStyle::secondary(emptyState_);
    column->addWidget(emptyState_);

    rules_ = new RulesListModel(routing_, this);
    list_ = new RulesListView(
        *rules_,
        [this](const RouteTarget& target, QWidget* parent) { return targetLabel(target, 20, parent); }, box);
    list_->setMinimumHeight(190);
    column->addWidget(list_, 1);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(0, 0, 0, 0);
    footer->setSpacing(0);
    add_ = new QToolButton(box);
    add_->setObjectName(QStringLiteral("addRule"));
    add_->setIcon(systemIcon(QStringLiteral("plus"), textColor(this), 12));
    add_->setAutoRaise(true);
    add_->setFixedSize(30, 24);
    add_->setToolTip(QStringLiteral("Add Rule"));
    add_->setAccessibleName(QStringLiteral("Add Rule"));
    remove_ = new QToolButton(box);
    remove_->setObjectName(QStringLiteral("removeRule"));
    remove_->setIcon(systemIcon(QStringLiteral("minus"), textColor(this), 12));
    remove_->setAutoRaise(true);
    remove_->setFixedSize(30, 24);
    remove_->setToolTip(QStringLiteral("Remove Rule"));
    remove_->setAccessibleName(QStringLiteral("Remove Rule"));
    footer->addWidget(add_);
    footer->addWidget(remove_);
    footer->addStretch(1);
    column->addLayout(footer);

    section->addRow(box);
    section->setFooter(rulesCaption);

    connect(add_, &QToolButton::clicked, this, &RulesView::addRule);
    connect(remove_, &QToolButton::clicked, this, &RulesView::removeSelected);
    connect(list_, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { select(rules_->rule(index.row()).id); });
    connect(list_, &RulesListView::enableToggled, this,
            [this](const QUuid& ruleID, bool enabled) { routing_.setEnabled(enabled, ruleID); });
    connect(list_, &RulesListView::editRequested, this, [this](const QUuid& ruleID) {
        if (const auto row = rules_->row(ruleID))
            edit(rules_->rule(*row));
    });
    connect(list_, &RulesListView::contextMenuRequestedFor, this, &RulesView::showRowMenu);

    Quiet::setVisible(emptyState_, rules_->rowCount() == 0);
    Quiet::setVisible(list_, rules_->rowCount() > 0);
    remove_->setEnabled(false);
    return section;
}

void RulesView::buildFallbackSections() {
    fallbackSection_ = new FormSection(QStringLiteral("Fallback"), this);
    fallbackSection_->setObjectName(QStringLiteral("fallbackSection"));
    fallbackAdvice_ = fallbackSection_->setFooter(QStringLiteral(" "));
    fallbackAdvice_->setObjectName(QStringLiteral("fallbackAdvice"));

    localFilesSection_ = new FormSection(QStringLiteral("Local Files"), this);
    localFilesSection_->setObjectName(QStringLiteral("localFilesSection"));
    localFileAdvice_ = localFilesSection_->setFooter(QStringLiteral(" "));
    localFileAdvice_->setObjectName(QStringLiteral("localFileAdvice"));
}

void RulesView::buildFooter() {
    footer_ = new QWidget(this);
    footer_->setObjectName(QStringLiteral("rulesFooter"));
    footer_->setAutoFillBackground(true);
    footer_->setBackgroundRole(QPalette::AlternateBase);
    auto* row = new QHBoxLayout(footer_);
    row->setContentsMargins(0, 0, 12, 0);
    row->setSpacing(0);
    statusBar_ = new PageStatusBar(footer_);
    row->addWidget(statusBar_, 1);
    openSystem_ = new QPushButton(QStringLiteral("Open System…"), footer_);
    openSystem_->setObjectName(QStringLiteral("openSystem"));
    QFont small = openSystem_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    openSystem_->setFont(small);
    row->addWidget(openSystem_, 0, Qt::AlignVCenter);
    // Straight to the System page: nothing here can be left unsaved.
    connect(openSystem_, &QPushButton::clicked, this,
            [this] { model_.setSelection(AppModel::Selection::system()); });
}

QWidget* RulesView::targetLabel(const RouteTarget& target, int, QWidget* parent) const {
    auto* label = new QLabel(target.bundleID(), parent);
    return label;
}

// MARK: actions

void RulesView::addRule() {
    const size_t before = routing_.ruleSet().rules.size();
    routing_.addRule(defaultTarget());
    const std::vector<LinkRule>& rules = routing_.ruleSet().rules;
    if (rules.size() <= before)
        return;
    select(rules.back().id);
    edit(rules.back());
}

std::optional<RouteTarget> RulesView::defaultTarget() const {
    if (!model_.apps().empty())
        return RouteTarget::proxyApp(model_.apps().front().bundleID);
    const std::vector<BrowserEntry> offered = routing_.offeredBrowsers(std::nullopt);
    if (!offered.empty())
        return RouteTarget::browser(offered.front().bundleID, false);
    return std::nullopt;
}

void RulesView::duplicate(const LinkRule& rule) {
    LinkRule copy = rule;
    copy.id = QUuid::createUuid();
    copy.name = rule.name + QStringLiteral(" copy");
    RuleSet set = routing_.ruleSet();
    set.rules.push_back(std::move(copy));
    routing_.setRuleSet(std::move(set));
    routing_.save();
}

void RulesView::remove(const QUuid& ruleID) {
    RuleSet set = routing_.ruleSet();
    std::erase_if(set.rules, [&](const LinkRule& rule) { return rule.id == ruleID; });
    routing_.setRuleSet(std::move(set));
    routing_.save();
}

void RulesView::removeSelected() {
    if (selection_)
        remove(*selection_);
    select(std::nullopt);
}

void RulesView::setFallback(const std::optional<RouteTarget>& target) {
    RuleSet set = routing_.ruleSet();
    set.fallback = target;
    routing_.setRuleSet(std::move(set));
    routing_.save();
}

void RulesView::setLocalFileTarget(const std::optional<RouteTarget>& target) {
    RuleSet set = routing_.ruleSet();
    set.localFileTarget = target;
    routing_.setRuleSet(std::move(set));
    routing_.save();
}

void RulesView::edit(const LinkRule& rule) {
    editing_ = rule;
}

void RulesView::select(const std::optional<QUuid>& ruleID) {
    selection_ = ruleID;
    remove_->setEnabled(selection_.has_value());
    const std::optional<int> row = ruleID ? rules_->row(*ruleID) : std::nullopt;
    if (row) {
        list_->setCurrentIndex(rules_->index(*row));
    } else {
        list_->clearSelection();
    }
}

std::vector<MenuEntry> RulesView::rowMenu(const LinkRule& rule) {
    MenuEntry editEntry;
    editEntry.title = QStringLiteral("Edit…");
    editEntry.action = [this, rule] { edit(rule); };
    MenuEntry duplicateEntry;
    duplicateEntry.title = QStringLiteral("Duplicate");
    duplicateEntry.action = [this, rule] { duplicate(rule); };
    MenuEntry deleteEntry;
    deleteEntry.title = QStringLiteral("Delete");
    deleteEntry.action = [this, id = rule.id] { remove(id); };
    return {editEntry, duplicateEntry, MenuEntry::divider(), deleteEntry};
}

void RulesView::showRowMenu(const QUuid& ruleID, const QPoint& globalPosition) {
    const std::optional<int> row = rules_->row(ruleID);
    if (!row)
        return;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ruleRowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillMenu(menu, rowMenu(rules_->rule(*row)));
    menu->popup(globalPosition);
}

// MARK: following the models

void RulesView::refreshRules() {
    rules_->refresh();
    Quiet::setVisible(emptyState_, rules_->rowCount() == 0);
    Quiet::setVisible(list_, rules_->rowCount() > 0);
    refreshFallbacks();
    tester_->refresh();
}

void RulesView::refreshTargets() {
    list_->refreshTargets();
    refreshFallbacks();
    tester_->refreshTargets();
}

void RulesView::refreshFallbacks() {
    const RuleSet& set = routing_.ruleSet();
    Quiet::setText(fallbackAdvice_, fallbackAdvice(set));
}

void RulesView::refreshLocalFileAdvice() {
    const bool handles = !routing_.handledFileTypes().isEmpty();
    Quiet::setText(localFileAdvice_, localFileAdvice(handles));
    setTextColor(localFileAdvice_, handles ? ViewColors::secondary() : ViewColors::orange());
}

void RulesView::refreshFooter() {
    const auto& error = routing_.errorMessage();
    const auto& status = routing_.statusMessage();
    const bool warns = !error && !status && !routing_.isDefaultBrowser();
    statusBar_->setLines(error, status, warns ? std::optional<QString>(notDefaultWarning) : std::nullopt);
    Quiet::setVisible(openSystem_, warns);
    Quiet::setVisible(footer_, error || status || warns);
}

QString RulesView::fallbackAdvice(const RuleSet& set) {
    return set.fallback ? defaultBrowserAdvice : automaticPreference + defaultBrowserAdvice;
}

QString RulesView::localFileAdvice(bool handlesFileTypes) {
    if (handlesFileTypes)
        return QStringLiteral("Rules are tried first: an address beginning “/” or “~/” matches a file's path, so "
                              "“~/work/*” can send one folder somewhere of its own. Those patterns never match "
                              "a web link, and web patterns never match a file.");
    return QStringLiteral("Corvane isn't set to open any local files yet, so this has nothing to act on — switch "
                          "a file type on under System first.");
}
