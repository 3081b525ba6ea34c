#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

namespace host {

// Property lists in XML or binary form, as Qt values: dictionaries are QVariantMap, arrays QVariantList,
// strings QString, booleans bool, integers qint64, reals double, dates QDateTime (UTC), data QByteArray.
enum class PropertyListFormat { XML, Binary };

// Parses either form; none when the bytes are not a property list (a NUL character in a key or a string
// counts as damage).
std::optional<QVariant> parsePropertyList(const QByteArray& bytes);
// Reads a file whose top level must be a dictionary; none when unreadable, unparsable or not a dictionary.
std::optional<QVariantMap> readPropertyListFile(const QString& path);

QByteArray serializePropertyList(const QVariant& value, PropertyListFormat format = PropertyListFormat::XML);
// Writes atomically; false when the file could not be written.
bool writePropertyListFile(const QString& path, const QVariant& value,
                           PropertyListFormat format = PropertyListFormat::XML);

// The Info.plist of a bundle folder ("Contents/Info.plist"), or none. Parsed once per version of the file:
// the status of an unchanged file proves it unchanged (see FileStamp), and the answer comes from memory.
std::optional<QVariantMap> readBundleInfo(const QString& bundlePath);

} // namespace host
