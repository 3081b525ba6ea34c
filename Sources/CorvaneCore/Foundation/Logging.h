#pragma once

#include "CorvaneHost/LogSink.h"

#include <QString>

// The product's loggers: one subsystem ("app.corvane"), five categories. Messages arrive with their arguments
// already interpolated; string arguments are written in clear text, control characters (line breaks above
// all) as escapes such as "\n", so that every entry stays one line.
namespace Log {

class Logger {
public:
    explicit constexpr Logger(const char* category)
        : category_(category) {}

    QString category() const { return QString::fromLatin1(category_); }
    void debug(const QString& message) const { write(host::LogLevel::Debug, message); }
    void info(const QString& message) const { write(host::LogLevel::Info, message); }
    void log(const QString& message) const { write(host::LogLevel::Default, message); }
    void error(const QString& message) const { write(host::LogLevel::Error, message); }
    void fault(const QString& message) const { write(host::LogLevel::Fault, message); }

private:
    void write(host::LogLevel level, const QString& message) const;
    const char* category_;
};

inline constexpr Logger creator{"creator"};
inline constexpr Logger helper{"helper"};
inline constexpr Logger stub{"stub"};
inline constexpr Logger ax{"ax"};
inline constexpr Logger ipc{"ipc"};

} // namespace Log

// Throttles warnings shown to the user, per key, across processes and restarts: the modification date of the
// marker file "warned-<key>" in the support folder is when the warning was last given.
namespace WarnThrottle {

// True when the warning may be given now; a true answer stamps the marker with the current time.
bool shouldWarn(const QString& key, double interval);
// Removes the key's marker so the next shouldWarn for it is true.
void reset(const QString& key);

// A key is used as a file name, so only a plain name is accepted ("", ".", "..", "/" or NUL are not):
// shouldWarn then always warns and never touches the disk, and reset does nothing.
bool isUsableKey(const QString& key);

} // namespace WarnThrottle
