#pragma once

#include "CorvaneHost/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <optional>

// The JSON coder of the product's files: pretty printed with two-space indentation and " : " between key and
// value, keys sorted, "/" escaped, non-ASCII written as UTF-8. A default-constructed encoder writes
// compactly.
struct JSONEncoder {
    bool prettyPrinted = false;
    bool sortedKeys = false; // objects are always written in key order here; kept for the record
    bool withoutEscapingSlashes = false;

    QByteArray encode(const QJsonValue& value) const;

    // The shared preset of the support folder's files: a new encoder at every call.
    static JSONEncoder corvane();
};

// Reads JSON; throws JSONDecodingError for anything that is not one well-formed JSON value.
struct JSONDecoder {
    QJsonValue decode(const QByteArray& bytes) const;
    static JSONDecoder corvane();
};

class JSONDecodingError : public host::Error {
public:
    using host::Error::Error;
};

// Dates in the files: the internet date-time form in UTC with whole seconds ("2026-12-09T04:38:26Z").
class QRegularExpressionMatch;
class QTimeZone;

namespace JSONDate {
// Throws host::Error for an invalid date.
QString encode(const QDateTime& date);
// Accepts "yyyy-MM-ddTHH:mm:ss" followed by "Z" or an offset "+hh:mm"; no fractional seconds.
std::optional<QDateTime> decode(const QString& text);
// The wall-clock date and time in captures 1 to 6 of `match` (year, month, day, hour, minute, second) in
// `zone`; none when the day or the time does not exist there (a time skipped by a daylight-saving change).
std::optional<QDateTime> fromCaptures(const QRegularExpressionMatch& match, const QTimeZone& zone);
} // namespace JSONDate
