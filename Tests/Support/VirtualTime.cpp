#include "Support/VirtualTime.h"

#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Services.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimeZone>
#include <cmath>

namespace test {

struct VirtualTime::Entry {
    std::function<void()> work;
    qint64 intervalMs = 0;
    bool repeats = false;
    bool cancelled = false;
};

class VirtualTime::VirtualTimer final : public host::Timer {
public:
    VirtualTimer(VirtualTime& owner, std::shared_ptr<Entry> entry)
        : owner_(owner)
        , entry_(std::move(entry)) {}
    void cancel() override {
        std::lock_guard lock(owner_.mutex_);
        entry_->cancelled = true;
    }
    bool isActive() const override {
        std::lock_guard lock(owner_.mutex_);
        return !entry_->cancelled;
    }

private:
    VirtualTime& owner_;
    std::shared_ptr<Entry> entry_;
};

VirtualTime::VirtualTime(QDateTime start)
    : nowMs_(start.toMSecsSinceEpoch()) {}

void VirtualTime::async(std::function<void()> work) {
    schedule(0, std::move(work), false);
}

std::shared_ptr<host::Timer> VirtualTime::schedule(double seconds, std::function<void()> work, bool repeats) {
    auto entry = std::make_shared<Entry>();
    entry->work = std::move(work);
    entry->intervalMs = static_cast<qint64>(std::llround(std::max(0.0, seconds) * 1000.0));
    entry->repeats = repeats;
    std::lock_guard lock(mutex_);
    queue_.emplace(std::make_pair(nowMs_ + entry->intervalMs, sequence_++), entry);
    return std::make_shared<VirtualTimer>(*this, entry);
}

void VirtualTime::sleep(double seconds) {
    std::lock_guard lock(mutex_);
    if (seconds > 0)
        nowMs_ += static_cast<qint64>(std::llround(seconds * 1000.0));
}

QDateTime VirtualTime::now() const {
    std::lock_guard lock(mutex_);
    return QDateTime::fromMSecsSinceEpoch(nowMs_, QTimeZone::utc());
}

bool VirtualTime::runNextDue(qint64 limitMs) {
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(mutex_);
        while (!queue_.empty() && queue_.begin()->second->cancelled)
            queue_.erase(queue_.begin());
        if (queue_.empty() || queue_.begin()->first.first > limitMs)
            return false;
        auto first = queue_.begin();
        nowMs_ = std::max(nowMs_, first->first.first);
        entry = first->second;
        queue_.erase(first);
        if (entry->repeats)
            queue_.emplace(std::make_pair(nowMs_ + std::max<qint64>(entry->intervalMs, 1), sequence_++),
                           entry);
        else
            entry->cancelled = true;
    }
    auto work = entry->work;
    work();
    return true;
}

int VirtualTime::advance(double seconds) {
    qint64 limit;
    {
        std::lock_guard lock(mutex_);
        limit = nowMs_ + static_cast<qint64>(std::llround(seconds * 1000.0));
    }
    int ran = 0;
    while (runNextDue(limit))
        ++ran;
    std::lock_guard lock(mutex_);
    nowMs_ = std::max(nowMs_, limit);
    return ran;
}

int VirtualTime::runUntilIdle() {
    return advance(0);
}

bool VirtualTime::runUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        if (runUntilIdle() == 0) {
            if (QCoreApplication::instance())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
    }
    return true;
}

size_t VirtualTime::pendingCount() const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const auto& [key, entry] : queue_)
        count += entry->cancelled ? 0 : 1;
    return count;
}

double VirtualTime::nextDueIn() const {
    std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : queue_)
        if (!entry->cancelled)
            return (key.first - nowMs_) / 1000.0;
    return -1;
}

VirtualTimeScope::VirtualTimeScope()
    : time_(std::make_shared<VirtualTime>())
    , previousQueue_(host::replaceService(host::services().mainQueue, time_))
    , previousClock_(host::replaceService(host::services().clock, time_)) {}

VirtualTimeScope::~VirtualTimeScope() {
    // Background work hands its result to this queue: none may still be on its way once the queue goes.
    host::waitForBackgroundWork();
    host::replaceService(host::services().mainQueue, std::move(previousQueue_));
    host::replaceService(host::services().clock, std::move(previousClock_));
}

} // namespace test
