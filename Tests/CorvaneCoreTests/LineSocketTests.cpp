#include "CorvaneCore/Messaging/LineSocket.h"
#include "Support/LogCapture.h"
#include "Support/SocketPeer.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

using Lines = std::vector<QByteArray>;

QString pathOfLength(const QTemporaryDir& dir, int bytes) {
    QString path = dir.path() + "/";
    const int pad = bytes - int(path.toUtf8().size());
    EXPECT_GT(pad, 0);
    return path + QString(pad, QLatin1Char('s'));
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode;
}

TEST(UnixSocket, PathLimitIs103BytesAndARefusedPathLeavesNoDescriptor) {
    QTemporaryDir dir;
    const QString fits = pathOfLength(dir, 103);
    const int fd = UnixSocket::listen(fits, 4);
    EXPECT_GE(fd, 0);
    ::close(fd);

    const QString tooLong = pathOfLength(dir, 104);
    const int before = test::openDescriptorCount();
    try {
        UnixSocket::listen(tooLong, 4);
        FAIL() << "listen accepted a path of 104 bytes";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.code(), SocketError::Code::pathTooLong);
        EXPECT_EQ(error.description(), "socket path too long for sun_path: " + tooLong);
    }
    EXPECT_THROW(UnixSocket::connect(tooLong), SocketError);
    EXPECT_EQ(test::openDescriptorCount(), before);
}

TEST(UnixSocket, ListenReplacesAStaleSocketFileWithAnOwnerOnlyOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath("h.sock");
    const int first = UnixSocket::listen(path, 4);
    ::close(first); // leaves the file behind, as a crashed helper would
    ASSERT_TRUE(QFile::exists(path));
    const int second = UnixSocket::listen(path, 4);
    EXPECT_TRUE(S_ISSOCK(modeOf(path)));
    EXPECT_EQ(modeOf(path) & 0777, 0600u);
    EXPECT_TRUE(::fcntl(second, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(second, F_GETFD) & FD_CLOEXEC);
    // It appears under its name only once it listens: nothing else is left in the folder.
    EXPECT_EQ(
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList{"h.sock"});

    const int client = UnixSocket::connect(path);
    EXPECT_TRUE(::fcntl(client, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(client, F_GETFD) & FD_CLOEXEC);
    const int accepted = ::accept(second, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    EXPECT_TRUE(UnixSocket::peerIsSameUser(accepted));
    ::close(accepted);
    ::close(client);
    ::close(second);
}

TEST(UnixSocket, ConnectingToNothingReportsTheCallAndErrno) {
    QTemporaryDir dir;
    const int before = test::openDescriptorCount();
    try {
        UnixSocket::connect(dir.filePath("missing.sock"));
        FAIL() << "connect succeeded without a listener";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.code(), SocketError::Code::syscall);
        EXPECT_EQ(error.detail(), "connect");
        EXPECT_EQ(error.errnoValue(), ENOENT);
        EXPECT_EQ(
            error.description(),
            QString("connect failed: %1 (%2)").arg(QString::fromLocal8Bit(strerror(ENOENT))).arg(ENOENT));
    }
    EXPECT_EQ(test::openDescriptorCount(), before);
    EXPECT_FALSE(UnixSocket::peerIsSameUser(-1));
}

TEST(LineBuffer, SplitsLinesSkipsEmptyOnesAndKeepsThePartialTail) {
    LineBuffer buffer(LineBuffer::defaultLimit);
    EXPECT_EQ(buffer.append("a\n\nb"), (Lines{"a"}));
    EXPECT_EQ(buffer.size(), 1);
    EXPECT_EQ(buffer.append("c\n"), (Lines{"bc"}));
    EXPECT_EQ(buffer.append("x\r\ny\n"), (Lines{"x\r", "y"}));
    EXPECT_EQ(buffer.size(), 0);
}

TEST(LineBuffer, ALineAcrossManySmallChunksComesOutOnceWhole) {
    LineBuffer buffer(64);
    const QByteArray line = R"({"id":1,"op":"status"})";
    Lines all;
    for (char byte : line + "\n" + line + "\n")
        for (auto& out : buffer.append(QByteArray(1, byte)))
            all.push_back(out);
    EXPECT_EQ(all, (Lines{line, line}));
}

TEST(LineBuffer, OverflowDropsEverythingAndTheRestOfTheOverlongLine) {
    test::LogCapture log;
    LineBuffer buffer(8);
    EXPECT_EQ(buffer.append("12345678"), Lines{}); // exactly the limit stays
    EXPECT_EQ(buffer.size(), 8);
    // One more byte: everything goes, the newline-terminated line in this chunk too.
    EXPECT_EQ(buffer.append("\nok\n9"), Lines{});
    EXPECT_EQ(buffer.size(), 0);
    EXPECT_TRUE(buffer.isDiscarding());
    EXPECT_EQ(log.count("over-long line discarded: 13 bytes exceed the line limit of 8 bytes"), 1);
    // The tail of the line in progress never comes out as a line, however it arrives.
    EXPECT_EQ(buffer.append(R"({"id":2,"op":"bye"})"), Lines{});
    EXPECT_EQ(buffer.size(), 0);
    EXPECT_EQ(buffer.append("tail\nnext\n"), (Lines{"next"}));
    EXPECT_FALSE(buffer.isDiscarding());
}

TEST(LineBuffer, AnOverflowEndingAtANewlineLeavesTheNextLineWhole) {
    LineBuffer buffer(4);
    EXPECT_EQ(buffer.append("abcdef\n"), Lines{});
    EXPECT_FALSE(buffer.isDiscarding());
    EXPECT_EQ(buffer.append("ok\n"), (Lines{"ok"}));
}

TEST(LineBuffer, ANeverEndingLineHoldsNoMoreThanTheLimit) {
    LineBuffer buffer(1024);
    const QByteArray chunk(700, 'x');
    for (int i = 0; i < 1000; ++i) {
        EXPECT_TRUE(buffer.append(chunk).empty());
        ASSERT_LE(buffer.size(), 1024);
    }
}

TEST(WriteFrame, WritesTheMessageAndOneNewline) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UnixSocket::setNonBlocking(pair[0]);
    test::SocketPeer peer(pair[1]);
    EXPECT_TRUE(writeFrame(pair[0], QByteArray()));
    char bytes[2] = {0, 0};
    EXPECT_EQ(::read(pair[1], bytes, 2), 1);
    EXPECT_EQ(bytes[0], '\n');
    EXPECT_TRUE(writeFrame(pair[0], "{}"));
    EXPECT_EQ(peer.readLine(), QByteArray("{}"));
    ::close(pair[0]);
}

TEST(WriteFrame, AFrameLargerThanTheSocketBufferArrivesWholeThroughPartialWrites) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UnixSocket::setNonBlocking(pair[0]);
    const int small = 4096;
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    QByteArray message(1024 * 1024, 'm');
    for (int i = 0; i < message.size(); i += 997)
        message[i] = char('a' + i % 26);
    std::optional<QByteArray> received;
    std::thread reader([&] {
        test::SocketPeer peer(pair[1]);
        received = peer.readLine(20000);
    });
    EXPECT_TRUE(writeFrame(pair[0], message));
    reader.join();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(*received == message);
    ::close(pair[0]);
}

TEST(WriteFrame, AClosedPeerGivesFalseWithoutASignal) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UnixSocket::setNonBlocking(pair[0]);
    ::close(pair[1]);
    EXPECT_FALSE(writeFrame(pair[0], "{\"id\":1}")); // EPIPE, and the process is still here
    ::close(pair[0]);
}

TEST(SingleInstanceLock, OneHolderAtATimeAndReleaseLetsTheNextIn) {
    QTemporaryDir dir;
    const QString path = dir.filePath("h.lock");
    SingleInstanceLock never;
    never.release(); // nothing held: nothing happens
    EXPECT_EQ(never.fd(), -1);

    SingleInstanceLock first;
    ASSERT_TRUE(first.acquire(path));
    EXPECT_TRUE(::fcntl(first.fd(), F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(modeOf(path) & 0777, 0600u);

    // Another process cannot take it while it is held.
    const QByteArray file = QFile::encodeName(path);
    auto otherProcessGetsLock = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            _exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_FALSE(otherProcessGetsLock());
    SingleInstanceLock second;
    EXPECT_FALSE(second.acquire(path));
    EXPECT_EQ(second.fd(), -1);

    first.release();
    EXPECT_EQ(first.fd(), -1);
    EXPECT_TRUE(otherProcessGetsLock());
    EXPECT_TRUE(second.acquire(path));
    second.release();
    EXPECT_TRUE(QFile::exists(path)); // the lock file stays
}

} // namespace
