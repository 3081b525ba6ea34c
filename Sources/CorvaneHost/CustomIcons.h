#pragma once

#include <QByteArray>
#include <QString>

namespace host {

// Gives a file or folder a custom icon in the file manager, from PNG bytes. The picture is kept in the host's
// state folder and the file only points at it (outside a bundle, so a bundle's seal stays valid). False when
// this desktop offers no way to set it or setting it failed.
bool setCustomIcon(const QString& path, const QByteArray& png);

} // namespace host
