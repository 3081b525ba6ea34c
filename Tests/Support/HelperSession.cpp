#include "Support/HelperSession.h"

#include "Support/ProgramEnd.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <utility>

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
    // Started detached, the helper is not this process's child: its reaper, this process reads how it ended.
    adoptDetachedPrograms();
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return false;
    pid_ = pid_t(pid);
    return true;
}

void HelperProcess::stop() {
    if (pid_ <= 0)
        return;
    if (const QString end = endProgram(std::exchange(pid_, 0)); !end.isEmpty())
        ADD_FAILURE() << "the helper " << end.toStdString() << "; its log:\n" << log().toStdString();
}

QString HelperProcess::log() const {
    QFile file(folder_.filePath(QStringLiteral("helper.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace test
