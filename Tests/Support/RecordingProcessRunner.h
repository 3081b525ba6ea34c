#pragma once

#include "CorvaneHost/ProcessRunner.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace test {

// A process runner that records every run and answers as the test says: per executable path an output, a
// non-zero exit (the runner's own error text) or a launch failure; by default an empty output, or, with
// `forwardTo`, whatever the real tool does.
class RecordingProcessRunner final : public host::ProcessRunner {
public:
    struct Run {
        QString executablePath;
        QStringList arguments;
        bool operator==(const Run&) const = default;
    };

    // Answers for one executable path (the latest setting wins).
    void respond(const QString& executablePath, const QString& output);
    void exitWith(const QString& executablePath, int status, const QString& output = {});
    void failLaunch(const QString& executablePath, int errnoValue = 2);
    // Any other answer: run the call by this function (it may throw).
    void handle(const QString& executablePath, std::function<QString(const QStringList&)> handler);
    // Paths without an answer of their own run on this runner (for example the real one) instead.
    void forwardTo(std::shared_ptr<host::ProcessRunner> runner) { forward_ = std::move(runner); }

    std::vector<Run> runs() const;
    // The runs of one executable path.
    std::vector<QStringList> argumentsOf(const QString& executablePath) const;
    void clear();

    QString run(const QString& executablePath, const QStringList& arguments) override;

private:
    mutable std::mutex mutex_;
    std::vector<Run> runs_;
    QMap<QString, std::function<QString(const QStringList&)>> handlers_;
    std::shared_ptr<host::ProcessRunner> forward_;
};

// Installs a RecordingProcessRunner as host::processRunner() for its lifetime and restores the previous one.
class RecordingProcessRunnerScope {
public:
    RecordingProcessRunnerScope();
    ~RecordingProcessRunnerScope();
    RecordingProcessRunnerScope(const RecordingProcessRunnerScope&) = delete;
    RecordingProcessRunnerScope& operator=(const RecordingProcessRunnerScope&) = delete;
    RecordingProcessRunner& runner() { return *runner_; }
    RecordingProcessRunner* operator->() { return runner_.get(); }

private:
    std::shared_ptr<RecordingProcessRunner> runner_;
    std::shared_ptr<host::ProcessRunner> previous_;
};

} // namespace test
