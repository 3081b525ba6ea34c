#include "CorvaneHost/Linux/Files/PrivacyGrants.h"

#include "CorvaneHost/Error.h"
#include "CorvaneHost/FileStamp.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Files/FileLock.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <mutex>
#include <optional>

namespace host::PrivacyGrants {
namespace {

// A record that cannot be read counts as empty: no grants. The trust check asks every few seconds, so the
// record last read answers while its file's stamp shows it unchanged since.
QJsonObject readRecord() {
    struct Read {
        QString path;
        FileStamp stamp;
        QJsonObject record;
    };
    static std::mutex mutex;
    static std::optional<Read> last;
    const QString path = recordPath();
    const QByteArray encoded = QFile::encodeName(path);
    const FileStamp stamp = FileStamp::of(encoded);
    std::lock_guard lock(mutex);
    if (last && last->path == path && last->stamp == stamp)
        return last->record;
    const qint64 readAt = FileStamp::now();
    QFile file(path);
    QJsonObject record;
    if (file.open(QIODevice::ReadOnly))
        record = QJsonDocument::fromJson(file.readAll()).object();
    if (stamp.isSettled(readAt) && FileStamp::of(encoded) == stamp)
        last = Read{path, stamp, record};
    else
        last.reset();
    return record;
}

// The record as a change starts from. One that is there but cannot be read stops the change (writing would
// drop every grant in it); one that was read but does not decode is kept beside it and starts empty.
QJsonObject readRecordForChange() {
    const QString path = recordPath();
    QFile file(path);
    if (!file.exists())
        return {};
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (!file.isOpen() || file.error() != QFileDevice::NoError)
        throw host::SystemError(QStringLiteral("NSCocoaErrorDomain"), 256,
                                QStringLiteral("could not read %1: %2").arg(path, file.errorString()));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && document.isObject())
        return document.object();
    const QString aside = path + QStringLiteral(".unreadable");
    QFile::remove(aside);
    QFile::copy(path, aside);
    return {};
}

// Grants are read, changed and written under this lock, so that two programs granting at once lose nothing.
ExclusiveFileLock changeLock() {
    return ExclusiveFileLock(hostStateDirectory() + QStringLiteral("/privacy-grants.lock"));
}

QStringList grantedIn(const QJsonObject& record, const QString& service) {
    QStringList result;
    for (const QJsonValue& value : record.value(service).toArray())
        if (value.isString())
            result << value.toString();
    return result;
}

void writeRecord(const QJsonObject& record) {
    const QString path = recordPath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(record).toJson(QJsonDocument::Indented)) < 0 || !file.commit())
        throw host::SystemError(QStringLiteral("NSCocoaErrorDomain"), 513,
                                QStringLiteral("could not write %1: %2").arg(path, file.errorString()));
}

} // namespace

QString recordPath() {
    return hostStateDirectory() + QStringLiteral("/privacy-grants.json");
}

QStringList grantedBundleIDs(const QString& service) {
    return grantedIn(readRecord(), service);
}

bool isGranted(const QString& service, const QString& bundleID) {
    return grantedBundleIDs(service).contains(bundleID);
}

void grant(const QString& service, const QString& bundleID) {
    const ExclusiveFileLock lock = changeLock();
    QJsonObject record = readRecordForChange();
    QStringList granted = grantedIn(record, service);
    if (granted.contains(bundleID))
        return;
    granted << bundleID;
    record.insert(service, QJsonArray::fromStringList(granted));
    writeRecord(record);
}

void reset(const QString& service, const QString& bundleID) {
    const ExclusiveFileLock lock = changeLock();
    QJsonObject record = readRecordForChange();
    const QStringList services = service == QLatin1String("All") ? record.keys() : QStringList{service};
    bool changed = false;
    for (const QString& name : services) {
        if (!record.contains(name))
            continue;
        QStringList granted = grantedIn(record, name);
        const qsizetype before = granted.size();
        if (bundleID.isEmpty())
            granted.clear();
        else
            granted.removeAll(bundleID);
        if (granted.size() == before)
            continue;
        changed = true;
        if (granted.isEmpty())
            record.remove(name);
        else
            record.insert(name, QJsonArray::fromStringList(granted));
    }
    if (changed)
        writeRecord(record);
}

} // namespace host::PrivacyGrants
