#include "CorvaneHelper/WindowTracking/WindowActions.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneHelper/WindowTracking/AX.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QDateTime>
#include <deque>
#include <memory>

namespace WindowActions {

namespace {

constexpr int dialogSearchDepth = 3;
constexpr int searchLimit = 2000;

// One close run: its queue, its count and its deadline, shared by its steps and polls.
struct CloseRun : std::enable_shared_from_this<CloseRun> {
    std::deque<host::AXElement> queue;
    QDateTime deadline;
    double perWindowTimeout = 0;
    StillOpen isStillOpen;
    CloseCompletion completion;
    int closed = 0;

    void finish(int remaining, bool blocked) {
        if (!completion)
            return;
        auto done = std::move(completion);
        completion = nullptr;
        done(CloseOutcome{closed, remaining, blocked});
    }

    void step() {
        while (true) {
            if (queue.empty())
                return finish(0, false);
            if (host::clock().now() >= deadline)
                return finish(int(queue.size()), false);
            const host::AXElement window = queue.front();
            queue.pop_front();
            if (!isStillOpen(window)) {
                ++closed;
                continue;
            }
            const auto button = AX::element(window, QStringLiteral("AXCloseButton"));
            if (!button)
                continue;
            host::accessibility().performAction(*button, QStringLiteral("AXPress"));
            waitForClose(window);
            return;
        }
    }

    void waitForClose(const host::AXElement& window) {
        const QDateTime timeout = host::clock().now().addMSecs(qint64(perWindowTimeout * 1000));
        poll(window, timeout);
    }

    void poll(const host::AXElement& window, const QDateTime& timeout) {
        if (!isStillOpen(window)) {
            ++closed;
            return step();
        }
        if (host::clock().now() >= timeout)
            return notClosed(window);
        auto self = shared_from_this();
        host::mainQueue().schedule(closePollInterval,
                                   [self, window, timeout] { self->poll(window, timeout); });
    }

    void notClosed(const host::AXElement& window) {
        if (hasBlockingDialog(window)) {
            Log::ax.log(QStringLiteral("close blocked by a page dialog; leaving it for the user"));
            return finish(int(queue.size()) + 1, true);
        }
        step();
    }
};

} // namespace

void raise(const host::AXElement& window) {
    auto& accessibility = host::accessibility();
    if (AX::boolean(window, QStringLiteral("AXMinimized")) == true)
        accessibility.setAttributeValue(window, QStringLiteral("AXMinimized"), false);
    accessibility.performAction(window, QStringLiteral("AXRaise"));
    accessibility.setAttributeValue(window, QStringLiteral("AXMain"), true);
    accessibility.setAttributeValue(window, QStringLiteral("AXFocused"), true);
    qint32 pid = 0;
    if (accessibility.pid(window, pid) == host::AXError::success) {
        const host::AXElement application = accessibility.createApplication(pid);
        accessibility.setAttributeValue(application, QStringLiteral("AXFocusedWindow"), window);
    }
}

void close(const QList<host::AXElement>& windows, double budget, double perWindowTimeout,
           StillOpen isStillOpen, CloseCompletion completion) {
    auto run = std::make_shared<CloseRun>();
    run->queue.assign(windows.begin(), windows.end());
    run->deadline = host::clock().now().addMSecs(qint64(std::max(budget, 0.0) * 1000));
    run->perWindowTimeout = perWindowTimeout;
    run->isStillOpen = std::move(isStillOpen);
    run->completion = std::move(completion);
    run->step();
}

bool hasBlockingDialog(const host::AXElement& window) {
    host::AXValue sheets;
    if (host::accessibility().copyAttributeValue(window, QStringLiteral("AXSheets"), sheets) ==
            host::AXError::success &&
        std::holds_alternative<QList<host::AXElement>>(sheets) &&
        !std::get<QList<host::AXElement>>(sheets).isEmpty())
        return true;
    return AX::findDescendant(
               window, dialogSearchDepth, searchLimit, AX::skipRoles(),
               [](const host::AXElement&, const QString& role) { return role == QStringLiteral("AXSheet"); })
        .has_value();
}

} // namespace WindowActions
