#include "CorvaneStub/ChromeLauncher.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/ChromeWindows.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

namespace ChromeLauncher {
namespace {

// Placed first on every launch.
const QStringList commonArguments{QStringLiteral("--no-default-browser-check")};

const QString defaultChromePath = QStringLiteral("/Applications/Google Chrome.app");

} // namespace

QString chromeURL() {
    return host::workspace().urlForApplication(Corvane::chromeBundleID).value_or(defaultChromePath);
}

std::optional<host::RunningApplication> runningChrome() {
    return ChromeWindows::runningChrome();
}

bool isPassableLink(const QUrl& url) {
    if (!url.isValid())
        return false;
    if (url.isLocalFile())
        return url.toLocalFile().startsWith(QLatin1Char('/'));
    return !url.isRelative() && !url.scheme().isEmpty() &&
           !url.toString(QUrl::FullyEncoded).startsWith(QLatin1Char('-'));
}

QStringList arguments(const QString& profileDirectory, const QStringList& links) {
    QStringList result = commonArguments;
    result.append(QStringLiteral("--profile-directory=") + profileDirectory);
    for (const QString& link : links) {
        const std::optional<QUrl> url = host::parseLink(link);
        if (!url || !isPassableLink(*url)) {
            // Chrome would take it as a switch or a relative path.
            Log::stub.error(QStringLiteral("not passing \"%1\" to Chrome: not an absolute link").arg(link));
            continue;
        }
        result.append(url->isLocalFile() ? url->toLocalFile() : link);
    }
    return result;
}

void launch(const QString& profileDirectory, const QStringList& links, std::function<void(bool)> completion) {
    host::OpenConfiguration configuration;
    configuration.createsNewApplicationInstance = true;
    configuration.activates = true;
    configuration.addsToRecentItems = false;
    configuration.arguments = arguments(profileDirectory, links);
    const qsizetype linkCount = configuration.arguments.size() - commonArguments.size() - 1;
    Log::stub.info(QStringLiteral("launching Chrome for %1, %2 url(s)").arg(profileDirectory).arg(linkCount));
    host::workspace().openApplication(
        chromeURL(), configuration,
        [completion = std::move(completion)](std::optional<host::RunningApplication>,
                                             std::optional<host::SystemError> error) {
            if (error)
                Log::stub.error(QStringLiteral("Chrome launch failed: %1").arg(error->description()));
            if (completion)
                host::mainQueue().async([completion, succeeded = !error] { completion(succeeded); });
        });
}

void activateChrome() {
    const auto chrome = runningChrome();
    if (!chrome)
        return;
    if (host::workspace().activate(chrome->processIdentifier))
        return;
    host::OpenConfiguration configuration;
    configuration.activates = true;
    configuration.createsNewApplicationInstance = false;
    host::workspace().openApplication(
        chromeURL(), configuration,
        [](std::optional<host::RunningApplication>, std::optional<host::SystemError>) {});
}

} // namespace ChromeLauncher
