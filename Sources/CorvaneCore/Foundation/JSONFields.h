#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>
#include <optional>

// Readers of single fields of the support folder's JSON records: strict about types, lenient about missing
// keys. A missing key and a null value both read as absent. The records word a mistyped field differently
// (their texts are shown and kept), so each reader is told which wording to throw.
namespace JSONFields {

enum class Wording {
    // "… isn’t in the correct format. Expected a string for key "name"."
    expectedType,
    // "… the value of “name” is missing or has the wrong type."
    missingOrWrongType,
    // "… the value of “name” is not valid."
    notValid,
};

// Throws JSONDecodingError "The data couldn’t be read because it isn’t in the correct format.", followed
// by `detail` when there is one.
[[noreturn]] void failFormat(const QString& detail = {});
// Throws JSONDecodingError for `key` in `wording`; `expected` ("a string") is named by expectedType only.
[[noreturn]] void wrongType(const QString& key, const char* expected, Wording wording);

// The object in `json`, else failFormat(detail).
QJsonObject objectOf(const QJsonValue& json, const QString& detail = {});

bool isAbsent(const QJsonValue& value);
bool isAbsent(const QJsonObject& object, const QString& key);

// None when absent; a present value of another type throws.
std::optional<QString> optionalString(const QJsonObject& object, const QString& key,
                                      Wording wording = Wording::expectedType);
std::optional<bool> optionalBool(const QJsonObject& object, const QString& key,
                                 Wording wording = Wording::expectedType);
// Only whole numbers that a double holds exactly (within ±2^53).
std::optional<qint64> optionalInteger(const QJsonObject& object, const QString& key,
                                      Wording wording = Wording::expectedType);
std::optional<QJsonArray> optionalArray(const QJsonObject& object, const QString& key,
                                        Wording wording = Wording::expectedType);

// The stored form of an identifier: hyphenated, upper case, no braces.
QString uuidText(const QUuid& id);
// The hyphenated 8-4-4-4-12 form only, in either case; none for anything else.
std::optional<QUuid> uuidFromString(const QString& text);

} // namespace JSONFields
