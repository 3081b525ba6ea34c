#include "Support/HostToolRun.h"

#include <QProcess>

namespace test {

ToolRun runHostTool(const QString& name, const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.start(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/") + name, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {status, QString::fromUtf8(process.readAllStandardError()).trimmed(),
            QString::fromUtf8(process.readAllStandardOutput()).trimmed()};
}

} // namespace test
