#include "CorvaneCore/Foundation/JSONFields.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"

#include <QRegularExpression>
#include <cmath>
#include <functional>

namespace JSONFields {

void failFormat(const QString& detail) {
    QString message = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
    if (!detail.isEmpty())
        message += QLatin1Char(' ') + detail;
    throw JSONDecodingError(message);
}

void wrongType(const QString& key, const char* expected, Wording wording) {
    switch (wording) {
    case Wording::expectedType:
        failFormat(QStringLiteral("Expected %1 for key \"%2\".").arg(QLatin1String(expected), key));
    case Wording::missingOrWrongType:
        throw JSONDecodingError(
            QStringLiteral(
                "The data couldn’t be read because the value of “%1” is missing or has the wrong type.")
                .arg(key));
    case Wording::notValid:
        break;
    }
    throw JSONDecodingError(
        QStringLiteral("The data couldn’t be read because the value of “%1” is not valid.").arg(key));
}

QJsonObject objectOf(const QJsonValue& json, const QString& detail) {
    if (!json.isObject())
        failFormat(detail);
    return json.toObject();
}

bool isAbsent(const QJsonValue& value) {
    return value.isUndefined() || value.isNull();
}

bool isAbsent(const QJsonObject& object, const QString& key) {
    const auto it = object.constFind(key);
    return it == object.constEnd() || it->isNull() || it->isUndefined();
}

namespace {

// The value of `key` when present and `accepted`; none when absent; else the wording's error.
template <typename Accepted>
std::optional<QJsonValue> presentValue(const QJsonObject& object, const QString& key, Wording wording,
                                       const char* expected, Accepted accepted) {
    const QJsonValue value = object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    if (!accepted(value))
        wrongType(key, expected, wording);
    return value;
}

bool isWholeNumber(const QJsonValue& value) {
    const double number = value.toDouble();
    return value.isDouble() && number == std::trunc(number) && std::fabs(number) <= 9007199254740992.0;
}

} // namespace

std::optional<QString> optionalString(const QJsonObject& object, const QString& key, Wording wording) {
    const auto value = presentValue(object, key, wording, "a string", std::mem_fn(&QJsonValue::isString));
    return value ? std::optional(value->toString()) : std::nullopt;
}

std::optional<bool> optionalBool(const QJsonObject& object, const QString& key, Wording wording) {
    const auto value = presentValue(object, key, wording, "a Boolean", std::mem_fn(&QJsonValue::isBool));
    return value ? std::optional(value->toBool()) : std::nullopt;
}

std::optional<qint64> optionalInteger(const QJsonObject& object, const QString& key, Wording wording) {
    const auto value = presentValue(object, key, wording, "an integer", isWholeNumber);
    return value ? std::optional(static_cast<qint64>(value->toDouble())) : std::nullopt;
}

std::optional<QJsonArray> optionalArray(const QJsonObject& object, const QString& key, Wording wording) {
    const auto value = presentValue(object, key, wording, "an array", std::mem_fn(&QJsonValue::isArray));
    return value ? std::optional(value->toArray()) : std::nullopt;
}

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFromString(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\z"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

} // namespace JSONFields
