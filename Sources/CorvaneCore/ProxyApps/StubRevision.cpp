#include "CorvaneCore/ProxyApps/StubRevision.h"

#include "CorvaneHost/PropertyList.h"

#include <limits>

namespace StubRevision {

const std::vector<std::pair<int, QString>>& improvementsTable() {
    static const std::vector<std::pair<int, QString>> table{
        {2, QStringLiteral(
                "Reaches the background helper again after the rename, so windows are tracked properly "
                "instead of falling back to counting every Chrome window.")},
        {3,
         QStringLiteral("Tab-group apps: the Dock indicator follows the group, and quitting closes just that "
                        "group rather than the whole profile.")},
        {4, QStringLiteral("Links open in the tab group's window, and window tracking survives a slow or "
                           "restarting Chrome.")},
        {5,
         QStringLiteral(
             "Chrome no longer complains that it isn't your default browser every time this app opens it.")},
        {6, QStringLiteral("No longer quits while Chrome is still open. macOS 26 hides other applications' "
                           "windows from an app without Screen Recording, so this app's own count read zero "
                           "whenever it lost contact with the helper — and it acted on that.")},
        {7, QStringLiteral(
                "Reaches the background helper again after the rename to Corvane. Until it is rebuilt "
                "it still opens Chrome, but tracks its windows only roughly.")},
    };
    return table;
}

bool isOutdated(std::optional<int> revision) {
    return !revision || *revision < current;
}

std::optional<int> revision(const QVariantMap& infoPlist) {
    const auto found = infoPlist.constFind(plistKey);
    if (found == infoPlist.constEnd())
        return std::nullopt;
    const int type = found->typeId();
    if (type != QMetaType::LongLong && type != QMetaType::Int && type != QMetaType::ULongLong &&
        type != QMetaType::UInt)
        return std::nullopt;
    const qint64 value = found->toLongLong();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> revision(const QString& bundlePath) {
    const auto info = host::readBundleInfo(bundlePath);
    if (!info)
        return std::nullopt;
    return revision(*info);
}

QStringList improvements(std::optional<int> since) {
    QStringList notes;
    if (!since)
        return notes;
    for (const auto& [revision, note] : improvementsTable())
        if (revision > *since)
            notes.append(note);
    return notes;
}

QString advice(std::optional<int> since) {
    const QStringList notes = improvements(since);
    return notes.isEmpty() ? genericAdvice : notes.join(QLatin1Char(' '));
}

} // namespace StubRevision
