#include "CorvaneHost/Linux/Processes/SpawnProcessRunner.h"
#include "CorvaneHost/ProcessRunner.h"

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <optional>
#include <unistd.h>

namespace {

const QString shell = QStringLiteral("/bin/sh");

QString runShell(const QString& script, const QStringList& extra = {}) {
    host::SpawnProcessRunner runner;
    return runner.run(shell, QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + extra);
}

host::SystemError failureOf(const QString& path, const QStringList& arguments) {
    host::SpawnProcessRunner runner;
    try {
        runner.run(path, arguments);
    } catch (const host::SystemError& error) {
        return error;
    }
    ADD_FAILURE() << "expected " << path.toStdString() << " to fail";
    return host::SystemError({}, 0, {});
}

TEST(ProcessRunnerTests, SilentFailureNamesToolAndStatusWithNothingAfter) {
    const auto error = failureOf(QStringLiteral("/bin/false"), {});
    EXPECT_EQ(error.domain(), QStringLiteral("Corvane"));
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(error.description(), QStringLiteral("/bin/false failed (1): "));
}

TEST(ProcessRunnerTests, FailureCarriesStatusAndEverythingPrinted) {
    const auto error =
        failureOf(shell, {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2; exit 3")});
    EXPECT_EQ(error.domain(), QStringLiteral("Corvane"));
    EXPECT_EQ(error.code(), 3);
    EXPECT_EQ(error.description(), QStringLiteral("/bin/sh failed (3): out\nerr\n"));
}

TEST(ProcessRunnerTests, ToolKilledBySignalFailsWithTheSignalNumber) {
    const auto error = failureOf(shell, {QStringLiteral("-c"), QStringLiteral("kill -9 $$")});
    EXPECT_EQ(error.code(), 9);
}

TEST(ProcessRunnerTests, BothStreamsArriveInterleavedAndUntrimmed) {
    EXPECT_EQ(runShell(QStringLiteral("echo only-error >&2")), QStringLiteral("only-error\n"));
    EXPECT_EQ(runShell(QStringLiteral("echo a; echo b >&2; printf ' c '")), QStringLiteral("a\nb\n c "));
}

TEST(ProcessRunnerTests, InvalidUtf8IsReplacedNotRejected) {
    EXPECT_EQ(runShell(QStringLiteral("printf 'a\\377b'")), QStringLiteral("a\uFFFDb"));
}

TEST(ProcessRunnerTests, OutputLargerThanThePipeDoesNotStall) {
    const QString output = runShell(QStringLiteral("head -c 1000000 /dev/zero | tr '\\000' x"));
    EXPECT_EQ(output.size(), 1000000);
}

TEST(ProcessRunnerTests, ArgumentsReachTheToolUnchanged) {
    const QStringList arguments{QStringLiteral("a b"), QStringLiteral("$HOME"), QStringLiteral("*"),
                                QString(), QStringLiteral("'\"; ls")};
    EXPECT_EQ(runShell(QStringLiteral("printf '%s|' \"$@\""), arguments),
              QStringLiteral("a b|$HOME|*||'\"; ls|"));
}

TEST(ProcessRunnerTests, MissingExecutableIsALaunchError) {
    QTemporaryDir dir;
    const auto error = failureOf(dir.filePath(QStringLiteral("no-such-tool")), {});
    EXPECT_EQ(error.domain(), QStringLiteral("NSPOSIXErrorDomain"));
    EXPECT_EQ(error.code(), ENOENT);
}

TEST(ProcessRunnerTests, NoDescriptorOfTheCallerReachesTheTool) {
    // Opened without close-on-exec on purpose: the runner must close it in the child all the same.
    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 3);
    const QString output =
        runShell(QStringLiteral("if [ -e /dev/fd/%1 ]; then echo open; else echo closed; fi").arg(fd));
    ::close(fd);
    EXPECT_EQ(output, QStringLiteral("closed\n"));
}

// The mask of one "Sig..." line of /proc/<pid>/status, as printed by the shell below.
quint64 signalMask(const QString& status, const QString& name) {
    for (const QString& line : status.split(QLatin1Char('\n')))
        if (line.startsWith(name + QLatin1Char(':')))
            return line.mid(name.size() + 1).trimmed().toULongLong(nullptr, 16);
    ADD_FAILURE() << "no " << name.toStdString() << " in " << status.toStdString();
    return ~0ull;
}

// A program that ignores SIGPIPE (the helper does) and blocks a signal on its thread: its tools must still
// start with every signal at its default, as the desktop starts them.
TEST(ProcessRunnerTests, ToolsStartWithDefaultSignals) {
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);

    // Read by the program that replaces the shell: the shell itself blocks every signal for a moment while it
    // starts a command, and its own status read then could catch that.
    const QString status = runShell(QStringLiteral("exec grep '^Sig' /proc/self/status"));
    // A pipeline in the tool: the writer ends silently when its reader is gone, with no "Broken pipe" error.
    const QString pipeline = runShell(QStringLiteral("yes | head -n 1"));
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGPIPE, &previous, nullptr);

    EXPECT_EQ(signalMask(status, QStringLiteral("SigIgn")) & (1ull << (SIGPIPE - 1)), 0u)
        << status.toStdString();
    EXPECT_EQ(signalMask(status, QStringLiteral("SigBlk")) & (1ull << (SIGUSR1 - 1)), 0u)
        << status.toStdString();
    EXPECT_EQ(pipeline, QStringLiteral("y\n"));
}

TEST(ProcessRunnerTests, PlatformToolPathsResolveToTheStandIns) {
    const std::optional<QByteArray> saved = qEnvironmentVariableIsSet("CORVANE_HOST_TOOLS_DIR")
                                                ? std::optional(qgetenv("CORVANE_HOST_TOOLS_DIR"))
                                                : std::nullopt;
    qunsetenv("CORVANE_HOST_TOOLS_DIR");
    const QString tools = QStringLiteral(CORVANE_HOST_TOOLS_DIR);
    EXPECT_EQ(host::hostToolsDirectory(), tools);
    EXPECT_EQ(host::resolveToolPath(QStringLiteral("/usr/bin/ditto")), tools + QStringLiteral("/ditto"));
    EXPECT_EQ(host::resolveToolPath(QStringLiteral("/bin/launchctl")), tools + QStringLiteral("/launchctl"));
    EXPECT_EQ(host::resolveToolPath(host::lsregisterToolPath), tools + QStringLiteral("/lsregister"));
    EXPECT_EQ(host::resolveToolPath(QStringLiteral("/bin/sh")), QStringLiteral("/bin/sh"));
    EXPECT_EQ(host::resolveToolPath(QStringLiteral("/usr/bin/dittox")), QStringLiteral("/usr/bin/dittox"));

    qputenv("CORVANE_HOST_TOOLS_DIR", "/elsewhere/tools");
    EXPECT_EQ(host::resolveToolPath(QStringLiteral("/usr/bin/xattr")),
              QStringLiteral("/elsewhere/tools/xattr"));
    if (saved)
        qputenv("CORVANE_HOST_TOOLS_DIR", *saved);
    else
        qunsetenv("CORVANE_HOST_TOOLS_DIR");
}

TEST(ProcessRunnerTests, ErrorsOfStandInsNameThePlatformPath) {
    const auto error =
        failureOf(QStringLiteral("/usr/bin/killall"), {QStringLiteral("corvane-no-such-program")});
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(
        error.description(),
        QStringLiteral("/usr/bin/killall failed (1): No matching processes belonging to you were found\n"));
}

} // namespace
