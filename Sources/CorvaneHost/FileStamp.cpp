#include "CorvaneHost/FileStamp.h"

#include <ctime>
#include <sys/stat.h>

namespace host {
namespace {

constexpr qint64 second = 1'000'000'000;
// A kernel clock tick (at most 10 ms) with room to spare.
constexpr qint64 fineResolution = 50'000'000;

qint64 nanoseconds(const timespec& time) {
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

FileStamp FileStamp::of(const QByteArray& path) {
    struct stat status {};
    if (::stat(path.constData(), &status) != 0)
        return FileStamp{};
    return FileStamp{true,
                     quint64(status.st_dev),
                     quint64(status.st_ino),
                     qint64(status.st_size),
                     nanoseconds(status.st_mtim),
                     nanoseconds(status.st_ctim)};
}

qint64 FileStamp::now() {
    timespec time{};
    ::clock_gettime(CLOCK_REALTIME, &time);
    return nanoseconds(time);
}

bool FileStamp::isSettled(qint64 readAt) const {
    if (!exists)
        return true;
    // Whole seconds only: a file system that keeps no finer times.
    const bool coarse = modified % second == 0 && changed % second == 0;
    const qint64 resolution = coarse ? second : fineResolution;
    return modified < readAt - resolution && changed < readAt - resolution;
}

} // namespace host
