#pragma once

#include "CorvaneHost/AppleEvent.h"
#include "CorvaneHost/Workspace.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLocalServer;

namespace host {

// How open events travel between programs on this machine. A running program listens on its own socket,
// "<bundle identifier>.events" in hostRuntimeDirectory(); a sender connects, writes one line of JSON with the
// events and waits for the line "ok". A program that is not running is started with the events in the
// environment variable below; its Application takes them out at launch and delivers them after will finish
// launching, as the platform delivers the events that launched a program.

inline constexpr char kLaunchEventsVariable[] = "CORVANE_HOST_LAUNCH_EVENTS";

// The event socket of the program with that bundle identifier; an empty string when the identifier is not a
// plain name that can become a file name (empty, ".", "..", or holding "/" or a NUL).
QString eventSocketPath(const QString& bundleIdentifier);

QByteArray encodeAppleEvents(const std::vector<AppleEvent>& events);
// None when the bytes are not a list of events as encodeAppleEvents writes it.
std::optional<std::vector<AppleEvent>> decodeAppleEvents(const QByteArray& bytes);

// Hands the events to the running program with that bundle identifier. True when it took them; false when no
// such program listens (or it did not answer within `timeoutMs`).
bool deliverToRunningApplication(const QString& bundleIdentifier, const std::vector<AppleEvent>& events,
                                 int timeoutMs = 2000);

// The events this program was started with (from the environment), removed from the environment so that the
// program's own children do not inherit them. Empty when there are none or they do not decode.
std::vector<AppleEvent> takeLaunchEvents();

// The process named as the sender of the events this process sends: its own by default. A tool that opens
// things on behalf of the program that ran it names that program instead.
qint32 eventSenderPID();
void setEventSenderPID(qint32 pid);

// Links as command-line arguments for a program that takes them there: only absolute URLs with a scheme (file
// URLs included) are passed, in their encoded form, so no link text can ever read as a switch.
QStringList linkArguments(const QList<QUrl>& urls);

// The workspace's delivery on this machine: a running program of ours takes the events on its socket; a
// program that is started gets them in its environment, and the links (absolute URLs only) as arguments for
// programs that read them there.
class EventChannelDelivery final : public EventDelivery {
public:
    bool deliverToRunning(const RunningApplication& application, const QList<QUrl>& urls) override;
    void prepareLaunch(LaunchRequest& launch, const QList<QUrl>& urls) override;
};

// The receiving end: listens on the program's event socket and hands every event to `onEvent` on the main
// thread. A live socket of another instance of the same program is left alone (start fails); a stale one is
// replaced. stop() removes only the socket file this listener created.
class EventListener {
public:
    explicit EventListener(std::function<void(const AppleEvent&)> onEvent);
    ~EventListener();

    bool start(const QString& bundleIdentifier);
    void stop();
    bool isListening() const;
    QString path() const { return path_; }

private:
    std::function<void(const AppleEvent&)> onEvent_;
    std::unique_ptr<QLocalServer> server_;
    QString path_;
    quint64 inode_ = 0;
};

} // namespace host
