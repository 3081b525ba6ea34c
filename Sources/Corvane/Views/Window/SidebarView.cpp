#include "Corvane/Views/Window/SidebarView.h"

#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Editor/ProxyAppMenu.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/MenuEntries.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "CorvaneIcon/IconRenderer.h"

#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kSelectionKindRole = Qt::UserRole;

const QString missingHelp = QStringLiteral(
    "This app isn't where it used to be. Right-click to locate it, or to remove it from this list.");
const QString routingWarningHelp = QStringLiteral("Corvane isn't set up to route links yet.");

QString selectionKey(const AppModel::Selection& selection) {
    switch (selection.kind) {
    case AppModel::Selection::Kind::saved:
        return QStringLiteral("saved.") + selection.bundleID;
    case AppModel::Selection::Kind::draft:
        return QStringLiteral("draft.") + selection.draftID.toString(QUuid::WithoutBraces);
    case AppModel::Selection::Kind::rules:
        return QStringLiteral("rules");
    case AppModel::Selection::Kind::system:
        return QStringLiteral("system");
    case AppModel::Selection::Kind::recentLinks:
        return QStringLiteral("recentLinks");
    }
    return {};
}

QListWidgetItem* makeHeader(const QString& text) {
    auto* header = new QListWidgetItem(text);
    header->setFlags(Qt::NoItemFlags);
    QFont font = header->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.85);
    header->setFont(font);
    header->setForeground(ViewColors::secondary());
    return header;
}

QLabel* imageLabel(const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    return label;
}

// A status mark: an image with a help text that says why it is there.
void showMark(QLabel* label, const QString& image, const QColor& tint, const QString& help) {
    label->setPixmap(systemImage(image, tint, 14));
    label->setToolTip(help);
    label->setAccessibleName(help);
    label->setVisible(true);
}

void hideMark(QLabel* label) {
    label->clear();
    label->setToolTip({});
    label->setAccessibleName({});
    label->setVisible(false);
}

QWidget* makeAppRowWidget() {
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(10);
    auto* icon = imageLabel(QStringLiteral("icon"), widget);
    icon->setFixedSize(24, 24);
    icon->setScaledContents(true);
    layout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    auto* title = new ElidedLabel(widget);
    title->setObjectName(QStringLiteral("title"));
    auto* subtitle = new ElidedLabel(widget);
    subtitle->setObjectName(QStringLiteral("subtitle"));
    TextStyle::caption(subtitle);
    TextStyle::secondary(subtitle);
    texts->addWidget(title);
    texts->addWidget(subtitle);
    layout->addLayout(texts, 1);
    layout->addWidget(imageLabel(QStringLiteral("status"), widget));
    return widget;
}

QWidget* makeRoutingRowWidget(const QString& title, const QString& image) {
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(10);
    auto* icon = imageLabel(QStringLiteral("icon"), widget);
    icon->setFixedWidth(20);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(systemImage(image, ViewColors::secondary(), 15));
    layout->addWidget(icon);
    auto* label = new QLabel(title, widget);
    label->setObjectName(QStringLiteral("title"));
    layout->addWidget(label, 1);
    layout->addWidget(imageLabel(QStringLiteral("warning"), widget));
    auto* badge = new QLabel(widget);
    badge->setObjectName(QStringLiteral("badge"));
    TextStyle::caption(badge);
    TextStyle::secondary(badge);
    layout->addWidget(badge);
    return widget;
}

} // namespace

SidebarView::SidebarView(AppModel& model, RoutingModel& routing, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , routing_(routing) {
    setObjectName(QStringLiteral("Sidebar"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(8, 6, 8, 6);
    toolbar->addStretch();
    newAppButton_ = new QToolButton(this);
    newAppButton_->setObjectName(QStringLiteral("NewProxyAppButton"));
    newAppButton_->setIcon(systemIcon(QStringLiteral("plus"), textColor(this), 16));
    newAppButton_->setText(QStringLiteral("New Proxy App"));
    newAppButton_->setToolTip(QStringLiteral("Create a new proxy app"));
    newAppButton_->setAccessibleName(QStringLiteral("New Proxy App"));
    newAppButton_->setAccessibleDescription(QStringLiteral("Create a new proxy app"));
    newAppButton_->setAutoRaise(true);
    connect(newAppButton_, &QToolButton::clicked, this, [this] {
        if (newAppAction)
            newAppAction();
    });
    toolbar->addWidget(newAppButton_);
    column->addLayout(toolbar);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("SidebarList"));
    list_->setAccessibleName(QStringLiteral("Sidebar"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column->addWidget(list_, 1);

    appsHeader_ = makeHeader(QStringLiteral("Apps"));
    list_->addItem(appsHeader_);
    routingHeader_ = makeHeader(QStringLiteral("Routing"));
    list_->addItem(routingHeader_);
    const struct {
        AppModel::Selection selection;
        const char* title;
        const char* image;
    } routingPages[] = {
        {AppModel::Selection::system(), "System", "slider.horizontal.3"},
        {AppModel::Selection::rules(), "Rules", "arrow.turn.up.right"},
        {AppModel::Selection::recentLinks(), "Recent Links", "clock.arrow.circlepath"},
    };
    for (const auto& page : routingPages) {
        const QString title = QString::fromUtf8(page.title);
        auto* item = new QListWidgetItem;
        item->setData(Qt::AccessibleTextRole, title);
        item->setData(kSelectionKindRole, selectionKey(page.selection));
        list_->addItem(item);
        QWidget* widget = makeRoutingRowWidget(title, QString::fromUtf8(page.image));
        widget->setObjectName(QStringLiteral("SidebarRow.") + selectionKey(page.selection));
        item->setSizeHint(QSize(0, 32));
        list_->setItemWidget(item, widget);
        routingRows_.push_back({page.selection, item, widget});
    }

    divider_ = new QFrame(this);
    divider_->setFrameShape(QFrame::HLine);
    divider_->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider_);
    renameRow_ = new QWidget(this);
    renameRow_->setObjectName(QStringLiteral("RenameRow"));
    auto* rename = new QVBoxLayout(renameRow_);
    rename->setContentsMargins(12, 12, 12, 12);
    rename->setSpacing(8);
    auto* notice = new QHBoxLayout;
    notice->setSpacing(8);
    auto* renameIcon = new QLabel(renameRow_);
    renameIcon->setPixmap(systemImage(QStringLiteral("arrow.triangle.2.circlepath"), ViewColors::blue(), 16));
    notice->addWidget(renameIcon, 0, Qt::AlignVCenter);
    auto* noticeTexts = new QVBoxLayout;
    noticeTexts->setSpacing(1);
    renameTitle_ = new QLabel(renameRow_);
    renameTitle_->setObjectName(QStringLiteral("RenameRowTitle"));
    renameTitle_->setWordWrap(true);
    renameAdvice_ = new QLabel(renameRow_);
    renameAdvice_->setObjectName(QStringLiteral("RenameAdvice"));
    renameAdvice_->setWordWrap(true);
    TextStyle::caption(renameAdvice_);
    TextStyle::secondary(renameAdvice_);
    noticeTexts->addWidget(renameTitle_);
    noticeTexts->addWidget(renameAdvice_);
    notice->addLayout(noticeTexts, 1);
    rename->addLayout(notice);
    auto* buttons = new QHBoxLayout;
    updateButton_ = new QPushButton(renameRow_);
    updateButton_->setObjectName(QStringLiteral("UpdateOutdatedButton"));
    connect(updateButton_, &QPushButton::clicked, this, [this] { model_.rebuildOutdated(); });
    removeLeftoversButton_ = new QPushButton(QStringLiteral("Remove Old Files…"), renameRow_);
    removeLeftoversButton_->setObjectName(QStringLiteral("RemoveOldFilesButton"));
    removeLeftoversButton_->setToolTip(QStringLiteral("Moves the old Tavrimo.app and its support folder to "
                                                      "the Trash. Your generated apps are not touched."));
    connect(removeLeftoversButton_, &QPushButton::clicked, this, [this] { model_.removeRenameLeftovers(); });
    for (QPushButton* button : {updateButton_, removeLeftoversButton_}) {
        QFont small = button->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        button->setFont(small);
        buttons->addWidget(button);
    }
    buttons->addStretch();
    rename->addLayout(buttons);
    column->addWidget(renameRow_);

    // A list that never had a current row makes its first row current when it takes the focus, which would
    // count as the user's choice: it starts with none set.
    static_cast<QAbstractItemView*>(list_)->setCurrentIndex(QModelIndex());
    connect(list_, &QListWidget::currentItemChanged, this, [this] { userChangedRow(); });
    connect(list_, &QListWidget::customContextMenuRequested, this, &SidebarView::showContextMenu);

    for (auto signal :
         {&AppModel::appsChanged, &AppModel::draftsChanged, &AppModel::editorChanged,
          &AppModel::canCreateProxyAppsChanged, &AppModel::helperTrustedChanged,
          &AppModel::helperDisabledChanged, &AppModel::renameOutcomeChanged, &AppModel::isBusyChanged,
          &AppModel::selectionChanged, &AppModel::unsavedPromptChanged})
        connect(&model_, signal, this, &SidebarView::refresh);
    // Only the routing rows show the routing model; the app rows stay as they are on its every poll.
    for (auto signal : {&RoutingModel::ruleSetChanged, &RoutingModel::recentLinksChanged,
                        &RoutingModel::isDefaultBrowserChanged})
        connect(&routing_, signal, this, &SidebarView::refreshRoutingRows);
    refresh();
}

QString SidebarView::rowTitle(const EditorState& state) {
    QString title = state.trimmedName();
    if (title.isEmpty())
        title = QStringLiteral("Untitled");
    if (state.isDraft())
        title += QStringLiteral(" (Unsaved)");
    return title;
}

QString SidebarView::subtitle(const EditorState& state) {
    QString text = state.profileName.isEmpty() ? QStringLiteral("No profile") : state.profileName;
    if (state.tabGroupName && !state.tabGroupName->isEmpty())
        text += QStringLiteral(" · ") + *state.tabGroupName;
    return text;
}

QListWidgetItem* SidebarView::item(const AppModel::Selection& selection) const {
    const Row* row = find(selection);
    return row ? row->item : nullptr;
}

QWidget* SidebarView::rowWidget(const AppModel::Selection& selection) const {
    const Row* row = find(selection);
    return row ? row->widget : nullptr;
}

const SidebarView::Row* SidebarView::find(const AppModel::Selection& selection) const {
    for (const auto* rows : {&appRows_, &routingRows_})
        for (const Row& row : *rows)
            if (row.selection == selection)
                return &row;
    return nullptr;
}

void SidebarView::chooseRow(const AppModel::Selection& selection) {
    if (QListWidgetItem* target = item(selection))
        list_->setCurrentItem(target);
}

std::vector<MenuEntry> SidebarView::contextMenuEntries(const AppModel::Selection& selection) const {
    return proxyAppMenuItems(model_, selection);
}

void SidebarView::refresh() {
    // An open context menu keeps its rows; the refresh follows when it closes.
    if (menuOpen_) {
        refreshPending_ = true;
        return;
    }
    refreshAppsSection();
    refreshRoutingRows();
    refreshRenameRow();
    newAppButton_->setVisible(model_.canCreateProxyApps());
    syncSelection();
}

std::vector<AppModel::Selection> SidebarView::appSelections() const {
    std::vector<AppModel::Selection> selections;
    if (!model_.canCreateProxyApps())
        return selections;
    for (const RegisteredApp& app : model_.apps())
        selections.push_back(AppModel::Selection::saved(app.bundleID));
    for (const AppModel::DraftApp& draft : model_.drafts())
        selections.push_back(AppModel::Selection::draft(draft.id));
    return selections;
}

void SidebarView::refreshAppsSection() {
    const bool showsApps = model_.canCreateProxyApps();
    // Hiding a row lays out the whole list again, even when it was hidden already.
    if (appsHeader_->isHidden() == showsApps)
        appsHeader_->setHidden(!showsApps);
    const QString header =
        model_.apps().empty() && model_.drafts().empty() ? QString() : QStringLiteral("Apps");
    appsHeader_->setText(header);
    // Shown blank over an empty section, but a screen reader still hears which section it heads.
    appsHeader_->setData(Qt::AccessibleTextRole, QStringLiteral("Apps"));

    std::vector<AppModel::Selection> wanted;
    for (const AppModel::Selection& selection : appSelections())
        if (model_.state(selection))
            wanted.push_back(selection);
    bool same = wanted.size() == appRows_.size();
    for (size_t i = 0; same && i < wanted.size(); ++i)
        same = appRows_[i].selection == wanted[i];
    if (!same)
        rebuildAppsSection(wanted);
    for (const Row& row : appRows_)
        if (const auto state = model_.state(row.selection))
            updateAppRow(row, *state);
}

void SidebarView::rebuildAppsSection(const std::vector<AppModel::Selection>& selections) {
    // Rows whose identity stays keep their items and widgets; only new ones are made.
    std::vector<Row> kept;
    const QSignalBlocker blocker(list_);
    for (Row& row : appRows_) {
        const bool stays = std::find(selections.begin(), selections.end(), row.selection) != selections.end();
        list_->takeItem(list_->row(row.item));
        if (stays) {
            kept.push_back(row);
        } else {
            // Its widget went with the item's row.
            delete row.item;
        }
    }
    appRows_.clear();
    int position = list_->row(appsHeader_) + 1;
    for (const AppModel::Selection& selection : selections) {
        auto found = std::find_if(kept.begin(), kept.end(),
                                  [&](const Row& row) { return row.selection == selection; });
        Row row;
        if (found != kept.end()) {
            row = *found;
            list_->insertItem(position, row.item);
            // Taking an item out of the list drops its widget.
            row.widget = makeAppRowWidget();
        } else {
            row.selection = selection;
            row.item = new QListWidgetItem;
            row.item->setData(kSelectionKindRole, selectionKey(selection));
            row.item->setSizeHint(QSize(0, 40));
            list_->insertItem(position, row.item);
            row.widget = makeAppRowWidget();
        }
        row.widget->setObjectName(QStringLiteral("SidebarRow.") + selectionKey(selection));
        list_->setItemWidget(row.item, row.widget);
        appRows_.push_back(row);
        ++position;
    }
}

void SidebarView::updateAppRow(const Row& row, const EditorState& state) {
    const QString title = rowTitle(state);
    if (row.item->data(Qt::AccessibleTextRole).toString() != title)
        row.item->setData(Qt::AccessibleTextRole, title);
    auto* titleLabel = row.widget->findChild<ElidedLabel*>(QStringLiteral("title"));
    titleLabel->setFullText(title);
    if (state.isDraft())
        TextStyle::secondary(titleLabel);
    row.widget->findChild<ElidedLabel*>(QStringLiteral("subtitle"))->setFullText(subtitle(state));

    auto* icon = row.widget->findChild<QLabel*>(QStringLiteral("icon"));
    const IconSpec spec(state.symbolName, state.badgeColor, state.symbolStyle, state.iconStyle);
    const QString iconKey = QString::number(qHash(spec));
    if (icon->property("iconKey").toString() != iconKey) {
        icon->setProperty("iconKey", iconKey);
        const std::optional<QImage> image = IconRenderer::previewImage(spec, 24);
        icon->setPixmap(image ? QPixmap::fromImage(*image) : QPixmap());
        icon->setVisible(image.has_value());
    }
    auto* opacity = qobject_cast<QGraphicsOpacityEffect*>(icon->graphicsEffect());
    if (state.isDraft() && !opacity) {
        opacity = new QGraphicsOpacityEffect(icon);
        opacity->setOpacity(0.7);
        icon->setGraphicsEffect(opacity);
    } else if (!state.isDraft() && opacity) {
        icon->setGraphicsEffect(nullptr);
    }

    auto* status = row.widget->findChild<QLabel*>(QStringLiteral("status"));
    // The marks follow the app as the model lists it now: the editor's copy of it is taken when the app is
    // selected and would keep an update offered after it ran, or the app missing after it was located.
    std::optional<RegisteredApp> listed = state.origin;
    if (listed)
        for (const RegisteredApp& app : model_.apps())
            if (app.bundleID == listed->bundleID)
                listed = app;
    QString marks;
    if (!listed) {
        hideMark(status);
    } else if (listed->isMissing || !listed->existsOnDisk()) {
        showMark(status, QStringLiteral("questionmark.circle.fill"), ViewColors::orange(), missingHelp);
        marks = missingHelp;
    } else if (model_.canCreateProxyApps() && listed->needsRebuild()) {
        marks = QStringLiteral("Can be updated. ") + listed->rebuildReasons().join(QLatin1Char(' '));
        showMark(status, QStringLiteral("arrow.up.circle.fill"), ViewColors::blue(), marks);
    } else {
        hideMark(status);
    }
    // A screen reader hears the subtitle after the title, then the marks.
    const QString description =
        marks.isEmpty() ? subtitle(state) : subtitle(state) + QStringLiteral(". ") + marks;
    if (row.item->data(Qt::AccessibleDescriptionRole).toString() != description)
        row.item->setData(Qt::AccessibleDescriptionRole, description);
    row.item->setToolTip(marks);
}

void SidebarView::refreshRoutingRows() {
    const bool warns = (!model_.helperTrusted() && !model_.helperDisabled()) || !routing_.isDefaultBrowser();
    updateRoutingRow(routingRows_[0], QStringLiteral("System"), std::nullopt, warns);
    updateRoutingRow(routingRows_[1], QStringLiteral("Rules"), routing_.ruleSet().enabledRuleCount(), false);
    updateRoutingRow(routingRows_[2], QStringLiteral("Recent Links"), int(routing_.recentLinks().size()),
                     false);
}

void SidebarView::updateRoutingRow(const Row& row, const QString&, std::optional<int> badge, bool warns) {
    auto* warning = row.widget->findChild<QLabel*>(QStringLiteral("warning"));
    auto* count = row.widget->findChild<QLabel*>(QStringLiteral("badge"));
    QString description;
    if (warns) {
        if (warning->toolTip().isEmpty())
            showMark(warning, QStringLiteral("exclamationmark.triangle.fill"), ViewColors::orange(),
                     routingWarningHelp);
        description = routingWarningHelp;
    } else {
        hideMark(warning);
    }
    const bool counts = !warns && badge && *badge >= 1;
    Quiet::setText(count, counts ? QLocale::c().toString(*badge) : QString());
    count->setVisible(counts);
    if (counts)
        description = count->text();
    row.item->setData(Qt::AccessibleDescriptionRole, description);
    row.item->setToolTip(warns ? routingWarningHelp : QString());
}

void SidebarView::refreshRenameRow() {
    const int outdated = model_.appsNeedingRebuild();
    const bool leftovers = model_.renameOutcome().hasLeftovers();
    const bool shows = outdated >= 1 || leftovers;
    divider_->setVisible(shows);
    renameRow_->setVisible(shows);
    if (!shows)
        return;
    Quiet::setText(renameTitle_, model_.renameRowTitle());
    Quiet::setText(renameAdvice_, model_.renameAdvice());
    updateButton_->setVisible(outdated >= 1);
    updateButton_->setText(TextStyle::forMenu(model_.updateButtonTitle()));
    updateButton_->setEnabled(!model_.isBusy());
    removeLeftoversButton_->setVisible(leftovers);
}

void SidebarView::syncSelection() {
    const auto& selection = model_.selection();
    QListWidgetItem* wanted = selection ? item(*selection) : nullptr;
    if (list_->currentItem() == wanted && (!wanted || wanted->isSelected()))
        return;
    syncing_ = true;
    {
        const QSignalBlocker blocker(list_);
        if (wanted) {
            list_->setCurrentItem(wanted);
        } else {
            list_->clearSelection();
            list_->setCurrentItem(nullptr);
        }
    }
    // A blocked list does not repaint its selection by itself.
    list_->viewport()->update();
    syncing_ = false;
}

void SidebarView::userChangedRow() {
    if (syncing_)
        return;
    QListWidgetItem* current = list_->currentItem();
    const Row* chosen = nullptr;
    for (const auto* rows : {&appRows_, &routingRows_})
        for (const Row& row : *rows)
            if (row.item == current)
                chosen = &row;
    // The list cannot clear the selection; a change held back leaves the previous row highlighted.
    if (chosen)
        model_.select(chosen->selection);
    syncSelection();
}

void SidebarView::showContextMenu(const QPoint& position) {
    QListWidgetItem* clicked = list_->itemAt(position);
    const Row* row = nullptr;
    for (const auto* rows : {&appRows_, &routingRows_})
        for (const Row& candidate : *rows)
            if (candidate.item == clicked)
                row = &candidate;
    if (!row)
        return;
    const std::vector<MenuEntry> entries = contextMenuEntries(row->selection);
    if (entries.empty())
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("SidebarContextMenu"));
    fillMenu(&menu, entries);
    menuOpen_ = true;
    menu.exec(list_->viewport()->mapToGlobal(position));
    menuOpen_ = false;
    if (refreshPending_) {
        refreshPending_ = false;
        refresh();
    }
}
