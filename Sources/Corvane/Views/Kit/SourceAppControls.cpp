#include "Corvane/Views/Kit/SourceAppControls.h"

#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "CorvaneHost/ApplicationIcons.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <algorithm>

namespace AppIcons {

namespace {

QIcon genericApplicationIcon() {
    const QIcon themed = QIcon::fromTheme(QStringLiteral("application-x-executable"));
    if (!themed.isNull())
        return themed;
    return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
}

// The icon drawn at exactly `size` points, at one pixel a point and at the screen's scale, so menus and
// labels get the size asked for and stay sharp on a dense screen.
QIcon sized(const QIcon& icon, int size) {
    const qreal screenRatio = std::max<qreal>(1.0, qApp->devicePixelRatio());
    QIcon result;
    for (const qreal ratio : {qreal(1.0), screenRatio}) {
        const int pixels = qRound(size * ratio);
        QPixmap pixmap = icon.pixmap(QSize(pixels, pixels));
        if (pixmap.isNull())
            return icon;
        if (pixmap.size() != QSize(pixels, pixels))
            pixmap = pixmap.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        pixmap.setDevicePixelRatio(ratio);
        result.addPixmap(pixmap);
        if (ratio == screenRatio)
            break;
    }
    return result;
}

} // namespace

QIcon icon(const QString& path, int size) {
    if (const auto file = host::applicationIconFile(path)) {
        const QIcon own(*file);
        if (!own.isNull() && !own.availableSizes().isEmpty())
            return sized(own, size);
        const QPixmap loaded(*file);
        if (!loaded.isNull())
            return sized(QIcon(loaded), size);
    }
    return sized(genericApplicationIcon(), size);
}

std::optional<QIcon> iconForBundleID(const QString& bundleID, int size) {
    if (bundleID.isEmpty())
        return std::nullopt;
    const auto path = host::workspace().urlForApplication(bundleID);
    if (!path || path->isEmpty())
        return std::nullopt;
    return icon(*path, size);
}

} // namespace AppIcons

SourceAppLabel::SourceAppLabel(const QString& bundleID, RoutingModel& model, int iconSize, QWidget* parent)
    : QWidget(parent)
    , bundleID_(bundleID)
    , model_(model)
    , iconSize_(iconSize) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("sourceAppIcon"));
    icon_->setFixedSize(iconSize, iconSize);
    name_ = new ElidedLabel(this);
    name_->setObjectName(QStringLiteral("sourceAppName"));
    layout->addWidget(icon_, 0, Qt::AlignVCenter);
    layout->addWidget(name_, 1, Qt::AlignVCenter);
    refresh();
}

void SourceAppLabel::setBundleID(const QString& bundleID) {
    if (bundleID == bundleID_)
        return;
    bundleID_ = bundleID;
    refresh();
}

QString SourceAppLabel::shownName() const {
    return name_->fullText();
}

QSize SourceAppLabel::sizeHint() const {
    const int width = iconSize_ + 6 + name_->fontMetrics().horizontalAdvance(name_->fullText()) + 2;
    return {width, std::max(iconSize_, QWidget::sizeHint().height())};
}

void SourceAppLabel::refresh() {
    const auto icon = AppIcons::iconForBundleID(bundleID_, iconSize_);
    placeholder_ = !icon;
    icon_->setPixmap(
        icon ? icon->pixmap(QSize(iconSize_, iconSize_), devicePixelRatioF())
             : systemImage(QStringLiteral("questionmark.app.dashed"), ViewColors::secondary(), iconSize_));
    const QString name = model_.sourceAppName(bundleID_);
    name_->setFullText(name);
    setAccessibleName(name);
    updateGeometry();
}

SourceAppMenu::SourceAppMenu(RoutingModel& model, QSet<QString> excluding, QWidget* parent)
    : QToolButton(parent)
    , model_(model)
    , excluding_(std::move(excluding)) {
    setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("sourceAppMenu"));
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { fillMenu(menu, currentEntries()); });
    setMenu(menu);
}

std::vector<MenuEntry> SourceAppMenu::entries(RoutingModel& model, const QSet<QString>& excluding,
                                              const std::function<void(const QString&)>& onPick) {
    std::vector<SourceApp> seen;
    std::vector<SourceApp> running;
    for (const SourceApp& app : model.sourceApps()) {
        if (excluding.contains(app.bundleID))
            continue;
        (app.wasSeen ? seen : running).push_back(app);
    }
    const auto appEntry = [&](const SourceApp& app) {
        MenuEntry entry;
        entry.title = app.name;
        if (const auto icon = AppIcons::iconForBundleID(app.bundleID, 16))
            entry.icon = *icon;
        else
            entry.systemImage = QStringLiteral("app.dashed");
        entry.action = [onPick, bundleID = app.bundleID] { onPick(bundleID); };
        return entry;
    };
    std::vector<MenuEntry> entries;
    if (!seen.empty()) {
        entries.push_back(MenuEntry::section(QStringLiteral("Seen Sending Links")));
        for (const SourceApp& app : seen)
            entries.push_back(appEntry(app));
    }
    if (!running.empty()) {
        entries.push_back(MenuEntry::section(QStringLiteral("Running Now")));
        for (const SourceApp& app : running)
            entries.push_back(appEntry(app));
    }
    if (seen.empty() && running.empty()) {
        MenuEntry note;
        note.title = QStringLiteral("Every app is already listed");
        note.enabled = false;
        entries.push_back(note);
    }
    entries.push_back(MenuEntry::divider());
    MenuEntry other;
    other.title = QStringLiteral("Other App…");
    other.action = [&model, onPick] {
        if (const auto app = model.chooseSourceApp())
            onPick(app->bundleID);
    };
    entries.push_back(other);
    return entries;
}

std::vector<MenuEntry> SourceAppMenu::currentEntries() {
    return entries(model_, excluding_, [this](const QString& bundleID) { emit picked(bundleID); });
}
