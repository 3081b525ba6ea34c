#include "Corvane/Views/Routing/RulesView.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/ListBox.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/RouteTargetControls.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "Corvane/Views/Routing/RuleEditorView.h"
#include "Corvane/Views/Routing/RuleTesterView.h"
#include "Corvane/Views/Routing/RulesList.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
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
const QString defaultBrowserAdvice = QStringLiteral(
    "Corvane must be the default browser in System Settings for rules to run, and it never "
    "opens a link itself — it hands it to a browser. Links opened from a proxy app directly skip "
    "the rules entirely.");
const QString notDefaultWarning =
    QStringLiteral("Corvane isn't the default browser yet, so these rules aren't running.");

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

    box_ = new ListBox(190, section);
    box_->setObjectName(QStringLiteral("rulesListBox"));
    box_->setPlaceholder(emptyRulesText);
    add_ = ListBoxButtons::makeAddButton(QStringLiteral("Add Rule"));
    add_->setObjectName(QStringLiteral("addRule"));
    buttons_ = new ListBoxButtons(add_);
    buttons_->removeButton()->setObjectName(QStringLiteral("removeRule"));
    box_->setFooter(buttons_);

    // The box's own list takes row widgets one item at a time; the rules need a model of their own (rows
    // follow the rule set by identity and are dragged as text), so their view takes the list's place, with
    // the box's placeholder text in it while there is no rule.
    rules_ = new RulesListModel(routing_, this);
    list_ = new RulesListView(
        *rules_,
        [this](const RouteTarget& target, QWidget* parent) { return targetLabel(target, 20, parent); }, box_);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setMinimumHeight(190);
    box_->setRowsView(list_);

    section->addRow(box_);
    section->setFooter(rulesCaption);

    connect(add_, &QToolButton::clicked, this, &RulesView::addRule);
    connect(buttons_, &ListBoxButtons::removeClicked, this, &RulesView::removeSelected);
    // Clicks, arrow keys and presses that start a drag all move the list's selection: the page acts on the
    // row the list highlights, whatever moved it there.
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RulesView::followListSelection);
    connect(list_, &RulesListView::enableToggled, this,
            [this](const QUuid& ruleID, bool enabled) { routing_.setEnabled(enabled, ruleID); });
    connect(list_, &RulesListView::editRequested, this, [this](const QUuid& ruleID) {
        if (const auto row = rules_->row(ruleID))
            edit(rules_->rule(*row));
    });
    connect(list_, &RulesListView::contextMenuRequestedFor, this, &RulesView::showRowMenu);

    buttons_->setCanRemove(false);
    return section;
}

void RulesView::buildFallbackSections() {
    const TargetDirectory directory = TargetDirectory::of(model_, routing_);
    const RuleSet& set = routing_.ruleSet();

    fallbackSection_ = new FormSection(QStringLiteral("Fallback"), this);
    fallbackSection_->setObjectName(QStringLiteral("fallbackSection"));
    fallbackMenu_ = new OptionalTargetMenu(
        set.fallback, directory, [this] { return routing_.offeredBrowsers(routing_.ruleSet().fallback); },
        automaticFallbackTitle(), fallbackSection_);
    fallbackMenu_->setObjectName(QStringLiteral("fallbackMenu"));
    fallbackSection_->addRow(QStringLiteral("Open links that match no rule in"), fallbackMenu_);
    fallbackAdvice_ = fallbackSection_->setFooter(QStringLiteral(" "));
    fallbackAdvice_->setObjectName(QStringLiteral("fallbackAdvice"));

    localFilesSection_ = new FormSection(QStringLiteral("Local Files"), this);
    localFilesSection_->setObjectName(QStringLiteral("localFilesSection"));
    localFileMenu_ = new OptionalTargetMenu(
        set.localFileTarget, directory,
        [this] { return routing_.offeredBrowsers(routing_.ruleSet().localFileTarget); },
        QStringLiteral("Same as fallback"), localFilesSection_);
    localFileMenu_->setObjectName(QStringLiteral("localFileMenu"));
    localFilesSection_->addRow(QStringLiteral("Open local files in"), localFileMenu_);
    localFileAdvice_ = localFilesSection_->setFooter(QStringLiteral(" "));
    localFileAdvice_->setObjectName(QStringLiteral("localFileAdvice"));

    connect(fallbackMenu_, &OptionalTargetMenu::targetChosen, this, &RulesView::setFallback);
    connect(localFileMenu_, &OptionalTargetMenu::targetChosen, this, &RulesView::setLocalFileTarget);
}

QString RulesView::automaticFallbackTitle() const {
    return QStringLiteral("Automatic — ") + routing_.automaticFallbackName();
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

QWidget* RulesView::targetLabel(const RouteTarget& target, int iconSize, QWidget* parent) const {
    return new RouteTargetLabel(target, TargetDirectory::of(model_, routing_), iconSize, parent);
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
    auto* sheet = RuleEditorView::present(rule, TargetDirectory::of(model_, routing_), routing_, this);
    // Whatever closed it ("Done" saved through the routing model, "Cancel" dropped the edits), the list
    // already shows the rule set as it stands.
    connect(sheet, &QDialog::finished, this, [this] { editing_.reset(); });
}

void RulesView::select(const std::optional<QUuid>& ruleID) {
    selection_ = ruleID;
    buttons_->setCanRemove(selection_.has_value());
    showSelectionInList();
}

std::optional<QUuid> RulesView::highlightedRule() const {
    const QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return std::nullopt;
    return rules_->rule(selected.front().row()).id;
}

void RulesView::showSelectionInList() {
    if (highlightedRule() == selection_)
        return;
    const QScopedValueRollback<bool> showing(showingSelection_, true);
    const std::optional<int> row = selection_ ? rules_->row(*selection_) : std::nullopt;
    if (row) {
        list_->setCurrentIndex(rules_->index(*row));
    } else {
        // Also a rule deleted from its menu: it stays the selection, and no other row is highlighted for it.
        list_->clearSelection();
    }
}

void RulesView::followListSelection() {
    if (showingSelection_)
        return;
    select(highlightedRule());
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
    {
        // Rows that go or move carry the list's highlight along on their own; the page's selection stays the
        // user's and is drawn again afterwards.
        const QScopedValueRollback<bool> showing(showingSelection_, true);
        rules_->refresh();
    }
    showSelectionInList();
    refreshFallbacks();
    tester_->refresh();
}

void RulesView::refreshTargets() {
    const TargetDirectory directory = TargetDirectory::of(model_, routing_);
    fallbackMenu_->setDirectory(directory);
    localFileMenu_->setDirectory(directory);
    list_->refreshTargets();
    refreshFallbacks();
    tester_->refreshTargets();
}

void RulesView::refreshFallbacks() {
    const RuleSet& set = routing_.ruleSet();
    fallbackMenu_->setTarget(set.fallback);
    fallbackMenu_->setAutomaticTitle(automaticFallbackTitle());
    localFileMenu_->setTarget(set.localFileTarget);
    Quiet::setText(fallbackAdvice_, fallbackAdvice(set));
}

void RulesView::refreshLocalFileAdvice() {
    const bool handles = !routing_.handledFileTypes().isEmpty();
    Quiet::setText(localFileAdvice_, localFileAdvice(handles));
    TextStyle::setColor(localFileAdvice_, handles ? ViewColors::secondary() : ViewColors::orange());
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
        return QStringLiteral(
            "Rules are tried first: an address beginning “/” or “~/” matches a file's path, so "
            "“~/work/*” can send one folder somewhere of its own. Those patterns never match "
            "a web link, and web patterns never match a file.");
    return QStringLiteral(
        "Corvane isn't set to open any local files yet, so this has nothing to act on — switch "
        "a file type on under System first.");
}
