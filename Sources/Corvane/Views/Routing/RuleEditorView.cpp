#include "Corvane/Views/Routing/RuleEditorView.h"

#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/AccessibleRows.h"
#include "Corvane/Views/Kit/ListBox.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SourceAppControls.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char* const rowIDProperty = "valueRowID";

QFont monospaced(const QFont& like) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(like.pointSizeF());
    return font;
}

bool isBlank(const QString& text) {
    return RuleValue::trimmed(text).isEmpty();
}

// Selects its row when the user clicks or tabs into the row's field; focus that merely lands there (the
// list shown again after text mode) selects nothing.
class FocusSelects : public QObject {
public:
    FocusSelects(QObject* parent, std::function<void()> select)
        : QObject(parent)
        , select_(std::move(select)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress)
            select_();
        else if (event->type() == QEvent::FocusIn) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
                reason == Qt::BacktabFocusReason)
                select_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> select_;
};

} // namespace

ConditionBlock ConditionBlock::empty(Condition::Kind kind) {
    ConditionBlock block;
    block.kind = kind;
    return block;
}

ConditionBlock ConditionBlock::from(const Condition& condition) {
    ConditionBlock block = empty(condition.kind);
    for (const QString& value : condition.values)
        block.rows.push_back(ValueRow{QUuid::createUuid(), value});
    return block;
}

QStringList ConditionBlock::values() const {
    if (isTextMode)
        return Condition::valuesFromText(text);
    QStringList result;
    for (const ValueRow& row : rows)
        result.append(row.text);
    return result;
}

Condition ConditionBlock::condition() const {
    return Condition{kind, values()};
}

void ConditionBlock::toggleTextMode() {
    if (!isTextMode) {
        QStringList lines;
        for (const ValueRow& row : rows)
            if (!isBlank(row.text))
                lines.append(row.text);
        text = lines.join(QLatin1Char('\n'));
        isTextMode = true;
        return;
    }
    rows.clear();
    for (const QString& value : Condition::valuesFromText(text))
        rows.push_back(ValueRow{QUuid::createUuid(), value});
    // Every row is new, so an old selection would name none of them and leave "remove" enabled for nothing.
    selection.reset();
    isTextMode = false;
}

void ConditionBlock::removeSelectedOrLast() {
    if (selection)
        std::erase_if(rows, [&](const ValueRow& row) { return row.id == *selection; });
    else if (!rows.empty())
        rows.pop_back();
    selection.reset();
}

QUuid ConditionBlock::appendRow(const QString& value, bool select) {
    rows.push_back(ValueRow{QUuid::createUuid(), value});
    if (select)
        selection = rows.back().id;
    return rows.back().id;
}

ConditionBlockEditor::ConditionBlockEditor(ConditionBlock block, RoutingModel& routing, QWidget* parent)
    : QFrame(parent)
    , block_(std::move(block))
    , routing_(routing) {
    const bool isAddresses = block_.kind == Condition::Kind::addresses;
    setObjectName(isAddresses ? QStringLiteral("addressesCondition") : QStringLiteral("appsCondition"));
    AccessibleRows::setRole(this, QAccessible::ListItem);
    setAccessibleName(::title(block_.kind));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 4, 0, 4);
    column->setSpacing(6);

    auto* header = new QHBoxLayout;
    auto* title = new QLabel(::title(block_.kind), this);
    title->setObjectName(QStringLiteral("conditionTitle"));
    QFont medium = title->font();
    medium.setWeight(QFont::Medium);
    title->setFont(medium);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("conditionSummary"));
    TextStyle::caption(summary_);
    menuButton_ = new QToolButton(this);
    menuButton_->setObjectName(QStringLiteral("conditionMenu"));
    menuButton_->setAutoRaise(true);
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuButton_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    menuButton_->setIcon(systemIcon(QStringLiteral("ellipsis.circle"), textColor(this), 16));
    menuButton_->setToolTip(QStringLiteral("Condition Options"));
    menuButton_->setAccessibleName(QStringLiteral("Condition Options"));
    auto* menu = new QMenu(menuButton_);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { fillMenu(menu, headerMenuEntries()); });
    menuButton_->setMenu(menu);
    header->addWidget(title, 0, Qt::AlignVCenter);
    header->addWidget(summary_, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(menuButton_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    bodies_ = new QStackedWidget(this);
    bodies_->setObjectName(QStringLiteral("conditionBodies"));
    bodies_->setAccessibleName(::title(block_.kind));
    column->addWidget(bodies_);

    list_ = new ListBox(132, bodies_);
    list_->setObjectName(QStringLiteral("conditionValues"));
    list_->setAccessibleName(::title(block_.kind));
    list_->list()->setAccessibleName(::title(block_.kind));
    list_->setPlaceholder(isAddresses ? QStringLiteral("No addresses yet — use + to add one.")
                                      : QStringLiteral("No apps yet — use + to choose one."));
    QWidget* addControl = nullptr;
    if (isAddresses) {
        QToolButton* add = ListBoxButtons::makeAddButton(QStringLiteral("Add Address"));
        connect(add, &QToolButton::clicked, this, &ConditionBlockEditor::addAddress);
        addControl = add;
    } else {
        appMenu_ = new SourceAppMenu(routing_, {}, nullptr);
        appMenu_->setObjectName(QStringLiteral("listBoxAdd"));
        appMenu_->setAutoRaise(true);
        appMenu_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
        appMenu_->setIcon(systemIcon(QStringLiteral("plus"), textColor(this), 12));
        appMenu_->setToolTip(QStringLiteral("Add App"));
        appMenu_->setAccessibleName(QStringLiteral("Add App"));
        connect(appMenu_, &SourceAppMenu::picked, this, &ConditionBlockEditor::addApp);
        addControl = appMenu_;
    }
    buttons_ = new ListBoxButtons(addControl, list_);
    connect(buttons_, &ListBoxButtons::removeClicked, this, &ConditionBlockEditor::removeSelectedOrLast);
    list_->setFooter(buttons_);
    // Clicks, arrow keys and a Ctrl+click that clears the highlight all move the list's selection: "−" acts
    // on the row the list highlights, as on the Rules page, never on a current row shown as unselected.
    connect(list_->list(), &QListWidget::itemSelectionChanged, this,
            &ConditionBlockEditor::followListSelection);
    bodies_->addWidget(list_);

    if (isAddresses) {
        auto* textPage = new QWidget(bodies_);
        auto* textColumn = new QVBoxLayout(textPage);
        textColumn->setContentsMargins(0, 0, 0, 0);
        textColumn->setSpacing(4);
        textEditor_ = new QPlainTextEdit(textPage);
        textEditor_->setObjectName(QStringLiteral("conditionText"));
        textEditor_->setAccessibleName(QStringLiteral("Addresses"));
        textEditor_->setFont(monospaced(font()));
        textEditor_->setMinimumHeight(132);
        textEditor_->setTabChangesFocus(true);
        connect(textEditor_, &QPlainTextEdit::textChanged, this, [this] {
            block_.text = textEditor_->toPlainText();
            updateSummary();
            emit changed();
        });
        auto* hint =
            new QLabel(QStringLiteral("One address per line. Blank lines are ignored. An entry beginning "
                                      "“/” or “~/” matches a local file's path instead of a web address."),
                       textPage);
        hint->setWordWrap(true);
        TextStyle::caption(hint);
        textColumn->addWidget(textEditor_);
        textColumn->addWidget(hint);
        bodies_->addWidget(textPage);
    }

    rebuildRows();
}

std::vector<MenuEntry> ConditionBlockEditor::headerMenuEntries() {
    std::vector<MenuEntry> entries;
    if (block_.kind == Condition::Kind::addresses) {
        MenuEntry toggle;
        toggle.title = block_.isTextMode ? QStringLiteral("Edit as List") : QStringLiteral("Edit as Text");
        toggle.action = [this] { toggleTextMode(); };
        entries.push_back(toggle);
        entries.push_back(MenuEntry::divider());
    }
    MenuEntry remove;
    remove.title = QStringLiteral("Remove Condition");
    remove.action = [this] { emit removeRequested(block_.id); };
    entries.push_back(remove);
    return entries;
}

void ConditionBlockEditor::toggleTextMode() {
    if (block_.kind != Condition::Kind::addresses)
        return;
    block_.toggleTextMode();
    rebuildRows();
    emit changed();
}

void ConditionBlockEditor::removeSelectedOrLast() {
    block_.removeSelectedOrLast();
    rebuildRows();
    emit changed();
}

void ConditionBlockEditor::addAddress() {
    const QUuid id = block_.appendRow(QString(), true);
    rebuildRows();
    for (int position = 0; position < list_->rowCount(); ++position)
        if (QWidget* row = list_->rowWidget(position); row && row->property(rowIDProperty).toUuid() == id)
            row->setFocus(Qt::OtherFocusReason);
    emit changed();
}

void ConditionBlockEditor::addApp(const QString& bundleID) {
    block_.appendRow(bundleID, false);
    rebuildRows();
    emit changed();
}

QString ConditionBlockEditor::summaryText() const {
    return summary_->text();
}

// Rows are rebuilt only on a change of the list's shape (add, remove, a mode switch), never while typing.
void ConditionBlockEditor::rebuildRows() {
    QListWidget* list = list_->list();
    {
        const QSignalBlocker blocker(list);
        while (list_->rowCount() > 0)
            list_->removeRow(list_->rowCount() - 1);
        for (const ValueRow& row : block_.rows) {
            QWidget* widget = nullptr;
            if (block_.kind == Condition::Kind::addresses)
                widget = makeAddressRow(row);
            else {
                auto* label = new SourceAppLabel(row.text, routing_, 16);
                label->setObjectName(QStringLiteral("appRow"));
                label->setToolTip(row.text);
                listBoxRow(label);
                widget = label;
            }
            widget->setProperty(rowIDProperty, row.id);
            const QString text =
                block_.kind == Condition::Kind::addresses ? row.text : routing_.sourceAppName(row.text);
            QListWidgetItem* item =
                list_->appendRow(widget, text.isEmpty() ? QStringLiteral("Address") : text);
            item->setData(Qt::UserRole, row.id);
        }
    }
    select(block_.selection);
    const bool textMode = block_.isTextMode && textEditor_;
    if (textMode)
        Quiet::setPlainText(textEditor_, block_.text);
    bodies_->setCurrentIndex(textMode ? 1 : 0);
    if (appMenu_) {
        QSet<QString> listed;
        for (const ValueRow& row : block_.rows)
            listed.insert(row.text);
        appMenu_->setExcluding(listed);
    }
    updateSummary();
}

QWidget* ConditionBlockEditor::makeAddressRow(const ValueRow& row) {
    auto* field = new QLineEdit(row.text);
    field->setObjectName(QStringLiteral("addressRow"));
    field->setAccessibleName(QStringLiteral("Address"));
    field->setFrame(false);
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    field->setFont(monospaced(font()));
    field->setPlaceholderText(QStringLiteral("*.example.com  or  ~/work/*"));
    listBoxRow(field);
    const QUuid id = row.id;
    connect(field, &QLineEdit::textEdited, this, [this, id](const QString& text) {
        for (ValueRow& value : block_.rows)
            if (value.id == id)
                value.text = text;
        // The row is read out by what it holds now.
        QListWidget* list = list_->list();
        for (int at = 0; at < list->count(); ++at)
            if (QListWidgetItem* item = list->item(at); item->data(Qt::UserRole).toUuid() == id)
                item->setData(Qt::AccessibleTextRole, text.isEmpty() ? QStringLiteral("Address") : text);
        updateSummary();
        emit changed();
    });
    field->installEventFilter(new FocusSelects(field, [this, id] { select(id); }));
    return field;
}

void ConditionBlockEditor::select(const std::optional<QUuid>& rowID) {
    block_.selection = rowID;
    QListWidget* list = list_->list();
    const QSignalBlocker blocker(list);
    QListWidgetItem* chosen = nullptr;
    for (int position = 0; rowID && position < list->count(); ++position)
        if (list->item(position)->data(Qt::UserRole).toUuid() == *rowID)
            chosen = list->item(position);
    if (chosen)
        list->setCurrentItem(chosen);
    else {
        list->clearSelection();
        list->setCurrentItem(nullptr);
    }
    list->viewport()->update();
    updateRemoveEnabled();
}

void ConditionBlockEditor::followListSelection() {
    const QList<QListWidgetItem*> highlighted = list_->list()->selectedItems();
    block_.selection = highlighted.isEmpty()
                           ? std::nullopt
                           : std::optional<QUuid>(highlighted.front()->data(Qt::UserRole).toUuid());
    updateRemoveEnabled();
}

void ConditionBlockEditor::updateSummary() {
    Quiet::setText(summary_, block_.condition().summary());
    updateRemoveEnabled();
}

void ConditionBlockEditor::updateRemoveEnabled() {
    const bool canRemove = block_.kind == Condition::Kind::addresses
                               ? block_.selection.has_value() || !block_.rows.empty()
                               : !block_.rows.empty();
    buttons_->setCanRemove(canRemove);
}

RuleEditorView::RuleEditorView(const LinkRule& rule, TargetDirectory directory, RoutingModel& routing,
                               QWidget* parent)
    : QDialog(parent)
    , draft_(rule)
    , directory_(std::move(directory))
    , routing_(routing) {
    setObjectName(QStringLiteral("ruleEditor"));
    setWindowTitle(QStringLiteral("Edit Rule"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(660, 640);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* form = new PageForm(this);
    form->setObjectName(QStringLiteral("ruleEditorForm"));
    column->addWidget(form, 1);

    FormSection* ruleSection = form->addSection(QStringLiteral("Rule"));
    name_ = new QLineEdit(draft_.name, ruleSection);
    name_->setObjectName(QStringLiteral("ruleName"));
    name_->setPlaceholderText(QStringLiteral("Work SaaS"));
    name_->setAccessibleName(QStringLiteral("Name"));
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) { draft_.name = text; });
    ruleSection->addRow(QStringLiteral("Name"), name_);

    targetMenu_ = new RouteTargetMenu(
        draft_.target, directory_, [this] { return routing_.offeredBrowsers(draft_.target); }, ruleSection);
    targetMenu_->setObjectName(QStringLiteral("ruleTarget"));
    connect(targetMenu_, &RouteTargetMenu::targetChosen, this, [this](const RouteTarget& target) {
        draft_.target = target;
        updateTargetWarning();
        updateFooter();
    });
    auto* targetRow = new QWidget(ruleSection);
    auto* targetLayout = new QHBoxLayout(targetRow);
    targetLayout->setContentsMargins(0, 0, 0, 0);
    targetLayout->addWidget(targetMenu_);
    targetLayout->addStretch(1);
    ruleSection->addRow(QStringLiteral("Open Links in"), targetRow);

    enabled_ = new QCheckBox(QStringLiteral("Enabled"), ruleSection);
    enabled_->setObjectName(QStringLiteral("ruleEnabled"));
    enabled_->setChecked(draft_.isEnabled);
    connect(enabled_, &QCheckBox::clicked, this, [this](bool checked) { draft_.isEnabled = checked; });
    ruleSection->addRow(enabled_);

    targetWarning_ =
        TextStyle::warning(QStringLiteral("That app isn't installed any more. Links matching this rule "
                                          "go to the fallback until it comes back or you pick "
                                          "something else."),
                           false, ruleSection);
    targetWarning_->setObjectName(QStringLiteral("targetMissingWarning"));
    if (auto* text = targetWarning_->findChild<QLabel*>(QStringLiteral("warningText"))) {
        QFont caption = text->font();
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        text->setFont(caption);
    }
    ruleSection->addRow(targetWarning_);

    FormSection* conditions = form->addSection(QStringLiteral("Conditions"));
    auto* matchRow = new QWidget(conditions);
    auto* matchLayout = new QHBoxLayout(matchRow);
    matchLayout->setContentsMargins(0, 0, 0, 0);
    auto* matchText = new QLabel(QStringLiteral("A link matches if it satisfies"), matchRow);
    match_ = new QComboBox(matchRow);
    match_->setObjectName(QStringLiteral("ruleMatch"));
    match_->setAccessibleName(QStringLiteral("A link matches if it satisfies"));
    for (MatchMode mode : allCases<MatchMode>())
        match_->addItem(title(mode), int(mode));
    Quiet::setCurrentData(match_, int(draft_.match));
    connect(match_, &QComboBox::activated, this,
            [this](int index) { draft_.match = MatchMode(match_->itemData(index).toInt()); });
    auto* addCondition = new QToolButton(matchRow);
    addCondition->setObjectName(QStringLiteral("addCondition"));
    addCondition->setText(QStringLiteral("Add Condition"));
    addCondition->setAccessibleName(QStringLiteral("Add Condition"));
    addCondition->setIcon(systemIcon(QStringLiteral("plus"), textColor(this), 12));
    addCondition->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addCondition->setPopupMode(QToolButton::InstantPopup);
    auto* addMenu = new QMenu(addCondition);
    connect(addMenu, &QMenu::aboutToShow, this, [this, addMenu] {
        std::vector<MenuEntry> entries;
        for (Condition::Kind kind : allCases<Condition::Kind>()) {
            MenuEntry entry;
            entry.title = title(kind);
            entry.action = [this, kind] { addBlock(kind); };
            entries.push_back(entry);
        }
        fillMenu(addMenu, entries);
    });
    addCondition->setMenu(addMenu);
    matchLayout->addWidget(matchText, 0, Qt::AlignVCenter);
    matchLayout->addWidget(match_, 0, Qt::AlignVCenter);
    matchLayout->addStretch(1);
    matchLayout->addWidget(addCondition, 0, Qt::AlignVCenter);
    conditions->addRow(matchRow);

    auto* blocksHolder = new QWidget(conditions);
    blocksHolder->setObjectName(QStringLiteral("conditionBlocks"));
    AccessibleRows::setRole(blocksHolder, QAccessible::List);
    blocksHolder->setAccessibleName(QStringLiteral("Conditions"));
    blocksColumn_ = new QVBoxLayout(blocksHolder);
    blocksColumn_->setContentsMargins(0, 0, 0, 0);
    blocksColumn_->setSpacing(8);
    conditions->addRow(blocksHolder);

    auto* footer = new QWidget(form->widget());
    auto* footerColumn = new QVBoxLayout(footer);
    footerColumn->setContentsMargins(0, 0, 0, 0);
    footerColumn->setSpacing(4);
    noConditionsWarning_ = TextStyle::warning(
        QStringLiteral("With no conditions, this rule can never match a link."), false, footer);
    noConditionsWarning_->setObjectName(QStringLiteral("noConditionsWarning"));
    footer_ = new QLabel(footer);
    footer_->setObjectName(QStringLiteral("ruleFooter"));
    footer_->setWordWrap(true);
    TextStyle::caption(footer_);
    footerColumn->addWidget(noConditionsWarning_);
    footerColumn->addWidget(footer_);
    // Right under the conditions section, as its footer.
    form->column()->insertWidget(form->column()->indexOf(conditions) + 1, footer);
    form->addStretch();

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    column->addWidget(divider);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(12, 12, 12, 12);
    buttons->addStretch(1);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("ruleCancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    done_ = new QPushButton(QStringLiteral("Done"), this);
    done_->setObjectName(QStringLiteral("ruleDone"));
    done_->setDefault(true);
    connect(done_, &QPushButton::clicked, this, &RuleEditorView::commit);
    buttons->addWidget(cancel_);
    buttons->addWidget(done_);
    column->addLayout(buttons);

    for (const Condition& condition : rule.conditions) {
        auto* editor = new ConditionBlockEditor(ConditionBlock::from(condition), routing_, blocksHolder);
        connect(editor, &ConditionBlockEditor::changed, this, &RuleEditorView::updateFooter);
        connect(editor, &ConditionBlockEditor::removeRequested, this, &RuleEditorView::removeBlock);
        blocksColumn_->addWidget(editor);
        editors_.push_back(editor);
    }
    updateTargetWarning();
    updateFooter();
}

RuleEditorView* RuleEditorView::present(const LinkRule& rule, TargetDirectory directory,
                                        RoutingModel& routing, QWidget* parent) {
    auto* sheet = new RuleEditorView(rule, std::move(directory), routing, parent);
    sheet->open();
    return sheet;
}

std::vector<ConditionBlock> RuleEditorView::blocks() const {
    std::vector<ConditionBlock> result;
    for (const ConditionBlockEditor* editor : editors_)
        result.push_back(editor->block());
    return result;
}

LinkRule RuleEditorView::editedRule() const {
    LinkRule rule = draft_;
    rule.conditions.clear();
    for (const ConditionBlockEditor* editor : editors_) {
        Condition condition = editor->block().condition();
        if (!condition.isEmpty())
            rule.conditions.push_back(std::move(condition));
    }
    return rule;
}

void RuleEditorView::addBlock(Condition::Kind kind) {
    auto* editor =
        new ConditionBlockEditor(ConditionBlock::empty(kind), routing_, blocksColumn_->parentWidget());
    connect(editor, &ConditionBlockEditor::changed, this, &RuleEditorView::updateFooter);
    connect(editor, &ConditionBlockEditor::removeRequested, this, &RuleEditorView::removeBlock);
    blocksColumn_->addWidget(editor);
    editors_.push_back(editor);
    updateFooter();
}

void RuleEditorView::removeBlock(const QUuid& blockID) {
    std::erase_if(editors_, [&](ConditionBlockEditor* editor) {
        if (editor->block().id != blockID)
            return false;
        blocksColumn_->removeWidget(editor);
        editor->hide();
        editor->deleteLater();
        return true;
    });
    updateFooter();
}

QString RuleEditorView::ruleGoneMessage() {
    return QStringLiteral("That rule no longer exists; your edits weren't saved.");
}

void RuleEditorView::commit() {
    const LinkRule rule = editedRule();
    const auto& rules = routing_.ruleSet().rules;
    const bool stillThere = std::any_of(rules.begin(), rules.end(),
                                        [&](const LinkRule& candidate) { return candidate.id == rule.id; });
    if (stillThere)
        routing_.update(rule);
    else
        routing_.setErrorMessage(ruleGoneMessage());
    accept();
}

void RuleEditorView::updateTargetWarning() {
    Quiet::setVisible(targetWarning_, !directory_.path(draft_.target));
}

void RuleEditorView::updateFooter() {
    const bool anyUsable =
        std::any_of(editors_.begin(), editors_.end(), [](const ConditionBlockEditor* editor) {
            return !editor->block().condition().isEmpty();
        });
    Quiet::setVisible(noConditionsWarning_, !anyUsable);
    Quiet::setText(footer_,
                   QStringLiteral("Links matching this rule open in ") + directory_.name(draft_.target) +
                       QStringLiteral(". If two rules match, the higher one on the Rules list wins."));
}
