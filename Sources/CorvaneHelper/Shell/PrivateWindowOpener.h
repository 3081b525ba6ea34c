#pragma once

#include "CorvaneHost/Error.h"

#include <QString>

// Opens one link in a private ("incognito") window of a browser by running a script in the browser. Runs
// synchronously on the calling thread (the main thread).
namespace PrivateWindowOpener {

// Why the script did not open the link.
class Failure : public host::Error {
public:
    enum class Code { scriptFailed, notPermitted };

    static Failure scriptFailed(const QString& message);
    static Failure notPermitted();

    Code code() const { return code_; }
    // scriptFailed: the script's error message (or "unknown error").
    const QString& message() const { return message_; }

private:
    Failure(Code code, QString message);
    Code code_;
    QString message_;
};

// The system's error number for an Apple event that the user has not permitted.
inline constexpr qint64 kNotPermittedErrorNumber = -1743;

// Runs the script for `link` (its text as written, which the browser is given unchanged) in the application
// with `bundleID`. Throws Failure when the script cannot be made or reports an error.
void open(const QString& link, const QString& bundleID);

// The script text for a link and a bundle identifier, with both values escaped for the string literals.
QString source(const QString& link, const QString& bundleID);

// A value made safe for a script string literal: every backslash doubled, then every double quote escaped.
QString escaped(const QString& value);

} // namespace PrivateWindowOpener
