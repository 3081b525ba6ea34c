#include "CorvaneHost/Bookmark.h"

#include "CorvaneHost/Folders.h"

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

constexpr int searchDepth = 3;

struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const Identity&) const = default;
};

std::optional<Identity> identityOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return Identity{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
}

// Looks for the file with `identity` among the entries of `folder`, and below them down to `depth` levels
// (1: the entries themselves). Symbolic links are not followed and other devices not entered: the file cannot
// be there under that identity.
std::optional<QString> findIn(const QString& folder, const Identity& identity, int depth) {
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    QStringList subfolders;
    for (const QFileInfo& entry : entries) {
        struct stat info {};
        if (::lstat(QFile::encodeName(entry.filePath()).constData(), &info) != 0)
            continue;
        if (Identity{quint64(info.st_dev), quint64(info.st_ino)} == identity)
            return QDir::cleanPath(entry.filePath());
        if (S_ISDIR(info.st_mode) && quint64(info.st_dev) == identity.device)
            subfolders.append(entry.filePath());
    }
    if (depth > 1)
        for (const QString& subfolder : subfolders)
            if (auto found = findIn(subfolder, identity, depth - 1))
                return found;
    return std::nullopt;
}

std::optional<QString> search(const QString& formerPath, const Identity& identity) {
    const QString folder = QFileInfo(formerPath).path();
    const std::vector<std::pair<QString, int>> places = [&] {
        std::vector<std::pair<QString, int>> list{
            {folder, 1}, {QFileInfo(folder).path(), 1}, {homeDirectory(), searchDepth}};
        for (const QString& applications : applicationFolders())
            list.emplace_back(applications, searchDepth);
        return list;
    }();
    for (const auto& [place, depth] : places)
        if (auto found = findIn(place, identity, depth))
            return found;
    return std::nullopt;
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

std::optional<QString> resolve(const QByteArray& bookmark, bool* isStale) {
    if (isStale)
        *isStale = false;
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
    const Identity recorded{device, inode};
    if (identityOf(path) == recorded)
        return path;
    auto found = search(path, recorded);
    if (found && isStale)
        *isStale = true;
    return found;
}

} // namespace host::Bookmark
