#include "Corvane/Views/System/AboutPanel.h"

#include "Corvane/Views/Kit/SystemImages.h"
#include "CorvaneCore/Foundation/BuildInfo.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>

namespace {

QPointer<QMessageBox> openPanel;

// The window to bring forward: the active one, else the app's first visible window.
QWidget* appWindow() {
    if (QWidget* active = QApplication::activeWindow())
        return active;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->isWindow() && !qobject_cast<QMessageBox*>(widget))
            return widget;
    return nullptr;
}

QString infoString(const host::Bundle& bundle, const QString& key) {
    const auto& info = bundle.infoDictionary();
    return info ? info->value(key).toString() : QString();
}

} // namespace

std::optional<QString> AboutPanel::credits(const host::Bundle& bundle) {
    return BuildInfo::aboutCredits(bundle.infoDictionary().value_or(QVariantMap{}));
}

void AboutPanel::show() {
    show(host::Bundle::main());
}

QMessageBox* AboutPanel::current() {
    return openPanel;
}

void AboutPanel::show(const host::Bundle& bundle) {
    if (openPanel)
        openPanel->close();
    QString name = infoString(bundle, QStringLiteral("CFBundleName"));
    if (name.isEmpty())
        name = QStringLiteral("Corvane");
    const QString version = BuildInfo::aboutVersion(bundle.infoDictionary().value_or(QVariantMap{}));

    auto* panel = new QMessageBox(appWindow());
    openPanel = panel;
    panel->setObjectName(QStringLiteral("AboutPanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowTitle(QStringLiteral("About ") + name);
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull())
        panel->setIconPixmap(icon.pixmap(64, 64));
    QString text = QStringLiteral("<p align=\"center\"><b style=\"font-size:large\">%1</b></p>")
                       .arg(name.toHtmlEscaped());
    if (!version.isEmpty())
        text += QStringLiteral("<p align=\"center\">Version %1</p>").arg(version.toHtmlEscaped());
    if (const auto line = credits(bundle)) {
        const QString colour = ViewColors::secondary().name(QColor::HexArgb);
        text += QStringLiteral("<p align=\"center\" style=\"font-size:small; color:%1\">%2</p>")
                    .arg(colour, line->toHtmlEscaped());
    }
    panel->setTextFormat(Qt::RichText);
    panel->setText(text);
    panel->setStandardButtons(QMessageBox::Ok);
    // The app comes forward first, then the panel.
    if (QWidget* window = panel->parentWidget()) {
        window->raise();
        window->activateWindow();
    }
    panel->show();
    panel->raise();
    panel->activateWindow();
}
