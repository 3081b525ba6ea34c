#include "CorvaneHost/Linux/Desktop/DesktopLaunch.h"

#include "CorvaneHost/AppleEvent.h"
#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QFileInfo>
#include <QUrl>
#include <fcntl.h>
#include <unistd.h>

namespace host {
namespace {

// The links among the arguments: absolute URLs, and absolute paths of files (as xdg-open hands files on).
// None when any argument is something else: the program was started with switches of its own.
std::optional<QList<QUrl>> linksIn(const QStringList& arguments) {
    QList<QUrl> links;
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1Char('/')) && QFileInfo::exists(argument)) {
            links.append(QUrl::fromLocalFile(argument));
            continue;
        }
        const QUrl url(argument, QUrl::StrictMode);
        if (!isUsableLink(url))
            return std::nullopt;
        links.append(url);
    }
    return links;
}

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

std::optional<int> handOnDesktopLaunch(const QStringList& arguments) {
    if (qEnvironmentVariableIsSet(kLaunchEventsVariable) || arguments.isEmpty())
        return std::nullopt;
    const auto links = linksIn(arguments);
    if (!links || links->isEmpty())
        return std::nullopt;
    const Bundle& bundle = Bundle::main();
    const QString identifier = bundle.infoDictionary()
                                   .value_or(QVariantMap{})
                                   .value(QStringLiteral("CFBundleIdentifier"))
                                   .toString();
    if (identifier.isEmpty())
        return std::nullopt;

    // The program that opened the links is the one that started this one.
    setEventSenderPID(qint32(::getppid()));
    if (deliverToRunningApplication(identifier, AppleEvent::forOpening(*links, eventSenderPID())))
        return 0;
    releaseStandardStreams();
    OpenConfiguration configuration;
    configuration.activates = false;
    configuration.addsToRecentItems = false;
    // The program is started (detached) before open() returns; only its report comes later, and no one waits
    // for it here.
    workspace().open(*links, bundle.bundlePath(), configuration, {});
    return 0;
}

} // namespace host
