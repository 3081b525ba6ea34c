#include "CorvaneHost/Linux/Processes/ProcessListing.h"

#include <QFile>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace host {
namespace {

// Reads a whole small file below /proc (at most `limit` bytes); empty when it cannot be read.
QByteArray readProcFile(int folder, const char* path, qsizetype limit) {
    const int fd = ::openat(folder, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray bytes(limit, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < limit) {
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(limit - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += got;
    }
    ::close(fd);
    bytes.truncate(filled);
    return bytes;
}

QByteArray readLink(int folder, const char* path) {
    char target[4096];
    const ssize_t length = ::readlinkat(folder, path, target, sizeof target);
    return length > 0 ? QByteArray(target, qsizetype(length)) : QByteArray();
}

// `pid`'s identity from its "stat" line and "exe" link below `folder` (/proc), while it lives. Read into the
// stack and parsed in place: a poll reads it for every process of the user.
std::optional<ProcessIdentity> identityAt(int folder, qint32 pid) {
    const std::string prefix = std::to_string(pid);
    char line[1024];
    const int fd = ::openat(folder, (prefix + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const ssize_t length = ::read(fd, line, sizeof line - 1);
    ::close(fd);
    if (length <= 0)
        return std::nullopt;
    line[length] = '\0';
    // The command name in parentheses may hold anything, so the fields start after the last ")".
    const char* open = std::strchr(line, '(');
    const char* close = std::strrchr(line, ')');
    if (!open || !close || close < open || close[1] != ' ')
        return std::nullopt;
    const char* field = close + 2; // field 3, the state
    const char state = *field;
    if (state == 'Z' || state == 'X' || state == 'x' || state == '\0')
        return std::nullopt;
    for (int skipped = 3; skipped < 22 && field; ++skipped) {
        field = std::strchr(field, ' ');
        if (field)
            ++field;
    }
    if (!field || !std::isdigit(static_cast<unsigned char>(*field)))
        return std::nullopt;
    ProcessIdentity identity;
    identity.pid = pid;
    identity.startTime = std::strtoull(field, nullptr, 10); // field 22 of the line
    identity.name = QByteArray(open + 1, close - open - 1);
    identity.executable = readLink(folder, (prefix + "/exe").c_str());
    return identity;
}

struct ProcFolder {
    int fd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ~ProcFolder() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Beyond this many numbers given since the last question, looking at each costs more than a listing.
constexpr qint32 mostNumbersLookedAt = 2000;

} // namespace

bool isProcessNotThread(qint32 pid) {
#ifdef SYS_pidfd_open
    const int handle = int(::syscall(SYS_pidfd_open, pid, 0));
    if (handle >= 0) {
        ::close(handle);
        return true;
    }
    // A thread that leads no process: EINVAL from kernels before 6.9, ENOENT since.
    return errno != EINVAL && errno != ENOENT;
#else
    return true;
#endif
}

ProcessStarts::~ProcessStarts() {
    if (loadavg_ >= 0)
        ::close(loadavg_);
}

// The number the kernel gave the process or thread it started last (the last field of /proc/loadavg).
std::optional<qint32> ProcessStarts::lastProcessNumber() {
    if (loadavg_ < 0)
        loadavg_ = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    char text[256];
    const ssize_t length = loadavg_ >= 0 ? ::pread(loadavg_, text, sizeof text - 1, 0) : -1;
    if (length <= 0)
        return std::nullopt;
    text[length] = '\0';
    const char* last = std::strrchr(text, ' ');
    if (!last || !std::isdigit(static_cast<unsigned char>(last[1])))
        return std::nullopt;
    return qint32(std::strtol(last + 1, nullptr, 10));
}

bool ProcessStarts::anySinceLastAsked() {
    const std::optional<qint32> last = lastProcessNumber();
    const std::optional<qint32> before = std::exchange(last_, last);
    if (!last || !before || *last < *before || *last - *before > mostNumbersLookedAt)
        return true;
    for (qint32 pid = *before + 1; pid <= *last; ++pid)
        if (::kill(pid, 0) == 0 && isProcessNotThread(pid))
            return true;
    return false;
}

std::vector<ProcessIdentity> liveProcessesOf(uid_t uid) {
    std::vector<ProcessIdentity> processes;
    const ProcFolder proc;
    if (proc.fd < 0)
        return processes;
    DIR* entries = ::fdopendir(::dup(proc.fd));
    if (!entries)
        return processes;
    while (const dirent* entry = ::readdir(entries)) {
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0)
            continue;
        struct stat info {};
        if (::fstatat(proc.fd, entry->d_name, &info, 0) != 0 || info.st_uid != uid)
            continue;
        if (auto identity = identityAt(proc.fd, qint32(pid)))
            processes.push_back(std::move(*identity));
    }
    ::closedir(entries);
    return processes;
}

std::optional<ProcessIdentity> liveProcess(qint32 pid) {
    const ProcFolder proc;
    return proc.fd >= 0 && pid > 0 ? identityAt(proc.fd, pid) : std::nullopt;
}

std::optional<ProcessIdentity> liveProcessOf(uid_t uid, qint32 pid) {
    const ProcFolder proc;
    struct stat info {};
    if (proc.fd < 0 || pid <= 0 || ::fstatat(proc.fd, std::to_string(pid).c_str(), &info, 0) != 0 ||
        info.st_uid != uid)
        return std::nullopt;
    return identityAt(proc.fd, pid);
}

QStringList processArguments(qint32 pid) {
    const ProcFolder proc;
    QStringList arguments;
    if (proc.fd < 0)
        return arguments;
    const QByteArray text = readProcFile(proc.fd, (std::to_string(pid) + "/cmdline").c_str(), 64 * 1024);
    for (const QByteArray& argument : text.split('\0'))
        arguments.append(QFile::decodeName(argument));
    return arguments;
}

} // namespace host
