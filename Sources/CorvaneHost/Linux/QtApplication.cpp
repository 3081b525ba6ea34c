#include "CorvaneHost/Linux/QtApplication.h"

#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/Linux/Desktop/DesktopLaunch.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/LogSink.h"
#include "CorvaneHost/Services.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace host {

Application& application() {
    return ensureService(services().application, [] { return std::make_shared<QtApplication>(); });
}

namespace {

int signalPipe[2] = {-1, -1};
// The application that a termination signal asks to quit: the one running now.
QtApplication* signalTarget = nullptr;

// How long a copy that is not the running instance keeps trying to hand its launch events over while the
// instance that holds the lock is not listening yet.
constexpr qint64 kHandOverPatienceMs = 10000;
constexpr unsigned long kHandOverRetryMs = 50;

void report(LogLevel level, const QString& message) {
    logSink().write(QStringLiteral("host"), QStringLiteral("application"), level, message);
}

// Passes the sender's process identifier on, so the log can say who asked the program to end.
void onTerminationSignal(int, siginfo_t* info, void*) {
    const qint32 sender = info ? qint32(info->si_pid) : 0;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &sender, sizeof sender);
}

} // namespace

QtApplication::QtApplication() = default;
QtApplication::~QtApplication() {
    if (signalTarget == this)
        signalTarget = nullptr;
}

void QtApplication::installSignalHandlers() {
    signalTarget = this;
    if (signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_sigaction = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A program started by a short-lived one may outlive the pipe its log goes to: a write there fails
    // instead of ending the program.
    ::signal(SIGPIPE, SIG_IGN);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        qint32 sender = 0;
        while (::read(signalPipe[0], &sender, sizeof sender) > 0) {
        }
        report(LogLevel::Info, QStringLiteral("asked to end by a signal from process %1").arg(sender));
        if (signalTarget)
            signalTarget->terminate();
    });
}

int QtApplication::run() {
    if (const auto status = handOnDesktopLaunch(QCoreApplication::arguments().mid(1)))
        return *status;
    installSignalHandlers();
    // Taken before anything else, so that nothing this program starts inherits them.
    const DeliveredEvents launch = takeLaunchEvents();

    listener_ = std::make_unique<EventListener>([this](const AppleEvent& event) {
        if (!terminated_)
            dispatch(event);
    });
    if (const auto& info = Bundle::main().infoDictionary()) {
        const QString identifier = info->value(QStringLiteral("CFBundleIdentifier")).toString();
        if (!identifier.isEmpty())
            switch (becomeTheInstance(identifier, launch)) {
            case Instance::thisCopy:
                break;
            case Instance::anotherCopy:
                return 0;
            case Instance::failed:
                return 1;
            }
    }

    running_ = true;
    if (auto target = delegate())
        target->applicationWillFinishLaunching();
    // Through the listener, which knows the launch's delivery mark: the starter hands the same events over
    // the socket too, and only one of the two is handed on.
    listener_->deliver(launch);
    if (!terminated_)
        if (auto target = delegate())
            target->applicationDidFinishLaunching();
    if (!terminated_)
        QCoreApplication::exec();
    running_ = false;
    if (listener_)
        listener_->stop();
    // Background work hands its result to the main queue and reads the program's services: none may still run
    // once main returns and they go.
    endBackgroundWork();
    waitForBackgroundWork();
    return 0;
}

// The single-instance decision comes before anything listens: only the copy holding the lock touches the
// socket. Another copy may hold the lock without listening yet (it started a moment earlier), or end before
// it listens (then this copy gets the lock on a later try).
QtApplication::Instance QtApplication::becomeTheInstance(const QString& identifier,
                                                         const DeliveredEvents& launch) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        switch (listener_->start(identifier)) {
        case EventListener::StartResult::listening:
            return Instance::thisCopy;
        case EventListener::StartResult::failed:
            report(LogLevel::Error, QStringLiteral("%1 cannot take events: %2; ending")
                                        .arg(identifier, listener_->errorString()));
            return Instance::failed;
        case EventListener::StartResult::anotherInstanceRuns:
            // A second start hands its events (or, without any, a reopen) to the running instance and ends;
            // under their delivery mark, which the starter confirms them with.
            if (const auto events = launch.events.empty()
                                        ? std::vector<AppleEvent>{AppleEvent::reopen(eventSenderPID())}
                                        : launch.events;
                deliverToRunningApplication(identifier, events, launch.deliveryID)) {
                report(LogLevel::Info,
                       QStringLiteral("another copy of %1 runs; %2 event(s) handed to it, ending")
                           .arg(identifier)
                           .arg(events.size()));
                return Instance::anotherCopy;
            }
            break;
        }
        if (waited.elapsed() > kHandOverPatienceMs) {
            report(LogLevel::Error,
                   QStringLiteral("another copy of %1 runs but takes no events; ending").arg(identifier));
            return Instance::failed;
        }
        QThread::msleep(kHandOverRetryMs);
    }
}

void QtApplication::terminate() {
    if (terminating_ || terminated_ || awaitingReply_)
        return;
    const auto target = delegate();
    const TerminateReply reply = target ? target->applicationShouldTerminate() : TerminateReply::terminateNow;
    if (reply == TerminateReply::terminateCancel)
        return;
    if (reply == TerminateReply::terminateLater) {
        awaitingReply_ = true;
        return;
    }
    finishTermination();
}

void QtApplication::replyToApplicationShouldTerminate(bool shouldTerminate) {
    if (!awaitingReply_)
        return;
    awaitingReply_ = false;
    if (shouldTerminate)
        finishTermination();
}

void QtApplication::finishTermination() {
    terminating_ = true;
    // Senders already taken are answered while the delegate can still hand their links on; new ones find no
    // socket and go to the next copy. The instance lock is kept until the delegate has let go of its own.
    if (listener_)
        listener_->stopAccepting();
    if (auto target = delegate())
        target->applicationWillTerminate();
    terminated_ = true;
    if (listener_)
        listener_->stop();
    // Before the event loop runs, run() sees `terminated_` and does not enter it.
    QCoreApplication::exit(0);
}

} // namespace host
