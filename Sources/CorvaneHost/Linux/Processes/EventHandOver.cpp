#include "CorvaneHost/Linux/Processes/EventHandOver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace host::wire {
namespace {

// A listener with a full backlog makes connect wait; it waits no longer than this.
constexpr int kConnectTimeoutSeconds = 2;
// How long a started program may take to listen, and how often it is looked for.
constexpr auto kStartPatience = std::chrono::seconds(15);
constexpr auto kStartPoll = std::chrono::milliseconds(20);
// A program killed as often as it is started is not started without end.
constexpr int kMaxStarts = 4;
// How often a wait for an answer asks whether it should give up.
constexpr int kGiveUpPollMs = 100;

class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool connectTo(int fd, const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const timeval timeout{kConnectTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool sendAll(int fd, std::string_view line) {
    for (std::size_t sent = 0; sent < line.size();) {
        const ssize_t count = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        sent += std::size_t(count);
    }
    return true;
}

// Any line the listener writes is its answer; the connection closing first means it gave none.
HandOverResult awaitAnswer(int fd, int timeoutMs, const std::function<bool()>& givesUp) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (givesUp && givesUp()))
            return HandOverResult::unanswered;
        pollfd ready{fd, POLLIN, 0};
        const int polled =
            ::poll(&ready, 1, givesUp ? std::min(int(left.count()), kGiveUpPollMs) : int(left.count()));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0)
            continue; // the deadline is looked at above
        if (polled < 0)
            return HandOverResult::dropped;
        char byte = 0;
        const ssize_t count = ::recv(fd, &byte, 1, 0);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return HandOverResult::dropped;
        if (byte == '\n')
            return HandOverResult::handled;
    }
}

bool hasEnded(pid_t pid) {
    // Our own child stays a zombie until reaped, and a zombie still takes signals. It is looked at, not
    // reaped: the helper's reaper waits for it, and reads how it ended.
    siginfo_t info{};
    if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
        return true;
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

HandOverResult handOver(const std::string& socketPath, std::string_view line, int answerTimeoutMs,
                        const std::function<bool()>& givesUp) {
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0 || !connectTo(socket.get(), socketPath))
        return HandOverResult::notListening;
    if (!sendAll(socket.get(), line))
        return HandOverResult::dropped;
    return awaitAnswer(socket.get(), answerTimeoutMs, givesUp);
}

namespace {

// Hands `line` over once something listens at `socketPath`, until `deadline`.
StartConfirmation awaitListener(const std::string& socketPath, std::string_view line,
                                const std::function<bool()>& hasEnded, const std::function<bool()>& givesUp,
                                std::chrono::steady_clock::time_point deadline) {
    while (std::chrono::steady_clock::now() < deadline && !(givesUp && givesUp())) {
        const HandOverResult result = handOver(socketPath, line);
        if (taken(result))
            return StartConfirmation::taken;
        if (result == HandOverResult::notListening && hasEnded())
            return StartConfirmation::ended;
        std::this_thread::sleep_for(kStartPoll);
    }
    return StartConfirmation::unheard;
}

} // namespace

bool confirmStart(const std::string& socketPath, std::string_view line, pid_t program,
                  const std::function<pid_t()>& startAgain, const std::function<bool()>& givesUp) {
    const auto deadline = std::chrono::steady_clock::now() + kStartPatience;
    for (int starts = 1;; ++starts) {
        const StartConfirmation confirmation = awaitListener(
            socketPath, line, [&] { return program <= 0 || hasEnded(program); }, givesUp, deadline);
        if (confirmation != StartConfirmation::ended)
            return confirmation == StartConfirmation::taken;
        if (!startAgain || starts >= kMaxStarts)
            return false;
        program = startAgain();
    }
}

StartConfirmation confirmStartOnce(const std::string& socketPath, std::string_view line,
                                   const std::function<bool()>& hasEnded,
                                   const std::function<bool()>& givesUp) {
    return awaitListener(socketPath, line, hasEnded, givesUp,
                         std::chrono::steady_clock::now() + kStartPatience);
}

} // namespace host::wire
