#pragma once

#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace host {

// The keys of a script's error information.
inline const QString kScriptErrorNumber = QStringLiteral("NSAppleScriptErrorNumber");
inline const QString kScriptErrorMessage = QStringLiteral("NSAppleScriptErrorMessage");

// A compiled script, ready to run.
class Script {
public:
    virtual ~Script() = default;
    // Runs the script synchronously on the calling thread. None on success; otherwise the error information
    // (kScriptErrorNumber as an integer, kScriptErrorMessage as a string, either may be missing).
    virtual std::optional<QVariantMap> execute() = 0;
};

// Compiling and running scripts against other applications (browsers).
class ScriptRunner {
public:
    virtual ~ScriptRunner() = default;
    // None when the text cannot be made into a script.
    virtual std::unique_ptr<Script> compile(const QString& source) = 0;
};

} // namespace host
