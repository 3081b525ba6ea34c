#include "CorvaneHost/Application.h"

#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/LogSink.h"
#include "CorvaneHost/Services.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace host {

void Application::setEventHandler(const QString& eventClass, const QString& eventID, EventHandler handler) {
    if (handler)
        handlers_[{eventClass, eventID}] = std::move(handler);
    else
        handlers_.erase({eventClass, eventID});
}

bool Application::hasEventHandler(const QString& eventClass, const QString& eventID) const {
    return handlers_.count({eventClass, eventID}) != 0;
}

void Application::dispatch(const AppleEvent& event) {
    const auto previous = current_;
    current_ = event;
    auto restore = qScopeGuard([&] { current_ = previous; });

    if (auto found = handlers_.find({event.eventClass, event.eventID}); found != handlers_.end()) {
        auto handler = found->second; // the handler may replace its own registration
        handler(event);
        return;
    }
    auto target = delegate();
    if (!target)
        return;
    if (event.isGetURL()) {
        // Without a handler of its own the program gets the link as a URL to open, if it is one; its text as
        // written stays in the current event.
        const std::optional<QUrl> url = event.directObject ? parseLink(*event.directObject) : std::nullopt;
        if (url)
            target->applicationOpenURLs({*url});
        else
            logSink().write(QStringLiteral("host"), QStringLiteral("application"), LogLevel::Error,
                            QStringLiteral("a GURL event carried no usable URL: \"%1\"")
                                .arg(escapingControlCharacters(event.directObject.value_or(QString()))));
    } else if (event.isOpenDocuments()) {
        QList<QUrl> files;
        for (const QUrl& url : event.documents)
            if (url.isLocalFile())
                files.append(url);
        if (!files.isEmpty())
            target->applicationOpenURLs(files);
    } else if (event.isReopen()) {
        target->applicationShouldHandleReopen(false);
    }
}

} // namespace host
