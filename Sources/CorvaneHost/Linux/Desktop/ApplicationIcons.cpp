#include "CorvaneHost/ApplicationIcons.h"

#include "CorvaneHost/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

namespace host {

namespace {

std::optional<QString> existingFile(const QString& path) {
    return QFileInfo(path).isFile() ? std::optional<QString>(path) : std::nullopt;
}

std::optional<QString> bundleIconFile(const QString& bundlePath) {
    const auto info = readBundleInfo(bundlePath);
    QString name = info ? info->value(QStringLiteral("CFBundleIconFile")).toString() : QString();
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        name = QStringLiteral("app.icns");
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".icns");
    return existingFile(bundlePath + QStringLiteral("/Contents/Resources/") + name);
}

QString desktopEntryIconName(const QString& entryPath) {
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream in(&file);
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && line.startsWith(QLatin1String("Icon=")))
            return line.mid(5).trimmed();
    }
    return {};
}

// The hicolor theme's largest raster of the icon, else its scalable picture, else a legacy pixmap.
std::optional<QString> themeIconFile(const QString& iconName) {
    if (QFileInfo(iconName).isAbsolute())
        return existingFile(iconName);
    if (iconName.isEmpty() || iconName.contains(QLatin1Char('/')))
        return std::nullopt;
    const QStringList dataDirectories =
        QStringList{QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)} +
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    std::optional<QString> best;
    int bestSize = 0;
    std::optional<QString> scalable;
    for (const QString& data : dataDirectories) {
        const QDir theme(data + QStringLiteral("/icons/hicolor"));
        for (const QString& sizeFolder : theme.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString base = theme.filePath(sizeFolder) + QStringLiteral("/apps/") + iconName;
            if (sizeFolder == QLatin1String("scalable")) {
                if (!scalable)
                    scalable = existingFile(base + QStringLiteral(".svg"));
                continue;
            }
            const int size = sizeFolder.section(QLatin1Char('x'), 0, 0).toInt();
            if (size > bestSize) {
                if (const auto png = existingFile(base + QStringLiteral(".png"))) {
                    best = png;
                    bestSize = size;
                }
            }
        }
    }
    if (best)
        return best;
    if (scalable)
        return scalable;
    for (const QString& data : dataDirectories)
        if (const auto pixmap =
                existingFile(data + QStringLiteral("/pixmaps/") + iconName + QStringLiteral(".png")))
            return pixmap;
    return std::nullopt;
}

} // namespace

std::optional<QString> applicationIconFile(const QString& appPath) {
    if (appPath.endsWith(QLatin1String(".desktop")))
        return themeIconFile(desktopEntryIconName(appPath));
    if (QFileInfo(appPath).isDir())
        return bundleIconFile(appPath);
    return std::nullopt;
}

} // namespace host
