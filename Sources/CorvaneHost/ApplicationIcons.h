#pragma once

#include <QString>
#include <optional>

namespace host {

// The image file of an application's icon, as the workspace reports the application (a bundle folder or this
// desktop's entry): a bundle's "Contents/Resources/" icon file (CFBundleIconFile, else "app.icns"); for a
// desktop entry, its Icon in the icon theme, the largest size there is. None when there is no such file.
std::optional<QString> applicationIconFile(const QString& appPath);

} // namespace host
