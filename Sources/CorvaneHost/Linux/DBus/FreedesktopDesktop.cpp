#include "CorvaneHost/Linux/DBus/FreedesktopDesktop.h"

#include "CorvaneHost/Linux/Bus/SessionBus.h"
#include "CorvaneHost/Linux/X11/X11Activation.h"
#include "CorvaneHost/Services.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QUrl>
#include <unistd.h>

namespace host {

void FreedesktopDesktop::revealInFileManager(const QStringList& paths) {
    QStringList uris;
    for (const QString& path : paths)
        uris << QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Fire and forget: nothing is shown when no file manager answers.
    sessionBus().send(call);
}

Desktop& desktop() {
    return ensureService(services().desktop, [] { return std::make_shared<FreedesktopDesktop>(); });
}

bool FreedesktopDesktop::activateApplication(qint32 processIdentifier) {
    return host::activateApplication(processIdentifier);
}

void FreedesktopDesktop::activateSelf() {
    host::activateApplication(qint32(::getpid()));
}

} // namespace host
