#include "Support/ProgramEnd.h"

#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/Files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test {

bool hasEnded(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return true;
    const QByteArray status = contents(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype name = status.lastIndexOf(')');
    return name >= 0 && status.mid(name + 2, 1) == "Z";
}

void adoptDetachedPrograms() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

QString uncleanEnd(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus) == 0
                   ? QString()
                   : QStringLiteral("ended with status %1").arg(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGTERM)
        return QStringLiteral("was ended by SIGTERM, which it did not handle");
    if (WIFSIGNALED(waitStatus))
        return QStringLiteral("crashed with signal %1 (%2)")
            .arg(WTERMSIG(waitStatus))
            .arg(QString::fromUtf8(::strsignal(WTERMSIG(waitStatus))));
    return {};
}

QString uncleanEnd(const QProcess& process) {
    if (process.state() != QProcess::NotRunning || process.error() == QProcess::FailedToStart)
        return {};
    // A program that a signal ended has its signal for its exit code.
    if (process.exitStatus() == QProcess::CrashExit)
        return uncleanEnd(process.exitCode() & 0x7f);
    return uncleanEnd(process.exitCode() << 8);
}

namespace {

// A line of /proc/<pid>/status such as "SigCgt:", its value; empty when the process is gone.
QByteArray statusField(pid_t pid, const QByteArray& field) {
    for (const QByteArray& line : contents(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed();
    return {};
}

bool handlesTermination(pid_t pid) {
    return statusField(pid, "SigCgt:").toULongLong(nullptr, 16) & (1ull << (SIGTERM - 1));
}

// The file that the program `pid` writes its log to (its standard error); empty when that is no file.
QString logFileOf(pid_t pid) {
    const QFileInfo log(QFileInfo(QStringLiteral("/proc/%1/fd/2").arg(pid)).symLinkTarget());
    return log.isFile() ? log.filePath() : QString();
}

constexpr int stillRunning = -1;
constexpr int endedElsewhere = -2;

// The wait status of the program `pid` once it ended within `seconds` (left for its owner to reap unless
// `reap`); `endedElsewhere` once it is seen ended while no child of this process, `stillRunning` when it runs
// on after `seconds`.
int waitForEnd(pid_t pid, double seconds, bool reap) {
    QElapsedTimer clock;
    clock.start();
    do {
        siginfo_t info{};
        if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | (reap ? 0 : WNOWAIT)) == 0) {
            if (info.si_pid == pid)
                return info.si_code == CLD_EXITED ? (info.si_status & 0xff) << 8 : (info.si_status & 0x7f);
        } else if (hasEnded(pid)) {
            return endedElsewhere;
        }
        QThread::msleep(20);
    } while (clock.elapsed() < seconds * 1000);
    return stillRunning;
}

// How the starter logged the end of its child `pid` after `offset` of its log, as a wait status: the line
// "<program> (pid <pid>) ended cleanly", "... ended with status <n>" or "... ended by signal <n> (<name>)";
// -1 while there is none.
int loggedEnd(const QString& log, qint64 offset, pid_t pid) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return -1;
    const QRegularExpression end(
        QStringLiteral("\\(pid %1\\) ended (cleanly|with status (\\d+)|by signal (\\d+))").arg(pid));
    for (const QByteArray& line : file.readAll().split('\n'))
        if (const auto match = end.match(QString::fromUtf8(line)); match.hasMatch()) {
            if (match.capturedLength(2) > 0)
                return (match.captured(2).toInt() & 0xff) << 8;
            if (match.capturedLength(3) > 0)
                return match.captured(3).toInt() & 0x7f;
            return 0;
        }
    return -1;
}

} // namespace

pid_t parentOf(pid_t pid) {
    return pid_t(statusField(pid, "PPid:").toInt());
}

void askToEnd(pid_t pid, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!handlesTermination(pid) && !hasEnded(pid) && clock.elapsed() < seconds * 1000)
        QThread::msleep(10);
    ::kill(pid, SIGTERM);
}

QString endProgram(pid_t pid, double seconds, bool reap) {
    if (pid <= 0)
        return {};
    // A program that is not this process's child is waited for by the program that started it, which logs
    // how it ended: its log from here on says it.
    const pid_t starter = parentOf(pid);
    const QString starterLog = starter > 0 && starter != ::getpid() ? logFileOf(starter) : QString();
    const qint64 logOffset = QFileInfo(starterLog).size();
    askToEnd(pid, std::min(seconds, 5.0));
    // Judged by what the wait saw, never by a second look at the process number: once the program is gone,
    // the number may already be another process's.
    const int status = waitForEnd(pid, seconds, reap);
    if (status >= 0)
        return uncleanEnd(status);
    if (status == stillRunning) {
        ::kill(pid, SIGKILL);
        waitForEnd(pid, 2, reap);
        return QStringLiteral("did not end within %1 s of being asked, and was killed").arg(seconds);
    }
    QElapsedTimer clock;
    clock.start();
    do {
        if (!starterLog.isEmpty())
            if (const int status = loggedEnd(starterLog, logOffset, pid); status >= 0)
                return uncleanEnd(status);
        // A starter that ended before it waited leaves its child to this process.
        if (const int status = waitForEnd(pid, 0, reap); status >= 0)
            return uncleanEnd(status);
        QThread::msleep(20);
    } while (clock.elapsed() < 5000);
    return starterLog.isEmpty()
               ? QStringLiteral("ended where its end cannot be read: its starter (pid %1) keeps no log file")
                     .arg(starter)
               : QStringLiteral("ended, and its starter (pid %1) logged no end of it in %2")
                     .arg(starter)
                     .arg(starterLog);
}

void endProgramsOf(const QString& bundleID, const QString& folder) {
    for (const auto& running : host::workspace().runningApplications(bundleID))
        if (running.bundlePath.startsWith(folder))
            if (const QString end = endProgram(pid_t(running.processIdentifier)); !end.isEmpty())
                ADD_FAILURE() << running.bundlePath.toStdString() << " " << end.toStdString();
}

} // namespace test
