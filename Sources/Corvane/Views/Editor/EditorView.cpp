#include "Corvane/Views/Editor/EditorView.h"

#include "Corvane/Views/Editor/BehaviourSection.h"
#include "Corvane/Views/Editor/IconSectionView.h"
#include "Corvane/Views/Editor/ProxyAppMenu.h"
#include "Corvane/Views/Editor/TabGroupRows.h"
#include "Corvane/Views/Kit/AppStatusBar.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString pickProfile = QStringLiteral("Pick a Chrome profile.");

QString profileTitle(const ChromeProfile& profile) {
    return profile.name + QStringLiteral("  —  ") +
           (profile.userName.isEmpty() ? profile.directory : profile.userName);
}

bool isProxyApp(const std::optional<AppModel::Selection>& selection) {
    return selection && (selection->kind == AppModel::Selection::Kind::saved ||
                         selection->kind == AppModel::Selection::Kind::draft);
}

} // namespace

EditorView::EditorView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setObjectName(QStringLiteral("EditorView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildToolbar());

    auto* form = new PageForm(this);
    form->setObjectName(QStringLiteral("editorForm"));
    buildAppSection(form->addSection(QStringLiteral("App")));
    buildProfileSection(form->addSection(QStringLiteral("Profile")));
    FormSection* behaviour = form->addSection(QStringLiteral("Behaviour"));
    behaviour_ = new BehaviourSection(model_, behaviour);
    behaviour->addRow(behaviour_);
    // The icon section brings its own header and box.
    form->addWidget(new IconSectionView(model_, form));
    buildLocationSection(form->addSection(QStringLiteral("Location")));
    form->addStretch();
    column->addWidget(form, 1);

    auto* bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("editorStatusRow"));
    auto* bottomRow = new QHBoxLayout(bottom);
    bottomRow->setContentsMargins(0, 0, 12, 0);
    statusBar_ = new AppStatusBar(model_, bottom);
    statusBar_->warning = [this] { return warningLine(model_); };
    busy_ = new QProgressBar(bottom);
    busy_->setObjectName(QStringLiteral("editorBusyIndicator"));
    busy_->setAccessibleName(QStringLiteral("Building"));
    busy_->setRange(0, 0);
    busy_->setTextVisible(false);
    busy_->setMaximumWidth(60);
    bottomRow->addWidget(statusBar_, 1);
    bottomRow->addWidget(busy_);
    column->addWidget(bottom);

    const auto changes = {&AppModel::editorChanged,        &AppModel::profilesChanged,
                          &AppModel::selectionChanged,     &AppModel::canCreateProxyAppsChanged,
                          &AppModel::isBusyChanged,        &AppModel::statusMessageChanged,
                          &AppModel::errorMessageChanged,  &AppModel::appsChanged,
                          &AppModel::tabGroupsChanged,     &AppModel::isLoadingTabGroupsChanged,
                          &AppModel::deepTabGroupsChanged, &AppModel::isDeepScanningChanged,
                          &AppModel::helperTrustedChanged};
    for (auto change : changes)
        connect(&model_, change, this, &EditorView::refresh);
    refresh();
}

QWidget* EditorView::buildToolbar() {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("editorToolbar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 0);
    row->addStretch(1);

    saveButton_ = new QPushButton(bar);
    saveButton_->setObjectName(QStringLiteral("saveButton"));
    saveButton_->setDefault(true);
    saveButton_->setShortcut(QKeySequence::Save);
    connect(saveButton_, &QPushButton::clicked, this, [this] { model_.save(); });
    row->addWidget(saveButton_);

    moreButton_ = new QToolButton(bar);
    moreButton_->setObjectName(QStringLiteral("moreActionsButton"));
    moreButton_->setIcon(systemIcon(QStringLiteral("ellipsis.circle"), textColor(bar)));
    moreButton_->setToolTip(QStringLiteral("More actions for this app"));
    moreButton_->setAccessibleName(QStringLiteral("More actions for this app"));
    moreButton_->setPopupMode(QToolButton::InstantPopup);
    moreButton_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    moreMenu_ = new QMenu(moreButton_);
    moreMenu_->setObjectName(QStringLiteral("moreActionsMenu"));
    moreButton_->setMenu(moreMenu_);
    // Built when it opens, so it always reflects the app's state at that moment.
    connect(moreMenu_, &QMenu::aboutToShow, this, [this] {
        if (const auto& selection = model_.selection())
            fillMenu(moreMenu_, proxyAppMenuItems(model_, *selection));
    });
    row->addWidget(moreButton_);
    return bar;
}

void EditorView::buildAppSection(FormSection* section) {
    nameField_ = new QLineEdit(section);
    nameField_->setObjectName(QStringLiteral("nameField"));
    nameField_->setPlaceholderText(QStringLiteral("Chrome - Work"));
    nameField_->setAccessibleName(QStringLiteral("Name"));
    section->addRow(QStringLiteral("Name"), nameField_);
    connect(nameField_, &QLineEdit::textEdited, this, &EditorView::nameEdited);

    nameCaption_ = new QLabel(section);
    nameCaption_->setObjectName(QStringLiteral("nameCaption"));
    nameCaption_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TextStyle::caption(nameCaption_);
    section->addRow(nameCaption_);

    occupiedWarning_ = TextStyle::warning(
        QStringLiteral("Something else is already called that in the same folder."), true, section);
    occupiedWarning_->setObjectName(QStringLiteral("occupiedWarning"));
    section->addRow(occupiedWarning_);

    updateBanner_ = new QWidget(section);
    updateBanner_->setObjectName(QStringLiteral("updateBanner"));
    auto* banner = new QHBoxLayout(updateBanner_);
    banner->setContentsMargins(0, 2, 0, 2);
    banner->setSpacing(8);
    auto* arrow = new QLabel(updateBanner_);
    arrow->setPixmap(systemImage(QStringLiteral("arrow.up.circle.fill"), ViewColors::blue(), 20));
    banner->addWidget(arrow, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(new QLabel(QStringLiteral("This app can be updated"), updateBanner_));
    updateReasons_ = new QLabel(updateBanner_);
    updateReasons_->setObjectName(QStringLiteral("updateReasons"));
    updateReasons_->setWordWrap(true);
    TextStyle::caption(updateReasons_);
    texts->addWidget(updateReasons_);
    banner->addLayout(texts, 1);
    updateButton_ = new QPushButton(QStringLiteral("Update"), updateBanner_);
    updateButton_->setObjectName(QStringLiteral("updateButton"));
    banner->addWidget(updateButton_, 0, Qt::AlignTop);
    section->addRow(updateBanner_);
    connect(updateButton_, &QPushButton::clicked, this, [this] {
        if (const auto& origin = model_.editor().origin)
            model_.rebuild({*origin});
    });
}

void EditorView::buildProfileSection(FormSection* section) {
    profileMenu_ = new QComboBox(section);
    profileMenu_->setObjectName(QStringLiteral("profileMenu"));
    profileMenu_->setAccessibleName(QStringLiteral("Profile to Use"));
    section->addRow(QStringLiteral("Profile to Use"), profileMenu_);
    connect(profileMenu_, &QComboBox::activated, this, &EditorView::profileChosen);

    noProfilesWarning_ = TextStyle::warning(QStringLiteral("No Chrome profiles found."), true, section);
    noProfilesWarning_->setObjectName(QStringLiteral("noProfilesWarning"));
    section->addRow(noProfilesWarning_);

    tabGroupRows_ = new TabGroupRows(model_, section);
    section->addRow(tabGroupRows_);
}

void EditorView::buildLocationSection(FormSection* section) {
    auto* row = new QWidget(section);
    row->setObjectName(QStringLiteral("locationRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    locationIcon_ = new QLabel(row);
    location_ = new ElidedLabel(row);
    location_->setObjectName(QStringLiteral("locationLabel"));
    location_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(locationIcon_);
    layout->addWidget(location_, 1);
    section->addRow(row);
}

std::optional<QString> EditorView::warningLine(const AppModel& model) {
    const EditorState& editor = model.editor();
    if (!editor.isDirty())
        return std::nullopt;
    if (const auto problem = editor.nameProblem())
        return problem;
    if (editor.profileDirectory.isEmpty())
        return pickProfile;
    return std::nullopt;
}

void EditorView::refresh() {
    refreshToolbar();
    refreshApp();
    refreshProfiles();
    tabGroupRows_->refresh();
    behaviour_->refresh();
    refreshLocation();

    statusBar_->refresh();
    Quiet::setVisible(busy_, model_.isBusy());
}

void EditorView::refreshToolbar() {
    const EditorState& editor = model_.editor();
    const auto problem = editor.nameProblem();
    const bool noProfile = editor.profileDirectory.isEmpty();
    Quiet::setVisible(saveButton_, editor.isDirty());
    const QString title = editor.isDraft() ? QStringLiteral("Save As…") : QStringLiteral("Save");
    if (saveButton_->text() != title)
        saveButton_->setText(title);
    saveButton_->setEnabled(!problem && !noProfile && !model_.isBusy());
    const QString help = problem ? *problem : noProfile ? pickProfile : QStringLiteral("Save this proxy app");
    saveButton_->setToolTip(help);
    saveButton_->setAccessibleDescription(help);
    Quiet::setVisible(moreButton_, isProxyApp(model_.selection()));
}

void EditorView::refreshApp() {
    const EditorState& editor = model_.editor();
    // Every keystroke reaches the editor at once, so the two differ only when the model changed the name
    // (another app selected, the name as saved); an equal text leaves the field and its caret alone.
    Quiet::setText(nameField_, editor.name);

    QString caption;
    if (const auto problem = editor.nameProblem())
        caption = *problem;
    else if (editor.origin)
        caption = editor.origin->bundleID;
    Quiet::setText(nameCaption_, caption);
    Quiet::setVisible(nameCaption_, !caption.isEmpty());
    Quiet::setVisible(occupiedWarning_, editor.occupiedByAnotherBundle());

    // The banner follows the registered app as the registry now has it: the editor's copy of it is taken
    // when the app is selected and would keep an update offered after it ran.
    std::optional<RegisteredApp> registered = editor.origin;
    if (registered) {
        for (const RegisteredApp& app : model_.apps())
            if (app.bundleID == registered->bundleID)
                registered = app;
    }
    const bool canUpdate = registered && model_.canCreateProxyApps() && registered->needsRebuild();
    Quiet::setVisible(updateBanner_, canUpdate);
    if (canUpdate)
        Quiet::setText(updateReasons_, registered->rebuildReasons().join(QLatin1Char(' ')));
    updateButton_->setEnabled(!model_.isBusy());
}

void EditorView::refreshProfiles() {
    const auto& profiles = model_.profiles();
    bool same = profileMenu_->count() == int(profiles.size());
    for (int index = 0; same && index < profileMenu_->count(); ++index)
        same = profileMenu_->itemData(index).toString() == profiles[index].directory &&
               profileMenu_->itemText(index) == profileTitle(profiles[index]);
    if (!same && !profileMenu_->view()->isVisible()) {
        const QSignalBlocker blocker(profileMenu_);
        profileMenu_->clear();
        for (const ChromeProfile& profile : profiles)
            profileMenu_->addItem(profileTitle(profile), profile.directory);
    }
    Quiet::setCurrentIndex(profileMenu_, profileMenu_->findData(model_.editor().profileDirectory));
    Quiet::setVisible(noProfilesWarning_, profiles.empty());
}

void EditorView::refreshLocation() {
    const auto& destination = model_.editor().destination;
    locationIcon_->setPixmap(
        systemImage(destination ? QStringLiteral("folder") : QStringLiteral("questionmark.folder"),
                    ViewColors::secondary(), 16));
    location_->setFullText(destination ? EditorState::friendlyPath(*destination)
                                       : QStringLiteral("Chosen when you save"));
    TextStyle::setColor(location_, destination ? textColor(this) : ViewColors::secondary());
}

void EditorView::nameEdited(const QString& text) {
    EditorState edited = model_.editor();
    edited.name = text;
    model_.setEditor(edited);
    // From now on the name no longer follows the profile or tab group.
    edited.nameEdited = true;
    model_.setEditor(edited);
}

void EditorView::profileChosen(int index) {
    const QString directory = profileMenu_->itemData(index).toString();
    for (const ChromeProfile& profile : model_.profiles()) {
        if (profile.directory == directory) {
            model_.selectProfile(profile);
            return;
        }
    }
}
