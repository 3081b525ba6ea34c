#include "Corvane/Views/Editor/MigrationView.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Views/Kit/AccessibleRows.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Defaults.h"
#include "CorvaneHost/Services.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QLabel* wrapping(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    TextStyle::secondary(label);
    return label;
}

} // namespace

MigrationView::MigrationView(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , model_(model) {
    setObjectName(QStringLiteral("MigrationView"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Import apps from the old scripts"));
    setFixedWidth(620);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);

    auto* title = new QLabel(QStringLiteral("Import apps from the old scripts"), this);
    title->setObjectName(QStringLiteral("migrationTitle"));
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.35);
    font.setWeight(QFont::DemiBold);
    title->setFont(font);
    column->addWidget(title);

    column->addWidget(
        wrapping(QStringLiteral("These were built by the previous shell scripts. Rebuilding them keeps "
                                "their names and locations, and they'll gain a Dock icon that stays "
                                "lit while the profile has windows."),
                 this));

    rowsColumn_ = new QVBoxLayout;
    rowsColumn_->setSpacing(8);
    column->addLayout(rowsColumn_);

    auto* note = new QWidget(this);
    auto* noteRow = new QHBoxLayout(note);
    noteRow->setContentsMargins(0, 0, 0, 0);
    auto* info = new QLabel(note);
    info->setPixmap(systemImage(QStringLiteral("info.circle"), ViewColors::secondary(), 14));
    noteRow->addWidget(info, 0, Qt::AlignTop);
    noteRow->addWidget(
        wrapping(QStringLiteral("Their bundle identifiers change, so if either app is pinned to your "
                                "Dock you'll need to drag it back once."),
                 note),
        1);
    column->addWidget(note);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* notNowButton = new QPushButton(QStringLiteral("Not Now"), this);
    notNowButton->setObjectName(QStringLiteral("notNowButton"));
    notNowButton->setAutoDefault(false);
    importButton_ = new QPushButton(QStringLiteral("Import"), this);
    importButton_->setObjectName(QStringLiteral("importButton"));
    importButton_->setDefault(true);
    buttons->addWidget(notNowButton);
    buttons->addWidget(importButton_);
    column->addLayout(buttons);
    connect(notNowButton, &QPushButton::clicked, this, &MigrationView::notNow);
    connect(importButton_, &QPushButton::clicked, this, &MigrationView::import);

    connect(&model_, &AppModel::legacyAppsChanged, this, &MigrationView::refresh);
    connect(&model_, &AppModel::profilesChanged, this, &MigrationView::refresh);
    connect(&model_, &AppModel::migrationChoicesChanged, this, &MigrationView::refresh);
    refresh();
}

void MigrationView::rebuildRows() {
    delete rowsBox_;
    rows_.clear();
    rowsBox_ = new QWidget(this);
    AccessibleRows::setRole(rowsBox_, QAccessible::List);
    rowsBox_->setAccessibleName(QStringLiteral("Apps to Import"));
    auto* rows = new QVBoxLayout(rowsBox_);
    rows->setContentsMargins(0, 0, 0, 0);
    shownApps_.clear();
    for (const LegacyApp& app : model_.legacyApps()) {
        shownApps_ << app.id();
        auto* row = new QFrame(rowsBox_);
        row->setObjectName(QStringLiteral("migrationRow"));
        AccessibleRows::setRole(row, QAccessible::ListItem);
        row->setAccessibleName(app.name);
        row->setAccessibleDescription(app.url.toLocalFile());
        row->setStyleSheet(
            QStringLiteral("#migrationRow { background: rgba(128, 128, 128, 20); border-radius: 8px; }"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(10, 10, 10, 10);
        layout->setSpacing(12);
        auto* tick = new QCheckBox(row);
        tick->setObjectName(QStringLiteral("migrationTick"));
        tick->setAccessibleName(app.name);
        layout->addWidget(tick);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* name = new QLabel(app.name, row);
        name->setTextFormat(Qt::PlainText);
        QFont medium = name->font();
        medium.setWeight(QFont::Medium);
        name->setFont(medium);
        texts->addWidget(name);
        auto* path = new ElidedLabel(app.url.toLocalFile(), row);
        path->setObjectName(QStringLiteral("migrationPath"));
        TextStyle::caption(path);
        texts->addWidget(path);
        layout->addLayout(texts, 1);
        auto* profile = new QComboBox(row);
        profile->setObjectName(QStringLiteral("migrationProfile"));
        profile->setAccessibleName(QStringLiteral("Chrome profile for ") + app.name);
        profile->setFixedWidth(140);
        layout->addWidget(profile);
        rows->addWidget(row);
        rows_.insert(app.id(), Row{tick, profile});

        connect(tick, &QCheckBox::clicked, this,
                [this, app](bool checked) { model_.setMigrationSelection(app, checked); });
        connect(profile, &QComboBox::activated, this, [this, app, profile](int index) {
            model_.setMigrationProfile(app, profile->itemData(index).toString());
        });
    }
    rowsColumn_->addWidget(rowsBox_);
}

void MigrationView::refresh() {
    QStringList ids;
    for (const LegacyApp& app : model_.legacyApps())
        ids << app.id();
    if (ids != shownApps_ || !rowsBox_)
        rebuildRows();

    for (const LegacyApp& app : model_.legacyApps()) {
        const Row& row = rows_[app.id()];
        Quiet::setChecked(row.tick, model_.migrationSelection(app));
        bool same = row.profile->count() == int(model_.profiles().size());
        for (int index = 0; same && index < row.profile->count(); ++index)
            same = row.profile->itemData(index).toString() == model_.profiles()[index].directory &&
                   row.profile->itemText(index) == model_.profiles()[index].name;
        if (!same && !row.profile->view()->isVisible()) {
            const QSignalBlocker blocker(row.profile);
            row.profile->clear();
            for (const ChromeProfile& profile : model_.profiles())
                row.profile->addItem(profile.name, profile.directory);
        }
        Quiet::setCurrentIndex(row.profile, row.profile->findData(model_.migrationProfile(app)));
    }

    const auto& choices = model_.migrationChoices();
    importButton_->setEnabled(
        std::any_of(choices.begin(), choices.end(),
                    [](const AppModel::MigrationChoice& choice) { return choice.selected; }));
}

void MigrationView::notNow() {
    host::defaults().setBool(Corvane::creatorBundleID, Migration::declinedKey, true);
    model_.setShowingMigration(false);
    QDialog::reject();
}

void MigrationView::import() {
    model_.runMigration();
    accept();
}

void MigrationView::reject() {
    model_.setShowingMigration(false);
    QDialog::reject();
}
