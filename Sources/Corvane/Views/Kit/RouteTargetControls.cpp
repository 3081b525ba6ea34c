#include "Corvane/Views/Kit/RouteTargetControls.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/SourceAppControls.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMenu>

namespace {

const QString incognitoSuffix = QStringLiteral(" — Incognito");

MenuEntry targetEntry(const QString& title, const QString& path, std::function<void()> action) {
    MenuEntry entry;
    entry.title = title;
    entry.icon = AppIcons::icon(path, TargetDirectory::menuIconPoints);
    entry.action = std::move(action);
    return entry;
}

void appendProxyApps(std::vector<MenuEntry>& entries, const TargetDirectory& directory,
                     const std::function<void(const RouteTarget&)>& choose) {
    if (directory.apps.empty())
        return;
    entries.push_back(MenuEntry::section(QStringLiteral("Proxy Apps")));
    for (const RegisteredApp& app : directory.apps)
        entries.push_back(targetEntry(app.name, app.path,
                                      [choose, id = app.bundleID] { choose(RouteTarget::proxyApp(id)); }));
}

void appendBrowsers(std::vector<MenuEntry>& entries, const std::vector<BrowserEntry>& browsers,
                    const std::function<void(const RouteTarget&)>& choose) {
    entries.push_back(MenuEntry::section(QStringLiteral("Browsers")));
    for (const BrowserEntry& browser : browsers)
        entries.push_back(targetEntry(browser.name, browser.path, [choose, id = browser.bundleID] {
            choose(RouteTarget::browser(id, false));
        }));
}

// A tool button that shows a label widget of its own and pops its menu up at a click.
void setUpMenuButton(QToolButton* button, QWidget* content,
                     const std::function<std::vector<MenuEntry>()>& build) {
    button->setPopupMode(QToolButton::InstantPopup);
    auto* layout = new QHBoxLayout(button);
    layout->setContentsMargins(8, 2, 20, 2);
    layout->addWidget(content);
    auto* menu = new QMenu(button);
    QObject::connect(menu, &QMenu::aboutToShow, button, [menu, build] { fillMenu(menu, build()); });
    button->setMenu(menu);
}

// Room for the label laid out inside the button, and for the menu arrow.
QSize menuButtonSizeHint(const QToolButton* button, QSize plain) {
    const QSize content = button->layout() ? button->layout()->sizeHint() : QSize();
    return plain.expandedTo(content + QSize(8, 0));
}

} // namespace

TargetDirectory TargetDirectory::of(const AppModel& model, const RoutingModel& routing) {
    return TargetDirectory{model.apps(), routing.browsers()};
}

std::optional<QString> TargetDirectory::path(const RouteTarget& target) const {
    const QString& id = target.bundleID();
    for (const RegisteredApp& app : apps) {
        if (app.bundleID != id)
            continue;
        if (app.existsOnDisk())
            return app.path;
        break;
    }
    for (const BrowserEntry& browser : browsers)
        if (browser.bundleID == id)
            return browser.path;
    return std::nullopt;
}

QString TargetDirectory::name(const RouteTarget& target) const {
    const QString& id = target.bundleID();
    const QString suffix = !target.isProxyApp() && target.isPrivate() ? incognitoSuffix : QString();
    for (const RegisteredApp& app : apps)
        if (app.bundleID == id)
            return app.name;
    for (const BrowserEntry& browser : browsers)
        if (browser.bundleID == id)
            return browser.name + suffix;
    return id + suffix;
}

std::optional<QIcon> TargetDirectory::icon(const RouteTarget& target, int points) const {
    const auto found = path(target);
    if (!found)
        return std::nullopt;
    return AppIcons::icon(*found, points);
}

std::vector<BrowserEntry> PrivateBrowserSection::capable(const std::vector<BrowserEntry>& browsers) {
    std::vector<BrowserEntry> result;
    for (const BrowserEntry& browser : browsers)
        if (BrowserCatalog::supportsPrivateBrowsing(browser.bundleID))
            result.push_back(browser);
    return result;
}

std::vector<MenuEntry> PrivateBrowserSection::entries(const std::vector<BrowserEntry>& browsers,
                                                      const std::function<void(const RouteTarget&)>& choose) {
    const std::vector<BrowserEntry> able = capable(browsers);
    std::vector<MenuEntry> entries;
    if (able.empty())
        return entries;
    entries.push_back(MenuEntry::section(QStringLiteral("Private Windows")));
    for (const BrowserEntry& browser : able)
        entries.push_back(
            targetEntry(browser.name + incognitoSuffix, browser.path,
                        [choose, id = browser.bundleID] { choose(RouteTarget::browser(id, true)); }));
    return entries;
}

RouteTargetLabel::RouteTargetLabel(const RouteTarget& target, TargetDirectory directory, int iconSize,
                                   QWidget* parent)
    : QWidget(parent)
    , target_(target)
    , directory_(std::move(directory))
    , iconSize_(iconSize) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("routeTargetIcon"));
    icon_->setFixedSize(iconSize, iconSize);
    name_ = new ElidedLabel(this);
    name_->setObjectName(QStringLiteral("routeTargetName"));
    warning_ = new QLabel(this);
    warning_->setObjectName(QStringLiteral("routeTargetMissing"));
    warning_->setPixmap(
        systemImage(QStringLiteral("exclamationmark.triangle.fill"), ViewColors::orange(), 14));
    warning_->setToolTip(missingWarningHelp());
    warning_->setAccessibleName(missingWarningHelp());
    layout->addWidget(icon_, 0, Qt::AlignVCenter);
    layout->addWidget(name_, 1, Qt::AlignVCenter);
    layout->addWidget(warning_, 0, Qt::AlignVCenter);
    refresh();
}

QString RouteTargetLabel::missingWarningHelp() {
    return QStringLiteral(
        "This app isn't installed any more, so links matching this rule go to the fallback instead.");
}

void RouteTargetLabel::setTarget(const RouteTarget& target) {
    if (target == target_)
        return;
    target_ = target;
    refresh();
}

void RouteTargetLabel::setDirectory(TargetDirectory directory) {
    directory_ = std::move(directory);
    refresh();
}

QString RouteTargetLabel::shownName() const {
    return name_->fullText();
}

QSize RouteTargetLabel::sizeHint() const {
    int width = iconSize_ + 6 + name_->fontMetrics().horizontalAdvance(name_->fullText()) + 2;
    if (!warning_->isHidden())
        width += 6 + warning_->sizeHint().width();
    return {width, std::max(iconSize_, QWidget::sizeHint().height())};
}

bool RouteTargetLabel::showsMissingWarning() const {
    return !warning_->isHidden();
}

void RouteTargetLabel::refresh() {
    const auto icon = directory_.icon(target_, iconSize_);
    placeholder_ = !icon;
    icon_->setPixmap(
        icon ? icon->pixmap(QSize(iconSize_, iconSize_), devicePixelRatioF())
             : systemImage(QStringLiteral("questionmark.app.dashed"), ViewColors::orange(), iconSize_));
    const QString name = directory_.name(target_);
    name_->setFullText(name);
    warning_->setVisible(!directory_.path(target_));
    setAccessibleName(name);
    updateGeometry();
}

RouteTargetMenu::RouteTargetMenu(const RouteTarget& target, TargetDirectory directory,
                                 BrowserSource offeredBrowsers, QWidget* parent)
    : QToolButton(parent)
    , target_(target)
    , directory_(std::move(directory))
    , offeredBrowsers_(std::move(offeredBrowsers)) {
    label_ = new RouteTargetLabel(target_, directory_, TargetDirectory::menuIconPoints, this);
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    setUpMenuButton(this, label_, [this] { return currentEntries(); });
    setAccessibleName(label_->shownName());
}

void RouteTargetMenu::setTarget(const RouteTarget& target) {
    target_ = target;
    label_->setTarget(target);
    setAccessibleName(label_->shownName());
    updateGeometry();
}

void RouteTargetMenu::setDirectory(TargetDirectory directory) {
    directory_ = std::move(directory);
    label_->setDirectory(directory_);
    setAccessibleName(label_->shownName());
}

std::vector<MenuEntry> RouteTargetMenu::entries(const TargetDirectory& directory,
                                                const std::vector<BrowserEntry>& offeredBrowsers,
                                                const std::function<void(const RouteTarget&)>& choose) {
    std::vector<MenuEntry> entries;
    appendProxyApps(entries, directory, choose);
    if (!offeredBrowsers.empty())
        appendBrowsers(entries, offeredBrowsers, choose);
    for (MenuEntry& entry : PrivateBrowserSection::entries(offeredBrowsers, choose))
        entries.push_back(std::move(entry));
    return entries;
}

std::vector<MenuEntry> RouteTargetMenu::currentEntries() {
    const std::vector<BrowserEntry> offered = offeredBrowsers_ ? offeredBrowsers_() : directory_.browsers;
    return entries(directory_, offered, [this](const RouteTarget& target) { choose(target); });
}

QSize RouteTargetMenu::sizeHint() const {
    return menuButtonSizeHint(this, QToolButton::sizeHint());
}

void RouteTargetMenu::choose(const RouteTarget& target) {
    setTarget(target);
    emit targetChosen(target);
}

OptionalTargetMenu::OptionalTargetMenu(const std::optional<RouteTarget>& target, TargetDirectory directory,
                                       BrowserSource offeredBrowsers, const QString& automaticTitle,
                                       QWidget* parent)
    : QToolButton(parent)
    , target_(target)
    , directory_(std::move(directory))
    , offeredBrowsers_(std::move(offeredBrowsers))
    , automaticTitle_(automaticTitle) {
    auto* content = new QWidget(this);
    content->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QHBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    label_ = new RouteTargetLabel(target.value_or(RouteTarget::browser(QString())), directory_,
                                  TargetDirectory::menuIconPoints, content);
    automaticLabel_ = new ElidedLabel(content);
    automaticLabel_->setObjectName(QStringLiteral("automaticTitle"));
    layout->addWidget(label_);
    layout->addWidget(automaticLabel_);
    setUpMenuButton(this, content, [this] { return currentEntries(); });
    refresh();
}

void OptionalTargetMenu::setTarget(const std::optional<RouteTarget>& target) {
    target_ = target;
    refresh();
}

void OptionalTargetMenu::setDirectory(TargetDirectory directory) {
    directory_ = std::move(directory);
    label_->setDirectory(directory_);
    refresh();
}

void OptionalTargetMenu::setAutomaticTitle(const QString& title) {
    automaticTitle_ = title;
    refresh();
}

QString OptionalTargetMenu::shownTitle() const {
    return target_ ? label_->shownName() : automaticTitle_;
}

std::vector<MenuEntry>
OptionalTargetMenu::entries(const TargetDirectory& directory,
                            const std::vector<BrowserEntry>& offeredBrowsers, const QString& automaticTitle,
                            const std::function<void(const std::optional<RouteTarget>&)>& choose) {
    std::vector<MenuEntry> entries;
    MenuEntry automatic;
    automatic.title = automaticTitle;
    automatic.action = [choose] { choose(std::nullopt); };
    entries.push_back(automatic);
    const auto chooseTarget = [choose](const RouteTarget& target) { choose(target); };
    appendProxyApps(entries, directory, chooseTarget);
    appendBrowsers(entries, offeredBrowsers, chooseTarget);
    for (MenuEntry& entry : PrivateBrowserSection::entries(offeredBrowsers, chooseTarget))
        entries.push_back(std::move(entry));
    return entries;
}

std::vector<MenuEntry> OptionalTargetMenu::currentEntries() {
    const std::vector<BrowserEntry> offered = offeredBrowsers_ ? offeredBrowsers_() : directory_.browsers;
    return entries(directory_, offered, automaticTitle_,
                   [this](const std::optional<RouteTarget>& target) { choose(target); });
}

QSize OptionalTargetMenu::sizeHint() const {
    QSize hint = menuButtonSizeHint(this, QToolButton::sizeHint());
    // The automatic title is an elided label, which asks for no width of its own: room for all of it, or the
    // button would show an empty face.
    if (!target_) {
        const QMargins margins = layout()->contentsMargins();
        hint.setWidth(std::max(hint.width(), fontMetrics().horizontalAdvance(automaticTitle_) +
                                                 margins.left() + margins.right() + 8));
    }
    return hint;
}

void OptionalTargetMenu::choose(const std::optional<RouteTarget>& target) {
    setTarget(target);
    emit targetChosen(target);
}

void OptionalTargetMenu::refresh() {
    if (target_)
        label_->setTarget(*target_);
    label_->setVisible(target_.has_value());
    automaticLabel_->setVisible(!target_);
    automaticLabel_->setFullText(automaticTitle_);
    setAccessibleName(shownTitle());
    updateGeometry();
}
