#include "CorvaneHost/Linux/Processes/ApplicationWatcher.h"
#include "CorvaneHost/Linux/Processes/ProcessListing.h"

#include <QFile>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <future>
#include <gmock/gmock.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using host::ApplicationEvent;
using host::ApplicationWatcher;
using host::RunningApplication;
using namespace std::chrono_literals;

constexpr double pollSeconds = 0.02;

// What the watcher lists and what it says; the listing counts how often it is taken, and the hint of starts
// how often it is asked, once a poll.
struct World {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<RunningApplication> running;
    std::vector<std::pair<ApplicationEvent, qint32>> reports;
    int listings = 0;
    int polls = 0;
    bool started = false;

    ApplicationWatcher::Listing listing() {
        return [this] {
            std::lock_guard lock(mutex);
            ++listings;
            changed.notify_all();
            return running;
        };
    }
    ApplicationWatcher::Report report() {
        return [this](ApplicationEvent event, const RunningApplication& application) {
            std::lock_guard lock(mutex);
            reports.emplace_back(event, application.processIdentifier);
            changed.notify_all();
        };
    }
    ApplicationWatcher::Started starts() {
        return [this] {
            std::lock_guard lock(mutex);
            ++polls;
            changed.notify_all();
            return std::exchange(started, false);
        };
    }
    void announceStart() {
        std::lock_guard lock(mutex);
        started = true;
    }
    // Waits for `count` more polls; the listings taken by then.
    int listingsAfterPolls(int count) {
        std::unique_lock lock(mutex);
        const int until = polls + count;
        changed.wait_for(lock, 30s, [&] { return polls >= until; });
        return listings;
    }
    int listingCount() {
        std::lock_guard lock(mutex);
        return listings;
    }
    // Waits up to `within` for `count` listings in all.
    bool listsAtLeast(int count, std::chrono::milliseconds within) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, within, [&] { return listings >= count; });
    }
    void launch(qint32 pid) {
        std::lock_guard lock(mutex);
        running.push_back({pid, QStringLiteral("com.example.app"), {}, {}});
    }
    bool heard(ApplicationEvent event, qint32 pid, std::chrono::milliseconds within = 2s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, within, [&] {
            return std::find(reports.begin(), reports.end(), std::pair(event, pid)) != reports.end();
        });
    }
};

pid_t startSleeper() {
    pid_t pid = 0;
    char program[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {program, seconds, nullptr};
    EXPECT_EQ(::posix_spawn(&pid, program, nullptr, nullptr, argv, environ), 0);
    return pid;
}

// While nothing starts, the watcher leaves the listing out; a start is listed at the next poll, and the poll
// after it lists again, so a program that replaced itself right after it started is seen too.
TEST(ApplicationWatcherTest, ListsOnlyAfterAStartWhileItIsToldOfStarts) {
    World world;
    ApplicationWatcher watcher(world.listing(), world.report(), pollSeconds, world.starts(), 60);
    EXPECT_EQ(world.listingsAfterPolls(15), 1) << "only the first listing, while nothing started";

    const pid_t sleeper = startSleeper();
    world.launch(sleeper);
    world.announceStart();
    EXPECT_TRUE(world.heard(ApplicationEvent::didLaunch, sleeper, 10s));
    EXPECT_EQ(world.listingsAfterPolls(15), 3) << "the start's listing and the one after it";

    // Its end is told at once by its process descriptor, listing or not.
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
    EXPECT_TRUE(world.heard(ApplicationEvent::didTerminate, sleeper, 10s));
}

// A change no start announces (an older process that became an application) is listed within the quiet
// interval, and not before it; without a hint of starts every poll lists.
TEST(ApplicationWatcherTest, ListsAtTheQuietIntervalAndAtEveryPollWithoutHints) {
    World quiet;
    const auto made = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point listedAgain;
    ApplicationWatcher::Listing listing = quiet.listing();
    ApplicationWatcher watcher(
        [&] {
            if (quiet.listingCount() == 1)
                listedAgain = std::chrono::steady_clock::now();
            return listing();
        },
        quiet.report(), pollSeconds, quiet.starts(), 0.2);
    const pid_t sleeper = startSleeper();
    quiet.launch(sleeper);
    EXPECT_TRUE(quiet.heard(ApplicationEvent::didLaunch, sleeper, 10s));
    EXPECT_GE(listedAgain - made, 200ms) << "listed again before the quiet interval";

    // Ten listings within a time far short of the quiet interval of ten seconds: one at every poll.
    World unhinted;
    ApplicationWatcher every(unhinted.listing(), unhinted.report(), pollSeconds);
    EXPECT_TRUE(unhinted.listsAtLeast(10, 5s)) << unhinted.listingCount() << " listings";
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
}

// A process of this user is listed with its start time and program; one that ended and was not yet reaped
// is not.
TEST(ProcessListingTest, ListsTheLiveProcessesOfAUser) {
    const auto mine = host::liveProcessesOf(::getuid());
    const auto self = std::find_if(mine.begin(), mine.end(), [](const host::ProcessIdentity& process) {
        return process.pid == ::getpid();
    });
    ASSERT_NE(self, mine.end());
    EXPECT_EQ(self->executable, QFile::encodeName(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))));
    EXPECT_EQ(host::liveProcess(::getpid()), *self);
    EXPECT_GT(self->startTime, 0u);

    const pid_t sleeper = startSleeper();
    host::ProcessStarts starts;
    starts.anySinceLastAsked();
    const pid_t another = startSleeper();
    EXPECT_TRUE(starts.anySinceLastAsked()) << "a process of this user started since";
    EXPECT_TRUE(host::isProcessNotThread(another));
    std::promise<void> release;
    std::promise<pid_t> threadNumber;
    std::thread thread([&] {
        threadNumber.set_value(pid_t(::gettid()));
        release.get_future().wait();
    });
    EXPECT_FALSE(host::isProcessNotThread(threadNumber.get_future().get())) << "a thread is no program";
    release.set_value();
    thread.join();
    const auto sleeping = host::liveProcess(sleeper);
    ASSERT_TRUE(sleeping);
    EXPECT_EQ(sleeping->name, QByteArray("sleep"));
    EXPECT_EQ(host::processArguments(sleeper).mid(0, 2),
              (QStringList{QStringLiteral("/bin/sleep"), QStringLiteral("30")}));

    ::kill(sleeper, SIGKILL);
    ::kill(another, SIGKILL);
    ASSERT_TRUE([&] {
        for (int i = 0; i < 200; ++i) {
            if (!host::liveProcess(sleeper))
                return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }()) << "a killed process (a zombie until reaped) is no live process";
    ::waitpid(sleeper, nullptr, 0);
    ::waitpid(another, nullptr, 0);
}

} // namespace
