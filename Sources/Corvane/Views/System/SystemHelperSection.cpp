#include "Corvane/Views/System/SystemHelperSection.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/System/SystemView.h"
#include "CorvaneCore/Integration/LoginItem.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QCheckBox>
#include <QFrame>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* captionLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    TextStyle::caption(label);
    return label;
}

const QString trustedRepairHelp =
    QStringLiteral("Use this if apps open new windows even though Accessibility says "
                   "it is granted. Clears the entry so macOS can be asked again.");
const QString untrustedRepairHelp = QStringLiteral(
    "Updating the tool changes its code signature, and macOS can keep showing it as enabled while "
    "denying it. This clears the entry so you can grant it again.");

} // namespace

const QString HelperSection::accessibilitySettingsAddress =
    QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");

HelperSection::HelperSection(AppModel& model, RoutingModel& routing, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , routing_(routing) {
    setObjectName(QStringLiteral("helperSectionContent"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    helperDetail_ = makeHelperDetail();
    column->addWidget(helperDetail_);
    column->addWidget(makeDisableHelperToggle());

    connect(&model_, &AppModel::helperDisabledChanged, this, &HelperSection::refresh);
    connect(&model_, &AppModel::helperTrustedChanged, this, &HelperSection::refresh);
    connect(&routing_, &RoutingModel::settingsChanged, this, &HelperSection::refresh);
    connect(&routing_, &RoutingModel::startsAtLoginChanged, this, &HelperSection::refresh);
    refresh();
}

QWidget* HelperSection::makeHelperDetail() {
    auto* detail = new QWidget(this);
    detail->setObjectName(QStringLiteral("helperDetail"));
    auto* column = new QVBoxLayout(detail);
    column->setContentsMargins(0, 0, 0, 0);

    trustDot_ = new StatusDot;
    trustDot_->setObjectName(QStringLiteral("accessibilityDot"));
    auto* row = new StatusRow(trustDot_, QStringLiteral("Accessibility"), detail);
    trustDetail_ = row->detail();
    trustDetail_->setObjectName(QStringLiteral("accessibilityDetail"));
    grantButton_ = new QPushButton(row);
    grantButton_->setObjectName(QStringLiteral("grantButton"));
    grantButton_->setAutoDefault(false);
    repairButton_ = new QPushButton(QStringLiteral("Repair"), row);
    repairButton_->setObjectName(QStringLiteral("repairButton"));
    repairButton_->setAutoDefault(false);
    row->addTrailing(grantButton_);
    row->addTrailing(repairButton_);
    connect(grantButton_, &QPushButton::clicked, this, &HelperSection::grant);
    connect(repairButton_, &QPushButton::clicked, this, &HelperSection::repair);
    column->addWidget(row);

    loginToggle_ = new QCheckBox(QStringLiteral("Start Corvane at login"), detail);
    loginToggle_->setObjectName(QStringLiteral("startAtLoginToggle"));
    connect(loginToggle_, &QCheckBox::clicked, this, [this](bool enabled) {
        routing_.setStartsAtLogin(enabled);
        // The switch shows what the system reports, also when it refused.
        refresh();
    });
    column->addWidget(loginToggle_);

    approvalNotice_ = TextStyle::warning(
        QStringLiteral("macOS is holding this until you allow Corvane under Login Items in System Settings."),
        false, detail);
    approvalNotice_->setObjectName(QStringLiteral("loginApprovalNotice"));
    if (auto* text = approvalNotice_->findChild<QLabel*>(QStringLiteral("warningText"))) {
        QFont caption = text->font();
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        text->setFont(caption);
    }
    column->addWidget(approvalNotice_);
    column->addWidget(captionLabel(
        QStringLiteral(
            "Routing itself needs no permission — the helper only needs Accessibility to raise an "
            "existing Chrome window instead of opening another one. Starting at login just saves the "
            "first link of the day waiting for the helper to launch."),
        detail));

    auto* divider = new QFrame(detail);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);
    return detail;
}

QWidget* HelperSection::makeDisableHelperToggle() {
    auto* group = new QWidget(this);
    auto* column = new QVBoxLayout(group);
    column->setContentsMargins(0, 0, 0, 0);
    disableToggle_ = new QCheckBox(QStringLiteral("Disable Helper Use"), group);
    disableToggle_->setObjectName(QStringLiteral("disableHelperToggle"));
    connect(disableToggle_, &QCheckBox::clicked, this, [this](bool disables) {
        AppSettings changed = routing_.settings();
        changed.disablesHelper = disables;
        routing_.save(changed);
        // Also after a failed save: the app model re-reads the settings from their file.
        if (routing_.onHelperUseChanged)
            routing_.onHelperUseChanged();
        refresh();
    });
    column->addWidget(disableToggle_);
    column->addWidget(captionLabel(
        QStringLiteral(
            "Runs Corvane without its background helper. Links are still routed by your rules, and no "
            "permission of any kind is needed — but Chrome windows are opened rather than raised, tab "
            "groups can't be listed, and proxy apps can't be created or updated."),
        group));
    return group;
}

void HelperSection::refresh() {
    Quiet::setChecked(disableToggle_, routing_.settings().disablesHelper);
    const bool disabled = model_.helperDisabled();
    Quiet::setVisible(helperDetail_, !disabled);
    if (disabled)
        return;

    const bool trusted = model_.helperTrusted();
    trustDot_->setGood(trusted);
    Quiet::setText(trustDetail_, trusted
                                     ? QStringLiteral("Granted to the background helper")
                                     : QStringLiteral("Not granted — apps will open new windows instead of "
                                                      "raising"));
    const QString grantTitle =
        trusted ? QStringLiteral("Open Privacy & Security…") : QStringLiteral("Grant…");
    if (grantButton_->accessibleName() != grantTitle) {
        grantButton_->setText(TextStyle::forMenu(grantTitle));
        grantButton_->setAccessibleName(grantTitle);
    }
    ButtonStyle::setProminent(grantButton_, !trusted);
    repairButton_->setToolTip(trusted ? trustedRepairHelp : untrustedRepairHelp);

    Quiet::setChecked(loginToggle_, routing_.startsAtLogin());
    Quiet::setVisible(approvalNotice_, LoginItem::needsApproval());
}

void HelperSection::grant() {
    model_.probe().requestGrant();
    host::workspace().openSystemSettings(QUrl(accessibilitySettingsAddress));
}

void HelperSection::repair() {
    // A cleared entry is reported on the app model's status line; one that could not be cleared here, on the
    // routing model's error line, which this page shows.
    if (const auto failure = model_.repairHelperGrant())
        routing_.reportGrantRepairFailure(*failure);
}
