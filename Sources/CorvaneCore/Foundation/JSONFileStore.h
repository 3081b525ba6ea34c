#pragma once

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"

#include <QDateTime>
#include <QFile>
#include <QJsonValue>
#include <QString>
#include <optional>
#include <utility>

// A file's modification time to the nanosecond, so two writes within one millisecond still differ. Taken
// with one stat of the plain path: the whole cost of a reload check when nothing changed.
struct FileModificationTime {
    qint64 seconds = 0;
    qint64 nanoseconds = 0;
    bool operator==(const FileModificationTime&) const = default;
    auto operator<=>(const FileModificationTime&) const = default;

    // None when the file's attributes cannot be read (missing, no permission).
    static std::optional<FileModificationTime> of(const QString& path);
    // Sets the file's modification time one nanosecond past `earlier` unless it already lies after it.
    static void advancePast(const QString& path, const FileModificationTime& earlier);
    // To the millisecond, in UTC.
    QDateTime date() const;
};

// The modification time together with the file's identity and size. This machine's file times advance in
// clock ticks, so two writes within one tick can share a modification time; an atomic replacement still
// changes the identity, and usually the size.
struct FileIdentityAndTime {
    qint64 seconds = 0;
    qint64 nanoseconds = 0;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    bool operator==(const FileIdentityAndTime&) const = default;

    // One stat, as above; none when the file's attributes cannot be read.
    static std::optional<FileIdentityAndTime> of(const QString& path);
};

// A value kept in step with one JSON file of the support folder, shared by the processes through that file
// alone. reloadIfChanged() reads the file again only when its stamp (one stat) differs from the one last
// seen; a file that cannot be decoded is read (and logged) once per version and kept aside before the first
// save writes over it. Main thread only.
template <typename Value, typename Stamp = FileModificationTime> class JSONFileStore {
public:
    struct Format {
        // Where the file is.
        QString (*path)();
        // Throw host::Error (JSONDecodingError) for content that is not a valid Value.
        Value (*decode)(const QJsonValue& json);
        QJsonValue (*encode)(const Value& value);
        // True when `value` is what a store holds without a file: a missing file is then no change.
        bool (*holdsNothing)(const Value& value);
        // Logged, once per version, when the file cannot be read or decoded; no logger logs nothing.
        const Log::Logger* logger = nullptr;
        QString unreadableMessage;
    };

    // Holds Value{} and reads nothing yet: the owner calls reloadIfChanged() once it is ready.
    explicit JSONFileStore(Format format)
        : format_(std::move(format)) {}

    const Value& value() const { return value_; }
    // The stamp of the file when this store last read or wrote it; none before that, after the file went
    // away, or when it could not be looked at after a save.
    const std::optional<Stamp>& loadedStamp() const { return loadedStamp_; }

    // The file's modification date when this store last read or wrote it (for stamps that carry one).
    std::optional<QDateTime> loadedModification() const {
        if (!loadedStamp_)
            return std::nullopt;
        return loadedStamp_->date();
    }

    // reloadIfChanged(), then the value.
    Value current() {
        reloadIfChanged();
        return value_;
    }

    // True when `value` was replaced (also by Value{}, when the file is gone or cannot be decoded).
    bool reloadIfChanged() {
        const QString path = format_.path();
        const std::optional<Stamp> current = Stamp::of(path);
        if (!current) {
            if (!loadedStamp_ && format_.holdsNothing(value_))
                return false;
            // The file went away: every process drops what it held at its next look.
            loadedStamp_.reset();
            value_ = Value{};
            holdsUnreadableFile_ = false;
            return true;
        }
        if (current == loadedStamp_)
            return false;

        // Taken before decoding, so a broken file is read (and logged) once per version.
        loadedStamp_ = current;
        try {
            value_ = read(path);
            holdsUnreadableFile_ = false;
        } catch (const host::Error&) {
            if (format_.logger)
                format_.logger->error(format_.unreadableMessage);
            value_ = Value{};
            holdsUnreadableFile_ = true;
        }
        return true;
    }

    // Writes the file atomically, then holds `value` and the written file's stamp. Throws the folder's, the
    // encoder's or the write's error; on failure nothing held changes.
    void save(const Value& value) {
        const QString path = format_.path();
        Corvane::ensureSupportDirectory();
        const QByteArray data = JSONEncoder::corvane().encode(format_.encode(value));
        // What is held in place of a file that could not be decoded would otherwise replace it without a
        // trace.
        if (holdsUnreadableFile_)
            Corvane::preserveUnreadableFile(path);
        const std::optional<FileModificationTime> replaced = FileModificationTime::of(path);
        Corvane::writeFileAtomically(path, data);
        // Other processes notice a change by the file's time; a coarse file clock can give two saves within
        // one tick the same time, so the new file must lie after the one it replaced.
        if (replaced)
            FileModificationTime::advancePast(path, *replaced);
        holdsUnreadableFile_ = false;
        value_ = value;
        // The store's own write is not a change for its next reload.
        loadedStamp_ = Stamp::of(path);
    }

    // Holds `value` without writing it; the stamp and the mark of an unreadable file stay as they are.
    void hold(Value value) { value_ = std::move(value); }

private:
    Value read(const QString& path) const {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw host::Error(file.errorString());
        return format_.decode(JSONDecoder::corvane().decode(file.readAll()));
    }

    Format format_;
    Value value_{};
    std::optional<Stamp> loadedStamp_;
    // The file on disk could not be decoded: keep it aside before the first save writes over it.
    bool holdsUnreadableFile_ = false;
};
