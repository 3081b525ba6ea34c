#pragma once

#include "CorvaneCore/Messaging/IPCProtocol.h"

#include <functional>
#include <memory>

namespace host {
class Timer;
}

// Counts Chrome's on-screen windows itself while the helper cannot, every few seconds, and hands each reading
// to its owner. Own it through a std::shared_ptr: its timer holds it weakly.
class DegradedWatcher : public std::enable_shared_from_this<DegradedWatcher> {
public:
    struct Reading {
        int count = 0;
        CountConfidence confidence = CountConfidence::certain;
        bool operator==(const Reading&) const = default;
    };

    static constexpr double pollInterval = 3.0;

    explicit DegradedWatcher(std::function<void(const Reading&)> onReading);
    ~DegradedWatcher();

    // Starts polling (first reading one interval later); nothing when already started.
    void start();
    void stop();

    // What the window list says now. The count is of Chrome's windows of every profile.
    static Reading currentReading();

private:
    void poll();

    std::shared_ptr<host::Timer> timer;
    std::function<void(const Reading&)> onReading;
};
