#include "CorvaneCore/Foundation/JSONCoding.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QTimeZone>
#include <QVariant>
#include <cerrno>
#include <charconv>
#include <cmath>

namespace {

const QByteArray byteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

void appendEscapedString(QByteArray& out, const QString& text, bool escapeSlashes) {
    out.append('"');
    // Plain ASCII with nothing to escape (every key, most values) is copied straight, without a UTF-8 copy.
    const qsizetype start = out.size();
    out.resize(start + text.size());
    char* plain = out.data() + start;
    bool isPlain = true;
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        if (unit < 0x20 || unit >= 0x80 || unit == u'"' || unit == u'\\' || (unit == u'/' && escapeSlashes)) {
            isPlain = false;
            break;
        }
        *plain++ = static_cast<char>(unit);
    }
    if (isPlain) {
        out.append('"');
        return;
    }
    out.truncate(start);
    const QByteArray utf8 = text.toUtf8();
    const char* const data = utf8.constData();
    const qsizetype size = utf8.size();
    // Bytes that need no escape are copied in runs: most texts (keys above all) have none to escape.
    qsizetype copied = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        const auto byte = static_cast<unsigned char>(c);
        char buffer[8];
        const char* escaped;
        qsizetype width = 1; // of the character escaped, in bytes
        switch (c) {
        case '"':
            escaped = "\\\"";
            break;
        case '\\':
            escaped = "\\\\";
            break;
        case '/':
            if (!escapeSlashes)
                continue;
            escaped = "\\/";
            break;
        case '\b':
            escaped = "\\b";
            break;
        case '\f':
            escaped = "\\f";
            break;
        case '\n':
            escaped = "\\n";
            break;
        case '\r':
            escaped = "\\r";
            break;
        case '\t':
            escaped = "\\t";
            break;
        default:
            // Qt's reader drops a U+FEFF (a byte-order mark) written raw at the start of a string; an escaped
            // one it keeps.
            if (byte == 0xEF && QByteArrayView(data + i, size - i).startsWith(byteOrderMark)) {
                escaped = "\\ufeff";
                width = byteOrderMark.size();
                break;
            }
            if (byte >= 0x20)
                continue;
            std::snprintf(buffer, sizeof buffer, "\\u%04x", byte);
            escaped = buffer;
        }
        out.append(data + copied, i - copied);
        out.append(escaped);
        i += width - 1;
        copied = i + 1;
    }
    out.append(data + copied, size - copied);
    out.append('"');
}

void appendNumber(QByteArray& out, double value) {
    if (!std::isfinite(value))
        throw JSONDecodingError(QStringLiteral("Unable to encode a non-finite number"));
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) {
        out.append(QByteArray::number(static_cast<qint64>(value)));
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

struct Writer {
    const JSONEncoder& options;
    QByteArray out;

    void newline(int depth) {
        if (!options.prettyPrinted)
            return;
        out.append('\n');
        out.append(QByteArray(depth * 2, ' '));
    }

    void write(const QJsonValue& value, int depth) {
        switch (value.type()) {
        case QJsonValue::Null:
        case QJsonValue::Undefined:
            out.append("null");
            break;
        case QJsonValue::Bool:
            out.append(value.toBool() ? "true" : "false");
            break;
        case QJsonValue::Double:
            // A 64-bit integer is written digit for digit; going through a double would round it beyond 2^53.
            if (const QVariant number = value.toVariant(); number.typeId() == QMetaType::LongLong)
                out.append(QByteArray::number(number.toLongLong()));
            else
                appendNumber(out, value.toDouble());
            break;
        case QJsonValue::String:
            appendEscapedString(out, value.toString(), !options.withoutEscapingSlashes);
            break;
        case QJsonValue::Array:
            writeArray(value.toArray(), depth);
            break;
        case QJsonValue::Object:
            writeObject(value.toObject(), depth);
            break;
        }
    }

    void writeArray(const QJsonArray& array, int depth) {
        if (array.isEmpty()) {
            out.append("[]");
            return;
        }
        out.append('[');
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (i > 0)
                out.append(',');
            newline(depth + 1);
            write(array.at(i), depth + 1);
        }
        newline(depth);
        out.append(']');
    }

    void writeObject(const QJsonObject& object, int depth) {
        if (object.isEmpty()) {
            out.append("{}");
            return;
        }
        out.append('{');
        bool first = true;
        // QJsonObject iterates in key order, which is the sorted order the files use.
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!first)
                out.append(',');
            first = false;
            newline(depth + 1);
            appendEscapedString(out, it.key(), !options.withoutEscapingSlashes);
            out.append(options.prettyPrinted ? " : " : ":");
            write(it.value(), depth + 1);
        }
        newline(depth);
        out.append('}');
    }
};

JSONDecodingError formatError() {
    return JSONDecodingError(
        QStringLiteral("The data couldn’t be read because it isn’t in the correct format."));
}

// JSON forbids a raw character below U+0020 inside a string (it must be escaped), but Qt's parser lets one
// through; outside strings the parser itself turns them away.
bool hasRawControlCharacterInString(QByteArrayView text) {
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!inString) {
            inString = byte == '"';
        } else if (byte < 0x20) {
            return true;
        } else if (byte == '\\') {
            ++i; // the escaped character cannot end the string
        } else if (byte == '"') {
            inString = false;
        }
    }
    return false;
}

} // namespace

QByteArray JSONEncoder::encode(const QJsonValue& value) const {
    Writer writer{*this, {}};
    writer.out.reserve(256); // most documents (every socket message) fit without growing
    writer.write(value, 0);
    return writer.out;
}

JSONEncoder JSONEncoder::corvane() {
    JSONEncoder encoder;
    encoder.prettyPrinted = true;
    encoder.sortedKeys = true;
    return encoder;
}

QJsonValue JSONDecoder::decode(const QByteArray& bytes) const {
    // A file saved by some editors starts with a byte-order mark; it is no part of the value.
    const QByteArrayView text = bytes.startsWith(byteOrderMark) ? QByteArrayView(bytes).sliced(3) : bytes;
    if (hasRawControlCharacterInString(text))
        throw formatError();
    // Wrapping lets a bare scalar at the top level decode too, as the platform's decoder allows.
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson("[" + text.toByteArray() + "]", &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        throw formatError();
    return document.array().at(0);
}

JSONDecoder JSONDecoder::corvane() {
    return JSONDecoder{};
}

namespace JSONDate {

QString encode(const QDateTime& date) {
    // Written as a bare "Z", an invalid date would make the next load of the whole file fail.
    if (!date.isValid())
        throw host::Error(QStringLiteral("Unable to encode an invalid date"));
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

std::optional<QDateTime> decode(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(Z|([+-])([0-9]{2}):([0-9]{2}))\z)"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    std::optional<QDateTime> result = fromCaptures(match, QTimeZone::utc());
    if (!result)
        return std::nullopt;
    if (match.captured(7) != QLatin1String("Z")) {
        const int offset = match.captured(9).toInt() * 3600 + match.captured(10).toInt() * 60;
        result = result->addSecs(match.captured(8) == QLatin1String("+") ? -offset : offset);
    }
    return result;
}

std::optional<QDateTime> fromCaptures(const QRegularExpressionMatch& match, const QTimeZone& zone) {
    const QDate day(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime date(day, time, zone);
    if (!date.isValid() || date.time() != time)
        return std::nullopt;
    return date;
}

} // namespace JSONDate
