#include "CorvaneHost/Linux/Processes/ChildReaper.h"

#include "CorvaneHost/LogSink.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace host {

QString ProgramEnd::description() const {
    if (signal != 0)
        return QStringLiteral("ended by signal %1 (%2)")
            .arg(signal)
            .arg(QString::fromUtf8(::strsignal(signal)));
    if (exitStatus != 0)
        return QStringLiteral("ended with status %1").arg(exitStatus);
    return QStringLiteral("ended cleanly");
}

namespace {

// A child that has not been waited for yet. Where it has a process descriptor, that becomes readable when it
// ends; without one (a kernel without them, no descriptors left) it is looked at every second.
struct Child {
    pid_t pid = 0;
    int descriptor = -1;
    QString name;
    ProgramEndCompletion whenEnded;
    // The log and main queue in force when it started: a test may swap the program's services meanwhile.
    std::shared_ptr<LogSink> log;
    std::shared_ptr<MainQueue> queue;
};

constexpr int kLookWithoutDescriptorMs = 1000;

// One thread for every child: it sleeps until one of them ends or another one is added. It is started with
// the first child and ends with the program (its statics), having given up the children it still waited for.
class Reaper {
public:
    Reaper()
        : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Reaper() {
        {
            const std::lock_guard lock(mutex_);
            ending_ = true;
        }
        wake();
        if (thread_.joinable())
            thread_.join();
        for (const Child& child : children_)
            if (child.descriptor >= 0)
                ::close(child.descriptor);
        if (wake_ >= 0)
            ::close(wake_);
    }
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;

    void watch(Child child) {
        const std::lock_guard lock(mutex_);
        children_.push_back(std::move(child));
        if (!thread_.joinable()) {
            // A thread that cannot start now (too many threads) starts with the next child; the children
            // stay zombies until then, and nothing else is lost.
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error& error) {
                children_.back().log->write(QStringLiteral("host"), QStringLiteral("processes"),
                                            LogLevel::Error,
                                            QStringLiteral("cannot wait for %1 (pid %2) yet: %3")
                                                .arg(children_.back().name)
                                                .arg(children_.back().pid)
                                                .arg(QString::fromLocal8Bit(error.what())));
            }
        }
        wake();
    }

private:
    void wake() {
        if (wake_ >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
        }
    }

    void run() {
        for (;;) {
            std::vector<pollfd> waits{{wake_, POLLIN, 0}};
            bool looks = wake_ < 0;
            {
                const std::lock_guard lock(mutex_);
                if (ending_)
                    return;
                for (const Child& child : children_) {
                    if (child.descriptor >= 0)
                        waits.push_back({child.descriptor, POLLIN, 0});
                    else
                        looks = true;
                }
            }
            if (::poll(waits.data(), nfds_t(waits.size()), looks ? kLookWithoutDescriptorMs : -1) < 0 &&
                errno != EINTR)
                looks = true; // never spin on a poll that fails
            std::uint64_t count = 0;
            while (wake_ >= 0 && ::read(wake_, &count, sizeof count) > 0) {
            }
            for (auto& [child, end] : takeEnded())
                report(child, end);
        }
    }

    // The children that have ended, waited for and no longer watched.
    std::vector<std::pair<Child, ProgramEnd>> takeEnded() {
        std::vector<std::pair<Child, ProgramEnd>> ended;
        const std::lock_guard lock(mutex_);
        for (auto it = children_.begin(); it != children_.end();) {
            siginfo_t info{};
            const int waited = ::waitid(P_PID, id_t(it->pid), &info, WEXITED | WNOHANG);
            if (waited == 0 && info.si_pid != it->pid) {
                ++it;
                continue;
            }
            if (waited == 0) {
                const ProgramEnd end = info.si_code == CLD_EXITED ? ProgramEnd{info.si_status, 0}
                                                                  : ProgramEnd{0, info.si_status};
                ended.emplace_back(std::move(*it), end);
            } else if (errno != EINTR) {
                // Waited for elsewhere, against this function's contract: nothing is left to wait for.
                it->log->write(QStringLiteral("host"), QStringLiteral("processes"), LogLevel::Error,
                               QStringLiteral("%1 (pid %2) was waited for elsewhere; its end is unknown")
                                   .arg(it->name)
                                   .arg(it->pid));
            } else {
                ++it;
                continue;
            }
            if (it->descriptor >= 0)
                ::close(it->descriptor);
            it = children_.erase(it);
        }
        return ended;
    }

    static void report(Child& child, const ProgramEnd& end) {
        child.log->write(
            QStringLiteral("host"), QStringLiteral("processes"),
            end.clean() ? LogLevel::Info : LogLevel::Error,
            QStringLiteral("%1 (pid %2) %3").arg(child.name).arg(child.pid).arg(end.description()));
        if (child.whenEnded && child.queue)
            child.queue->async([whenEnded = std::move(child.whenEnded), end] { whenEnded(end); });
    }

    const int wake_;
    std::mutex mutex_;
    std::vector<Child> children_;
    std::thread thread_;
    bool ending_ = false;
};

Reaper& reaper() {
    static Reaper instance;
    return instance;
}

template <typename T> std::shared_ptr<T> current(std::shared_ptr<T>& slot) {
    const std::lock_guard lock(servicesMutex());
    return slot;
}

} // namespace

void reapWhenEnded(pid_t pid, const QString& name, ProgramEndCompletion whenEnded) {
    Child child;
    child.pid = pid;
    // Closed on exec by its nature: no program started later inherits it.
    child.descriptor = int(::syscall(SYS_pidfd_open, pid, 0));
    child.name = name;
    logSink();
    child.log = current(services().logSink);
    if (whenEnded) {
        mainQueue();
        child.queue = current(services().mainQueue);
        child.whenEnded = std::move(whenEnded);
    }
    reaper().watch(std::move(child));
}

} // namespace host
