#include "CorvaneHost/Folders.h"

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
    const QString fallback = QStringLiteral("/tmp/corvane-%1").arg(::getuid());
    ::mkdir(QFile::encodeName(fallback).constData(), 0700);
    if (isPrivateFolderOfMine(fallback))
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

QString hostRuntimeDirectory() {
    const QString path = temporaryDirectory() + QStringLiteral("/corvane-host");
    ensurePrivateDirectory(path);
    return path;
}

} // namespace host
