#include "CorvaneHost/Trash.h"

#include "CorvaneHost/DesktopMenu.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace host {

namespace {

// The codes of the file manager's errors: no such file, no permission.
constexpr int noSuchFileCode = 4;
constexpr int noPermissionCode = 513;

host::SystemError trashError(const QString& path, int code, const QString& reason) {
    return host::SystemError(
        QStringLiteral("NSCocoaErrorDomain"), code,
        QStringLiteral("“%1” couldn’t be moved to the Trash: %2").arg(QFileInfo(path).fileName(), reason));
}

// Undoes a move that went to a "files" folder of the working directory instead of a Trash.
void putBack(const QString& misplaced, const QString& original) {
    const QFileInfo placed(misplaced);
    QFile::rename(misplaced, original);
    const QDir files = placed.absoluteDir();
    const QString info =
        files.absoluteFilePath(QStringLiteral("../info/") + placed.fileName() + QStringLiteral(".trashinfo"));
    QFile::remove(info);
    QDir().rmdir(QFileInfo(info).absolutePath());
    QDir().rmdir(files.absolutePath());
}

} // namespace

QString moveToTrash(const QString& path) {
    const QFileInfo target(path);
    if (!target.exists() && !target.isSymLink())
        throw trashError(path, noSuchFileCode, QStringLiteral("No such file or directory"));

    // When Qt cannot set up the home Trash (its parent folder missing, say), it moves the item into a
    // "files" folder of the working directory and reports success. So the home Trash is made ready first,
    // and a result outside any Trash is undone and reported.
    const QString homeTrash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
    if (!ensurePrivateDirectory(homeTrash) || !ensurePrivateDirectory(homeTrash + QStringLiteral("/files")) ||
        !ensurePrivateDirectory(homeTrash + QStringLiteral("/info")))
        throw trashError(path, noPermissionCode, QStringLiteral("the Trash folder could not be created"));

    QFile item(path);
    if (!item.moveToTrash())
        throw trashError(path, noPermissionCode, item.errorString());
    // After a successful move the file object names the item's place in the Trash.
    const QString placed = item.fileName();
    if (!QFileInfo(placed).isAbsolute()) {
        putBack(placed, path);
        throw trashError(path, noPermissionCode, QStringLiteral("no Trash could be found for it"));
    }
    // An app in the Trash is no longer one the desktop offers.
    removeBundleMenuEntries(path);
    return placed;
}

} // namespace host
