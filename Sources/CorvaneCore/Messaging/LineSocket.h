#pragma once

#include "CorvaneHost/Error.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <sys/un.h>
#include <vector>

// A failure to create, bind, listen on or connect a Unix-domain socket.
class SocketError : public host::Error {
public:
    enum class Code { pathTooLong, syscall };

    // "socket path too long for sun_path: <path>"
    static SocketError pathTooLong(const QString& path);
    // "<name> failed: <strerror> (<errno>)"; the names used are "socket", "bind", "listen" and "connect".
    static SocketError syscall(const QString& name, int32_t errnoValue);

    Code code() const { return code_; }
    // pathTooLong: the path; syscall: the name of the failed call.
    const QString& detail() const { return detail_; }
    int32_t errnoValue() const { return errno_; }

private:
    SocketError(Code code, QString detail, int32_t errnoValue, QString description)
        : host::Error(std::move(description))
        , code_(code)
        , detail_(std::move(detail))
        , errno_(errnoValue) {}

    Code code_;
    QString detail_;
    int32_t errno_;
};

// Stateless operations on socket descriptors; usable from any thread. Every descriptor is close-on-exec.
namespace UnixSocket {

// Longest path (in UTF-8 bytes) accepted for a socket. Kept at the smallest limit of the systems the product
// runs on, so a path that works here works everywhere.
inline constexpr int maxPathBytes = 103;

// The zero-filled address of `path`; throws pathTooLong beyond maxPathBytes.
sockaddr_un makeAddress(const QString& path);

// Removes whatever file is at `path`, binds a new socket there with mode 0600 and listens. The returned
// descriptor is non-blocking. Throws SocketError; no descriptor outlives a failure.
int32_t listen(const QString& path, int32_t backlog);
// A connected, non-blocking socket. Throws SocketError; no descriptor outlives a failure.
int32_t connect(const QString& path);
// The same without ever waiting: a listener whose queue is full (a stopped or hung server) fails the attempt
// with EAGAIN at once instead of holding the caller.
int32_t connectWithoutWaiting(const QString& path);
// O_NONBLOCK on top of the current status flags. Writing to a closed peer never raises SIGPIPE here:
// every write goes through writeFrame, which sends with MSG_NOSIGNAL.
void setNonBlocking(int32_t fd);
// Whether the peer of a connected socket runs as this process's real user.
bool peerIsSameUser(int32_t fd);

} // namespace UnixSocket

// Splits a byte stream into newline-terminated lines. One per connection, used only on that connection's
// reading queue.
class LineBuffer {
public:
    // What both ends of the helper's socket use.
    static constexpr qsizetype defaultLimit = 4194304;

    explicit LineBuffer(qsizetype limit);

    // Appends a chunk and returns the complete, non-empty lines in it, without their newline. When the bytes
    // held would exceed the limit, everything held is dropped (lines of this chunk included) and the rest of
    // the line in progress is skipped up to its newline, so no fragment of an over-long line is ever returned
    // as a line of its own.
    std::vector<QByteArray> append(const QByteArray& chunk);

    qsizetype limit() const { return limit_; }
    // Bytes held back for the next call.
    qsizetype size() const { return buffer_.size(); }
    // True while the tail of an over-long line is being skipped.
    bool isDiscarding() const { return discarding_; }

private:
    QByteArray buffer_;
    qsizetype limit_;
    bool discarding_ = false;
};

// Writes `message` followed by one newline to a non-blocking socket. A full socket is waited for in 1 ms
// steps, at most 1000 times per stall; false when the peer stays full, has gone or the write fails.
bool writeFrame(int32_t fd, const QByteArray& message);

// How long writeFrame waits for a full socket: this many pauses of 1 ms per stall.
inline constexpr int writeFrameStallRetries = 1000;
inline constexpr long writeFrameStallPauseNanoseconds = 1000000;

// Keeps a second helper from running: an exclusive advisory lock on a file, held until release() or the end
// of the process. Destroying the object does not release it.
class SingleInstanceLock {
public:
    SingleInstanceLock() = default;
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    bool acquire(const QString& path);
    void release();
    int32_t fd() const { return fd_; }

private:
    int32_t fd_ = -1;
};
