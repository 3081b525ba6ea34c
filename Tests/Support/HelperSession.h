#pragma once

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "Support/SocketPeer.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace test {

// The built helper program, run as a program of its own (in a DesktopSession it shares the session's display
// and buses through the environment). Its output goes to log(); it is ended by its pid, and a helper that
// does not end cleanly then (a crash, a status other than 0) fails the test.
class HelperProcess {
public:
    HelperProcess();
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    static QString program();
    bool start(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    void stop();
    pid_t pid() const { return pid_; }
    QString log() const;

private:
    QTemporaryDir folder_;
    pid_t pid_ = 0;
};

// One client of the helper: says hello for a profile, then sends requests and reads the answers, keeping the
// last windows event it heard.
class HelperClient {
public:
    // A client of one tab group of the profile where `tabGroup` is given; `ownWindow` as a tab-group proxy
    // app sets it.
    static std::unique_ptr<HelperClient> connect(const QString& profile, bool includeIncognito = true,
                                                 const std::optional<QString>& tabGroup = std::nullopt,
                                                 std::optional<bool> ownWindow = std::nullopt) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < 20000) {
            try {
                auto client = std::unique_ptr<HelperClient>(
                    new HelperClient(UnixSocket::connect(Corvane::socketPath())));
                Request hello(client->nextId_++, Request::Op::hello);
                hello.bundleID = QStringLiteral("app.corvane.proxy.test");
                hello.profileDirectory = profile;
                hello.profileName = profile;
                hello.includeIncognito = includeIncognito;
                hello.tabGroup = tabGroup;
                hello.ownWindow = ownWindow;
                hello.pid = qint32(::getpid());
                if (client->peer_.write(*hello.encode() + '\n') && client->responseTo(hello.id, 5))
                    return client;
            } catch (const SocketError&) {
                // Not listening yet.
            }
            QThread::msleep(100);
        }
        return nullptr;
    }

    // The answer to a request, reading (and keeping) the events that come before it.
    std::optional<Response> send(Request request, double seconds = 15) {
        request.id = nextId_++;
        if (!peer_.write(*request.encode() + '\n'))
            return std::nullopt;
        return responseTo(request.id, seconds);
    }

    // Waits until the last windows event says `count`, "certain".
    bool hears(qint64 count, double seconds = 15) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!(last_ && last_->count == count && last_->confidence == CountConfidence::certain)) {
            const int left = int(seconds * 1000) - int(elapsed.elapsed());
            if (left <= 0)
                return false;
            if (!readOne(left))
                return false;
        }
        return true;
    }
    // Reads what has arrived by now.
    void drain() {
        while (readOne(200)) {
        }
    }
    std::optional<Event> lastWindows() const { return last_; }
    QString describe() const {
        if (!last_)
            return QStringLiteral("no windows event");
        return QStringLiteral("last windows event: count %1, %2")
            .arg(last_->count.value_or(-1))
            .arg(last_->confidence ? toString(*last_->confidence) : QStringLiteral("?"));
    }

private:
    explicit HelperClient(int fd)
        : peer_(fd) {}

    bool readOne(int timeoutMs) {
        const std::optional<QByteArray> line = peer_.readLine(timeoutMs);
        if (!line)
            return false;
        const std::optional<InboundMessage> message = InboundMessage::decode(*line);
        if (!message)
            return true;
        if (const auto* event = std::get_if<Event>(&message->value)) {
            if (event->event == Event::Kind::windows)
                last_ = *event;
        } else {
            responses_.push_back(std::get<Response>(message->value));
        }
        return true;
    }

    std::optional<Response> responseTo(qint64 id, double seconds) {
        QElapsedTimer elapsed;
        elapsed.start();
        for (;;) {
            for (auto it = responses_.begin(); it != responses_.end(); ++it)
                if (it->id == id) {
                    Response response = *it;
                    responses_.erase(it);
                    return response;
                }
            const int left = int(seconds * 1000) - int(elapsed.elapsed());
            if (left <= 0 || !readOne(left))
                return std::nullopt;
        }
    }

    test::SocketPeer peer_;
    qint64 nextId_ = 1;
    std::vector<Response> responses_;
    std::optional<Event> last_;
};

} // namespace test
