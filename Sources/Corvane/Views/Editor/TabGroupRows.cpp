#include "Corvane/Views/Editor/TabGroupRows.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int scopeRole = Qt::UserRole;
constexpr int nameRole = Qt::UserRole + 1;

const QString scanHelp =
    QStringLiteral("Look for this profile's closed tab groups. Chrome comes to the front for "
                   "a moment while its Tab Groups menu is read, then hands focus back.");

std::optional<QString> chosenGroup(const AppModel& model) {
    const auto& name = model.editor().tabGroupName;
    if (name && !name->isEmpty())
        return name;
    return std::nullopt;
}

QString spacesAndTabsTrimmed(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

} // namespace

TabGroupRows::TabGroupRows(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setObjectName(QStringLiteral("tabGroupRows"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);

    auto* menuRow = new QFormLayout;
    menuRow->setContentsMargins(0, 0, 0, 0);
    menu_ = new QComboBox(this);
    menu_->setObjectName(QStringLiteral("tabGroupMenu"));
    menu_->setAccessibleName(QStringLiteral("Tab Group to Open"));
    auto* menuLabel = new QLabel(QStringLiteral("Tab Group to Open"), this);
    menuLabel->setBuddy(menu_);
    menuRow->addRow(menuLabel, menu_);
    column->addLayout(menuRow);
    connect(menu_, &QComboBox::activated, this, &TabGroupRows::scopeChosen);

    auto* adviceRow = new QHBoxLayout;
    adviceRow->setSpacing(12);
    advice_ = new QLabel(this);
    advice_->setObjectName(QStringLiteral("tabGroupAdvice"));
    advice_->setWordWrap(true);
    TextStyle::caption(advice_);
    scanStack_ = new QStackedWidget(this);
    scanStack_->setObjectName(QStringLiteral("tabGroupScanStack"));
    scanStack_->setAccessibleName(QStringLiteral("Look for closed tab groups"));
    scanButton_ = new QToolButton(scanStack_);
    scanButton_->setObjectName(QStringLiteral("tabGroupScanButton"));
    scanButton_->setIcon(
        systemIcon(QStringLiteral("arrow.trianglehead.2.clockwise.rotate.90"), textColor(this)));
    scanButton_->setToolTip(scanHelp);
    scanButton_->setAccessibleName(scanHelp);
    auto* scanning = new QProgressBar(scanStack_);
    scanning->setObjectName(QStringLiteral("tabGroupScanProgress"));
    scanning->setRange(0, 0);
    scanning->setTextVisible(false);
    scanning->setMaximumWidth(48);
    scanning->setAccessibleName(QStringLiteral("Looking for closed tab groups"));
    scanStack_->addWidget(scanButton_);
    scanStack_->addWidget(scanning);
    scanStack_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    adviceRow->addWidget(advice_, 1, Qt::AlignTop);
    adviceRow->addWidget(scanStack_, 0, Qt::AlignTop);
    column->addLayout(adviceRow);
    connect(scanButton_, &QToolButton::clicked, this, [this] { model_.findAllTabGroups(); });

    namingRows_ = new QWidget(this);
    namingRows_->setObjectName(QStringLiteral("tabGroupNamingRows"));
    auto* naming = new QFormLayout(namingRows_);
    naming->setContentsMargins(0, 0, 0, 0);
    nameField_ = new QLineEdit(namingRows_);
    nameField_->setObjectName(QStringLiteral("tabGroupNameField"));
    nameField_->setPlaceholderText(QStringLiteral("Exactly as it appears in Chrome"));
    auto* nameLabel = new QLabel(QStringLiteral("Tab group name"), namingRows_);
    nameLabel->setBuddy(nameField_);
    naming->addRow(nameLabel, nameField_);
    auto* buttons = new QHBoxLayout;
    useNameButton_ = new QPushButton(QStringLiteral("Use This Name"), namingRows_);
    useNameButton_->setObjectName(QStringLiteral("useGroupNameButton"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), namingRows_);
    cancel->setObjectName(QStringLiteral("cancelGroupNameButton"));
    buttons->addWidget(useNameButton_);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    naming->addRow(buttons);
    column->addWidget(namingRows_);
    namingRows_->hide();
    connect(nameField_, &QLineEdit::textEdited, this, [this] { refresh(); });
    connect(nameField_, &QLineEdit::returnPressed, this, &TabGroupRows::finishNamingGroup);
    connect(useNameButton_, &QPushButton::clicked, this, &TabGroupRows::finishNamingGroup);
    connect(cancel, &QPushButton::clicked, this, &TabGroupRows::cancelNaming);

    refresh();
}

std::optional<QString> TabGroupRows::typedGroupName(const AppModel& model) {
    const auto name = chosenGroup(model);
    if (!name)
        return std::nullopt;
    for (const TabGroupInfo& group : model.tabGroupsForEditor())
        if (group.name == *name)
            return std::nullopt;
    return name;
}

std::optional<QString> TabGroupRows::advice(const AppModel& model) {
    if (chosenGroup(model))
        return QStringLiteral(
            "Chrome identifies a tab group only by its name, so renaming the group in Chrome "
            "will disconnect it from this app.");
    if (!model.helperTrusted())
        return QStringLiteral("Grant Accessibility under System to list this profile's tab groups.");
    if (model.didDeepScanEditorProfile() || model.isLoadingTabGroups())
        return std::nullopt;
    if (model.tabGroupsForEditor().empty())
        return QStringLiteral("No open tab groups in this profile. Use ↻ to look for closed ones.");
    return QStringLiteral("Only open groups are listed. Use ↻ to look for closed ones too.");
}

void TabGroupRows::refresh() {
    rebuildMenu();
    const auto advice = TabGroupRows::advice(model_);
    Quiet::setText(advice_, advice.value_or(QString()));
    Quiet::setVisible(advice_, advice.has_value());
    scanStack_->setCurrentIndex(model_.isDeepScanning() ? 1 : 0);
    scanButton_->setEnabled(!model_.isDeepScanning() && model_.helperTrusted());
    Quiet::setVisible(namingRows_, isNamingGroup_);
    useNameButton_->setEnabled(!spacesAndTabsTrimmed(nameField_->text()).isEmpty());
}

void TabGroupRows::rebuildMenu() {
    struct Item {
        QString text;
        Scope scope;
        QString name;
    };
    std::vector<Item> items{{QStringLiteral("The whole profile"), Scope::profile, {}}};
    for (const TabGroupInfo& group : model_.tabGroupsForEditor())
        items.push_back(
            {group.name + (group.isOpen ? QStringLiteral("  —  open now") : QStringLiteral("  —  closed")),
             Scope::group, group.name});
    if (const auto typed = typedGroupName(model_))
        items.push_back({*typed, Scope::group, *typed});

    // Entries change only when the listing does, and never under an open popup.
    bool same = menu_->count() == int(items.size()) + 2;
    for (int index = 0; same && index < int(items.size()); ++index)
        same = menu_->itemText(index) == items[index].text &&
               menu_->itemData(index, nameRole) == items[index].name;
    if (!same && !menu_->view()->isVisible()) {
        const QSignalBlocker blocker(menu_);
        menu_->clear();
        for (const Item& item : items) {
            menu_->addItem(item.text);
            menu_->setItemData(menu_->count() - 1, int(item.scope), scopeRole);
            menu_->setItemData(menu_->count() - 1, item.name, nameRole);
        }
        menu_->insertSeparator(menu_->count());
        menu_->addItem(QStringLiteral("Another tab group…"));
        menu_->setItemData(menu_->count() - 1, int(Scope::other), scopeRole);
    }

    int current = 0;
    if (const auto group = chosenGroup(model_)) {
        for (int index = 0; index < menu_->count(); ++index)
            if (menu_->itemData(index, scopeRole).toInt() == int(Scope::group) &&
                menu_->itemData(index, nameRole).toString() == *group) {
                current = index;
                break;
            }
    }
    Quiet::setCurrentIndex(menu_, current);
}

void TabGroupRows::scopeChosen(int index) {
    const auto scope = Scope(menu_->itemData(index, scopeRole).toInt());
    switch (scope) {
    case Scope::profile:
        setNaming(false);
        model_.selectTabGroup(std::nullopt);
        break;
    case Scope::group:
        setNaming(false);
        model_.selectTabGroup(menu_->itemData(index, nameRole).toString());
        break;
    case Scope::other:
        // "Another tab group…" is never shown as the choice: the editor changes only when a name is used.
        Quiet::setText(nameField_, model_.editor().tabGroupName.value_or(QString()));
        setNaming(true);
        nameField_->setFocus();
        break;
    }
    refresh();
}

void TabGroupRows::finishNamingGroup() {
    const QString name = nameField_->text().trimmed();
    if (name.isEmpty())
        return;
    model_.selectTabGroup(name);
    setNaming(false);
    refresh();
}

void TabGroupRows::cancelNaming() {
    setNaming(false);
    Quiet::setText(nameField_, QString());
    refresh();
}

void TabGroupRows::setNaming(bool naming) {
    isNamingGroup_ = naming;
    Quiet::setVisible(namingRows_, naming);
}
