#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <functional>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace test {

// The number of descriptors this process has open.
inline int openDescriptorCount() {
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// Waits in real time (without running the main queue) until `done` holds; for work of other threads.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// The raw end of a socket as a test sees it: writes bytes, reads whole lines.
class SocketPeer {
public:
    explicit SocketPeer(int fd)
        : fd_(fd) {}
    ~SocketPeer() { close(); }
    SocketPeer(const SocketPeer&) = delete;
    SocketPeer& operator=(const SocketPeer&) = delete;

    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    bool write(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.constData() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 1000);
                continue;
            }
            return false;
        }
        return true;
    }

    // The next line (without its newline), or none at end of file or after `timeoutMs` without one.
    std::optional<QByteArray> readLine(int timeoutMs = 5000) {
        QElapsedTimer elapsed;
        elapsed.start();
        for (;;) {
            const qsizetype newline = pending_.indexOf('\n');
            if (newline >= 0) {
                QByteArray line = pending_.left(newline);
                pending_.remove(0, newline + 1);
                return line;
            }
            const int left = timeoutMs - static_cast<int>(elapsed.elapsed());
            if (left <= 0)
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0)
                return std::nullopt;
            char chunk[65536];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0)
                pending_.append(chunk, n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return std::nullopt;
        }
    }

    // True when the peer has closed: end of file within `timeoutMs` (other data is skipped).
    bool seesEndOfFile(int timeoutMs = 5000) {
        QElapsedTimer elapsed;
        elapsed.start();
        for (;;) {
            const int left = timeoutMs - static_cast<int>(elapsed.elapsed());
            if (left <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0)
                return false;
            char chunk[65536];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n == 0)
                return true;
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return true;
        }
    }

private:
    int fd_;
    QByteArray pending_;
};

} // namespace test
