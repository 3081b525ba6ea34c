#pragma once

#include "CorvaneHost/LogSink.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <vector>

namespace test {

struct LogLine {
    QString category;
    host::LogLevel level;
    QString message;
    bool operator==(const LogLine&) const = default;
};

// Records every log line while installed (in place of the program's log), so tests can assert exact texts.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();

    std::vector<LogLine> lines() const;
    // The messages, optionally of one category only.
    QStringList messages(const QString& category = {}) const;
    bool contains(const QString& message) const;
    bool contains(const QString& category, host::LogLevel level, const QString& message) const;
    int count(const QString& message) const;
    void clear();

private:
    class Sink;
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<host::LogSink> previous_;
};

} // namespace test
