#pragma once

#include "CorvaneHost/MainQueue.h"

namespace host {

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

// The main queue of a Qt program: the event loop of the application object's thread.
class QtMainQueue final : public MainQueue {
public:
    void async(std::function<void()> work) override;
    std::shared_ptr<Timer> schedule(double seconds, std::function<void()> work, bool repeats) override;
    bool isCurrent() const override;
};

} // namespace host
