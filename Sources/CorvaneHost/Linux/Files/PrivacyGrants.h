#pragma once

#include <QString>
#include <QStringList>

namespace host {

// The privacy permissions ("Accessibility", "ScreenCapture", ...) that the user granted to programs, by
// bundle identifier, as this machine records them: "privacy-grants.json" in the host state folder, an object
// of service names with the list of granted bundle identifiers. tccutil withdraws grants from it.
namespace PrivacyGrants {

QString recordPath();
QStringList grantedBundleIDs(const QString& service);
bool isGranted(const QString& service, const QString& bundleID);
// Change the record under a lock, so that programs granting at the same time lose nothing. Throw
// host::SystemError when the lock cannot be taken, or the record is there but cannot be read, or cannot be
// written.
void grant(const QString& service, const QString& bundleID);
// Withdraws the grant of `bundleID` (of every program when empty) for `service` ("All": every service).
void reset(const QString& service, const QString& bundleID = {});

} // namespace PrivacyGrants
} // namespace host
