#include "CorvaneHost/Linux/PrivacyGrants.h"

#include "CorvaneHost/Error.h"
#include "CorvaneHost/Folders.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace host::PrivacyGrants {
namespace {

// A record that cannot be read counts as empty: no grants.
QJsonObject readRecord() {
    QFile file(recordPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
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
    QStringList result;
    for (const QJsonValue& value : readRecord().value(service).toArray())
        if (value.isString())
            result << value.toString();
    return result;
}

bool isGranted(const QString& service, const QString& bundleID) {
    return grantedBundleIDs(service).contains(bundleID);
}

void grant(const QString& service, const QString& bundleID) {
    QJsonObject record = readRecord();
    QStringList granted = grantedBundleIDs(service);
    if (granted.contains(bundleID))
        return;
    granted << bundleID;
    record.insert(service, QJsonArray::fromStringList(granted));
    writeRecord(record);
}

void reset(const QString& service, const QString& bundleID) {
    QJsonObject record = readRecord();
    const QStringList services = service == QLatin1String("All") ? record.keys() : QStringList{service};
    bool changed = false;
    for (const QString& name : services) {
        if (!record.contains(name))
            continue;
        QStringList granted = grantedBundleIDs(name);
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
