#pragma once

#include "CorvaneHost/AppleEvent.h"
#include "CorvaneHost/Linux/Processes/EventHandOver.h"
#include "CorvaneHost/Linux/Processes/EventWire.h"
#include "CorvaneHost/SerialQueue.h"
#include "CorvaneHost/Workspace.h"

#include <QByteArray>
#include <QList>
#include <QLocalSocket>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QLocalServer;

namespace host {

// How open events travel between programs on this machine. A running program listens on its own socket,
// "<bundle identifier>.events" in hostRuntimeDirectory() (placed by socketPath() when that is too long); a
// sender connects and writes one line with the events in the wire format (EventWire.h), which the listener
// answers with "ok" once it has handled them. A sender whose connection was refused, or closed without an
// answer, hands them over again (EventHandOver.h). A program that is not running is started with the events
// in the environment variable kLaunchEventsVariable (EventWire.h); its Application takes them out at launch
// and delivers them after will finish launching, as the platform delivers the events that launched a
// program, and its starter hands them over its socket once it listens, under the same delivery mark, so
// that they survive a program that ended before handling them.
//
// One copy of a program runs per bundle identifier: the copy that holds the instance lock (an exclusive lock
// on "<event socket>.lock") for its whole life. Only that copy ever touches the socket file; any other copy
// hands its launch events to it and ends.

// The event socket of the program with that bundle identifier; an empty string when the identifier is not a
// plain name that can become a file name (empty, ".", "..", or holding "/" or a NUL).
QString eventSocketPath(const QString& bundleIdentifier);
// The instance lock file beside that socket; empty under the same conditions.
QString instanceLockPath(const QString& bundleIdentifier);

// Events as one hand-over, with the delivery mark its repeats carry too (none when it is never repeated).
struct DeliveredEvents {
    std::vector<AppleEvent> events;
    QString deliveryID;
};

QByteArray encodeAppleEvents(const std::vector<AppleEvent>& events, const QString& deliveryID = {});
// None when the bytes are not a list of events as encodeAppleEvents writes it.
std::optional<DeliveredEvents> decodeDeliveredEvents(const QByteArray& bytes);
std::optional<std::vector<AppleEvent>> decodeAppleEvents(const QByteArray& bytes);

// Hands the events to the running program with that bundle identifier and waits until it has handled them.
// False when no such program listens, or it closed the connection without an answer (it ended): the caller
// then starts it or tries again, under the same `deliveryID`. A program still busy after `answerTimeoutMs`
// counts as having taken them, since starting it again would open its links twice.
bool deliverToRunningApplication(const QString& bundleIdentifier, const std::vector<AppleEvent>& events,
                                 const QString& deliveryID = {},
                                 int answerTimeoutMs = wire::kAnswerPatienceMs);

// The events this program was started with (from the environment), removed from the environment so that the
// program's own children do not inherit them. No events when there are none or they do not decode.
DeliveredEvents takeLaunchEvents();

// The process named as the sender of the events this process sends: its own by default. A tool that opens
// things on behalf of the program that ran it names that program instead.
qint32 eventSenderPID();
void setEventSenderPID(qint32 pid);

// Links as command-line arguments for a program that takes them there: only absolute URLs with a scheme (file
// URLs included) are passed, a link as written where `writtenLinks` gives it (linkTexts), else in its encoded
// form, so no link text can ever read as a switch.
QStringList linkArguments(const QList<QUrl>& urls, const QStringList& writtenLinks = {});

// The workspace's delivery on this machine: a running program of ours takes the events on its socket; a
// program that is started gets them in its environment, and the links (absolute URLs only) as arguments for
// programs that read them there. A started program's events are confirmed over its socket once it listens,
// as background work (BackgroundWork.h), so the caller never waits for the program's start. A program that
// ends with a failure (a status other than 0, or a signal) before it listened and handed them on did not take
// them: its start failed. One that ends cleanly, or runs on without listening, read them from its start.
// The hand-overs to a running program wait for its answer on a queue of that program's own, as background
// work: one program's hand-overs go one after another, in the order they were asked for, and a program
// that does not answer within `answerPatienceMs` (it is stopped or hung) is logged and holds up only its own.
class EventChannelDelivery final : public EventDelivery {
public:
    explicit EventChannelDelivery(int answerPatienceMs = wire::kAnswerPatienceMs);
    ~EventChannelDelivery() override;

    void deliverToRunning(const RunningApplication& application, const QList<QUrl>& urls,
                          const QStringList& writtenLinks, const QString& deliveryID,
                          std::function<void(bool taken)> done) override;
    void prepareLaunch(LaunchRequest& launch, const QList<QUrl>& urls,
                       const QStringList& writtenLinks) override;
    void confirmLaunch(const LaunchRequest& launch, const StartedProgram& program,
                       LaunchConfirmation confirmed) override;

private:
    SerialQueue& handOverQueue(const QString& bundleIdentifier);

    int answerPatienceMs_;
    std::mutex queuesMutex_;
    std::map<QString, std::unique_ptr<SerialQueue>> handOverQueues_;
};

// Holds a program's instance lock while it lives; the system drops the lock when the process ends, however
// it ends. Never inherited by the programs this one starts.
class InstanceLock {
public:
    // The lock, now held by this process; none when another copy holds it. Throws host::SystemError when the
    // lock file cannot be opened or the identifier is not a plain name.
    static std::unique_ptr<InstanceLock> tryAcquire(const QString& bundleIdentifier);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    explicit InstanceLock(int fd)
        : fd_(fd) {}
    int fd_;
};

// The receiving end: takes the program's instance lock, then listens on its event socket and hands every
// event to `onEvent` on the main thread, answering each sender once its events are handled. A copy that
// does not get the lock leaves the socket alone; the one that holds it replaces whatever socket an earlier
// copy left; the delivery marks it handed on stay beside the socket for the copy that follows.
// stopAccepting() refuses new senders and handles what the ones already taken sent; stop() does the same,
// removes only the socket file this listener created, then gives the lock up.
// Work that handed-on events start and that ends later (a hand-over to another running program) holds the
// sender's answer while it runs: the sender hears its events handled only once they are with whoever takes
// them, so that a program ending meanwhile leaves them to be handed over again instead of losing them. Only
// while a listener hands events on, on its thread; empty elsewhere. Let the hold go on the main thread: one
// let go anywhere else (the main queue has ended) answers nothing.
std::shared_ptr<void> holdSendersAnswer();

class EventListener {
public:
    enum class StartResult { listening, anotherInstanceRuns, failed };

    explicit EventListener(std::function<void(const AppleEvent&)> onEvent);
    ~EventListener();

    StartResult start(const QString& bundleIdentifier);
    void stopAccepting();
    void stop();
    // Hands the events to `onEvent` unless events under the same delivery mark were handed on before.
    void deliver(const DeliveredEvents& delivered);
    bool isListening() const;
    QString path() const { return path_; }
    // Why the last start failed.
    QString errorString() const { return error_; }

private:
    StartResult fail(const QString& error);
    void adopt(QLocalSocket* connection);
    void answer(QLocalSocket* connection);
    void handOn(const DeliveredEvents& delivered, std::function<void()> whenHandedOn);
    void drain();
    void loadDeliveryMarks();
    void keepDeliveryMark(const QString& mark);

    std::function<void(const AppleEvent&)> onEvent_;
    std::deque<QString> delivered_; // the latest delivery marks handed on
    QString marksPath_;             // where they are kept for the next copy, while this one listens
    std::size_t marksOnFile_ = 0;
    QList<QPointer<QLocalSocket>> connections_;
    std::unique_ptr<InstanceLock> lock_;
    std::unique_ptr<QLocalServer> server_;
    QString path_;
    quint64 inode_ = 0;
    QString error_;
    // What a held answer looks at before it keeps its mark: the listener may be gone by then.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace host
