#include "Support/RecordingProcessRunner.h"

#include "CorvaneHost/Services.h"

namespace test {

void RecordingProcessRunner::respond(const QString& executablePath, const QString& output) {
    handle(executablePath, [output](const QStringList&) { return output; });
}

void RecordingProcessRunner::exitWith(const QString& executablePath, int status, const QString& output) {
    handle(executablePath, [executablePath, status, output](const QStringList&) -> QString {
        if (status == 0)
            return output;
        throw host::toolFailure(executablePath, status, output);
    });
}

void RecordingProcessRunner::failLaunch(const QString& executablePath, int errnoValue) {
    handle(executablePath, [executablePath, errnoValue](const QStringList&) -> QString {
        throw host::SystemError::fromErrno(QStringLiteral("could not launch %1").arg(executablePath),
                                           errnoValue);
    });
}

void RecordingProcessRunner::handle(const QString& executablePath,
                                    std::function<QString(const QStringList&)> handler) {
    std::lock_guard lock(mutex_);
    handlers_.insert(executablePath, std::move(handler));
}

std::vector<RecordingProcessRunner::Run> RecordingProcessRunner::runs() const {
    std::lock_guard lock(mutex_);
    return runs_;
}

std::vector<QStringList> RecordingProcessRunner::argumentsOf(const QString& executablePath) const {
    std::vector<QStringList> result;
    for (const Run& run : runs())
        if (run.executablePath == executablePath)
            result.push_back(run.arguments);
    return result;
}

void RecordingProcessRunner::clear() {
    std::lock_guard lock(mutex_);
    runs_.clear();
}

QString RecordingProcessRunner::run(const QString& executablePath, const QStringList& arguments) {
    std::function<QString(const QStringList&)> handler;
    std::shared_ptr<host::ProcessRunner> forward;
    {
        std::lock_guard lock(mutex_);
        runs_.push_back({executablePath, arguments});
        handler = handlers_.value(executablePath);
        forward = forward_;
    }
    if (handler)
        return handler(arguments);
    if (forward)
        return forward->run(executablePath, arguments);
    return {};
}

RecordingProcessRunnerScope::RecordingProcessRunnerScope()
    : runner_(std::make_shared<RecordingProcessRunner>())
    , previous_(host::replaceService(host::services().processRunner, runner_)) {}

RecordingProcessRunnerScope::~RecordingProcessRunnerScope() {
    host::replaceService(host::services().processRunner, std::move(previous_));
}

} // namespace test
