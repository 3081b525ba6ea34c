#include "CorvaneCore/Foundation/JSONFileStore.h"

#include <QTimeZone>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

std::optional<struct stat> fileStatus(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return info;
}

} // namespace

std::optional<FileModificationTime> FileModificationTime::of(const QString& path) {
    const auto info = fileStatus(path);
    if (!info)
        return std::nullopt;
    return FileModificationTime{qint64(info->st_mtim.tv_sec), qint64(info->st_mtim.tv_nsec)};
}

void FileModificationTime::advancePast(const QString& path, const FileModificationTime& earlier) {
    const auto current = of(path);
    if (!current || *current > earlier)
        return;
    qint64 seconds = earlier.seconds;
    qint64 nanoseconds = earlier.nanoseconds + 1;
    if (nanoseconds >= 1000000000) {
        ++seconds;
        nanoseconds = 0;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), long(nanoseconds)}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

QDateTime FileModificationTime::date() const {
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000, QTimeZone::utc());
}

std::optional<FileIdentityAndTime> FileIdentityAndTime::of(const QString& path) {
    const auto info = fileStatus(path);
    if (!info)
        return std::nullopt;
    return FileIdentityAndTime{qint64(info->st_mtim.tv_sec), qint64(info->st_mtim.tv_nsec),
                               quint64(info->st_dev), quint64(info->st_ino), qint64(info->st_size)};
}
