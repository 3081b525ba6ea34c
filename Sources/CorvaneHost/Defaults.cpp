#include "CorvaneHost/Defaults.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Services.h"

#include <QSettings>
#include <QUrl>
#include <cmath>

namespace host {

namespace {

// Settings files keep every scalar as text, so a stored Boolean or number may come back as a string.
bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

} // namespace

bool Defaults::boolValue(const QString& bundleIdentifier, const QString& key) {
    const auto stored = value(bundleIdentifier, key);
    if (!stored)
        return false;
    if (isNumber(*stored))
        return stored->toDouble() != 0;
    if (stored->typeId() != QMetaType::QString)
        return false;
    const QString text = stored->toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
        text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    return ok && number != 0;
}

qint64 Defaults::integerValue(const QString& bundleIdentifier, const QString& key) {
    const auto stored = value(bundleIdentifier, key);
    if (!stored)
        return 0;
    if (isNumber(*stored)) {
        const double number = stored->toDouble();
        return std::isfinite(number) ? static_cast<qint64>(number) : 0;
    }
    if (stored->typeId() != QMetaType::QString)
        return 0;
    bool ok = false;
    const qint64 number = stored->toString().trimmed().toLongLong(&ok);
    return ok ? number : 0;
}

std::optional<QString> Defaults::stringValue(const QString& bundleIdentifier, const QString& key) {
    const auto stored = value(bundleIdentifier, key);
    if (!stored)
        return std::nullopt;
    if (stored->typeId() == QMetaType::QString || isNumber(*stored))
        return stored->toString();
    return std::nullopt;
}

std::optional<QByteArray> Defaults::dataValue(const QString& bundleIdentifier, const QString& key) {
    const auto stored = value(bundleIdentifier, key);
    if (!stored || stored->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return stored->toByteArray();
}

void Defaults::setBool(const QString& bundleIdentifier, const QString& key, bool value) {
    setValue(bundleIdentifier, key, QVariant(value));
}
void Defaults::setInteger(const QString& bundleIdentifier, const QString& key, qint64 value) {
    setValue(bundleIdentifier, key, QVariant(value));
}
void Defaults::setString(const QString& bundleIdentifier, const QString& key, const QString& value) {
    setValue(bundleIdentifier, key, QVariant(value));
}
void Defaults::setData(const QString& bundleIdentifier, const QString& key, const QByteArray& value) {
    setValue(bundleIdentifier, key, QVariant(value));
}

} // namespace host
