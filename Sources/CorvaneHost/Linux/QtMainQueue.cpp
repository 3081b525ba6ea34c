#include "CorvaneHost/Linux/QtMainQueue.h"

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

class QtTimer final : public Timer, public std::enable_shared_from_this<QtTimer> {
public:
    QtTimer(std::function<void()> work, bool repeats)
        : work_(std::move(work))
        , repeats_(repeats) {}

    void start(int milliseconds) {
        auto self = shared_from_this();
        QMetaObject::invokeMethod(mainContext(), [self, milliseconds] {
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
        QMetaObject::invokeMethod(mainContext(), [self] {
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

// Work handed over from any thread to the main thread waits here, in the order it was handed over, under a
// lock that thread checkers see (Qt's event queue hands things over under locks of Qt's own, which they do
// not).
struct WaitingWork {
    std::mutex mutex;
    std::deque<std::function<void()>> work;
};

WaitingWork& waitingWork() {
    static WaitingWork waiting;
    return waiting;
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
    next();
}

// Each hand-over posts one event to this object on the main thread, which runs the oldest waiting work; the
// events carry nothing else.
class MainThreadRunner final : public QObject {
protected:
    bool event(QEvent*) override {
        runOldestWaitingWork();
        return true;
    }
};

QObject* mainThreadRunner() {
    // Made once and kept for the program's life, as the main thread's own queue is.
    static QObject* const runner = [] {
        auto* made = new MainThreadRunner;
        made->moveToThread(mainContext()->thread());
        return made;
    }();
    return runner;
}

} // namespace

void QtMainQueue::async(std::function<void()> work) {
    {
        const std::lock_guard lock(waitingWork().mutex);
        waitingWork().work.push_back(std::move(work));
    }
    QCoreApplication::postEvent(mainThreadRunner(), new QEvent(QEvent::User));
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
