#include "CorvaneHost/BackgroundWork.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace host {
namespace {

struct Running {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

// Kept for the program's life: the last thread to end may still be signalling while the program ends.
Running& running() {
    static Running* const instance = new Running;
    return *instance;
}

std::atomic<bool> ending{false};

} // namespace

void endBackgroundWork() {
    ending = true;
}

bool backgroundWorkShouldEnd() {
    return ending;
}

void backgroundWorkStarted() {
    // A program's background work is ended and waited for as its application object goes (the main queue
    // does it). This is the last resort of a program that calls exit() with its application still there; it
    // runs after the statics first made after this point have gone, so it is no more than that.
    static std::once_flag waitsAtExit;
    std::call_once(waitsAtExit, [] {
        std::atexit([] {
            endBackgroundWork();
            waitForBackgroundWork();
        });
    });
    const std::lock_guard lock(running().mutex);
    ++running().count;
}

void backgroundWorkEnded() {
    const std::lock_guard lock(running().mutex);
    --running().count;
    running().ended.notify_all();
}

bool waitForBackgroundWork(double seconds) {
    std::unique_lock lock(running().mutex);
    return running().ended.wait_for(lock, std::chrono::duration<double>(seconds),
                                    [] { return running().count == 0; });
}

} // namespace host
