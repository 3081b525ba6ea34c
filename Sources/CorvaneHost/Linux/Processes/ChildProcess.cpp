#include "CorvaneHost/Linux/Processes/ChildProcess.h"

#include "CorvaneHost/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <csignal>

namespace host {
namespace {

constexpr qint64 kLogLimitBytes = 1 << 20;

// A log name is one plain file name, whatever the program calls itself.
QString fileNameFor(const QString& name) {
    QString safe = name;
    safe.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (safe.isEmpty() || safe.startsWith(QLatin1Char('.')))
        safe.prepend(QLatin1Char('_'));
    return safe + QStringLiteral(".log");
}

} // namespace

void setDefaultSignals(posix_spawnattr_t& attributes) {
    sigset_t all;
    ::sigfillset(&all);
    ::sigdelset(&all, SIGKILL);
    ::sigdelset(&all, SIGSTOP);
    sigset_t none;
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    short flags = 0;
    ::posix_spawnattr_getflags(&attributes, &flags);
    ::posix_spawnattr_setflags(&attributes, short(flags | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));
}

void restoreDefaultSignalsInChild() {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigemptyset(&standard.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            ::sigaction(signal, &standard, nullptr); // fails harmlessly for numbers the system reserves
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

QString launchLogPath(const QString& name) {
    const QString folder = hostStateDirectory() + QStringLiteral("/logs");
    ensurePrivateDirectory(folder);
    return folder + QLatin1Char('/') + fileNameFor(name);
}

void detachFromCaller(QProcess& process, const QString& logName) {
    const QString log = launchLogPath(logName);
    if (QFileInfo(log).size() > kLogLimitBytes) {
        QFile::remove(log + QStringLiteral(".old"));
        QFile::rename(log, log + QStringLiteral(".old"));
    }
    process.setWorkingDirectory(QDir::rootPath());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(log, QIODevice::Append);
    process.setStandardErrorFile(log, QIODevice::Append);
    process.setChildProcessModifier(restoreDefaultSignalsInChild);
}

std::optional<qint64> startDetached(const QString& program, const QStringList& arguments,
                                    const QMap<QString, QString>& environment, const QString& logName,
                                    QString& failure) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    detachFromCaller(process, logName);
    if (!environment.isEmpty()) {
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (auto it = environment.begin(); it != environment.end(); ++it)
            variables.insert(it.key(), it.value());
        process.setProcessEnvironment(variables);
    }
    qint64 pid = 0;
    if (!process.startDetached(&pid) || pid <= 0) {
        failure = process.errorString();
        return std::nullopt;
    }
    return pid;
}

} // namespace host
