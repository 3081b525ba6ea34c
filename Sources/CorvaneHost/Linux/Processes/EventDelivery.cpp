#include "CorvaneHost/Linux/Processes/EventDelivery.h"

#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/Linux/Processes/EventWire.h"
#include "CorvaneHost/LogSink.h"
#include "CorvaneHost/Services.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QSaveFile>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace host {
namespace {

constexpr qsizetype kMaxEventLine = 1 << 20;
// Repeats of a hand-over come within seconds of it: this many marks cover them.
constexpr std::size_t kRememberedDeliveries = 256;
// How long an ending program waits for the lines of senders it already took.
constexpr int kDrainPatienceMs = 500;

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

// Its end reaches the main queue a moment after it is reaped, and never while no main queue runs (a program
// that waits for its background work as it ends): gone this long without it, it ended in an unknown way.
constexpr auto kEndReportPatience = std::chrono::seconds(1);

bool isEndKnown(const StartedProgram& program) {
    return program.end.valid() && program.end.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// How the started program failed, once it ended: none when it ended cleanly or in a way not known.
std::optional<QString> failureOf(const StartedProgram& program) {
    if (!isEndKnown(program))
        return std::nullopt;
    try {
        return program.end.get();
    } catch (const std::future_error&) {
        return std::nullopt; // its reaper was gone before it could tell
    }
}

// Whether the started program has ended, asked again and again by one confirmation.
class EndWatch {
public:
    explicit EndWatch(StartedProgram program)
        : program_(std::move(program)) {}
    bool hasEnded() {
        if (isEndKnown(program_))
            return true;
        // Only looked at: the program is reaped by whoever started it.
        if (program_.processIdentifier > 0 &&
            (::kill(pid_t(program_.processIdentifier), 0) == 0 || errno != ESRCH))
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (!goneSince_)
            goneSince_ = now;
        return now - *goneSince_ >= kEndReportPatience;
    }

private:
    StartedProgram program_;
    std::optional<std::chrono::steady_clock::time_point> goneSince_;
};

// How the confirmation of a start went, with how the program failed when it ended unheard.
struct StartOutcome {
    wire::StartConfirmation confirmation;
    std::optional<QString> failure;
};

// What became of a started program's links: none when it took them or may have, else why it did not; what
// is not a failure is logged.
std::optional<QString> startFailure(const QString& name, const StartOutcome& outcome) {
    const auto& [confirmation, failure] = outcome;
    const auto note = [](const QString& message) {
        logSink().write(QStringLiteral("host"), QStringLiteral("events"), LogLevel::Default, message);
    };
    switch (confirmation) {
    case wire::StartConfirmation::taken:
        return std::nullopt;
    case wire::StartConfirmation::unheard:
        note(QStringLiteral("%1 never listened for its links; it has them only from its start").arg(name));
        return std::nullopt;
    case wire::StartConfirmation::ended:
        break;
    }
    if (failure) {
        const QString message = QStringLiteral("%1 %2 before it took its links").arg(name, *failure);
        logSink().write(QStringLiteral("host"), QStringLiteral("events"), LogLevel::Error, message);
        return message;
    }
    note(QStringLiteral("%1 ended without listening for its links; it had them from its start").arg(name));
    return std::nullopt;
}

// Where the listener at that socket keeps the delivery marks it handed on.
QString deliveryMarksPath(const QString& socketPath) {
    return socketPath + QStringLiteral(".delivered");
}

// Whether a listener at that socket handed on the events under `mark`.
bool deliveryMarkKept(const QString& socketPath, const QString& mark) {
    QFile file(deliveryMarksPath(socketPath));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll().split('\n').contains(mark.toLatin1());
}

std::vector<AppleEvent> eventsFor(const QList<QUrl>& urls, const QStringList& writtenLinks) {
    if (urls.isEmpty())
        return {AppleEvent::reopen(eventSenderPID())};
    return AppleEvent::forOpening(urls, eventSenderPID(), writtenLinks);
}

// Runs its work when the last hold of it goes.
struct WhenLetGo {
    std::function<void()> work;
    explicit WhenLetGo(std::function<void()> work)
        : work(std::move(work)) {}
    ~WhenLetGo() { work(); }
    WhenLetGo(const WhenLetGo&) = delete;
    WhenLetGo& operator=(const WhenLetGo&) = delete;
};

// The answer of the sender whose events this thread hands on now, while it does.
thread_local std::shared_ptr<void>* answerBeingHandedOn = nullptr;

// Makes `answer` the one being handed on for as long as it lives, and then lets this scope's hold of it go.
class AnswerBeingHandedOn {
public:
    explicit AnswerBeingHandedOn(std::shared_ptr<void> answer)
        : answer_(std::move(answer))
        , outer_(std::exchange(answerBeingHandedOn, &answer_)) {}
    ~AnswerBeingHandedOn() { answerBeingHandedOn = outer_; }
    AnswerBeingHandedOn(const AnswerBeingHandedOn&) = delete;
    AnswerBeingHandedOn& operator=(const AnswerBeingHandedOn&) = delete;

private:
    std::shared_ptr<void> answer_;
    std::shared_ptr<void>* outer_;
};

bool onMainThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void reply(QLocalSocket* connection, const char* answer) {
    connection->write(answer);
    connection->write("\n");
    connection->flush();
    connection->disconnectFromServer();
}

} // namespace

EventChannelDelivery::EventChannelDelivery(int answerPatienceMs)
    : answerPatienceMs_(answerPatienceMs) {}

// Each queue finishes the hand-overs already on it as it goes.
EventChannelDelivery::~EventChannelDelivery() = default;

SerialQueue& EventChannelDelivery::handOverQueue(const QString& bundleIdentifier) {
    const std::lock_guard lock(queuesMutex_);
    auto& queue = handOverQueues_[bundleIdentifier];
    if (!queue)
        queue = std::make_unique<SerialQueue>(QStringLiteral("events for ") + bundleIdentifier);
    return *queue;
}

void EventChannelDelivery::deliverToRunning(const RunningApplication& application, const QList<QUrl>& urls,
                                            const QStringList& writtenLinks, const QString& deliveryID,
                                            std::function<void(bool taken)> done) {
    const QString path = eventSocketPath(application.bundleIdentifier);
    if (path.isEmpty()) {
        if (done)
            mainQueue().async([done = std::move(done)] { done(false); });
        return;
    }
    const std::string line =
        encodeAppleEvents(eventsFor(urls, writtenLinks), deliveryID).toStdString() + '\n';
    const QString name =
        application.localizedName.isEmpty() ? application.bundleIdentifier : application.localizedName;
    backgroundWorkStarted();
    handOverQueue(application.bundleIdentifier)
        .async([path, line, name, patience = answerPatienceMs_, done = std::move(done)]() mutable {
            // A program that is ending still hands its links over, but no longer waits for their answers.
            const wire::HandOverResult result = isSocketFile(path)
                                                    ? wire::handOver(QFile::encodeName(path).toStdString(),
                                                                     line, patience, backgroundWorkShouldEnd)
                                                    : wire::HandOverResult::notListening;
            // The main queue of a program that has ended refuses it.
            mainQueue().async([result, name, patience, done = std::move(done)] {
                if (result == wire::HandOverResult::unanswered)
                    logSink().write(QStringLiteral("host"), QStringLiteral("events"), LogLevel::Default,
                                    QStringLiteral("%1 did not answer for its links within %2 s: it is "
                                                   "counted as having them, and not started again")
                                        .arg(name)
                                        .arg(patience / 1000.0));
                if (done)
                    done(wire::taken(result));
            });
            backgroundWorkEnded();
        });
}

std::shared_ptr<void> holdSendersAnswer() {
    return answerBeingHandedOn ? *answerBeingHandedOn : nullptr;
}

void EventChannelDelivery::prepareLaunch(LaunchRequest& launch, const QList<QUrl>& urls,
                                         const QStringList& writtenLinks) {
    if (urls.isEmpty())
        return; // a plain launch carries no event
    const QString deliveryID =
        launch.deliveryID.isEmpty() ? QString::fromStdString(wire::newDeliveryID()) : launch.deliveryID;
    launch.environment.insert(
        QString::fromLatin1(kLaunchEventsVariable),
        QString::fromUtf8(encodeAppleEvents(eventsFor(urls, writtenLinks), deliveryID)));
    launch.arguments += linkArguments(urls, writtenLinks);
}

void EventChannelDelivery::confirmLaunch(const LaunchRequest& launch, const StartedProgram& program,
                                         LaunchConfirmation confirmed) {
    const QString events = launch.environment.value(QString::fromLatin1(kLaunchEventsVariable));
    const QString path = eventSocketPath(launch.bundleIdentifier);
    if (events.isEmpty() || path.isEmpty()) {
        confirmed(std::nullopt);
        return;
    }
    const QString mark = decodeDeliveredEvents(events.toUtf8()).value_or(DeliveredEvents{}).deliveryID;
    const std::string socket = QFile::encodeName(path).toStdString();
    const std::string line = events.toStdString() + '\n';
    // Not started again when it ends unheard: a program that never listens may take its links from its
    // arguments alone, and would open them twice.
    runInBackground(
        [socket, line, program, path, mark]() -> StartOutcome {
            EndWatch watch(program);
            const auto confirmation = wire::confirmStartOnce(
                socket, line, [&] { return watch.hasEnded(); }, backgroundWorkShouldEnd);
            if (confirmation != wire::StartConfirmation::ended)
                return {confirmation, std::nullopt};
            // One that listened, handed the links on and ended before it was asked took them all the same.
            if (!mark.isEmpty() && deliveryMarkKept(path, mark))
                return {wire::StartConfirmation::taken, std::nullopt};
            return {confirmation, failureOf(program)};
        },
        [name = QFileInfo(launch.appPath).fileName(), confirmed = std::move(confirmed)](
            const StartOutcome& outcome) { confirmed(startFailure(name, outcome)); });
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

QByteArray encodeAppleEvents(const std::vector<AppleEvent>& events, const QString& deliveryID) {
    std::vector<wire::Event> list;
    for (const AppleEvent& event : events)
        list.push_back(toWire(event));
    return QByteArray::fromStdString(wire::encode(list, deliveryID.toStdString()));
}

std::optional<DeliveredEvents> decodeDeliveredEvents(const QByteArray& bytes) {
    const auto handOver =
        wire::decodeHandOver(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!handOver)
        return std::nullopt;
    DeliveredEvents delivered;
    for (const wire::Event& event : handOver->events)
        delivered.events.push_back(fromWire(event));
    delivered.deliveryID = QString::fromStdString(handOver->deliveryID);
    return delivered;
}

std::optional<std::vector<AppleEvent>> decodeAppleEvents(const QByteArray& bytes) {
    auto delivered = decodeDeliveredEvents(bytes);
    if (!delivered)
        return std::nullopt;
    return std::move(delivered->events);
}

bool deliverToRunningApplication(const QString& bundleIdentifier, const std::vector<AppleEvent>& events,
                                 const QString& deliveryID, int answerTimeoutMs) {
    const QString path = eventSocketPath(bundleIdentifier);
    if (path.isEmpty() || !isSocketFile(path))
        return false;
    const QByteArray line = encodeAppleEvents(events, deliveryID) + '\n';
    return wire::taken(wire::handOver(QFile::encodeName(path).toStdString(),
                                      std::string_view(line.constData(), std::size_t(line.size())),
                                      answerTimeoutMs));
}

DeliveredEvents takeLaunchEvents() {
    if (!qEnvironmentVariableIsSet(kLaunchEventsVariable))
        return {};
    const QByteArray bytes = qgetenv(kLaunchEventsVariable);
    qunsetenv(kLaunchEventsVariable);
    return decodeDeliveredEvents(bytes).value_or(DeliveredEvents{});
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
    marksPath_ = deliveryMarksPath(path);
    loadDeliveryMarks();
    QLocalServer* raw = server.get();
    QObject::connect(raw, &QLocalServer::newConnection, raw, [this, raw] {
        while (QLocalSocket* connection = raw->nextPendingConnection())
            adopt(connection);
    });
    server_ = std::move(server);
    return StartResult::listening;
}

void EventListener::adopt(QLocalSocket* connection) {
    connections_.removeAll(nullptr);
    connections_.append(connection);
    QObject::connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
    QObject::connect(connection, &QLocalSocket::readyRead, connection,
                     [this, connection] { answer(connection); });
}

// The answer goes only after the events are handled: a sender that hears none hands them over again.
void EventListener::answer(QLocalSocket* connection) {
    if (!connection->canReadLine()) {
        if (connection->bytesAvailable() > kMaxEventLine)
            connection->abort();
        return;
    }
    const QByteArray line = connection->readLine().chopped(1);
    if (line.size() > kMaxEventLine) {
        connection->abort();
        return;
    }
    const auto delivered = decodeDeliveredEvents(line);
    if (!delivered) {
        reply(connection, wire::kUndecodableAnswer);
        return;
    }
    handOn(*delivered, [connection = QPointer<QLocalSocket>(connection)] {
        if (connection)
            reply(connection, wire::kHandledAnswer);
    });
}

void EventListener::deliver(const DeliveredEvents& delivered) {
    handOn(delivered, {});
}

void EventListener::handOn(const DeliveredEvents& delivered, std::function<void()> whenHandedOn) {
    const QString& mark = delivered.deliveryID;
    if (!mark.isEmpty()) {
        if (std::find(delivered_.begin(), delivered_.end(), mark) != delivered_.end()) {
            if (whenHandedOn)
                whenHandedOn();
            return;
        }
        // Marked before the events are handed on: a repeat that arrives while they are handled is taken too.
        delivered_.push_back(mark);
        if (delivered_.size() > kRememberedDeliveries)
            delivered_.pop_front();
    }
    // Kept on file and answered once the events and whatever holds their answer are done.
    std::shared_ptr<void> handedOn = std::make_shared<WhenLetGo>(
        [this, listener = std::weak_ptr<bool>(alive_), mark, whenHandedOn = std::move(whenHandedOn)] {
            if (!onMainThread())
                return;
            if (!mark.isEmpty() && !listener.expired())
                keepDeliveryMark(mark);
            if (whenHandedOn)
                whenHandedOn();
        });
    const AnswerBeingHandedOn beingHandedOn(handedOn);
    handedOn.reset();
    const auto onEvent = onEvent_;
    for (const AppleEvent& event : delivered.events)
        onEvent(event);
}

// The marks handed on are kept on file as well, for the copy that follows: a program that ends between
// handing events on and answering (or before its starter confirmed them) leaves their senders to hand them
// over again, to that copy. Only the instance writes the file.
void EventListener::loadDeliveryMarks() {
    QFile file(marksPath_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            delivered_.push_back(QString::fromLatin1(line));
    while (delivered_.size() > kRememberedDeliveries)
        delivered_.pop_front();
    marksOnFile_ = delivered_.size();
}

void EventListener::keepDeliveryMark(const QString& mark) {
    if (marksPath_.isEmpty())
        return;
    // Written anew from the marks remembered now and then, so that the file stays small.
    if (marksOnFile_ >= 2 * kRememberedDeliveries) {
        QSaveFile file(marksPath_);
        if (file.open(QIODevice::WriteOnly)) {
            for (const QString& kept : delivered_)
                file.write(kept.toLatin1() + '\n');
            if (file.commit())
                marksOnFile_ = delivered_.size();
        }
        return;
    }
    QFile file(marksPath_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(mark.toLatin1() + '\n') > 0)
        ++marksOnFile_;
}

// Senders already taken are answered: their lines are read (waited for a moment) and handled while the
// program can still handle them. One whose line does not come in time is closed without an answer, and so
// hands its events over again to the next copy.
void EventListener::drain() {
    QElapsedTimer waited;
    waited.start();
    for (const QPointer<QLocalSocket>& connection : std::exchange(connections_, {})) {
        while (connection && connection->state() == QLocalSocket::ConnectedState &&
               !connection->canReadLine() && waited.elapsed() < kDrainPatienceMs)
            connection->waitForReadyRead(int(kDrainPatienceMs - waited.elapsed()));
        if (connection && connection->canReadLine())
            answer(connection);
        if (connection && connection->state() == QLocalSocket::ConnectedState)
            connection->abort();
    }
}

void EventListener::stopAccepting() {
    if (!server_)
        return;
    while (QLocalSocket* connection = server_->nextPendingConnection())
        adopt(connection);
    server_->close();
    // Remove the file only while it is still the socket this listener made.
    if (!path_.isEmpty() && inode_ != 0 && inodeOf(path_) == inode_)
        ::unlink(QFile::encodeName(path_).constData());
    inode_ = 0;
    drain();
}

void EventListener::stop() {
    stopAccepting();
    server_.reset();
    path_.clear();
    marksPath_.clear();
    lock_.reset(); // last, so the next copy finds the socket file gone
}

} // namespace host
