#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace host {

class SerialQueue;

// Watches one descriptor for readability on a serial queue. The event handler runs on the queue's thread each
// time the descriptor is readable (level-triggered: data left unread makes it fire again), also at end of
// file and on errors, which a read then reports.
//
// `cancel()` may be called from any thread, also from inside the source's own handler, as often as one likes.
// When it returns, the event handler is not running (unless cancel was called from inside it) and never runs
// again. The cancel handler then runs exactly once on the queue; it is where the descriptor is closed, so no
// descriptor is closed while a handler could still read it.
class ReadSource {
public:
    virtual ~ReadSource() = default;
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;
    // Stops delivering events until `resume()`, for a reader that has seen end of file and waits for its
    // owner to cancel it (the descriptor would otherwise stay readable and fire without end).
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual int fd() const = 0;
};

// A serial queue with one worker thread: work runs in the order it was queued, one piece at a time, and read
// sources deliver their events on the same thread. Destroying the queue cancels its sources (running their
// cancel handlers), finishes the work already queued and ends the thread.
class SerialQueue {
public:
    explicit SerialQueue(QString label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const QString& label() const;

    // Runs `work` on the queue's thread. Callable from any thread.
    void async(std::function<void()> work);
    // True on the queue's thread.
    bool isCurrent() const;

    // A source watching `fd`, active at once. The queue does not own the descriptor: closing it is the cancel
    // handler's job.
    std::shared_ptr<ReadSource> makeReadSource(int fd, std::function<void()> eventHandler,
                                               std::function<void()> cancelHandler);

    // Delivers `work` to the program's main queue (host::mainQueue()).
    static void toMain(std::function<void()> work);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace host
