#include "Support/HelperSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <sys/wait.h>

namespace test {

HelperProcess::HelperProcess() = default;

HelperProcess::~HelperProcess() {
    stop();
}

QString HelperProcess::program() {
    return QStringLiteral(CORVANE_BUILD_DIR
                          "/Corvane.app/Contents/Library/CorvaneHelper.app/Contents/MacOS/CorvaneHelper");
}

bool HelperProcess::start(const QProcessEnvironment& environment) {
    if (pid_ > 0)
        return true;
    QProcess process;
    process.setProgram(program());
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(folder_.filePath(QStringLiteral("helper.log")));
    process.setStandardErrorFile(folder_.filePath(QStringLiteral("helper.log")), QIODevice::Append);
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return false;
    pid_ = pid_t(pid);
    return true;
}

void HelperProcess::stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    QElapsedTimer elapsed;
    elapsed.start();
    // Started detached, the helper is not this process's child: wait for it to be gone.
    while (::kill(pid_, 0) == 0 && elapsed.elapsed() < 10000) {
        ::waitpid(pid_, nullptr, WNOHANG);
        QThread::msleep(20);
    }
    if (::kill(pid_, 0) == 0)
        ::kill(pid_, SIGKILL);
    pid_ = 0;
}

QString HelperProcess::log() const {
    QFile file(folder_.filePath(QStringLiteral("helper.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace test
