#include "CorvaneHost/Linux/QtApplication.h"

#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/Linux/DesktopLaunch.h"
#include "CorvaneHost/Linux/EventDelivery.h"
#include "CorvaneHost/Services.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSocketNotifier>
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

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
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
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A program started by a short-lived one may outlive the pipe its log goes to: a write there fails
    // instead of ending the program.
    ::signal(SIGPIPE, SIG_IGN);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        if (signalTarget)
            signalTarget->terminate();
    });
}

int QtApplication::run() {
    if (const auto status = handOnDesktopLaunch(QCoreApplication::arguments().mid(1)))
        return *status;
    installSignalHandlers();
    // Taken before anything else, so that nothing this program starts inherits them.
    const std::vector<AppleEvent> launchEvents = takeLaunchEvents();

    listener_ = std::make_unique<EventListener>([this](const AppleEvent& event) {
        if (!terminated_)
            dispatch(event);
    });
    if (const auto& info = Bundle::main().infoDictionary()) {
        const QString identifier = info->value(QStringLiteral("CFBundleIdentifier")).toString();
        if (!identifier.isEmpty())
            listener_->start(identifier);
    }

    running_ = true;
    if (auto target = delegate())
        target->applicationWillFinishLaunching();
    for (const AppleEvent& event : launchEvents) {
        if (terminated_)
            break;
        dispatch(event);
    }
    if (!terminated_)
        if (auto target = delegate())
            target->applicationDidFinishLaunching();
    if (!terminated_)
        QCoreApplication::exec();
    running_ = false;
    if (listener_)
        listener_->stop();
    return 0;
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
    if (auto target = delegate())
        target->applicationWillTerminate();
    terminated_ = true;
    if (listener_)
        listener_->stop();
    // Before the event loop runs, run() sees `terminated_` and does not enter it.
    QCoreApplication::exit(0);
}

} // namespace host
