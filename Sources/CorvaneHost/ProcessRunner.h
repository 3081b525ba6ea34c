#pragma once

#include "CorvaneHost/Error.h"

#include <QString>
#include <QStringList>

namespace host {

// The error domain of a tool that ran but exited with a non-zero status.
inline const QString processRunnerErrorDomain = QStringLiteral("Corvane");

// The platform's LaunchServices registration tool, as callers name it.
inline const QString lsregisterToolPath = QStringLiteral(
    "/System/Library/Frameworks/CoreServices.framework/Versions/A/Frameworks/LaunchServices.framework/"
    "Versions/A/Support/lsregister");

// Runs external tools: the executable is started directly (no shell, no search of PATH) with the arguments as
// given; environment, working folder and standard input are inherited; standard output and standard error
// arrive interleaved in one text. Blocks the calling thread until the tool exits.
class ProcessRunner {
public:
    virtual ~ProcessRunner() = default;

    // Returns the tool's output (UTF-8, invalid sequences replaced, not trimmed). Throws
    // host::SystemError: when the tool cannot be started, the system's error (domain
    // "NSPOSIXErrorDomain"); when it exits with a non-zero status, domain "Corvane", the status as code, and
    // "<path> failed (<status>): <output>".
    virtual QString run(const QString& executablePath, const QStringList& arguments) = 0;
};

// The folder of the stand-ins for the platform tools: $CORVANE_HOST_TOOLS_DIR when set, else the build's.
QString hostToolsDirectory();

// Where a platform tool's path ("/usr/bin/ditto", "/bin/launchctl", lsregister, ...) points on this machine:
// its stand-in in the host tools folder. Any other path is returned unchanged.
QString resolveToolPath(const QString& executablePath);

// The error of a tool that exited with `status` after printing `output`.
host::SystemError toolFailure(const QString& executablePath, int status, const QString& output);

} // namespace host
