#pragma once

#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneHost/Workspace.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace host {
class ReadSource;
class SerialQueue;
class Timer;
} // namespace host

// A client's end of the helper's socket (a proxy app's launcher, the creator app's probe). Connects, says
// hello on every connection, starts the helper when nobody answers, reconnects with a growing delay, and
// delivers events, responses and its own state on the main queue. Every public operation is called on the
// main queue. Own it through a std::shared_ptr: its timers and reader hold it weakly.
class HelperLink : public std::enable_shared_from_this<HelperLink> {
public:
    enum class State { disconnected, connecting, connected };

    HelperLink();
    virtual ~HelperLink();
    HelperLink(const HelperLink&) = delete;
    HelperLink& operator=(const HelperLink&) = delete;

    State state() const { return state_; }
    // Every event from the helper.
    std::function<void(const Event&)> onEvent;
    // Each new state, only when it differs from the old one.
    std::function<void(State)> onStateChange;

    // Stores the hello sent on every connection, clears a shutdown and makes a connection attempt (nothing is
    // sent now when already connected).
    virtual void connect(const Request& hello);
    // Sends a request whose answer nobody waits for; without a socket it is dropped silently.
    virtual void post(Request::Op op, const std::function<void(Request&)>& configure = {});
    // Sends a request; `completion` is called exactly once while the link lives: with the helper's response,
    // or with a failure made here ("not connected", "timed out", "helper disconnected").
    virtual void request(Request::Op op, double timeout, const std::function<void(Request&)>& configure,
                         std::function<void(const Response&)> completion);
    // Says bye and disconnects for good, until the next connect(hello).
    virtual void shutdown();

    // How the helper gets installed and opened when nobody answers; the installer and the workspace by
    // default. `installHelper` is HelperInstaller::installFromCreatorBundle (throws when it cannot install).
    std::function<bool(bool force)> installHelper;
    std::function<void(const QString& appPath, const host::OpenConfiguration& configuration,
                       host::OpenCompletion completion)>
        openHelper;

    static constexpr double initialBackoff = 0.25;
    static constexpr double maxBackoff = 10.0;
    // Each retry waits its base delay plus up to this fraction of it.
    static constexpr double jitterFraction = 0.25;
    static constexpr qsizetype readChunk = 16384;

protected:
    void setState(State state);

private:
    struct Reader;

    void attemptConnect();
    void scheduleRetry();
    void launchHelper();
    void startReading();
    void handle(const QByteArray& line, quint64 generation);
    void handleDisconnect(quint64 generation);
    void teardown();
    Request makeRequest(Request::Op op, const std::function<void(Request&)>& configure);
    bool writeFrameOrShutDown(const QByteArray& bytes);

    State state_ = State::disconnected;
    int32_t fd_ = -1;
    std::shared_ptr<host::ReadSource> readSource_;
    std::unique_ptr<host::SerialQueue> queue_;
    qint64 nextID_ = 1;
    std::map<qint64, std::function<void(const Response&)>> pending_;
    double backoff_ = initialBackoff;
    bool launchAttempted_ = false;
    bool stopped_ = false;
    std::optional<Request> helloRequest_;
    // The pending reconnection; one at most, so no second chain of retries can start.
    std::shared_ptr<host::Timer> retryTimer_;
    // Tells the lines and the end-of-file notice of one connection from those of an earlier one.
    quint64 generation_ = 0;
};
