#include "CorvaneHost/Linux/Files/PrivacyGrants.h"

#include "CorvaneHost/Error.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString service = QStringLiteral("Accessibility");

// Two tools granting at the same moment: every grant of both is kept.
TEST(PrivacyGrantsTest, ProgramsGrantingAtOnceLoseNothing) {
    QFile::remove(host::PrivacyGrants::recordPath());
    std::vector<pid_t> children;
    for (int program = 0; program < 2; ++program) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            for (int entry = 0; entry < 50; ++entry) {
                try {
                    host::PrivacyGrants::grant(service,
                                               QStringLiteral("com.example.p%1.e%2").arg(program).arg(entry));
                } catch (...) {
                    status = 1;
                }
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    for (const pid_t child : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(host::PrivacyGrants::grantedBundleIDs(service).size(), 100);
}

// Something at the record's place that cannot be read (here a socket, which not even root can open): a
// grant must not write over it and so drop the grants it may hold.
TEST(PrivacyGrantsTest, ARecordThatCannotBeReadIsNeverWrittenOver) {
    const QString path = host::PrivacyGrants::recordPath();
    QFile::remove(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    ASSERT_LT(size_t(bytes.size()), sizeof address.sun_path);
    memcpy(address.sun_path, bytes.constData(), bytes.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    EXPECT_THROW(host::PrivacyGrants::grant(service, QStringLiteral("com.example.new")), host::SystemError);
    EXPECT_THROW(host::PrivacyGrants::reset(service), host::SystemError);
    EXPECT_FALSE(QFileInfo(path).isFile()) << "the record was replaced";
    QFile::remove(path);

    // One that was read but does not decode is kept beside the new one.
    QFile garbage(path);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("{ not json");
    garbage.close();
    host::PrivacyGrants::grant(service, QStringLiteral("com.example.new"));
    EXPECT_EQ(host::PrivacyGrants::grantedBundleIDs(service), QStringList{QStringLiteral("com.example.new")});
    QFile aside(path + QStringLiteral(".unreadable"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("{ not json"));
}

// The record is asked often and kept between asks: a change made by another program, even in place, at once
// and to the same size, is seen by the very next ask.
TEST(PrivacyGrantsTest, AChangeByAnotherProgramIsSeenAtOnce) {
    const QString path = host::PrivacyGrants::recordPath();
    QFile::remove(path);
    host::PrivacyGrants::grant(service, QStringLiteral("com.example.aaa"));
    for (int round = 0; round < 20; ++round) {
        const QString now =
            QStringLiteral("com.example.%1").arg(round % 2 ? QStringLiteral("aaa") : QStringLiteral("bbb"));
        const QString before =
            QStringLiteral("com.example.%1").arg(round % 2 ? QStringLiteral("bbb") : QStringLiteral("aaa"));
        ASSERT_TRUE(host::PrivacyGrants::isGranted(service, before));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)); // truncated in place: the same file
        file.write(QStringLiteral("{\"%1\": [\"%2\"]}").arg(service, now).toUtf8());
        file.close();
        EXPECT_TRUE(host::PrivacyGrants::isGranted(service, now)) << "round " << round;
        EXPECT_FALSE(host::PrivacyGrants::isGranted(service, before)) << "round " << round;
    }
}

} // namespace
