#include "CorvaneHost/PropertyList.h"

#include "CorvaneHost/FileStamp.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSaveFile>
#include <QTimeZone>
#include <cstring>
#include <plist/plist.h>

namespace host {
namespace {

// Property-list dates count seconds from 2001-01-01 UTC.
const QDateTime& referenceDate() {
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return date;
}

QVariant toVariant(plist_t node, int depth);

QVariant dictToVariant(plist_t node, int depth) {
    QVariantMap map;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iter, &key, &value);
        if (!value) {
            free(key);
            break;
        }
        map.insert(QString::fromUtf8(key), toVariant(value, depth + 1));
        free(key);
    }
    free(iter);
    return map;
}

QVariant toVariant(plist_t node, int depth) {
    if (!node || depth > 512)
        return {};
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return bool(value);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return static_cast<qint64>(value);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        // Read with its stored length (plist_get_string_val asserts that the text has no NUL character).
        uint64_t length = 0;
        const char* value = plist_get_string_ptr(node, &length);
        return QString::fromUtf8(value, static_cast<qsizetype>(length));
    }
    case PLIST_DATA: {
        char* value = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &value, &length);
        QByteArray data(value, static_cast<qsizetype>(length));
        free(value);
        return data;
    }
    case PLIST_DATE: {
        int32_t seconds = 0, micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        return referenceDate().addMSecs(qint64(seconds) * 1000 + micros / 1000);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t count = plist_array_get_size(node);
        for (uint32_t i = 0; i < count; ++i)
            list.append(toVariant(plist_array_get_item(node, i), depth + 1));
        return list;
    }
    case PLIST_DICT:
        return dictToVariant(node, depth);
    default:
        return {};
    }
}

plist_t fromVariant(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        return plist_new_data(data.constData(), static_cast<uint64_t>(data.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = referenceDate().msecsTo(value.toDateTime());
        return plist_new_date(static_cast<int32_t>(ms / 1000), static_cast<int32_t>((ms % 1000) * 1000));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : value.toList())
            plist_array_append_item(array, fromVariant(item));
        return array;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), fromVariant(it.value()));
        return dict;
    }
    default:
        return plist_new_string(value.toString().toUtf8().constData());
    }
}

// Whether a key or a string holds a NUL character. libplist hands such a key over only through accessors
// that stop the whole program with a failed assertion; its XML form writes every key and string whole.
bool holdsNulCharacter(plist_t root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const bool found = xml && std::memchr(xml, 0, length) != nullptr;
    plist_to_xml_free(xml);
    return found;
}

} // namespace

std::optional<QVariant> parsePropertyList(const QByteArray& bytes) {
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root)
        return std::nullopt;
    // No writer of property lists puts a NUL character in one; a file that has one is damaged.
    if (holdsNulCharacter(root)) {
        plist_free(root);
        return std::nullopt;
    }
    QVariant value = toVariant(root, 0);
    plist_free(root);
    if (!value.isValid())
        return std::nullopt;
    return value;
}

std::optional<QVariantMap> readPropertyListFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto value = parsePropertyList(file.readAll());
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value->toMap();
}

QByteArray serializePropertyList(const QVariant& value, PropertyListFormat format) {
    plist_t root = fromVariant(value);
    char* out = nullptr;
    uint32_t length = 0;
    if (format == PropertyListFormat::XML)
        plist_to_xml(root, &out, &length);
    else
        plist_to_bin(root, &out, &length);
    QByteArray bytes(out, static_cast<qsizetype>(length));
    free(out);
    plist_free(root);
    return bytes;
}

bool writePropertyListFile(const QString& path, const QVariant& value, PropertyListFormat format) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(serializePropertyList(value, format));
    return file.commit();
}

std::optional<QVariantMap> readBundleInfo(const QString& bundlePath) {
    // Every listing of the applications and every proxy app's row asks for these, many times a second.
    struct Parsed {
        FileStamp stamp;
        qint64 readAt = 0;
        std::optional<QVariantMap> info;
    };
    static QMutex lock;
    static QHash<QString, Parsed> parsed;
    constexpr qsizetype capacity = 1024;

    const QString path = bundlePath + QStringLiteral("/Contents/Info.plist");
    const qint64 readAt = FileStamp::now();
    const FileStamp stamp = FileStamp::of(QFile::encodeName(path));
    {
        QMutexLocker locker(&lock);
        if (const auto known = parsed.constFind(path);
            known != parsed.constEnd() && known->stamp == stamp && stamp.isSettled(known->readAt))
            return known->info;
    }
    auto info = stamp.exists ? readPropertyListFile(path) : std::nullopt;
    QMutexLocker locker(&lock);
    if (parsed.size() >= capacity)
        parsed.clear();
    parsed.insert(path, Parsed{stamp, readAt, info});
    return info;
}

} // namespace host
