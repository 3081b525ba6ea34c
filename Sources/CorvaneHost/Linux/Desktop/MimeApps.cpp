#include "CorvaneHost/Linux/Desktop/MimeApps.h"

#include "CorvaneHost/Error.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace host {
namespace {

const QString defaultsGroup = QStringLiteral("[Default Applications]");

QString configHome() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    return configured.isEmpty() ? homeDirectory() + QStringLiteral("/.config") : configured;
}

QStringList configDirectories() {
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/etc/xdg");
    return dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

// "<desktop>-mimeapps.list" then "mimeapps.list" in `dir`, for each desktop of XDG_CURRENT_DESKTOP.
QStringList filesIn(const QString& dir) {
    QStringList files;
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        files.append(dir + QLatin1Char('/') + desktop.toLower() + QStringLiteral("-mimeapps.list"));
    files.append(dir + QStringLiteral("/mimeapps.list"));
    return files;
}

QString keyOf(const QString& line) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    return equals <= 0 ? QString() : line.left(equals).trimmed();
}

bool isGroupHeader(const QString& line) {
    return line.trimmed().startsWith(QLatin1Char('['));
}

} // namespace

QString userMimeAppsPath() {
    return configHome() + QStringLiteral("/mimeapps.list");
}

QStringList mimeAppsFiles() {
    QStringList files = filesIn(configHome());
    for (const QString& dir : configDirectories())
        files += filesIn(dir);
    for (const QString& dir : desktopEntryDirectories())
        files += filesIn(dir);
    return files;
}

QStringList defaultDesktopIds(const QString& mimeType) {
    QStringList ids;
    if (mimeType.isEmpty())
        return ids;
    for (const QString& file : mimeAppsFiles()) {
        const QString value =
            readDesktopFileGroup(file, QStringLiteral("Default Applications")).value(mimeType);
        for (const QString& id : value.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (!id.trimmed().isEmpty())
                ids.append(id.trimmed());
    }
    return ids;
}

void setUserDefaults(const QStringList& mimeTypes, const QString& desktopId) {
    // A file kept elsewhere and linked here (as dotfile managers do) is changed where it lies; the link
    // stays.
    const QFileInfo userFile(userMimeAppsPath());
    const QString path =
        userFile.isSymLink() && userFile.exists() ? userFile.canonicalFilePath() : userFile.filePath();
    QStringList lines;
    QFile existing(path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            throw SystemError(QStringLiteral("MimeApps"), 1,
                              QStringLiteral("could not read %1: %2").arg(path, existing.errorString()));
        lines = QString::fromUtf8(existing.readAll()).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
    }

    QStringList pending = mimeTypes;
    // Lines of the defaults group that name one of the types get the new value; the rest stay.
    qsizetype groupEnd = -1; // where missing types go: after the group's last entry
    bool inGroup = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isGroupHeader(lines[i])) {
            inGroup = lines[i].trimmed() == defaultsGroup;
            if (inGroup)
                groupEnd = i + 1;
            continue;
        }
        if (!inGroup)
            continue;
        const QString key = keyOf(lines[i]);
        if (mimeTypes.contains(key)) {
            lines[i] = key + QLatin1Char('=') + desktopId;
            pending.removeAll(key);
        }
        if (!lines[i].trimmed().isEmpty())
            groupEnd = i + 1;
    }
    if (!pending.isEmpty() && groupEnd < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(defaultsGroup);
        groupEnd = lines.size();
    }
    for (const QString& type : pending)
        lines.insert(groupEnd++, type + QLatin1Char('=') + desktopId);

    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 || !file.commit())
        throw SystemError(QStringLiteral("MimeApps"), 2,
                          QStringLiteral("could not write %1: %2").arg(path, file.errorString()));
}

} // namespace host
