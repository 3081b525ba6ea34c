#include "CorvaneHost/SerialQueue.h"

#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <errno.h>
#include <mutex>
#include <pthread.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace host {

namespace {
class Source;
}

struct SerialQueue::Impl : std::enable_shared_from_this<SerialQueue::Impl> {
    QString label;
    int epollFD = -1;
    int wakeFD = -1;

    std::mutex mutex;
    std::condition_variable handlerFinished;
    std::deque<std::function<void()>> tasks;
    std::unordered_map<quint64, std::shared_ptr<Source>> sources;
    quint64 nextSourceID = 1;
    quint64 runningSource = 0; // the source whose handler runs right now, 0 for none
    bool stopping = false;
    bool exited = false;
    std::thread::id workerID;
    std::thread worker;

    ~Impl() {
        if (epollFD >= 0)
            ::close(epollFD);
        if (wakeFD >= 0)
            ::close(wakeFD);
    }

    void wake() {
        const quint64 one = 1;
        ssize_t written;
        do {
            written = ::write(wakeFD, &one, sizeof one);
        } while (written < 0 && errno == EINTR);
    }

    // Queues work; false when the worker has already ended (the caller then runs what must not be lost).
    bool enqueue(std::function<void()> work) {
        {
            std::lock_guard lock(mutex);
            if (exited)
                return false;
            tasks.push_back(std::move(work));
        }
        wake();
        return true;
    }

    void run();
    void cancel(Source& source);
};

namespace {

class Source final : public ReadSource {
public:
    Source(std::weak_ptr<SerialQueue::Impl> queue, quint64 id, int fd, std::function<void()> eventHandler,
           std::function<void()> cancelHandler)
        : queue_(std::move(queue))
        , id_(id)
        , fd_(fd)
        , eventHandler_(std::make_shared<std::function<void()>>(std::move(eventHandler)))
        , cancelHandler_(std::move(cancelHandler)) {}

    void cancel() override {
        if (auto queue = queue_.lock()) {
            queue->cancel(*this);
            return;
        }
        // The queue is gone: nothing can deliver events any more; still honour the cancel handler once.
        std::function<void()> handler;
        {
            std::lock_guard lock(localMutex_);
            if (cancelled_)
                return;
            cancelled_ = true;
            handler = std::move(cancelHandler_);
            eventHandler_ = nullptr;
        }
        if (handler)
            handler();
    }

    bool isCancelled() const override {
        std::lock_guard lock(localMutex_);
        return cancelled_;
    }

    void suspend() override { setWatching(false); }
    void resume() override { setWatching(true); }
    int fd() const override { return fd_; }

    // Used by the queue, which serialises these under its own mutex.
    quint64 id() const { return id_; }
    bool markCancelled() {
        std::lock_guard lock(localMutex_);
        if (cancelled_)
            return false;
        cancelled_ = true;
        return true;
    }
    bool deliverable() const {
        std::lock_guard lock(localMutex_);
        return !cancelled_ && !suspended_;
    }
    // Shared, not copied: a handler keeps its state from one event to the next.
    std::shared_ptr<std::function<void()>> eventHandler() const {
        std::lock_guard lock(localMutex_);
        return eventHandler_;
    }
    std::function<void()> takeCancelHandler() {
        std::lock_guard lock(localMutex_);
        eventHandler_ = nullptr;
        return std::move(cancelHandler_);
    }

private:
    void setWatching(bool watching) {
        auto queue = queue_.lock();
        std::lock_guard lock(localMutex_);
        if (cancelled_ || suspended_ == !watching)
            return;
        suspended_ = !watching;
        if (!queue)
            return;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = id_;
        if (watching)
            ::epoll_ctl(queue->epollFD, EPOLL_CTL_ADD, fd_, &event);
        else
            ::epoll_ctl(queue->epollFD, EPOLL_CTL_DEL, fd_, nullptr);
    }

    std::weak_ptr<SerialQueue::Impl> queue_;
    const quint64 id_;
    const int fd_;
    mutable std::mutex localMutex_;
    bool cancelled_ = false;
    bool suspended_ = false;
    std::shared_ptr<std::function<void()>> eventHandler_;
    std::function<void()> cancelHandler_;
};

} // namespace

void SerialQueue::Impl::cancel(Source& source) {
    std::shared_ptr<Source> held;
    {
        std::unique_lock lock(mutex);
        if (!source.markCancelled())
            return;
        // Out of the poll set before the cancel handler may close the descriptor.
        ::epoll_ctl(epollFD, EPOLL_CTL_DEL, source.fd(), nullptr);
        auto found = sources.find(source.id());
        if (found != sources.end()) {
            held = found->second;
            sources.erase(found);
        }
        // From another thread: wait for a handler of this source that is running now, so that nothing reads
        // the descriptor once cancel has returned. From the worker itself there is nothing to wait for.
        if (std::this_thread::get_id() != workerID)
            handlerFinished.wait(lock, [&] { return runningSource != source.id(); });
    }
    auto handler = source.takeCancelHandler();
    if (!handler)
        return;
    auto keep = held; // the source lives until its cancel handler has run
    if (!enqueue([handler, keep] { handler(); }))
        handler();
}

void SerialQueue::Impl::run() {
    {
        const QByteArray name = label.toUtf8().left(15);
        pthread_setname_np(pthread_self(), name.constData());
    }
    constexpr int maxEvents = 64;
    epoll_event events[maxEvents];
    for (;;) {
        // Work first, in order, one piece at a time.
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard lock(mutex);
                if (tasks.empty())
                    break;
                work = std::move(tasks.front());
                tasks.pop_front();
            }
            work();
        }
        {
            std::lock_guard lock(mutex);
            if (stopping && tasks.empty()) {
                exited = true;
                break;
            }
        }
        const int count = ::epoll_wait(epollFD, events, maxEvents, -1);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            // The poll set is unusable: stop rather than spin. Queued work still runs on the next round.
            std::lock_guard lock(mutex);
            stopping = true;
            continue;
        }
        for (int i = 0; i < count; ++i) {
            const quint64 id = events[i].data.u64;
            if (id == 0) {
                quint64 value;
                while (::read(wakeFD, &value, sizeof value) < 0 && errno == EINTR) {
                }
                continue;
            }
            std::shared_ptr<std::function<void()>> handler;
            {
                std::lock_guard lock(mutex);
                auto found = sources.find(id);
                if (found == sources.end() || !found->second->deliverable())
                    continue;
                handler = found->second->eventHandler();
                runningSource = id;
            }
            if (handler && *handler)
                (*handler)();
            {
                std::lock_guard lock(mutex);
                runningSource = 0;
            }
            handlerFinished.notify_all();
        }
    }
}

SerialQueue::SerialQueue(QString label)
    : impl_(std::make_shared<Impl>()) {
    impl_->label = std::move(label);
    impl_->epollFD = ::epoll_create1(EPOLL_CLOEXEC);
    impl_->wakeFD = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl_->epollFD < 0 || impl_->wakeFD < 0)
        throw std::runtime_error(std::string("could not create a serial queue: ") + std::strerror(errno));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = 0;
    ::epoll_ctl(impl_->epollFD, EPOLL_CTL_ADD, impl_->wakeFD, &event);
    std::shared_ptr<Impl> impl = impl_;
    // The worker holds the queue's state, so a queue destroyed from its own thread can still finish.
    std::lock_guard lock(impl_->mutex);
    impl_->worker = std::thread([impl] { impl->run(); });
    impl_->workerID = impl_->worker.get_id();
}

SerialQueue::~SerialQueue() {
    std::vector<std::shared_ptr<Source>> remaining;
    {
        std::lock_guard lock(impl_->mutex);
        for (auto& [id, source] : impl_->sources)
            remaining.push_back(source);
    }
    // Every source still watching gets its cancel handler, so no descriptor is left open.
    for (auto& source : remaining)
        source->cancel();
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake();
    if (std::this_thread::get_id() == impl_->workerID)
        impl_->worker.detach();
    else if (impl_->worker.joinable())
        impl_->worker.join();
}

const QString& SerialQueue::label() const {
    return impl_->label;
}

void SerialQueue::async(std::function<void()> work) {
    impl_->enqueue(std::move(work));
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == impl_->workerID;
}

std::shared_ptr<ReadSource> SerialQueue::makeReadSource(int fd, std::function<void()> eventHandler,
                                                        std::function<void()> cancelHandler) {
    std::lock_guard lock(impl_->mutex);
    const quint64 id = impl_->nextSourceID++;
    auto source = std::make_shared<Source>(impl_, id, fd, std::move(eventHandler), std::move(cancelHandler));
    impl_->sources.emplace(id, source);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = id;
    ::epoll_ctl(impl_->epollFD, EPOLL_CTL_ADD, fd, &event);
    return source;
}

void SerialQueue::toMain(std::function<void()> work) {
    mainQueue().async(std::move(work));
}

} // namespace host
