#include "CorvaneHost/Linux/QtMainQueue.h"

#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Services.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <deque>
#include <mutex>

namespace host {

Clock& clock() {
    return ensureService(services().clock, [] { return std::make_shared<SystemClock>(); });
}
MainQueue& mainQueue() {
    return ensureService(services().mainQueue, [] { return std::make_shared<QtMainQueue>(); });
}

namespace {

QObject* mainContext() {
    return QCoreApplication::instance();
}

// Work handed over from any thread to the main thread waits here, in the order it was handed over, under a
// lock that thread checkers see (Qt's event queue hands things over under locks of Qt's own, which they do
// not). Never destroyed: a thread may still hand work over while the program's statics go.
struct WaitingWork {
    enum class Accepting { beforeTheApplication, whileItRuns, afterItEnded };

    std::mutex mutex;
    std::deque<std::function<void()>> work;
    Accepting accepting = Accepting::beforeTheApplication;
    // Lives on the main thread while the application does; each piece of waiting work has one event posted to
    // it.
    QObject* runner = nullptr;
};

WaitingWork& waitingWork() {
    static WaitingWork* const waiting = new WaitingWork;
    return *waiting;
}

// The runner's own events, told apart from whatever else Qt sends it (such as the events of a thread change).
QEvent::Type runWorkEvent() {
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void postRunWorkEvent(QObject* runner) {
    QCoreApplication::postEvent(runner, new QEvent(runWorkEvent()));
}

// The debug and sanitizer builds check that main-queue work runs where the program logic expects it.
void checkOnMainThread() {
#ifdef CORVANE_CHECKED_BUILD
    if (!mainContext() || QThread::currentThread() != mainContext()->thread())
        qFatal("main-queue work is about to run off the main thread");
#endif
}

void runOldestWaitingWork() {
    std::function<void()> next;
    {
        const std::lock_guard lock(waitingWork().mutex);
        if (waitingWork().work.empty())
            return;
        next = std::move(waitingWork().work.front());
        waitingWork().work.pop_front();
    }
    checkOnMainThread();
    next();
}

class MainThreadRunner final : public QObject {
public:
    using QObject::QObject;

protected:
    bool event(QEvent* event) override {
        // The event was made on the thread that handed the work over, and Qt's queue passes it on under locks
        // that thread checkers do not see: it is read under the lock it was made under.
        bool ours;
        {
            const std::lock_guard lock(waitingWork().mutex);
            ours = event->type() == runWorkEvent();
        }
        if (!ours)
            return QObject::event(event);
        runOldestWaitingWork();
        return true;
    }
};

// Hands `work` to the main thread; refused (dropped on the caller's thread) once the application has ended.
void handOver(std::function<void()> work) {
    std::function<void()> refused;
    const std::lock_guard lock(waitingWork().mutex);
    switch (waitingWork().accepting) {
    case WaitingWork::Accepting::beforeTheApplication:
        // Its event is posted once the application exists.
        waitingWork().work.push_back(std::move(work));
        break;
    case WaitingWork::Accepting::whileItRuns:
        waitingWork().work.push_back(std::move(work));
        postRunWorkEvent(waitingWork().runner);
        break;
    case WaitingWork::Accepting::afterItEnded:
        refused = std::move(work);
        break;
    }
}

// A timer is made, cancelled and fires on the main thread; it may be asked for from any thread.
class QtTimer final : public Timer, public std::enable_shared_from_this<QtTimer> {
public:
    QtTimer(std::function<void()> work, bool repeats)
        : work_(std::move(work))
        , repeats_(repeats) {}

    void start(int milliseconds) {
        auto self = shared_from_this();
        handOver([self, milliseconds] {
            if (self->cancelled_)
                return;
            auto* timer = new QTimer(mainContext());
            timer->setSingleShot(!self->repeats_);
            timer->setTimerType(Qt::PreciseTimer);
            self->timer_ = timer;
            QObject::connect(timer, &QTimer::timeout, timer, [self, timer] {
                if (self->cancelled_) {
                    timer->deleteLater();
                    return;
                }
                if (!self->repeats_) {
                    self->cancelled_ = true;
                    timer->deleteLater();
                }
                auto work = self->work_; // keep the callable alive even if it cancels its own timer
                work();
            });
            timer->start(milliseconds);
        });
    }

    void cancel() override {
        if (cancelled_.exchange(true))
            return;
        auto self = shared_from_this();
        handOver([self] {
            if (self->timer_)
                self->timer_->deleteLater();
        });
    }

    bool isActive() const override { return !cancelled_; }

private:
    std::function<void()> work_;
    bool repeats_;
    std::atomic<bool> cancelled_{false};
    QPointer<QTimer> timer_; // touched on the main thread only
};

// The application is ending (its destructor runs, on the main thread): no background work may still run once
// it and the program's statics go, and no work is handed over any more. Work still waiting never runs.
void closeMainQueue() {
    endBackgroundWork();
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard lock(waitingWork().mutex);
        waitingWork().accepting = WaitingWork::Accepting::afterItEnded;
        waitingWork().runner = nullptr; // deleted with the application, its parent
        dropped.swap(waitingWork().work);
    }
    waitForBackgroundWork();
}

// Runs as the application is made, on the main thread, before any thread can hand work to this application:
// the runner lives on the main thread from its start.
void openMainQueue() {
    auto* runner = new MainThreadRunner(QCoreApplication::instance());
    {
        const std::lock_guard lock(waitingWork().mutex);
        waitingWork().accepting = WaitingWork::Accepting::whileItRuns;
        waitingWork().runner = runner;
        for (std::size_t i = 0; i < waitingWork().work.size(); ++i)
            postRunWorkEvent(runner);
    }
    qAddPostRoutine(closeMainQueue);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(openMainQueue)

void QtMainQueue::async(std::function<void()> work) {
    handOver(std::move(work));
}

std::shared_ptr<Timer> QtMainQueue::schedule(double seconds, std::function<void()> work, bool repeats) {
    auto timer = std::make_shared<QtTimer>(std::move(work), repeats);
    const double ms = std::ceil(std::max(0.0, seconds) * 1000.0);
    timer->start(static_cast<int>(std::min(ms, 2147483647.0)));
    return timer;
}

bool QtMainQueue::isCurrent() const {
    return mainContext() && QThread::currentThread() == mainContext()->thread();
}

} // namespace host
