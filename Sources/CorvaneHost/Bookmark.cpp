#include "CorvaneHost/Bookmark.h"

#include "CorvaneHost/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace host::Bookmark {
namespace {

// Identifies the bytes as ours, so foreign data never resolves by accident.
const QString formatName = QStringLiteral("corvane-bookmark");
constexpr int formatVersion = 1;

constexpr int searchDepth = 3;

// A file's identity: its device and inode, and where the file system keeps it, its birth time. An inode
// freed when its file goes is soon given to a new file; the birth time tells that file from the one recorded.
struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<qint64> birth; // nanoseconds since the epoch

    // The file `recorded` names: the same device and inode, born at the same time where both times are known.
    bool isThe(const Identity& recorded) const {
        return device == recorded.device && inode == recorded.inode &&
               (!birth || !recorded.birth || *birth == *recorded.birth);
    }
};

// The identity of the file at `path`, following a symbolic link there unless `ownLink`.
std::optional<Identity> identityOf(const QString& path, bool ownLink = false) {
    struct statx info {};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), ownLink ? AT_SYMLINK_NOFOLLOW : 0,
                STATX_INO | STATX_BTIME, &info) != 0)
        return std::nullopt;
    Identity identity{quint64(::makedev(info.stx_dev_major, info.stx_dev_minor)), quint64(info.stx_ino), {}};
    if (info.stx_mask & STATX_BTIME)
        identity.birth = qint64(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec;
    return identity;
}

// Looks for the file with `identity` among the entries of `folder`, and below them down to `depth` levels
// (1: the entries themselves). Symbolic links are not followed and other devices not entered: the file cannot
// be there under that identity.
std::optional<QString> findIn(const QString& folder, const Identity& identity, int depth) {
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    QStringList subfolders;
    for (const QFileInfo& entry : entries) {
        const std::optional<Identity> found = identityOf(entry.filePath(), true);
        if (!found)
            continue;
        if (found->isThe(identity))
            return QDir::cleanPath(entry.filePath());
        if (entry.isDir() && !entry.isSymLink() && found->device == identity.device)
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
    // Bookmarks made before it was recorded, or on a file system that keeps none, go by device and inode.
    if (identity->birth)
        object.insert(QStringLiteral("birth"), QString::number(*identity->birth));
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
    Identity recorded{device, inode, {}};
    if (const QJsonValue birth = object.value(QStringLiteral("birth")); !birth.isUndefined()) {
        bool birthOK = false;
        recorded.birth = birth.toString().toLongLong(&birthOK);
        if (!birthOK)
            return std::nullopt;
    }
    if (const auto now = identityOf(path); now && now->isThe(recorded))
        return path;
    auto found = search(path, recorded);
    if (found && isStale)
        *isStale = true;
    return found;
}

} // namespace host::Bookmark
