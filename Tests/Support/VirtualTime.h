#pragma once

#include "CorvaneHost/MainQueue.h"

#include <QDateTime>
#include <QTimeZone>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace test {

// A main queue and clock in virtual time: nothing runs until the test drives it. `advance(seconds)` moves the
// clock forward, running every piece of work that falls due, in order of due time (then of scheduling), with
// the clock set to each one's due time. Work may be queued from any thread; it runs on the driving thread.
class VirtualTime final : public host::MainQueue, public host::Clock {
public:
    explicit VirtualTime(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(12, 0), QTimeZone::utc()));

    void async(std::function<void()> work) override;
    std::shared_ptr<host::Timer> schedule(double seconds, std::function<void()> work, bool repeats) override;
    bool isCurrent() const override { return true; }
    QDateTime now() const override;
    // A blocking wait of the code under test: the clock moves on, nothing runs (the blocked thread would not
    // run queued work either).
    void sleep(double seconds) override;

    // Runs everything due by now + seconds; returns how many pieces of work ran.
    int advance(double seconds);
    // Runs what is due now (queued work and elapsed timers), including work that it queues in turn.
    int runUntilIdle();
    // Runs due work, waiting in real time up to `timeoutMs` for `done` (for work queued by other threads).
    bool runUntil(const std::function<bool()>& done, int timeoutMs = 5000);
    // The number of pieces of work waiting, timers included.
    size_t pendingCount() const;
    // Seconds from now to the next piece of work, or a negative number when nothing waits.
    double nextDueIn() const;

private:
    struct Entry;
    class VirtualTimer;
    bool runNextDue(qint64 limitMs);

    mutable std::recursive_mutex mutex_;
    qint64 nowMs_;
    quint64 sequence_ = 0;
    std::multimap<std::pair<qint64, quint64>, std::shared_ptr<Entry>> queue_;
};

// Installs a VirtualTime as the main queue and clock for its lifetime; restores the previous ones after.
class VirtualTimeScope {
public:
    VirtualTimeScope();
    ~VirtualTimeScope();
    VirtualTime& time() { return *time_; }
    VirtualTime* operator->() { return time_.get(); }

private:
    std::shared_ptr<VirtualTime> time_;
    std::shared_ptr<host::MainQueue> previousQueue_;
    std::shared_ptr<host::Clock> previousClock_;
};

} // namespace test
