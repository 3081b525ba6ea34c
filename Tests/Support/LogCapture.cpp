#include "Support/LogCapture.h"

#include "CorvaneHost/Services.h"

#include <algorithm>

namespace test {

class LogCapture::Sink final : public host::LogSink {
public:
    void write(const QString&, const QString& category, host::LogLevel level,
               const QString& message) override {
        std::lock_guard lock(mutex);
        lines.push_back({category, level, message});
    }
    mutable std::mutex mutex;
    std::vector<LogLine> lines;
};

// Other threads (a server's queue) may be logging meanwhile: the sink is swapped under the services' lock,
// under which they look it up.
LogCapture::LogCapture()
    : sink_(std::make_shared<Sink>()) {
    previous_ = host::replaceService(host::services().logSink, sink_);
}

LogCapture::~LogCapture() {
    host::replaceService(host::services().logSink, std::move(previous_));
}

std::vector<LogLine> LogCapture::lines() const {
    std::lock_guard lock(sink_->mutex);
    return sink_->lines;
}

QStringList LogCapture::messages(const QString& category) const {
    QStringList result;
    for (const LogLine& line : lines())
        if (category.isEmpty() || line.category == category)
            result << line.message;
    return result;
}

bool LogCapture::contains(const QString& message) const {
    return messages().contains(message);
}

bool LogCapture::contains(const QString& category, host::LogLevel level, const QString& message) const {
    const auto all = lines();
    return std::find(all.begin(), all.end(), LogLine{category, level, message}) != all.end();
}

int LogCapture::count(const QString& message) const {
    return static_cast<int>(messages().count(message));
}

void LogCapture::clear() {
    std::lock_guard lock(sink_->mutex);
    sink_->lines.clear();
}

} // namespace test
