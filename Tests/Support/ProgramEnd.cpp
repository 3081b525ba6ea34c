#include "Support/ProgramEnd.h"

#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/Files.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>

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
    if (WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) != SIGTERM)
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
        return process.exitCode() == SIGTERM ? QString() : uncleanEnd(process.exitCode() & 0x7f);
    return uncleanEnd(process.exitCode() << 8);
}

namespace {

// The wait status of the program `pid` once it ended within `seconds` (left for its owner to reap unless
// `reap`); -1 when it runs on, or when it is no child of this process and has ended.
int waitForEnd(pid_t pid, double seconds, bool reap) {
    QElapsedTimer clock;
    clock.start();
    do {
        siginfo_t info{};
        if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | (reap ? 0 : WNOWAIT)) == 0) {
            if (info.si_pid == pid)
                return info.si_code == CLD_EXITED ? (info.si_status & 0xff) << 8 : (info.si_status & 0x7f);
        } else if (hasEnded(pid)) {
            return -1;
        }
        QThread::msleep(20);
    } while (clock.elapsed() < seconds * 1000);
    return -1;
}

} // namespace

QString endProgram(pid_t pid, double seconds, bool reap) {
    if (pid <= 0)
        return {};
    ::kill(pid, SIGTERM);
    const int status = waitForEnd(pid, seconds, reap);
    if (status >= 0)
        return uncleanEnd(status);
    if (hasEnded(pid))
        return {};
    ::kill(pid, SIGKILL);
    waitForEnd(pid, 2, reap);
    return QStringLiteral("did not end within %1 s of being asked, and was killed").arg(seconds);
}

void endProgramsOf(const QString& bundleID, const QString& folder) {
    for (const auto& running : host::workspace().runningApplications(bundleID))
        if (running.bundlePath.startsWith(folder))
            if (const QString end = endProgram(pid_t(running.processIdentifier)); !end.isEmpty())
                ADD_FAILURE() << running.bundlePath.toStdString() << " " << end.toStdString();
}

} // namespace test
