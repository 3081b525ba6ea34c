#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

namespace host {

// User defaults, one domain per bundle identifier. The typed reads behave as user defaults do: a missing key
// or a value that cannot stand for the asked type gives false, 0 or none.
class Defaults {
public:
    virtual ~Defaults() = default;

    // The stored value, or none when the key is not set in the domain.
    virtual std::optional<QVariant> value(const QString& bundleIdentifier, const QString& key) = 0;
    virtual void setValue(const QString& bundleIdentifier, const QString& key, const QVariant& value) = 0;
    virtual void removeValue(const QString& bundleIdentifier, const QString& key) = 0;

    // A Boolean, a number (non-zero is true) or a text ("true"/"yes" in any case, or a non-zero integer).
    bool boolValue(const QString& bundleIdentifier, const QString& key);
    // A whole number, or a text that holds one; else 0.
    qint64 integerValue(const QString& bundleIdentifier, const QString& key);
    // A text, or a number as text; else none.
    std::optional<QString> stringValue(const QString& bundleIdentifier, const QString& key);
    // Bytes stored as data; else none.
    std::optional<QByteArray> dataValue(const QString& bundleIdentifier, const QString& key);

    void setBool(const QString& bundleIdentifier, const QString& key, bool value);
    void setInteger(const QString& bundleIdentifier, const QString& key, qint64 value);
    void setString(const QString& bundleIdentifier, const QString& key, const QString& value);
    void setData(const QString& bundleIdentifier, const QString& key, const QByteArray& value);
};

} // namespace host
