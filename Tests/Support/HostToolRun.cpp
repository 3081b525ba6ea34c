#include "Support/HostToolRun.h"

#include "Support/Files.h"

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

ToolRun runLoggingTo(const QString& program, const QStringList& arguments, const QString& logFile,
                     int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(logFile, QIODevice::Append);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = readText(logFile);
    return run;
}

} // namespace test
