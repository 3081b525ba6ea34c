#pragma once

#include <QString>

namespace host {

// The bundle identifier by which the product asks for Google Chrome. On this machine it names the installed
// Google Chrome, else Chromium, which then serves as Chrome.
inline const QString chromeBundleIdentifier = QStringLiteral("com.google.Chrome");

// The folder where this machine's Chrome keeps its data ("Local State" and one folder per profile).
QString chromeUserDataDirectory();

} // namespace host
