#include "CorvaneHost/SerialQueue.h"
#include "Support/SocketPeer.h"
#include "Support/VirtualTime.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Pair {
    int reader = -1;
    int writer = -1;
    Pair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds), 0);
        reader = fds[0];
        writer = fds[1];
    }
    ~Pair() {
        if (writer >= 0)
            ::close(writer);
    }
};

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(SerialQueue, RunsWorkInOrderOnOneThreadThatIsNotTheCaller) {
    host::SerialQueue queue("test.order");
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::atomic<bool> current{false};
    for (int i = 0; i < 100; ++i)
        queue.async([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            if (i == 99)
                current = queue.isCurrent();
        });
    ASSERT_TRUE(test::waitFor([&] {
        std::lock_guard lock(mutex);
        return order.size() == 100;
    }));
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
    for (auto id : threads)
        EXPECT_EQ(id, threads.front());
    EXPECT_NE(threads.front(), std::this_thread::get_id());
    EXPECT_TRUE(current);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, ReadSourceFiresOnTheQueueAndHandsToTheMainQueue) {
    test::VirtualTimeScope time;
    host::SerialQueue queue("test.read");
    Pair pair;
    std::atomic<int> onQueue{0};
    QByteArray received;
    auto source = queue.makeReadSource(
        pair.reader,
        [&] {
            if (queue.isCurrent())
                ++onQueue;
            char chunk[4];
            const ssize_t n = ::read(pair.reader, chunk, sizeof chunk);
            if (n > 0)
                host::SerialQueue::toMain([&, bytes = QByteArray(chunk, n)] { received += bytes; });
        },
        [fd = pair.reader] { ::close(fd); });
    ASSERT_EQ(::write(pair.writer, "0123456789", 10), 10);
    // Level-triggered: what one read leaves behind fires the source again.
    ASSERT_TRUE(time->runUntil([&] { return received.size() == 10; }));
    EXPECT_EQ(received, "0123456789");
    EXPECT_GE(onQueue.load(), 3);
    source->cancel();
    EXPECT_TRUE(test::waitFor([&] { return !isOpen(pair.reader); }));
}

TEST(SerialQueue, CancelWaitsForARunningHandlerAndRunsTheCancelHandlerOnce) {
    host::SerialQueue queue("test.cancel");
    Pair pair;
    std::atomic<bool> inHandler{false};
    std::atomic<bool> release{false};
    std::atomic<int> handlerRuns{0};
    std::atomic<int> cancelRuns{0};
    std::atomic<bool> handlerAfterCancel{false};
    std::atomic<bool> cancelled{false};
    auto source = queue.makeReadSource(
        pair.reader,
        [&] {
            if (cancelled)
                handlerAfterCancel = true;
            ++handlerRuns;
            inHandler = true;
            while (!release)
                std::this_thread::yield();
            char chunk[64];
            (void)!::read(pair.reader, chunk, sizeof chunk);
            inHandler = false;
        },
        [&, fd = pair.reader] {
            ++cancelRuns;
            ::close(fd);
        });
    ASSERT_EQ(::write(pair.writer, "x", 1), 1);
    ASSERT_TRUE(test::waitFor([&] { return inHandler.load(); }));
    std::thread canceller([&] {
        source->cancel();
        // When cancel returns, the handler is no longer running.
        EXPECT_FALSE(inHandler.load());
        cancelled = true;
    });
    std::this_thread::yield();
    release = true;
    canceller.join();
    source->cancel();
    ::send(pair.writer, "y", 1, MSG_NOSIGNAL); // more data, but nobody may read it now
    ASSERT_TRUE(test::waitFor([&] { return cancelRuns.load() == 1; }));
    EXPECT_FALSE(handlerAfterCancel.load());
    EXPECT_EQ(handlerRuns.load(), 1);
    EXPECT_TRUE(source->isCancelled());
}

TEST(SerialQueue, ASourceMayCancelItselfFromItsOwnHandler) {
    host::SerialQueue queue("test.self");
    Pair pair;
    std::shared_ptr<host::ReadSource> source;
    std::mutex mutex;
    std::atomic<int> runs{0};
    std::atomic<bool> closed{false};
    {
        std::lock_guard lock(mutex);
        source = queue.makeReadSource(
            pair.reader,
            [&] {
                ++runs;
                std::lock_guard lock(mutex);
                source->cancel(); // no deadlock, and no second run although the data stays unread
            },
            [&, fd = pair.reader] {
                ::close(fd);
                closed = true;
            });
    }
    ASSERT_EQ(::write(pair.writer, "data", 4), 4);
    ASSERT_TRUE(test::waitFor([&] { return closed.load(); }));
    EXPECT_EQ(runs.load(), 1);
}

TEST(SerialQueue, SuspendedSourceStaysQuietAfterEndOfFileUntilResumed) {
    host::SerialQueue queue("test.suspend");
    Pair pair;
    std::atomic<int> runs{0};
    std::shared_ptr<host::ReadSource> source;
    std::mutex mutex;
    {
        std::lock_guard lock(mutex);
        source = queue.makeReadSource(
            pair.reader,
            [&] {
                ++runs;
                std::lock_guard lock(mutex);
                source->suspend();
            },
            [fd = pair.reader] { ::close(fd); });
    }
    ::close(pair.writer);
    pair.writer = -1; // end of file: readable for ever
    ASSERT_TRUE(test::waitFor([&] { return runs.load() == 1; }));
    std::atomic<bool> marker{false};
    queue.async([&] { marker = true; });
    ASSERT_TRUE(test::waitFor([&] { return marker.load(); }));
    EXPECT_EQ(runs.load(), 1);
    source->resume();
    ASSERT_TRUE(test::waitFor([&] { return runs.load() == 2; }));
    source->cancel();
}

TEST(SerialQueue, DestroyingTheQueueRunsCancelHandlersAndEndsItsThread) {
    const int before = test::openDescriptorCount();
    std::atomic<int> cancelRuns{0};
    std::vector<std::shared_ptr<host::ReadSource>> sources;
    {
        host::SerialQueue queue("test.destroy");
        for (int i = 0; i < 20; ++i) {
            int fds[2];
            ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
            ::close(fds[1]);
            sources.push_back(queue.makeReadSource(
                fds[0], [] {},
                [&, fd = fds[0]] {
                    ++cancelRuns;
                    ::close(fd);
                }));
        }
    }
    EXPECT_EQ(cancelRuns.load(), 20);
    for (auto& source : sources) {
        EXPECT_TRUE(source->isCancelled());
        source->cancel(); // after the queue: harmless
    }
    EXPECT_EQ(cancelRuns.load(), 20);
    EXPECT_EQ(test::openDescriptorCount(), before);
}

TEST(SerialQueue, AQueueDestroyedOnItsOwnThreadFinishesCleanly) {
    auto last = std::make_shared<host::SerialQueue>("test.ownthread");
    std::atomic<bool> posted{false};
    std::atomic<bool> done{false};
    last->async([&last, &posted, &done] {
        while (!posted)
            std::this_thread::yield();
        last.reset(); // the queue's last owner lets go on the queue's own thread
        done = true;
    });
    posted = true;
    EXPECT_TRUE(test::waitFor([&] { return done.load(); }));
}

} // namespace
