#include "CorvaneHost/Linux/Processes/ChildProcess.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Processes/ChildReaper.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

extern char** environ;

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

// This process's environment with `changes` put in.
std::vector<QByteArray> environmentWith(const QMap<QString, QString>& changes) {
    std::vector<QByteArray> variables;
    for (char** entry = environ; entry && *entry; ++entry) {
        const QByteArray variable(*entry);
        if (!changes.contains(QFile::decodeName(variable.left(variable.indexOf('=')))))
            variables.push_back(variable);
    }
    for (auto it = changes.begin(); it != changes.end(); ++it)
        variables.push_back(QFile::encodeName(it.key()) + '=' + QFile::encodeName(it.value()));
    return variables;
}

// The null-terminated list of pointers that exec takes.
std::vector<char*> pointersTo(std::vector<QByteArray>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (QByteArray& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

QString launchLogPath(const QString& name) {
    const QString folder = hostStateDirectory() + QStringLiteral("/logs");
    ensurePrivateDirectory(folder);
    return folder + QLatin1Char('/') + fileNameFor(name);
}

std::optional<qint64> startDetached(const QString& program, const QStringList& arguments,
                                    const QMap<QString, QString>& environment, const QString& logName,
                                    QString& failure, ProgramEndCompletion whenEnded) {
    const QString logPath = launchLogPath(logName);
    if (QFileInfo(logPath).size() > kLogLimitBytes) {
        QFile::remove(logPath + QStringLiteral(".old"));
        QFile::rename(logPath, logPath + QStringLiteral(".old"));
    }
    const QByteArray log = QFile::encodeName(logPath);
    const QByteArray executable = QFile::encodeName(program);
    std::vector<QByteArray> argumentBytes{executable};
    for (const QString& argument : arguments)
        argumentBytes.push_back(QFile::encodeName(argument));
    std::vector<QByteArray> variables = environmentWith(environment);

    // Independent of whoever asked, as a program the desktop starts is: a session of its own (the caller's
    // terminal and its signals never reach it), input from /dev/null, output appended to its log, the root
    // folder as working folder, default signals, and none of this process's descriptors.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.constData(), O_WRONLY | O_CREAT | O_APPEND,
                                     0666);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    setDefaultSignals(attributes);

    pid_t pid = 0;
    // A bare name is looked for on PATH, as the desktop does.
    const int error = ::posix_spawnp(&pid, executable.constData(), &actions, &attributes,
                                     pointersTo(argumentBytes).data(), pointersTo(variables).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0 || pid <= 0) {
        failure = QString::fromLocal8Bit(std::strerror(error != 0 ? error : EINVAL));
        return std::nullopt;
    }
    // This process's child (one spawn, not the copy of this whole process that a double fork costs on every
    // link): it is waited for when it ends rather than left a zombie, and its end is logged.
    reapWhenEnded(pid, program, std::move(whenEnded));
    return pid;
}

} // namespace host
