#pragma once

#include <QString>

// The helper's entry: the login-item copy inside the creator's bundle only makes sure the installed copy in
// the support folder exists and opens it; every other copy runs as the helper.
namespace HelperStartup {

inline const QString loginItemMarker = QStringLiteral("/Contents/Library/LoginItems/");

// Whether a helper bundle at this path is the login-item copy (a plain, case-sensitive substring test).
bool isLoginItem(const QString& bundlePath);

// The creator's Contents/Library/CorvaneHelper.app, seen from the login-item copy at `bundlePath`.
QString relocationSource(const QString& bundlePath);

// The login item's whole job: copy the helper into the support folder when none is there (clearing its
// extended attributes), then open the installed copy in the background as a new instance. Every failure is
// ignored; nothing is logged.
void relocate(const QString& bundlePath);

// Runs the helper as the application (accessory policy, the one delegate) until it terminates; returns the
// exit status.
int runHelper();

// The entry point: relocates and returns 0 for the login-item copy, else runs the helper.
int run(const QString& bundlePath);

} // namespace HelperStartup
