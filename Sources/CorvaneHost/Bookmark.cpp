#include "CorvaneHost/Bookmark.h"

#include "CorvaneHost/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace host::Bookmark {
namespace {

// Identifies the bytes as ours, so foreign data never resolves by accident.
const QString formatName = QStringLiteral("corvane-bookmark");
constexpr int formatVersion = 1;

constexpr int searchDepth = 3;

// A file's identity: its device and inode, its kind, and where the file system keeps them, its birth time and
// its inode's generation. An inode freed when its file goes is soon given to a new file, within the same tick
// of the file system's clock when the machine is busy, so the birth time alone cannot tell the two apart; the
// generation, which the file system changes each time it hands an inode out again, and the kind (a folder
// given a file's inode) do.
struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<quint32> kind;       // the type bits of the file's mode
    std::optional<qint64> birth;       // nanoseconds since the epoch
    std::optional<quint32> generation; // the inode's generation

    // The file `recorded` names: the same device and inode, of the same kind, born at the same time and of
    // the same generation, each where both sides know it.
    bool isThe(const Identity& recorded) const {
        const auto agree = [](const auto& mine, const auto& theirs) {
            return !mine || !theirs || *mine == *theirs;
        };
        return device == recorded.device && inode == recorded.inode && agree(kind, recorded.kind) &&
               agree(birth, recorded.birth) && agree(generation, recorded.generation);
    }
};

// The generation of the inode of the file or folder at `path`, where the file system tells it; the file is
// opened for it, so other kinds of file (devices, pipes) are never asked.
std::optional<quint32> generationOf(const QString& path, quint32 kind, bool ownLink) {
    if (kind != S_IFREG && kind != S_IFDIR)
        return std::nullopt;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (ownLink ? O_NOFOLLOW : 0));
    if (fd < 0)
        return std::nullopt;
    int generation = 0;
    const bool known = ::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0;
    ::close(fd);
    return known ? std::optional<quint32>(quint32(generation)) : std::nullopt;
}

// The identity of the file at `path`, following a symbolic link there unless `ownLink`.
std::optional<Identity> identityOf(const QString& path, bool ownLink = false) {
    struct statx info {};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), ownLink ? AT_SYMLINK_NOFOLLOW : 0,
                STATX_INO | STATX_TYPE | STATX_BTIME, &info) != 0)
        return std::nullopt;
    Identity identity{
        quint64(::makedev(info.stx_dev_major, info.stx_dev_minor)), quint64(info.stx_ino), {}, {}, {}};
    if (info.stx_mask & STATX_TYPE)
        identity.kind = quint32(info.stx_mode & S_IFMT);
    if (info.stx_mask & STATX_BTIME)
        identity.birth = qint64(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec;
    return identity;
}

// Whether the file at `path`, whose identity so far is `found`, is the recorded one: the generation is asked
// only of a file that matches in everything else.
bool isTheRecordedFile(const QString& path, Identity found, const Identity& recorded, bool ownLink) {
    if (!found.isThe(recorded))
        return false;
    if (recorded.generation && found.kind)
        found.generation = generationOf(path, *found.kind, ownLink);
    return found.isThe(recorded);
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
        if (isTheRecordedFile(entry.filePath(), *found, identity, true))
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

// Reads the number written as text under `key` into `value` when the bookmark holds one; false when it holds
// something else there.
template <typename Number>
bool readOptionalNumber(const QJsonObject& object, const QString& key, std::optional<Number>& value) {
    const QJsonValue written = object.value(key);
    if (written.isUndefined())
        return true;
    bool ok = false;
    const qlonglong number = written.toString().toLongLong(&ok);
    if (!ok || number < qlonglong(std::numeric_limits<Number>::min()) ||
        number > qlonglong(std::numeric_limits<Number>::max()))
        return false;
    value = Number(number);
    return true;
}

} // namespace

std::optional<QByteArray> create(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    auto identity = identityOf(absolute);
    if (!identity)
        return std::nullopt;
    if (identity->kind)
        identity->generation = generationOf(absolute, *identity->kind, false);
    // Numbers as text: inode numbers can exceed what a JSON number holds exactly.
    QJsonObject object{
        {QStringLiteral("format"), formatName},
        {QStringLiteral("version"), formatVersion},
        {QStringLiteral("path"), absolute},
        {QStringLiteral("device"), QString::number(identity->device)},
        {QStringLiteral("inode"), QString::number(identity->inode)},
    };
    // Bookmarks made before these were recorded, or on a file system that keeps none, go by what they hold.
    if (identity->kind)
        object.insert(QStringLiteral("kind"), QString::number(*identity->kind));
    if (identity->birth)
        object.insert(QStringLiteral("birth"), QString::number(*identity->birth));
    if (identity->generation)
        object.insert(QStringLiteral("generation"), QString::number(*identity->generation));
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
    Identity recorded{device, inode, {}, {}, {}};
    if (!readOptionalNumber(object, QStringLiteral("kind"), recorded.kind) ||
        !readOptionalNumber(object, QStringLiteral("birth"), recorded.birth) ||
        !readOptionalNumber(object, QStringLiteral("generation"), recorded.generation))
        return std::nullopt;
    if (const auto now = identityOf(path); now && isTheRecordedFile(path, *now, recorded, false))
        return path;
    auto found = search(path, recorded);
    if (found && isStale)
        *isStale = true;
    return found;
}

} // namespace host::Bookmark
