#pragma once

#include "CorvaneIcon/IconSpec.h"

#include <QString>
#include <QStringList>
#include <vector>

// Writes an icon as an .icns file: every size of an icon set rendered once, packed by iconutil.
namespace IcnsWriter {

struct IconSetFile {
    QString fileName;
    int pixels;
};
// The ten files of an icon set, in order.
const std::vector<IconSetFile>& iconSetFiles();

// Returns the PNG of the largest size, the image the desktop shows for the file (so no caller reads the file
// back to decode it). Throws the renderer's, the file system's or the tool's error; no work folder remains
// afterwards.
QByteArray write(const IconSpec& iconDescription, const QString& destination);

} // namespace IcnsWriter

// Writes an icon as an icon-package folder ("Assets/artwork.png" edge to edge and "icon.json").
namespace IconPackageWriter {

// The fixed description file.
QByteArray iconJson();

// Replaces only an earlier icon package (a folder holding "icon.json") or a plain file at `destination`;
// anything else there is an error and stays untouched.
void write(const IconSpec& iconDescription, const QString& destination);

} // namespace IconPackageWriter

// Encodes an image as PNG; throws RenderError contextFailed when nothing comes out.
QByteArray pngData(const QImage& image);
// A fresh scratch folder "<prefix><UUID>" in the user's temporary folder, removed with its contents when the
// value goes. Throws the file system's error when it cannot be made.
class WorkFolder {
public:
    explicit WorkFolder(const QString& prefix);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const QString& path() const { return path_; }

private:
    QString path_;
};
