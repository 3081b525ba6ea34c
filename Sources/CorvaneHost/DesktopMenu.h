#pragma once

#include <QString>

namespace host {

// Takes the entries that the host wrote for the bundle at `bundlePath` (or any bundle inside it) out of the
// desktop's application menu, with the icons taken out for them, so the menu offers no app that went away
// (moved to the Trash, say). Entries of other bundles and the desktop's own stay. Never fails.
void removeBundleMenuEntries(const QString& bundlePath);

} // namespace host
