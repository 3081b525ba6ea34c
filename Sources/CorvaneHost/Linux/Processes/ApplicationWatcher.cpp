#include "CorvaneHost/Linux/Processes/ApplicationWatcher.h"

#include <QHash>
#include <algorithm>
#include <chrono>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace host {
namespace {

struct Watched {
    RunningApplication application;
    int pidfd = -1; // -1 where the kernel offers none: the next listing tells of the exit then
};

int openPidfd(qint32 pid) {
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    return -1;
#endif
}

} // namespace

ApplicationWatcher::ApplicationWatcher(Listing listing, Report report, double pollSeconds, Started started,
                                       double quietListingSeconds)
    : listing_(std::move(listing))
    , report_(std::move(report))
    , started_(std::move(started))
    , pollMs_(int(pollSeconds * 1000))
    , quietListingMs_(int(quietListingSeconds * 1000))
    , wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    // What runs now is taken before the constructor returns: only what starts later is news.
    if (started_)
        started_();
    std::vector<RunningApplication> initial = listing_();
    thread_ = std::thread([this, initial = std::move(initial)] { run(initial); });
}

ApplicationWatcher::~ApplicationWatcher() {
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
}

void ApplicationWatcher::run(const std::vector<RunningApplication>& initial) {
    // Named, so that what it costs shows apart in the process's thread list.
    ::pthread_setname_np(::pthread_self(), "app-watcher");
    using Clock = std::chrono::steady_clock;
    QHash<qint32, Watched> watched;
    const auto end = [&](qint32 pid, bool reported) {
        const Watched gone = watched.take(pid);
        if (gone.pidfd >= 0)
            ::close(gone.pidfd);
        if (reported)
            report_(ApplicationEvent::didTerminate, gone.application);
    };
    const auto scan = [&](std::vector<RunningApplication> listing, bool reported) {
        QHash<qint32, RunningApplication> now;
        for (RunningApplication& application : listing)
            now.insert(application.processIdentifier, std::move(application));
        for (const qint32 pid : watched.keys())
            if (!now.contains(pid))
                end(pid, reported);
        for (auto it = now.begin(); it != now.end(); ++it) {
            if (watched.contains(it.key()))
                continue;
            const int pidfd = openPidfd(it.key());
            watched.insert(it.key(), Watched{it.value(), pidfd});
            if (reported)
                report_(ApplicationEvent::didLaunch, it.value());
        }
    };

    // Whether this poll must list: always without a hint of starts, and while an application's end can
    // only be seen by its absence.
    bool listAgain = false;
    auto listedAt = Clock::now();
    const auto mustList = [&] {
        const bool startedNow = !started_ || started_();
        const bool afterStart = std::exchange(listAgain, startedNow);
        return startedNow || afterStart ||
               Clock::now() - listedAt >= std::chrono::milliseconds(quietListingMs_) ||
               std::any_of(watched.begin(), watched.end(),
                           [](const Watched& application) { return application.pidfd < 0; });
    };

    scan(initial, false);
    auto nextScan = Clock::now() + std::chrono::milliseconds(pollMs_);
    for (;;) {
        std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}};
        std::vector<qint32> pids;
        for (auto it = watched.begin(); it != watched.end(); ++it)
            if (it->pidfd >= 0) {
                fds.push_back({it->pidfd, POLLIN, 0});
                pids.push_back(it.key());
            }
        // Rounded up: a wait rounded down to nothing would spin through the last millisecond.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextScan - Clock::now());
        const int ready = ::poll(fds.data(), fds.size(), std::max<int>(0, int(wait.count())));
        if (ready > 0) {
            if (fds[0].revents)
                break;
            for (size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents)
                    end(pids[i - 1], true);
        }
        if (Clock::now() >= nextScan) {
            if (mustList()) {
                scan(listing_(), true);
                listedAt = Clock::now();
            }
            nextScan = Clock::now() + std::chrono::milliseconds(pollMs_);
        }
    }
    for (const qint32 pid : watched.keys())
        end(pid, false);
}

} // namespace host
