#include "CorvaneHost/Linux/Widgets/TrayMenuBar.h"

#include "CorvaneHost/Services.h"

#include <QAction>
#include <QFileInfo>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace host {

MenuBar& menuBar() {
    return ensureService(services().menuBar, [] { return std::make_shared<TrayMenuBar>(); });
}

namespace {

QIcon iconFrom(const QString& iconPath) {
    if (!iconPath.isEmpty() && QFileInfo(iconPath).isFile()) {
        QIcon icon(iconPath);
        if (!icon.isNull())
            return icon;
    }
    // A status area needs some icon; a plain disc stands in for an app without one.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x1F, 0x21, 0x24));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(2, 2, 28, 28);
    return QIcon(pixmap);
}

} // namespace

TrayMenuBar::TrayMenuBar() = default;
TrayMenuBar::~TrayMenuBar() = default;

void TrayMenuBar::setMainMenu(const Menu& menu, const QString& iconPath) {
    auto built = std::make_unique<QMenu>(menu.title);
    for (const MenuItem& item : menu.items) {
        if (item.isSeparator) {
            built->addSeparator();
            continue;
        }
        QString title = item.title;
        QAction* action = built->addAction(title.replace(QLatin1Char('&'), QStringLiteral("&&")));
        if (!item.keyEquivalent.isEmpty())
            action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") + item.keyEquivalent.toUpper()));
        auto run = item.action;
        QObject::connect(action, &QAction::triggered, action, [run] {
            if (run)
                run();
        });
    }
    if (!icon_ && QSystemTrayIcon::isSystemTrayAvailable())
        icon_ = std::make_unique<QSystemTrayIcon>();
    if (icon_) {
        icon_->setIcon(iconFrom(iconPath));
        icon_->setToolTip(menu.title);
        icon_->setContextMenu(built.get());
        icon_->show();
    }
    menu_ = std::move(built);
}

} // namespace host
