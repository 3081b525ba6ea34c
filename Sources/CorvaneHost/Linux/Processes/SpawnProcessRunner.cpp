#include "CorvaneHost/Linux/Processes/SpawnProcessRunner.h"

#include "CorvaneHost/Linux/Processes/ChildProcess.h"
#include "CorvaneHost/Services.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace host {
namespace {

#ifndef CORVANE_HOST_TOOLS_DIR
#define CORVANE_HOST_TOOLS_DIR ""
#endif

// The platform tools the product runs, by the paths the product names them with.
const QStringList& platformToolPaths() {
    static const QStringList paths{
        QStringLiteral("/usr/bin/ditto"),    QStringLiteral("/usr/bin/xattr"),
        QStringLiteral("/usr/bin/killall"),  QStringLiteral("/usr/bin/tccutil"),
        QStringLiteral("/bin/launchctl"),    lsregisterToolPath,
        QStringLiteral("/usr/bin/codesign"), QStringLiteral("/usr/bin/iconutil"),
        QStringLiteral("/usr/bin/security"),
    };
    return paths;
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() { reset(); }
    void reset() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

} // namespace

QString hostToolsDirectory() {
    const QString fromEnvironment = qEnvironmentVariable("CORVANE_HOST_TOOLS_DIR");
    return fromEnvironment.isEmpty() ? QStringLiteral(CORVANE_HOST_TOOLS_DIR) : fromEnvironment;
}

QString resolveToolPath(const QString& executablePath) {
    if (!platformToolPaths().contains(executablePath))
        return executablePath;
    return hostToolsDirectory() + QLatin1Char('/') + QFileInfo(executablePath).fileName();
}

host::SystemError toolFailure(const QString& executablePath, int status, const QString& output) {
    return host::SystemError(processRunnerErrorDomain, status,
                             executablePath + QStringLiteral(" failed (") + QString::number(status) +
                                 QStringLiteral("): ") + output);
}

QString SpawnProcessRunner::run(const QString& executablePath, const QStringList& arguments) {
    const QByteArray program = QFile::encodeName(resolveToolPath(executablePath));
    std::vector<QByteArray> argumentBytes;
    argumentBytes.reserve(arguments.size() + 1);
    argumentBytes.push_back(program);
    for (const QString& argument : arguments)
        argumentBytes.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw host::SystemError::fromErrno(QStringLiteral("could not create a pipe"), errno);
    Descriptor readEnd{pipeEnds[0]};
    Descriptor writeEnd{pipeEnds[1]};

    // Both output streams into the one pipe; every other descriptor of this process is closed in the child,
    // whether or not its owner remembered close-on-exec.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    setDefaultSignals(attributes);

    pid_t pid = 0;
    const int spawnError =
        ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawnError != 0)
        throw host::SystemError::fromErrno(QStringLiteral("could not launch %1").arg(executablePath),
                                           spawnError);
    writeEnd.reset();

    // Read to the end before waiting, so a tool that fills the pipe cannot stall.
    QByteArray output;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(readEnd.fd, buffer, sizeof buffer);
        if (count > 0)
            output.append(buffer, count);
        else if (count == 0 || errno != EINTR)
            break;
    }
    readEnd.reset();

    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0) {
        if (errno != EINTR)
            throw host::SystemError::fromErrno(QStringLiteral("could not wait for %1").arg(executablePath),
                                               errno);
    }
    const int status = WIFEXITED(waitStatus)     ? WEXITSTATUS(waitStatus)
                       : WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus)
                                                 : 1;
    const QString text = QString::fromUtf8(output);
    if (status != 0)
        throw toolFailure(executablePath, status, text);
    return text;
}

ProcessRunner& processRunner() {
    return ensureService(services().processRunner, [] { return std::make_shared<SpawnProcessRunner>(); });
}

} // namespace host
