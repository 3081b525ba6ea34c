#include "Corvane/Views/System/SystemView.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/System/OtherBrowsersSection.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/RoutingComponents.h"
#include "Corvane/Views/System/SystemHelperSection.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString defaultBrowserSettingsAddress =
    QStringLiteral("x-apple.systempreferences:com.apple.Desktop-Settings.extension");
// The row images are drawn at the size of the title-2 font.
constexpr int rowImagePoints = 22;

QLabel* captionLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    TextStyle::caption(label);
    return label;
}

QPushButton* button(const QString& text, const QString& objectName, QWidget* parent) {
    auto* made = new QPushButton(TextStyle::forMenu(text), parent);
    made->setObjectName(objectName);
    made->setAccessibleName(text);
    made->setAutoDefault(false);
    return made;
}

} // namespace

// MARK: - StatusDot, StatusRow, ButtonStyle

StatusDot::StatusDot(bool isGood, QWidget* parent)
    : QLabel(parent)
    , isGood_(isGood) {
    setFixedSize(rowImagePoints, rowImagePoints);
    draw();
}

void StatusDot::setGood(bool isGood) {
    if (isGood == isGood_)
        return;
    isGood_ = isGood;
    draw();
}

void StatusDot::draw() {
    setPixmap(isGood_
                  ? systemImage(QStringLiteral("checkmark.circle.fill"), ViewColors::green(), rowImagePoints)
                  : systemImage(QStringLiteral("exclamationmark.triangle.fill"), ViewColors::orange(),
                                rowImagePoints));
}

StatusRow::StatusRow(QWidget* leading, const QString& title, QWidget* parent)
    : QWidget(parent) {
    layout_ = new QHBoxLayout(this);
    layout_->setContentsMargins(0, 2, 0, 2);
    layout_->setSpacing(10);
    leading->setParent(this);
    layout_->addWidget(leading, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    title_ = new QLabel(title, this);
    title_->setTextFormat(Qt::PlainText);
    QFont medium = title_->font();
    medium.setWeight(QFont::Medium);
    title_->setFont(medium);
    detail_ = captionLabel(QString(), this);
    texts->addWidget(title_);
    texts->addWidget(detail_);
    layout_->addLayout(texts, 1);
}

void StatusRow::addTrailing(QWidget* widget) {
    widget->setParent(this);
    layout_->addWidget(widget, 0, Qt::AlignVCenter);
}

namespace ButtonStyle {

void setProminent(QPushButton* button, bool prominent) {
    if (isProminent(button) == prominent)
        return;
    button->setProperty("prominent", prominent);
    QPalette palette = button->parentWidget() ? button->parentWidget()->palette() : QPalette();
    if (prominent) {
        palette.setColor(QPalette::Button, ViewColors::accent());
        palette.setColor(QPalette::ButtonText, palette.color(QPalette::HighlightedText));
    }
    button->setPalette(palette);
}

bool isProminent(const QPushButton* button) {
    return button->property("prominent").toBool();
}

void makeSmall(QAbstractButton* button) {
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    button->setFont(font);
}

} // namespace ButtonStyle

// MARK: - SystemView

SystemView::SystemView(AppModel& model, RoutingModel& routing, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , routing_(routing) {
    setObjectName(QStringLiteral("SystemView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* form = new PageForm(this);
    form->setObjectName(QStringLiteral("systemForm"));
    column->addWidget(form, 1);

    staleHelperSection_ = makeStaleHelperSection();
    form->addWidget(staleHelperSection_);
    form->addWidget(makeDefaultBrowserSection());

    auto* helper = new FormSection(QStringLiteral("Helper"));
    helper->setObjectName(QStringLiteral("helperSection"));
    helperSection_ = new HelperSection(model_, routing_, helper);
    helper->addRow(helperSection_);
    form->addWidget(helper);

    proxyAppsSection_ = makeProxyAppsSection();
    form->addWidget(proxyAppsSection_);
    form->addWidget(makeRoutingSummarySection());

    browsersSection_ = new OtherBrowsersSection(routing_);
    form->addWidget(browsersSection_);
    form->addStretch();

    footer_ = new PageStatusBar(this);
    column->addWidget(footer_);

    connect(&routing_, &RoutingModel::helperIsStaleChanged, this, &SystemView::refreshStaleHelper);
    connect(&routing_, &RoutingModel::isDefaultBrowserChanged, this, &SystemView::refreshDefaultBrowser);
    connect(&routing_, &RoutingModel::browsersChanged, this, &SystemView::refreshDefaultBrowser);
    connect(&routing_, &RoutingModel::handledFileTypesChanged, this, &SystemView::refreshFileTypes);
    connect(&routing_, &RoutingModel::settingsChanged, this, &SystemView::refreshProxyApps);
    for (auto changed : {&AppModel::canCreateProxyAppsChanged, &AppModel::appsChanged,
                         &AppModel::isBusyChanged, &AppModel::renameOutcomeChanged})
        connect(&model_, changed, this, &SystemView::refreshProxyApps);
    connect(&routing_, &RoutingModel::ruleSetChanged, this, &SystemView::refreshRoutingSummary);
    connect(&routing_, &RoutingModel::browsersChanged, this, &SystemView::refreshRoutingSummary);
    connect(&model_, &AppModel::appsChanged, this, &SystemView::refreshRoutingSummary);
    connect(&routing_, &RoutingModel::errorMessageChanged, this, &SystemView::refreshFooter);
    connect(&routing_, &RoutingModel::statusMessageChanged, this, &SystemView::refreshFooter);

    refreshStaleHelper();
    refreshDefaultBrowser();
    refreshFileTypes();
    refreshProxyApps();
    refreshRoutingSummary();
    refreshFooter();
}

FormSection* SystemView::makeStaleHelperSection() {
    auto* section = new FormSection;
    section->setObjectName(QStringLiteral("staleHelperSection"));
    auto* image = new QLabel;
    image->setPixmap(
        systemImage(QStringLiteral("exclamationmark.triangle.fill"), ViewColors::orange(), rowImagePoints));
    auto* row = new StatusRow(image, QStringLiteral("The background helper is out of date"), section);
    row->detail()->setText(
        QStringLiteral("It is the copy that actually routes your links, and an old one can't "
                       "read newer rules — every link would go to the fallback instead of "
                       "following them."));
    auto* update = button(QStringLiteral("Update Helper"), QStringLiteral("updateHelperButton"), row);
    ButtonStyle::setProminent(update, true);
    row->addTrailing(update);
    connect(update, &QPushButton::clicked, this, [this] { routing_.updateHelper(); });
    section->addRow(row);
    return section;
}

FormSection* SystemView::makeDefaultBrowserSection() {
    auto* section = new FormSection;
    section->setObjectName(QStringLiteral("defaultBrowserSection"));
    defaultDot_ = new StatusDot;
    defaultDot_->setObjectName(QStringLiteral("defaultBrowserDot"));
    auto* row = new StatusRow(defaultDot_, QStringLiteral("Corvane handles web links"), section);
    defaultDetail_ = row->detail();
    defaultDetail_->setObjectName(QStringLiteral("defaultBrowserDetail"));
    openSettingsButton_ =
        button(QStringLiteral("Open System Settings…"), QStringLiteral("openSystemSettingsButton"), row);
    makeDefaultButton_ =
        button(QStringLiteral("Make Corvane the Default…"), QStringLiteral("makeDefaultButton"), row);
    ButtonStyle::setProminent(makeDefaultButton_, true);
    row->addTrailing(openSettingsButton_);
    row->addTrailing(makeDefaultButton_);
    connect(openSettingsButton_, &QPushButton::clicked, this,
            [] { host::workspace().openSystemSettings(QUrl(defaultBrowserSettingsAddress)); });
    // Only ever towards the helper: giving the links back happens in the desktop's own settings.
    connect(makeDefaultButton_, &QPushButton::clicked, this, [this] { routing_.setDefaultBrowser(true); });
    section->addRow(row);

    auto* types = new QWidget(section);
    auto* typesColumn = new QVBoxLayout(types);
    typesColumn->setContentsMargins(0, 0, 0, 0);
    typesColumn->setSpacing(4);
    for (const BrowserCatalog::RoutableFileType& type : BrowserCatalog::routableFileTypes()) {
        auto* toggle = new QCheckBox(TextStyle::forMenu(type.label), types);
        toggle->setObjectName(QStringLiteral("fileType:") + type.type);
        toggle->setAccessibleName(type.label);
        typesColumn->addWidget(toggle);
        fileTypeToggles_.emplace_back(type.type, toggle);
        connect(toggle, &QCheckBox::clicked, this, [this, contentType = type.type](bool enabled) {
            routing_.setHandling(contentType, enabled);
        });
    }
    section->addRow(QStringLiteral("Also open these with Corvane"), types);
    section->addRow(
        captionLabel(QStringLiteral("Where local files open is set in Rules, under “Open local files "
                                    "in”. An address pattern beginning “/” or “~/” can send "
                                    "particular folders somewhere else."),
                     section));
    return section;
}

FormSection* SystemView::makeProxyAppsSection() {
    auto* section = new FormSection(QStringLiteral("Proxy Apps"));
    section->setObjectName(QStringLiteral("proxyAppsSection"));
    section->setFooter(QStringLiteral(
        "A proxy app carries a copy of the launcher from the day it was made, so improvements reach it only "
        "when "
        "it is rebuilt. With this on, an app that has fallen behind says so when you open it — once, and "
        "then at "
        "most every few days. The list on the left flags outdated apps either way; this only governs the "
        "notification."));
    notifyToggle_ = new QCheckBox(QStringLiteral("Tell me when a proxy app can be updated"), section);
    notifyToggle_->setObjectName(QStringLiteral("notifyOutdatedToggle"));
    connect(notifyToggle_, &QCheckBox::clicked, this, [this](bool notifies) {
        AppSettings changed = routing_.settings();
        changed.notifiesWhenProxyAppsAreOutdated = notifies;
        routing_.save(changed);
        // A failed save leaves the settings unchanged and publishes nothing: the switch springs back here.
        refreshProxyApps();
    });
    section->addRow(notifyToggle_);

    rebuildRow_ = new QWidget(section);
    rebuildRow_->setObjectName(QStringLiteral("rebuildRow"));
    auto* row = new QHBoxLayout(rebuildRow_);
    row->setContentsMargins(0, 0, 0, 0);
    auto* image = new QLabel(rebuildRow_);
    image->setPixmap(systemImage(QStringLiteral("arrow.up.circle.fill"), ViewColors::blue(), 16));
    rebuildTitle_ = new QLabel(rebuildRow_);
    rebuildTitle_->setObjectName(QStringLiteral("rebuildTitle"));
    rebuildTitle_->setTextFormat(Qt::PlainText);
    QPalette blue = rebuildTitle_->palette();
    blue.setColor(QPalette::WindowText, ViewColors::blue());
    rebuildTitle_->setPalette(blue);
    rebuildButton_ = button(QString(), QStringLiteral("rebuildOutdatedButton"), rebuildRow_);
    connect(rebuildButton_, &QPushButton::clicked, this, [this] { model_.rebuildOutdated(); });
    row->addWidget(image);
    row->addWidget(rebuildTitle_);
    row->addStretch(1);
    row->addWidget(rebuildButton_);
    section->addRow(rebuildRow_);
    return section;
}

FormSection* SystemView::makeRoutingSummarySection() {
    auto* section = new FormSection(QStringLiteral("Routing"));
    section->setObjectName(QStringLiteral("routingSummarySection"));
    rulesInUse_ = new QLabel(section);
    rulesInUse_->setObjectName(QStringLiteral("rulesInUse"));
    rulesInUse_->setTextFormat(Qt::PlainText);
    TextStyle::secondary(rulesInUse_);
    section->addRow(QStringLiteral("Rules in use"), rulesInUse_);

    auto* fallback = new QWidget(section);
    fallback->setObjectName(QStringLiteral("fallbackBrowser"));
    fallbackBox_ = new QVBoxLayout(fallback);
    fallbackBox_->setContentsMargins(0, 0, 0, 0);
    automaticFallback_ = new QLabel(fallback);
    automaticFallback_->setObjectName(QStringLiteral("automaticFallback"));
    automaticFallback_->setTextFormat(Qt::PlainText);
    TextStyle::secondary(automaticFallback_);
    fallbackBox_->addWidget(automaticFallback_);
    section->addRow(QStringLiteral("Fallback browser"), fallback);

    auto* hint = new QWidget(section);
    auto* row = new QHBoxLayout(hint);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(
        captionLabel(
            QStringLiteral("Edit both in Rules. Corvane never opens a link itself — it hands the link "
                           "to a browser."),
            hint),
        1);
    auto* openRules = button(QStringLiteral("Open Rules"), QStringLiteral("openRulesButton"), hint);
    ButtonStyle::makeSmall(openRules);
    // Straight to the rules: the unsaved-changes question never applies while this page is shown.
    connect(openRules, &QPushButton::clicked, this,
            [this] { model_.setSelection(AppModel::Selection::rules()); });
    row->addWidget(openRules);
    section->addRow(hint);
    return section;
}

QString SystemView::currentDefaultName() const {
    const auto defaultID = BrowserCatalog::defaultBrowserBundleID();
    if (!defaultID)
        return QStringLiteral("another browser");
    for (const BrowserEntry& entry : routing_.browsers())
        if (entry.bundleID == *defaultID)
            return entry.name;
    return *defaultID;
}

void SystemView::refreshStaleHelper() {
    Quiet::setVisible(staleHelperSection_, routing_.helperIsStale());
}

void SystemView::refreshDefaultBrowser() {
    const bool isDefault = routing_.isDefaultBrowser();
    defaultDot_->setGood(isDefault);
    Quiet::setText(defaultDetail_, isDefault
                                       ? QStringLiteral("Links from other apps come here first, then follow "
                                                        "your rules.")
                                       : QStringLiteral("Links from other apps go straight to ") +
                                             currentDefaultName() + QStringLiteral(". ") +
                                             QStringLiteral("Your rules aren't running."));
    Quiet::setVisible(openSettingsButton_, isDefault);
    Quiet::setVisible(makeDefaultButton_, !isDefault);
}

void SystemView::refreshFileTypes() {
    for (const auto& [type, toggle] : fileTypeToggles_)
        Quiet::setChecked(toggle, routing_.handledFileTypes().contains(type));
}

void SystemView::refreshProxyApps() {
    Quiet::setVisible(proxyAppsSection_, model_.canCreateProxyApps());
    Quiet::setChecked(notifyToggle_, routing_.settings().notifiesWhenProxyAppsAreOutdated);
    const bool outdated = model_.appsNeedingRebuild() >= 1;
    Quiet::setVisible(rebuildRow_, outdated);
    if (outdated) {
        Quiet::setText(rebuildTitle_, model_.renameRowTitle());
        const QString title = model_.updateButtonTitle();
        rebuildButton_->setText(TextStyle::forMenu(title));
        rebuildButton_->setAccessibleName(title);
    }
    rebuildButton_->setEnabled(!model_.isBusy());
}

void SystemView::refreshRoutingSummary() {
    const RuleSet& rules = routing_.ruleSet();
    Quiet::setText(rulesInUse_, rules.summary());
    const bool automatic = !rules.fallback.has_value();
    if (automatic) {
        Quiet::setText(automaticFallback_, QStringLiteral("Automatic — ") + routing_.automaticFallbackName());
    } else if (!fallbackTarget_) {
        fallbackTarget_ = new RouteTargetLabel(*rules.fallback, TargetDirectory::of(model_, routing_), 18);
        fallbackTarget_->setObjectName(QStringLiteral("fallbackTarget"));
        fallbackBox_->addWidget(fallbackTarget_);
    } else {
        fallbackTarget_->setDirectory(TargetDirectory::of(model_, routing_));
        fallbackTarget_->setTarget(*rules.fallback);
    }
    Quiet::setVisible(automaticFallback_, automatic);
    if (fallbackTarget_)
        Quiet::setVisible(fallbackTarget_, !automatic);
}

void SystemView::refreshFooter() {
    footer_->setLines(routing_.errorMessage(), routing_.statusMessage());
}
