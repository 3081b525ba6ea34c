#include "CorvaneHost/Linux/Desktop/DesktopLaunch.h"

#include "CorvaneHost/AppleEvent.h"
#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/LogSink.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <fcntl.h>
#include <unistd.h>

namespace host {
namespace {

// The resident instance must not hold on to the caller's terminal or pipes.
void releaseStandardStreams() {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return;
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
}

} // namespace

std::optional<DesktopLinks> desktopLaunchLinks(const QStringList& arguments) {
    DesktopLinks links;
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')))
            return std::nullopt;
        if (const QFileInfo file(argument); file.exists()) {
            links.urls.append(QUrl::fromLocalFile(QDir::cleanPath(file.absoluteFilePath())));
            continue;
        }
        const std::optional<QUrl> url = parseLink(argument);
        if (!url) {
            links.unusable.append(argument);
            continue;
        }
        links.urls.append(*url);
        if (!url->isLocalFile())
            links.written.append(argument);
    }
    return links;
}

std::optional<int> handOnDesktopLaunch(const QStringList& arguments, const Bundle& bundle) {
    if (qEnvironmentVariableIsSet(kLaunchEventsVariable) || arguments.isEmpty())
        return std::nullopt;
    const auto links = desktopLaunchLinks(arguments);
    if (!links)
        return std::nullopt;
    for (const QString& text : links->unusable)
        logSink().write(QStringLiteral("host"), QStringLiteral("application"), LogLevel::Error,
                        QStringLiteral("a desktop start carried no usable URL: \"%1\"")
                            .arg(escapingControlCharacters(text)));
    if (links->urls.isEmpty())
        return 1;
    const QString identifier = bundle.infoDictionary()
                                   .value_or(QVariantMap{})
                                   .value(QStringLiteral("CFBundleIdentifier"))
                                   .toString();
    if (identifier.isEmpty())
        return std::nullopt;

    // The program that opened the links is the one that started this one.
    setEventSenderPID(qint32(::getppid()));
    const QString deliveryID = QString::fromStdString(wire::newDeliveryID());
    if (deliverToRunningApplication(
            identifier, AppleEvent::forOpening(links->urls, eventSenderPID(), links->written), deliveryID))
        return 0;
    releaseStandardStreams();
    OpenConfiguration configuration;
    configuration.activates = false;
    configuration.addsToRecentItems = false;
    configuration.writtenLinks = links->written;
    configuration.deliveryID = deliveryID;
    // Started without another try at a running instance: none took the links just now, and the copy started
    // hands them to one that runs by itself, under their mark. The program is started (detached) before
    // open() returns; only its report comes later, and no one waits for it here (this copy runs no main
    // queue). Its taking the links is waited for: this copy ends next, and with it their confirmation.
    configuration.createsNewApplicationInstance = true;
    workspace().open(links->urls, bundle.bundlePath(), configuration, {});
    waitForBackgroundWork();
    return 0;
}

} // namespace host
