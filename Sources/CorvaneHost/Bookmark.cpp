#include "CorvaneHost/Bookmark.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

namespace host::Bookmark {
namespace {

// Identifies the bytes as ours, so foreign data never resolves by accident.
const QString formatName = QStringLiteral("corvane-bookmark");
constexpr int formatVersion = 1;

struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
};

std::optional<Identity> identityOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return Identity{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
}

} // namespace

std::optional<QByteArray> create(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const auto identity = identityOf(absolute);
    if (!identity)
        return std::nullopt;
    // Numbers as text: inode numbers can exceed what a JSON number holds exactly.
    QJsonObject object{
        {QStringLiteral("format"), formatName},
        {QStringLiteral("version"), formatVersion},
        {QStringLiteral("path"), absolute},
        {QStringLiteral("device"), QString::number(identity->device)},
        {QStringLiteral("inode"), QString::number(identity->inode)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QString> resolve(const QByteArray& bookmark) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bookmark, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (object.value(QStringLiteral("format")).toString() != formatName ||
        object.value(QStringLiteral("version")).toInt() != formatVersion)
        return std::nullopt;
    const QString path = object.value(QStringLiteral("path")).toString();
    bool deviceOK = false, inodeOK = false;
    const quint64 device = object.value(QStringLiteral("device")).toString().toULongLong(&deviceOK);
    const quint64 inode = object.value(QStringLiteral("inode")).toString().toULongLong(&inodeOK);
    if (path.isEmpty() || !deviceOK || !inodeOK)
        return std::nullopt;
    const auto identity = identityOf(path);
    if (!identity || identity->device != device || identity->inode != inode)
        return std::nullopt;
    return path;
}

} // namespace host::Bookmark
