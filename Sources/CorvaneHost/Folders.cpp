#include "CorvaneHost/Folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {
namespace {

bool isPrivateFolderOfMine(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 0077) == 0;
}

// "/tmp/corvane-<uid>", created on demand; empty when someone else holds that name or opened it up.
QString privateFolderInSystemTemporary() {
    const QString path = QStringLiteral("/tmp/corvane-%1").arg(::getuid());
    ::mkdir(QFile::encodeName(path).constData(), 0700);
    return isPrivateFolderOfMine(path) ? path : QString();
}

bool fitsSocketAddress(const QString& path) {
    return path.toUtf8().size() < kSocketPathLimit;
}

} // namespace

QString homeDirectory() {
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return QDir::cleanPath(QFile::decodeName(entry->pw_dir));
    return QDir::rootPath();
}

bool ensurePrivateDirectory(const QString& path) {
    QFileInfo info(path);
    if (info.isDir())
        return true;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return QFileInfo(path).isDir();
}

QString temporaryDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolderOfMine(runtime))
        return QDir::cleanPath(runtime);
    if (const QString fallback = privateFolderInSystemTemporary(); !fallback.isEmpty())
        return fallback;
    // Someone else holds that name or opened it up: use a folder inside the home folder instead.
    const QString inHome = homeDirectory() + QStringLiteral("/.cache/corvane-tmp");
    ensurePrivateDirectory(inHome);
    return inHome;
}

QString hostStateDirectory() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty())
        base = homeDirectory() + QStringLiteral("/.local/state");
    const QString path = QDir::cleanPath(base + QStringLiteral("/corvane-host"));
    ensurePrivateDirectory(path);
    return path;
}

QStringList applicationFolders() {
    QStringList folders{QStringLiteral("/Applications"), homeDirectory() + QStringLiteral("/Applications")};
    for (const QString& folder :
         qEnvironmentVariable("CORVANE_APPLICATIONS_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.append(folder);
    QStringList cleaned;
    for (const QString& folder : folders) {
        const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
        if (!cleaned.contains(path))
            cleaned.append(path);
    }
    return cleaned;
}

QString socketPath(const QString& preferred, const QString& fallbackName) {
    if (fitsSocketAddress(preferred))
        return preferred;
    const QString inTemporary = temporaryDirectory() + QLatin1Char('/') + fallbackName;
    if (fitsSocketAddress(inTemporary))
        return inTemporary;
    const QString folder = privateFolderInSystemTemporary();
    if (folder.isEmpty())
        return inTemporary; // nowhere shorter of this user's own: listening there fails and says so
    // Named after the preferred path, so that programs with different runtime folders (two sessions, two
    // test homes) never meet on one socket.
    const QByteArray digest = QCryptographicHash::hash(preferred.toUtf8(), QCryptographicHash::Sha1);
    return folder + QStringLiteral("/corvane-") + QString::fromLatin1(digest.toHex().left(24)) +
           QStringLiteral(".sock");
}

QString hostRuntimeDirectory() {
    const QString path = temporaryDirectory() + QStringLiteral("/corvane-host");
    ensurePrivateDirectory(path);
    return path;
}

} // namespace host
