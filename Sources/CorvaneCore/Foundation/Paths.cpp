#include "CorvaneCore/Foundation/Paths.h"

#include "CorvaneHost/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimeZone>
#include <QVariant>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <sys/stat.h>

namespace Corvane {

QString supportDirectory() {
    return host::homeDirectory() + QStringLiteral("/Library/Application Support/Corvane");
}

static QString inSupport(const char* name) {
    return supportDirectory() + QLatin1Char('/') + QLatin1String(name);
}

QString settingsURL() {
    return inSupport("settings.json");
}
QString rulesURL() {
    return inSupport("rules.json");
}
QString registryURL() {
    return inSupport("registry.json");
}
QString recentLinksURL() {
    return inSupport("recent-links.json");
}
QString lockURL() {
    return inSupport("h.lock");
}
QString installedHelperURL() {
    return inSupport("CorvaneHelper.app");
}

QString socketPath() {
    return host::socketPath(inSupport("h.sock"), QStringLiteral("corvane-h.sock"));
}

void ensureSupportDirectory() {
    const QString path = supportDirectory();
    if (QFileInfo(path).isDir())
        return;
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent))
        throw host::SystemError::fromErrno(QStringLiteral("could not create %1").arg(parent),
                                           errno ? errno : EACCES);
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        throw host::SystemError::fromErrno(QStringLiteral("could not create %1").arg(path), errno);
    if (!QFileInfo(path).isDir())
        throw host::SystemError::fromErrno(QStringLiteral("could not create %1").arg(path), ENOTDIR);
}

QString PreviousIdentity::supportDirectory() const {
    return host::homeDirectory() + QStringLiteral("/Library/Application Support/") + supportDirectoryName;
}

const std::vector<PreviousIdentity>& previousIdentities() {
    static const std::vector<PreviousIdentity> table{
        {QStringLiteral("org.brellam.ombrisk"), QStringLiteral("org.brellam.ombrisk.creator"),
         QStringLiteral("Ombrisk"), QStringLiteral("OmbriskHelper.app"), QStringLiteral("OmbriskStub"),
         QStringLiteral("Ombrisk.app")},
        {QStringLiteral("org.brellam.tavrimo"), QStringLiteral("org.brellam.tavrimo.creator"),
         QStringLiteral("Tavrimo"), QStringLiteral("TavrimoHelper.app"), QStringLiteral("TavrimoStub"),
         QStringLiteral("Tavrimo.app")},
    };
    return table;
}

std::optional<PreviousIdentity> identityToMigrateFrom() {
    for (const PreviousIdentity& identity : previousIdentities()) {
        struct stat info {};
        if (::lstat(QFile::encodeName(identity.supportDirectory()).constData(), &info) == 0)
            return identity;
    }
    return std::nullopt;
}

void writeFileAtomically(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw host::SystemError(QStringLiteral("NSCocoaErrorDomain"), 512,
                                QStringLiteral("The file “%1” couldn’t be saved: %2")
                                    .arg(QFileInfo(path).fileName(), file.errorString()));
}

void preserveUnreadableFile(const QString& path) {
    if (!QFileInfo::exists(path))
        return;
    const QString keep = path + QStringLiteral(".unreadable");
    QFile::remove(keep);
    QFile::copy(path, keep);
}

} // namespace Corvane
