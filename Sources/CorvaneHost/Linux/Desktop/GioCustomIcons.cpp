#include "CorvaneHost/CustomIcons.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/Services.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

namespace host {

namespace {

// The desktop's file managers read a custom icon from the file's GIO metadata, set with the gio tool.
const QString gioTool = QStringLiteral("/usr/bin/gio");

} // namespace

bool setCustomIcon(const QString& path, const QByteArray& png) {
    if (png.isEmpty() || !QFileInfo::exists(path) || !QFileInfo(gioTool).isExecutable())
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString folder = hostStateDirectory() + QStringLiteral("/custom-icons");
    if (!QDir().mkpath(folder))
        return false;
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha256).toHex());
    QSaveFile icon(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    if (!icon.open(QIODevice::WriteOnly) || icon.write(png) != png.size() || !icon.commit())
        return false;
    try {
        processRunner().run(gioTool, {QStringLiteral("set"), QStringLiteral("-t"), QStringLiteral("string"),
                                      absolute, QStringLiteral("metadata::custom-icon"),
                                      QUrl::fromLocalFile(icon.fileName()).toString()});
        return true;
    } catch (const Error&) {
        return false;
    }
}

} // namespace host
