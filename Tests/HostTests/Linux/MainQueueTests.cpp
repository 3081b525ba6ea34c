// The main queue of a Qt program: work handed to it from any thread runs on the main thread, and a program
// ends cleanly while its background work still hands work over.
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include "Support/Eventually.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using test::pumpUntil;

QThread* mainThread() {
    return QCoreApplication::instance()->thread();
}

// First in this program: the first hand-over to the main queue comes from another thread.
TEST(QtMainQueueTest, WorkHandedOverFirstFromAnotherThreadRunsOnTheMainThread) {
    std::atomic<QThread*> ranOn{nullptr};
    std::thread([&] { host::mainQueue().async([&] { ranOn = QThread::currentThread(); }); }).join();
    ASSERT_TRUE(pumpUntil([&] { return ranOn != nullptr; }));
    EXPECT_EQ(ranOn, mainThread());
}

TEST(QtMainQueueTest, WorkRunsInTheOrderItWasHandedOverFromEveryThread) {
    std::vector<int> order;
    std::atomic<int> handedOver{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                host::mainQueue().async([&, value = t * 100 + i] { order.push_back(value); });
            ++handedOver;
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 200; }));
    // Each thread's work in its own order, all of it on the main thread.
    for (int t = 0; t < 4; ++t) {
        int last = -1;
        for (int value : order)
            if (value / 100 == t) {
                EXPECT_GT(value, last);
                last = value;
            }
    }
}

TEST(QtMainQueueTest, ATimerAskedForFromAnotherThreadFiresOnTheMainThread) {
    std::atomic<QThread*> firedOn{nullptr};
    std::shared_ptr<host::Timer> timer;
    std::thread([&] {
        timer = host::mainQueue().schedule(0.01, [&] { firedOn = QThread::currentThread(); });
    }).join();
    ASSERT_TRUE(pumpUntil([&] { return firedOn != nullptr; }));
    EXPECT_EQ(firedOn, mainThread());
    EXPECT_FALSE(timer->isActive());
}

TEST(QtMainQueueTest, AProgramEndsCleanlyWhileItsBackgroundWorkStillHandsWorkOver) {
    // One run in many used to meet the queue's statics already gone; the sanitizer builds report that too.
    for (int run = 0; run < 20; ++run) {
        QProcess program;
        program.start(QStringLiteral(CORVANE_BUILD_DIR "/Tests/HandOverAtExit"), {});
        ASSERT_TRUE(program.waitForFinished(20000)) << "run " << run << " did not end";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "run " << run;
        EXPECT_EQ(program.exitCode(), 0)
            << "run " << run << ": " << program.readAllStandardError().toStdString();
    }
}

} // namespace
