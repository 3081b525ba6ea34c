#include "CorvaneHost/Linux/Processes/ApplicationWatcher.h"
#include "CorvaneHost/Linux/Processes/ProcessListing.h"

#include <QFile>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
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

// What the watcher lists and what it says; the listing counts how often it is taken.
struct World {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<RunningApplication> running;
    std::vector<std::pair<ApplicationEvent, qint32>> reports;
    std::atomic<int> listings{0};
    std::atomic<bool> started{false};

    ApplicationWatcher::Listing listing() {
        return [this] {
            ++listings;
            std::lock_guard lock(mutex);
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
        return [this] { return started.exchange(false); };
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
    std::this_thread::sleep_for(300ms); // fifteen polls
    EXPECT_EQ(world.listings.load(), 1) << "only the first listing, while nothing started";

    const pid_t sleeper = startSleeper();
    world.launch(sleeper);
    world.started = true;
    EXPECT_TRUE(world.heard(ApplicationEvent::didLaunch, sleeper, 1s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(world.listings.load(), 3) << "the start's listing and the one after it";

    // Its end is told at once by its process descriptor, listing or not.
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
    EXPECT_TRUE(world.heard(ApplicationEvent::didTerminate, sleeper, 1s));
}

// A change no start announces (an older process that became an application) is listed within the quiet
// interval; without a hint of starts every poll lists.
TEST(ApplicationWatcherTest, ListsAtTheQuietIntervalAndAtEveryPollWithoutHints) {
    World quiet;
    ApplicationWatcher watcher(quiet.listing(), quiet.report(), pollSeconds, quiet.starts(), 0.2);
    const pid_t sleeper = startSleeper();
    quiet.launch(sleeper);
    EXPECT_FALSE(quiet.heard(ApplicationEvent::didLaunch, sleeper, 100ms));
    EXPECT_TRUE(quiet.heard(ApplicationEvent::didLaunch, sleeper, 1s));

    World unhinted;
    {
        ApplicationWatcher every(unhinted.listing(), unhinted.report(), pollSeconds);
        std::this_thread::sleep_for(300ms);
    }
    EXPECT_GE(unhinted.listings.load(), 8);
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
