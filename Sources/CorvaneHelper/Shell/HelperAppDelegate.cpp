#include "CorvaneHelper/Shell/HelperAppDelegate.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/SocketServer.h"
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneCore/Routing/AppSettings.h"
#include "CorvaneCore/Routing/BrowserCatalog.h"
#include "CorvaneHelper/Shell/LinkHandler.h"
#include "CorvaneHost/Accessibility.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <utility>

namespace {

const QString noProfileError = QStringLiteral("no profile on this connection");

bool everyone(const ClientConnection&) {
    return true;
}

Response::Action actionFor(RaiseOutcome outcome) {
    switch (outcome) {
    case RaiseOutcome::raised:
        return Response::Action::raised;
    case RaiseOutcome::openedGroup:
        return Response::Action::openedGroup;
    case RaiseOutcome::noWindows:
        return Response::Action::nothingToRaise;
    case RaiseOutcome::groupNotFound:
        return Response::Action::groupNotFound;
    }
    return Response::Action::nothingToRaise;
}

// Alphanumerics and hyphens in dot-separated parts: what a bundle identifier may hold. The warning key
// becomes a file name, so nothing else is accepted.
bool isPlainBundleIdentifier(const QString& value) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)*\\z"));
    return value.size() <= 255 && pattern.match(value).hasMatch();
}

// Writes a message to one client. A connection that has gone (dropped, or its peer closed) is never written
// to: its descriptor number may already belong to another client.
template <typename Message>
void sendTo(const std::shared_ptr<ClientConnection>& connection, const Message& message) {
    if (connection && connection->isOpen())
        connection->send(message);
}

} // namespace

std::optional<WatchScope> scope(const ClientConnection& connection) {
    if (!connection.profileDirectory)
        return std::nullopt;
    WatchScope result;
    result.profileDirectory = *connection.profileDirectory;
    if (connection.tabGroup && !connection.tabGroup->isEmpty())
        result.tabGroup = connection.tabGroup;
    result.includeIncognito = connection.includeIncognito;
    result.countAppWindows = connection.countAppWindows;
    result.ownWindow = connection.ownWindow;
    return result;
}

HelperAppDelegate::HelperAppDelegate(std::shared_ptr<WindowProfileSource> source)
    : source_(std::move(source))
    , server_(std::make_shared<SocketServer>())
    , links_(std::make_shared<LinkHandler>()) {}

HelperAppDelegate::~HelperAppDelegate() {
    if (trustTimer_)
        trustTimer_->cancel();
    if (idleTimer_)
        idleTimer_->cancel();
}

bool HelperAppDelegate::hasIdleTimer() const {
    return idleTimer_ && idleTimer_->isActive();
}

void HelperAppDelegate::applicationWillFinishLaunching() {
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    links_->onHistoryRecorded = [weak] {
        if (auto self = weak.lock())
            self->server_->broadcast(Event(Event::Kind::routingHistoryChanged), everyone);
    };
    links_->install();
}

void HelperAppDelegate::applicationDidFinishLaunching() {
    try {
        Corvane::ensureSupportDirectory();
    } catch (const std::exception&) {
        // Without the folder the lock cannot be taken, and the helper leaves below.
    }

    if (!lock_.acquire(Corvane::supportDirectory() + QStringLiteral("/h.lock"))) {
        Log::helper.log(QStringLiteral("another helper already holds the lock; exiting shortly"));
        host::mainQueue().schedule(lockedOutDelay, [] { host::application().terminate(); });
        return;
    }
    holdsLock_ = true;

    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    server_->onRequest = [weak](const std::shared_ptr<ClientConnection>& connection, const Request& request) {
        if (auto self = weak.lock())
            self->handle(request, connection);
    };
    server_->onClientCountChanged = [weak](int count) {
        if (auto self = weak.lock())
            self->clientCountChanged(count);
    };

    try {
        server_->start(Corvane::socketPath());
    } catch (const host::Error& error) {
        Log::helper.error(QStringLiteral("could not listen: %1").arg(error.description()));
        host::application().terminate();
        return;
    }
    serving_ = true;

    source_->setDelegate(weak_from_this());
    source_->start();

    lastTrusted_ = host::accessibility().isProcessTrusted();
    trustTimer_ = host::mainQueue().schedule(
        trustInterval,
        [weak] {
            if (auto self = weak.lock())
                self->checkTrust();
        },
        true);
    scheduleIdleExit();
}

void HelperAppDelegate::applicationWillTerminate() {
    if (trustTimer_)
        trustTimer_->cancel();
    if (idleTimer_)
        idleTimer_->cancel();
    // Only the helper that serves owns the socket and the tracker. One that found the lock held never
    // listened, and must not remove the socket of the helper that does.
    if (serving_) {
        Event shutdown(Event::Kind::shuttingDown);
        shutdown.chromeRunning = source_->isChromeRunning();
        server_->broadcast(shutdown, everyone);
        source_->stop();
        server_->stop(Corvane::socketPath());
        serving_ = false;
    }
    if (holdsLock_) {
        lock_.release();
        holdsLock_ = false;
    }
}

void HelperAppDelegate::applicationOpenURLs(const QList<QUrl>& urls) {
    auto& application = host::application();
    std::optional<host::RunningApplication> sender;
    if (const auto event = application.currentAppleEvent())
        sender = LinkHandler::sender(*event);
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            links_->route(url, sender);
        } else {
            Log::helper.log(QStringLiteral("a web link arrived through AppKit; the sending app is unknown"));
            links_->route(url, host::workspace().frontmostApplication());
        }
    }
}

void HelperAppDelegate::handle(const Request& request, const std::shared_ptr<ClientConnection>& connection) {
    switch (request.op) {
    case Request::Op::hello: {
        connection->profileDirectory = request.profileDirectory;
        connection->profileName = request.profileName;
        connection->tabGroup = request.tabGroup;
        connection->bundleID = request.bundleID;
        connection->pid = request.pid;
        connection->includeIncognito = request.includeIncognito.value_or(true);
        connection->countAppWindows = request.countAppWindows.value_or(false);
        connection->ownWindow = request.ownWindow.value_or(true);
        Log::helper.info(
            QStringLiteral("hello from %1 for %2%3")
                .arg(request.bundleID.value_or(QStringLiteral("?")),
                     request.profileDirectory.value_or(QStringLiteral("?")),
                     request.tabGroup ? QStringLiteral(" group ") + *request.tabGroup : QString()));
        // A change the tracker reports while the hello is being answered waits for the response: a client
        // hears its acknowledgement before any windows event.
        answeringHello_ = true;
        source_->updateProfiles(ChromeProfiles::load());
        refreshWatchedScopes();
        source_->refresh(QStringLiteral("hello"));
        answeringHello_ = false;
        Response response(request.id, true);
        response.action = Response::Action::acknowledged;
        response.chromePID = source_->chromePID();
        sendTo(connection, response);
        if (std::exchange(changeDuringHello_, false))
            for (const auto& other : server_->connections())
                if (other != connection)
                    sendWindowsEvent(other);
        sendWindowsEvent(connection);
        Event permission(Event::Kind::axPermission);
        permission.trusted = host::accessibility().isProcessTrusted();
        sendTo(connection, permission);
        tellIfOutdated(request, connection);
        break;
    }
    case Request::Op::activate:
        respondToRaise(request, connection);
        break;
    case Request::Op::noteLaunch: {
        const std::optional<QString> profile =
            request.profileDirectory ? request.profileDirectory : connection->profileDirectory;
        if (profile)
            source_->noteLaunch(*profile);
        Response response(request.id, true);
        response.action = Response::Action::acknowledged;
        sendTo(connection, response);
        break;
    }
    case Request::Op::closeWindows:
        respondToClose(request, connection);
        break;
    case Request::Op::status: {
        Response response(request.id, true);
        if (const auto watched = scope(*connection)) {
            const ProfileWindowReport report = source_->report(*watched);
            response.windowCount = report.count;
            response.confidence = report.confidence;
        }
        response.chromePID = source_->chromePID();
        sendTo(connection, response);
        break;
    }
    case Request::Op::listTabGroups: {
        const std::optional<QString> profile =
            request.profileDirectory ? request.profileDirectory : connection->profileDirectory;
        if (!profile) {
            Response response(request.id, true);
            response.tabGroups = std::vector<TabGroupInfo>{};
            sendTo(connection, response);
            break;
        }
        const qint64 id = request.id;
        const QString directory = *profile;
        source_->tabGroups(
            directory, request.deep.value_or(false),
            [connection, id, directory](std::vector<TabGroupInfo> groups) {
                QStringList names;
                for (const TabGroupInfo& group : groups)
                    names.append(group.name);
                Log::helper.info(
                    QStringLiteral("tab groups in %1: %2").arg(directory, names.join(QStringLiteral(", "))));
                Response response(id, true);
                response.tabGroups = std::move(groups);
                sendTo(connection, response);
            });
        break;
    }
    case Request::Op::bye:
        server_->drop(connection);
        break;
    }
}

void HelperAppDelegate::respondToRaise(const Request& request,
                                       const std::shared_ptr<ClientConnection>& connection) {
    Response response(request.id, true);
    response.chromePID = source_->chromePID();
    const auto watched = scope(*connection);
    if (!watched) {
        response.ok = false;
        response.error = noProfileError;
        sendTo(connection, response);
        return;
    }
    source_->refresh(QStringLiteral("activate"));
    if (!host::accessibility().isProcessTrusted()) {
        response.action = Response::Action::nothingToRaise;
        response.error = QStringLiteral("window tracking unavailable");
        sendTo(connection, response);
        return;
    }
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    const WatchScope raised = *watched;
    source_->raise(raised, [weak, connection, response, raised](RaiseOutcome outcome) mutable {
        auto self = weak.lock();
        if (!self)
            return;
        response.action = actionFor(outcome);
        const ProfileWindowReport report = self->source_->report(raised);
        response.windowCount = report.count;
        response.confidence = report.confidence;
        sendTo(connection, response);
    });
}

void HelperAppDelegate::respondToClose(const Request& request,
                                       const std::shared_ptr<ClientConnection>& connection) {
    const auto watched = scope(*connection);
    if (!watched) {
        Response response(request.id, false);
        response.error = noProfileError;
        sendTo(connection, response);
        return;
    }
    source_->refresh(QStringLiteral("close"));
    const qint64 id = request.id;
    source_->close(*watched, request.limit, request.timeout.value_or(defaultCloseBudget),
                   [connection, id](CloseResult result) {
                       Response response(id, true);
                       response.closed = result.closed;
                       response.remaining = result.remaining;
                       response.blocked = result.blocked;
                       sendTo(connection, response);
                   });
}

void HelperAppDelegate::sendWindowsEvent(const std::shared_ptr<ClientConnection>& connection) {
    const auto watched = scope(*connection);
    if (!watched)
        return;
    const ProfileWindowReport report = source_->report(*watched);
    Event event(Event::Kind::windows);
    event.profileDirectory = watched->profileDirectory;
    event.tabGroup = watched->tabGroup;
    event.count = report.count;
    event.chromeRunning = report.chromeRunning;
    event.confidence = report.confidence;
    sendTo(connection, event);
}

void HelperAppDelegate::windowsDidChange(WindowProfileSource&) {
    if (answeringHello_) {
        changeDuringHello_ = true;
        return;
    }
    for (const auto& connection : server_->connections())
        sendWindowsEvent(connection);
}

void HelperAppDelegate::refreshWatchedScopes() {
    std::vector<WatchScope> scopes;
    for (const auto& connection : server_->connections())
        if (auto watched = scope(*connection))
            scopes.push_back(std::move(*watched));
    source_->updateWatched(scopes);
}

void HelperAppDelegate::clientCountChanged(int count) {
    Log::helper.log(QStringLiteral("client count: %1").arg(count));
    refreshWatchedScopes();
    if (count == 0) {
        scheduleIdleExit();
    } else {
        promptForAccessibilityIfNeeded();
        if (idleTimer_) {
            idleTimer_->cancel();
            idleTimer_.reset();
        }
    }
}

void HelperAppDelegate::checkTrust() {
    const bool trusted = host::accessibility().isProcessTrusted();
    if (trusted == lastTrusted_)
        return;
    lastTrusted_ = trusted;
    Log::helper.info(QStringLiteral("Accessibility trust changed: %1").arg(trusted ? "true" : "false"));
    broadcastTrust(trusted);
    if (trusted)
        source_->refresh(QStringLiteral("trust-granted"));
}

void HelperAppDelegate::broadcastTrust(bool trusted) {
    Event event(Event::Kind::axPermission);
    event.trusted = trusted;
    server_->broadcast(event, everyone);
}

void HelperAppDelegate::promptForAccessibilityIfNeeded() {
    auto& accessibility = host::accessibility();
    if (didPromptForAccessibility_ || accessibility.isProcessTrusted())
        return;
    didPromptForAccessibility_ = true;
    accessibility.isProcessTrustedWithPrompt(true);
}

void HelperAppDelegate::scheduleIdleExit() {
    if (idleTimer_) {
        idleTimer_->cancel();
        idleTimer_.reset();
    }
    if (BrowserCatalog::isDefaultBrowser() || BrowserCatalog::handlesAnyFileType()) {
        Log::helper.info(QStringLiteral("no clients, but Corvane handles links; staying resident"));
        return;
    }
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    idleTimer_ = host::mainQueue().schedule(idleGrace, [weak] {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->server_->clientCount() != 0)
            return;
        if (BrowserCatalog::isDefaultBrowser() || BrowserCatalog::handlesAnyFileType()) {
            Log::helper.info(QStringLiteral("became the link handler while idling; staying resident"));
            return;
        }
        Log::helper.info(
            QStringLiteral("no clients for %1s; exiting").arg(QString::number(idleGrace, 'f', 6)));
        host::application().terminate();
    });
}

void HelperAppDelegate::tellIfOutdated(const Request& request,
                                       const std::shared_ptr<ClientConnection>& client) {
    if (!request.stubRevision || *request.stubRevision >= StubRevision::current || !request.bundleID)
        return;
    auto& settings = SettingsStore::shared();
    settings.reloadIfChanged();
    if (!settings.settings().notifiesWhenProxyAppsAreOutdated)
        return;
    // The key names a marker file, so only a plain bundle identifier gets one; a launcher whose marker cannot
    // be stored (an empty identifier, an overlong one, a path) is told at every hello.
    const QString key = QStringLiteral("outdated-") + *request.bundleID + QStringLiteral("-r") +
                        QString::number(StubRevision::current);
    if (isPlainBundleIdentifier(*request.bundleID) && !WarnThrottle::shouldWarn(key, 259200))
        return;
    Event event(Event::Kind::stubOutdated);
    event.stubRevision = StubRevision::current;
    // The revision arrives as a 64-bit number: one below the 32-bit range must not wrap into a recent
    // revision.
    const qint64 since = std::max<qint64>(*request.stubRevision, std::numeric_limits<int>::min());
    event.improvements = StubRevision::improvements(static_cast<int>(since));
    sendTo(client, event);
    Log::helper.info(QStringLiteral("told %1 it is on stub revision %2 of %3")
                         .arg(*request.bundleID)
                         .arg(*request.stubRevision)
                         .arg(StubRevision::current));
}
