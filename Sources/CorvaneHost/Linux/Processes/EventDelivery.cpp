#include "CorvaneHost/Linux/Processes/EventDelivery.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/Linux/Processes/EventWire.h"
#include "CorvaneHost/Services.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {
namespace {

constexpr qsizetype kMaxEventLine = 1 << 20;

std::atomic<qint32> senderOverride{0};

wire::Event toWire(const AppleEvent& event) {
    wire::Event out{
        event.eventClass.toStdString(), event.eventID.toStdString(), std::nullopt, {}, std::nullopt};
    if (event.directObject)
        out.object = event.directObject->toStdString();
    for (const QUrl& url : event.documents)
        out.documents.push_back(url.toString(QUrl::FullyEncoded).toStdString());
    if (event.senderPID)
        out.sender = *event.senderPID;
    return out;
}

AppleEvent fromWire(const wire::Event& event) {
    AppleEvent out;
    out.eventClass = QString::fromStdString(event.eventClass);
    out.eventID = QString::fromStdString(event.eventID);
    if (event.object)
        out.directObject = QString::fromStdString(*event.object);
    for (const std::string& document : event.documents) {
        const QUrl url(QString::fromStdString(document), QUrl::StrictMode);
        if (url.isValid() && url.isLocalFile())
            out.documents.append(url);
    }
    if (event.sender)
        out.senderPID = *event.sender;
    return out;
}

quint64 inodeOf(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return static_cast<quint64>(info.st_ino);
}

bool isSocketFile(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISSOCK(info.st_mode);
}

std::vector<AppleEvent> eventsFor(const QList<QUrl>& urls, const QStringList& writtenLinks) {
    if (urls.isEmpty())
        return {AppleEvent::reopen(eventSenderPID())};
    return AppleEvent::forOpening(urls, eventSenderPID(), writtenLinks);
}

} // namespace

bool EventChannelDelivery::deliverToRunning(const RunningApplication& application, const QList<QUrl>& urls,
                                            const QStringList& writtenLinks) {
    if (application.bundleIdentifier.isEmpty())
        return false;
    return deliverToRunningApplication(application.bundleIdentifier, eventsFor(urls, writtenLinks));
}

void EventChannelDelivery::prepareLaunch(LaunchRequest& launch, const QList<QUrl>& urls,
                                         const QStringList& writtenLinks) {
    if (urls.isEmpty())
        return; // a plain launch carries no event
    launch.environment.insert(QString::fromLatin1(kLaunchEventsVariable),
                              QString::fromUtf8(encodeAppleEvents(eventsFor(urls, writtenLinks))));
    launch.arguments += linkArguments(urls, writtenLinks);
}

QString eventSocketPath(const QString& bundleIdentifier) {
    const QString name = QString::fromStdString(wire::eventSocketName(bundleIdentifier.toStdString()));
    if (name.isEmpty())
        return {};
    return socketPath(hostRuntimeDirectory() + QLatin1Char('/') + name, QStringLiteral("corvane-") + name);
}

QString instanceLockPath(const QString& bundleIdentifier) {
    const QString socket = eventSocketPath(bundleIdentifier);
    return socket.isEmpty() ? QString() : socket + QStringLiteral(".lock");
}

std::unique_ptr<InstanceLock> InstanceLock::tryAcquire(const QString& bundleIdentifier) {
    const QString path = instanceLockPath(bundleIdentifier);
    if (path.isEmpty())
        throw SystemError::fromErrno(QStringLiteral("no instance lock for \"%1\"").arg(bundleIdentifier),
                                     EINVAL);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        throw SystemError::fromErrno(QStringLiteral("could not open %1").arg(path), error);
    }
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result == 0)
        return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK)
        return nullptr;
    throw SystemError::fromErrno(QStringLiteral("could not lock %1").arg(path), error);
}

InstanceLock::~InstanceLock() {
    ::close(fd_); // gives the lock up
}

QByteArray encodeAppleEvents(const std::vector<AppleEvent>& events) {
    std::vector<wire::Event> list;
    for (const AppleEvent& event : events)
        list.push_back(toWire(event));
    return QByteArray::fromStdString(wire::encode(list));
}

std::optional<std::vector<AppleEvent>> decodeAppleEvents(const QByteArray& bytes) {
    const auto list = wire::decode(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!list)
        return std::nullopt;
    std::vector<AppleEvent> events;
    for (const wire::Event& event : *list)
        events.push_back(fromWire(event));
    return events;
}

bool deliverToRunningApplication(const QString& bundleIdentifier, const std::vector<AppleEvent>& events,
                                 int timeoutMs) {
    const QString path = eventSocketPath(bundleIdentifier);
    if (path.isEmpty() || !isSocketFile(path))
        return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    const QByteArray request = encodeAppleEvents(events) + '\n';
    if (socket.write(request) != request.size())
        return false;
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(timeoutMs))
            return false;
    // Written whole: the program reads it whenever its main thread gets to it. Its answer is not awaited, so
    // a slow program is never started again with the same links.
    return true;
}

std::vector<AppleEvent> takeLaunchEvents() {
    if (!qEnvironmentVariableIsSet(kLaunchEventsVariable))
        return {};
    const QByteArray bytes = qgetenv(kLaunchEventsVariable);
    qunsetenv(kLaunchEventsVariable);
    return decodeAppleEvents(bytes).value_or(std::vector<AppleEvent>{});
}

qint32 eventSenderPID() {
    const qint32 chosen = senderOverride.load();
    return chosen > 0 ? chosen : static_cast<qint32>(::getpid());
}

void setEventSenderPID(qint32 pid) {
    senderOverride.store(pid);
}

QStringList linkArguments(const QList<QUrl>& urls, const QStringList& writtenLinks) {
    const QStringList texts = linkTexts(urls, writtenLinks);
    QStringList arguments;
    for (qsizetype i = 0; i < urls.size(); ++i)
        if (isUsableLink(urls[i]))
            arguments.append(texts[i]);
    return arguments;
}

EventListener::EventListener(std::function<void(const AppleEvent&)> onEvent)
    : onEvent_(std::move(onEvent)) {}

EventListener::~EventListener() {
    stop();
}

bool EventListener::isListening() const {
    return server_ && server_->isListening();
}

EventListener::StartResult EventListener::fail(const QString& error) {
    error_ = error;
    server_.reset();
    lock_.reset();
    return StartResult::failed;
}

EventListener::StartResult EventListener::start(const QString& bundleIdentifier) {
    stop();
    error_.clear();
    const QString path = eventSocketPath(bundleIdentifier);
    if (path.isEmpty())
        return fail(
            QStringLiteral("\"%1\" is not a bundle identifier that names a socket").arg(bundleIdentifier));
    try {
        lock_ = InstanceLock::tryAcquire(bundleIdentifier);
    } catch (const SystemError& error) {
        return fail(error.description());
    }
    if (!lock_)
        return StartResult::anotherInstanceRuns;
    // The lock is ours, so a socket at the path is what an earlier copy left behind when it ended.
    if (isSocketFile(path)) {
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
            const int error = errno;
            return fail(
                SystemError::fromErrno(QStringLiteral("could not remove the old socket %1").arg(path), error)
                    .description());
        }
    } else if (QFileInfo::exists(path)) {
        return fail(QStringLiteral("%1 is in the way of the event socket").arg(path));
    }
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path))
        return fail(QStringLiteral("could not listen at %1: %2").arg(path, server->errorString()));
    path_ = path;
    inode_ = inodeOf(path);
    QLocalServer* raw = server.get();
    QObject::connect(raw, &QLocalServer::newConnection, raw, [this, raw] {
        while (QLocalSocket* connection = raw->nextPendingConnection()) {
            QObject::connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(connection, &QLocalSocket::readyRead, connection, [this, connection, buffer] {
                *buffer += connection->readAll();
                if (buffer->size() > kMaxEventLine) {
                    connection->abort();
                    return;
                }
                const qsizetype end = buffer->indexOf('\n');
                if (end < 0)
                    return;
                const auto events = decodeAppleEvents(buffer->left(end));
                buffer->clear();
                connection->write(events ? "ok\n" : "error\n");
                connection->flush();
                connection->disconnectFromServer();
                if (!events)
                    return;
                auto deliver = onEvent_;
                for (const AppleEvent& event : *events)
                    deliver(event);
            });
        }
    });
    server_ = std::move(server);
    return StartResult::listening;
}

void EventListener::stop() {
    if (server_) {
        server_->close();
        server_.reset();
        // Remove the file only while it is still the socket this listener made.
        if (!path_.isEmpty() && inode_ != 0 && inodeOf(path_) == inode_)
            ::unlink(QFile::encodeName(path_).constData());
    }
    path_.clear();
    inode_ = 0;
    lock_.reset(); // last, so the next copy finds the socket file gone
}

} // namespace host
