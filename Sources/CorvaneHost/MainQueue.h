#pragma once

#include <QDateTime>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace host {

// The current time. Every "now" of the product comes from here so tests can run in virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Blocks the calling thread for `seconds` (the few waits that must hold their caller, such as the pause
    // after asking a program to quit). Virtual clocks only move their time on.
    virtual void sleep(double seconds) {
        if (seconds > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
};

// A scheduled piece of work on the main queue. Cancelling is safe from any thread and at any time;
// a cancelled timer never runs again. Dropping the handle does not cancel the timer.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void cancel() = 0;
    virtual bool isActive() const = 0;
};

// The program's main queue: all program logic runs here.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    // Runs `work` on the main queue soon, after what is already queued. Callable from any thread.
    virtual void async(std::function<void()> work) = 0;
    // Runs `work` on the main queue after `seconds` (and again every `seconds` when `repeats`).
    // Callable from any thread.
    virtual std::shared_ptr<Timer> schedule(double seconds, std::function<void()> work,
                                            bool repeats = false) = 0;
    // True on the thread that runs the main queue.
    virtual bool isCurrent() const = 0;
};

} // namespace host
