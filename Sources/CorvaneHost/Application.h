#pragma once

#include "CorvaneHost/AppleEvent.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace host {

enum class ActivationPolicy { regular, accessory, prohibited };

// What a delegate answers when the application is asked to quit.
enum class TerminateReply { terminateNow, terminateCancel, terminateLater };

// The application's delegate. The application calls it on the main thread, in the platform's order: will
// finish launching, then the open events that launched the program, then did finish launching; later the
// open events that arrive while it runs; at the end should terminate and will terminate.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationWillFinishLaunching() {}
    virtual void applicationDidFinishLaunching() {}
    // Links and files that reached the application without an event handler of its own taking them. While
    // this runs, Application::currentAppleEvent() is the event that carried them.
    virtual void applicationOpenURLs(const QList<QUrl>& urls) {}
    // The program was opened again while running; true lets the platform do its default.
    virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) { return true; }
    virtual TerminateReply applicationShouldTerminate() { return TerminateReply::terminateNow; }
    virtual void applicationWillTerminate() {}
};

// The application object of a program. The event dispatch (handlers, the current event, the delegate's open
// calls) is common to every implementation; running and terminating are the platform's.
class Application {
public:
    using EventHandler = std::function<void(const AppleEvent& event)>;

    virtual ~Application() = default;

    // Held weakly: the program keeps its delegate alive.
    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_.lock(); }

    virtual void setActivationPolicy(ActivationPolicy policy) { policy_ = policy; }
    ActivationPolicy activationPolicy() const { return policy_; }

    // The Apple event manager: a handler for one event class and id takes those events instead of the
    // delegate. An empty handler removes the registration.
    void setEventHandler(const QString& eventClass, const QString& eventID, EventHandler handler);
    bool hasEventHandler(const QString& eventClass, const QString& eventID) const;
    // The event being handled right now (inside a handler or an open call of the delegate), or none.
    std::optional<AppleEvent> currentAppleEvent() const { return current_; }

    // Hands one event to its handler, or to the delegate (links and files as applicationOpenURLs, reopen as
    // applicationShouldHandleReopen). Main thread.
    void dispatch(const AppleEvent& event);

    // Runs the program: will finish launching, the launch's events, did finish launching, then the event loop
    // until the program terminates. Returns the exit status.
    virtual int run() = 0;
    // Asks the delegate whether to quit; when it agrees, tells it the program will terminate and ends the
    // event loop. Never re-entered.
    virtual void terminate() = 0;
    // The delegate's late answer to a terminateLater reply.
    virtual void replyToApplicationShouldTerminate(bool shouldTerminate) = 0;

private:
    std::weak_ptr<ApplicationDelegate> delegate_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    std::map<std::pair<QString, QString>, EventHandler> handlers_;
    std::optional<AppleEvent> current_;
};

} // namespace host
