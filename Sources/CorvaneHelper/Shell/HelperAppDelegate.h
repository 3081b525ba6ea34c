#pragma once

#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneHelper/WindowTracking/WindowProfileSource.h"
#include "CorvaneHost/Application.h"

#include <QList>
#include <QUrl>
#include <memory>
#include <optional>

class ClientConnection;
class LinkHandler;
class SocketServer;

namespace host {
class Timer;
}

// The watch scope of a proxy app's connection: none until a hello named a profile; an empty tab group means
// the whole profile.
std::optional<WatchScope> scope(const ClientConnection& connection);

// The helper's application delegate and the owner of everything the helper runs: the window tracker, the
// socket server, the single-instance lock and the link handler. Answers every request on the socket, pushes
// events to the clients, polls the Accessibility trust and quits when nobody needs the helper. Main thread;
// own it through a std::shared_ptr (timers and callbacks hold it weakly).
class HelperAppDelegate final : public host::ApplicationDelegate,
                                public WindowProfileSourceDelegate,
                                public std::enable_shared_from_this<HelperAppDelegate> {
public:
    // The window tracker is given so that a double drops in; by default the helper's own tracker.
    explicit HelperAppDelegate(std::shared_ptr<WindowProfileSource> source = makeWindowProfileSource());
    ~HelperAppDelegate() override;

    static constexpr double idleGrace = 10.0;
    static constexpr double trustInterval = 2.0;
    static constexpr double lockedOutDelay = 2.0;
    static constexpr double defaultCloseBudget = 6.0;

    // host::ApplicationDelegate
    void applicationWillFinishLaunching() override;
    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    void applicationOpenURLs(const QList<QUrl>& urls) override;

    // WindowProfileSourceDelegate
    void windowsDidChange(WindowProfileSource& source) override;

    // For the program's tests and diagnostics.
    WindowProfileSource& source() const { return *source_; }
    SocketServer& server() const { return *server_; }
    LinkHandler& links() const { return *links_; }
    // True from the moment the socket listens until the helper terminates.
    bool isServing() const { return serving_; }
    bool hasIdleTimer() const;

private:
    void handle(const Request& request, const std::shared_ptr<ClientConnection>& connection);
    void respondToRaise(const Request& request, const std::shared_ptr<ClientConnection>& connection);
    void respondToClose(const Request& request, const std::shared_ptr<ClientConnection>& connection);
    void sendWindowsEvent(const std::shared_ptr<ClientConnection>& connection);
    void refreshWatchedScopes();
    void clientCountChanged(int count);
    void checkTrust();
    void broadcastTrust(bool trusted);
    void promptForAccessibilityIfNeeded();
    void scheduleIdleExit();
    void tellIfOutdated(const Request& request, const std::shared_ptr<ClientConnection>& client);

    const std::shared_ptr<WindowProfileSource> source_;
    const std::shared_ptr<SocketServer> server_;
    SingleInstanceLock lock_;
    const std::shared_ptr<LinkHandler> links_;
    std::shared_ptr<host::Timer> idleTimer_;
    std::shared_ptr<host::Timer> trustTimer_;
    bool lastTrusted_ = false;
    bool didPromptForAccessibility_ = false;
    bool serving_ = false;
    bool holdsLock_ = false;
    bool answeringHello_ = false;
    bool changeDuringHello_ = false;
};
