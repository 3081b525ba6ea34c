#include "CorvaneHost/Linux/Widgets/WidgetAlerts.h"

#include "CorvaneHost/Services.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

namespace host {

Alerts& alerts() {
    return ensureService(services().alerts, [] { return std::make_shared<WidgetAlerts>(); });
}

namespace {

QMessageBox::Icon iconOf(Alert::Style style) {
    switch (style) {
    case Alert::Style::warning:
        return QMessageBox::Warning;
    case Alert::Style::critical:
        return QMessageBox::Critical;
    case Alert::Style::informational:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

void WidgetAlerts::runModal(const Alert& alert, std::function<void(int button)> completion) {
    QMessageBox box;
    box.setIcon(iconOf(alert.style));
    if (const QIcon icon(alert.iconPath); !alert.iconPath.isEmpty() && !icon.isNull())
        box.setIconPixmap(icon.pixmap(64, 64));
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    std::vector<QPushButton*> buttons;
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    for (const QString& title : titles) {
        QString text = title;
        buttons.push_back(
            box.addButton(text.replace(QLatin1Char('&'), QStringLiteral("&&")), QMessageBox::AcceptRole));
    }
    box.setDefaultButton(buttons.front());
    box.exec();
    int chosen = 0;
    for (size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i])
            chosen = int(i);
    if (completion)
        completion(chosen);
}

} // namespace host
