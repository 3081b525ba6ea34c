// How soon the workspace's watcher tells of an application that ends (through its pidfd) and of one that
// starts (by its listing, every 0.5 s). Targets: an exit within 100 ms, a launch within 1 s. Beside them,
// what a poll costs: a listing that knows the processes from the polls before, against one that learns each
// of them afresh (as every listing did before it kept what it learnt), and the look at the process numbers
// given since the last poll, which is all a poll costs while no process of this user starts.
#include "CorvaneHost/Linux/HostWorkspace.h"
#include "CorvaneHost/Linux/Processes/ApplicationWatcher.h"
#include "CorvaneHost/Linux/Processes/ProcessListing.h"
#include "Figures.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

pid_t startSleeper() {
    pid_t pid = 0;
    char program[] = "/bin/sleep";
    char seconds[] = "60";
    char* argv[] = {program, seconds, nullptr};
    posix_spawn(&pid, program, nullptr, nullptr, argv, environ);
    return pid;
}

// The watcher lists one program: the sleeper while it is there. It polls as the workspace's does.
struct Watched {
    std::mutex mutex;
    std::condition_variable changed;
    pid_t pid = 0;
    bool launched = false;
    bool terminated = false;
};

void reportTo(Watched& watched, host::ApplicationEvent event) {
    std::lock_guard lock(watched.mutex);
    (event == host::ApplicationEvent::didLaunch ? watched.launched : watched.terminated) = true;
    watched.changed.notify_all();
}

std::unique_ptr<host::ApplicationWatcher> watch(Watched& watched) {
    return std::make_unique<host::ApplicationWatcher>(
        [&watched] {
            std::lock_guard lock(watched.mutex);
            std::vector<host::RunningApplication> listing;
            if (watched.pid > 0 && ::kill(watched.pid, 0) == 0)
                listing.push_back({qint32(watched.pid), QStringLiteral("com.example.sleeper"), {}, {}});
            return listing;
        },
        [&watched](host::ApplicationEvent event, const host::RunningApplication&) {
            reportTo(watched, event);
        },
        // As the workspace runs it: every 0.5 s, listing only after the kernel handed out a process number.
        0.5, [starts = std::make_shared<host::ProcessStarts>()] { return starts->anySinceLastAsked(); });
}

void waitFor(Watched& watched, bool Watched::*flag) {
    std::unique_lock lock(watched.mutex);
    watched.changed.wait(lock, [&] { return watched.*flag; });
}

void BM_ExitReported(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Watched watched;
        watched.pid = startSleeper();
        const auto watcher = watch(watched);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        state.ResumeTiming();
        ::kill(watched.pid, SIGKILL);
        ::waitpid(watched.pid, nullptr, 0); // reaped, so the listing no longer has it either
        waitFor(watched, &Watched::terminated);
    }
}
BENCHMARK(BM_ExitReported)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

void BM_LaunchReported(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Watched watched;
        const auto watcher = watch(watched);
        state.ResumeTiming();
        {
            std::lock_guard lock(watched.mutex);
            watched.pid = startSleeper();
        }
        waitFor(watched, &Watched::launched);
        state.PauseTiming();
        ::kill(watched.pid, SIGKILL);
        ::waitpid(watched.pid, nullptr, 0);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LaunchReported)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// One listing of this user's running applications, as the watcher takes it every 0.5 s.
void BM_RunningApplicationsListing(benchmark::State& state) {
    host::HostWorkspace workspace;
    for (auto _ : state)
        benchmark::DoNotOptimize(workspace.runningApplications());
}
BENCHMARK(BM_RunningApplicationsListing)->Unit(benchmark::kMillisecond);

void BM_RunningApplicationsListingAfresh(benchmark::State& state) {
    for (auto _ : state) {
        host::HostWorkspace workspace;
        benchmark::DoNotOptimize(workspace.runningApplications());
    }
}
BENCHMARK(BM_RunningApplicationsListingAfresh)->Unit(benchmark::kMillisecond);

void BM_ProcessStartsSinceLastPoll(benchmark::State& state) {
    host::ProcessStarts starts;
    for (auto _ : state) {
        // As at a poll: whatever started in half a second on this machine.
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        state.ResumeTiming();
        benchmark::DoNotOptimize(starts.anySinceLastAsked());
    }
}
BENCHMARK(BM_ProcessStartsSinceLastPoll)->Unit(benchmark::kMicrosecond)->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    return bench::main(argc, argv,
                       {
                           {"BM_ExitReported", "time", "<", 100, "ms"},
                           {"BM_LaunchReported", "time", "<", 1000, "ms"},
                       });
}
