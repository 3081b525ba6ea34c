// ditto: copies files and folder trees, keeping modes, modification times and symbolic links.
//   ditto [-V] src ... dst
// A source folder's contents are merged into dst (created when missing); a source file is copied to dst, or
// into it when dst is a folder. Exits 1 after the first failure.
#include "HostTools/FolderEntries.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool verbose = false;

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string& path, int error) {
    throw Failure{path + ": " + std::strerror(error)};
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string baseName(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The real path of `path` or, when it does not exist yet, of its nearest existing parent plus the rest.
std::string resolvedPath(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string result(real);
        std::free(real);
        return result;
    }
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return resolvedPath(".") + "/" + path;
    if (slash == 0)
        return path;
    return resolvedPath(path.substr(0, slash)) + path.substr(slash);
}

void keepTimes(const std::string& path, const struct stat& info, bool isLink) {
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::utimensat(AT_FDCWD, path.c_str(), times, isLink ? AT_SYMLINK_NOFOLLOW : 0);
}

// Clears the way for a non-folder at `path`: anything but a folder there is replaced.
void removeNonFolder(const std::string& path) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0)
        return;
    if (S_ISDIR(existing.st_mode))
        fail(path, EISDIR);
    if (::unlink(path.c_str()) != 0)
        fail(path, errno);
}

void copyFile(const std::string& source, const std::string& destination, const struct stat& info) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        fail(source, errno);
    removeNonFolder(destination);
    const int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        fail(destination, error);
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t count = ::read(in, buffer.data(), buffer.size());
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(in);
            ::close(out);
            fail(source, error);
        }
        for (ssize_t written = 0; written < count;) {
            const ssize_t step = ::write(out, buffer.data() + written, count - written);
            if (step < 0 && errno == EINTR)
                continue;
            if (step < 0) {
                const int error = errno;
                ::close(in);
                ::close(out);
                fail(destination, error);
            }
            written += step;
        }
    }
    ::close(in);
    ::fchmod(out, info.st_mode & 07777);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(out, times);
    if (::close(out) != 0)
        fail(destination, errno);
}

void copyItem(const std::string& source, const std::string& destination);

void copyFolderContents(const std::string& source, const std::string& destination, const struct stat& info) {
    struct stat existing {};
    const bool created = ::lstat(destination.c_str(), &existing) != 0;
    if (created) {
        // Owner access while filling it; the source's mode is set once the contents are in.
        if (::mkdir(destination.c_str(), 0700) != 0)
            fail(destination, errno);
    } else if (!S_ISDIR(existing.st_mode)) {
        fail(destination, ENOTDIR);
    } else {
        ::chmod(destination.c_str(), (existing.st_mode & 07777) | S_IRWXU);
    }
    const auto names = hosttools::folderEntries(source);
    if (!names)
        fail(source, errno);
    for (const std::string& name : *names)
        copyItem(joined(source, name), joined(destination, name));
    if (::chmod(destination.c_str(), info.st_mode & 07777) != 0)
        fail(destination, errno);
    keepTimes(destination, info, false);
}

void copyItem(const std::string& source, const std::string& destination) {
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0)
        fail(source, errno);
    if (verbose)
        std::printf("%s -> %s\n", source.c_str(), destination.c_str());
    if (S_ISDIR(info.st_mode)) {
        copyFolderContents(source, destination, info);
    } else if (S_ISLNK(info.st_mode)) {
        std::vector<char> target(info.st_size > 0 ? info.st_size + 1 : 4096);
        const ssize_t length = ::readlink(source.c_str(), target.data(), target.size());
        if (length < 0)
            fail(source, errno);
        removeNonFolder(destination);
        if (::symlink(std::string(target.data(), length).c_str(), destination.c_str()) != 0)
            fail(destination, errno);
        keepTimes(destination, info, true);
    } else if (S_ISREG(info.st_mode)) {
        copyFile(source, destination, info);
    } else if (S_ISFIFO(info.st_mode)) {
        removeNonFolder(destination);
        if (::mkfifo(destination.c_str(), info.st_mode & 07777) != 0)
            fail(destination, errno);
    } else {
        std::fprintf(stderr, "ditto: %s: skipped (not a file, folder or link)\n", source.c_str());
    }
}

int usage() {
    std::fprintf(stderr, "Usage: ditto [-V] src [ ... src ] dst\n");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-V" || argument == "-v")
            verbose = true;
        else if (!argument.empty() && argument[0] == '-')
            return std::fprintf(stderr, "ditto: unsupported option %s\n", argument.c_str()), usage();
        else
            paths.push_back(argument);
    }
    if (paths.size() < 2)
        return usage();
    const std::string destination = paths.back();
    paths.pop_back();

    struct stat destinationInfo {};
    const bool destinationIsFolder =
        ::stat(destination.c_str(), &destinationInfo) == 0 && S_ISDIR(destinationInfo.st_mode);
    if (paths.size() > 1 && !destinationIsFolder) {
        std::fprintf(stderr, "ditto: %s: %s\n", destination.c_str(), std::strerror(ENOTDIR));
        return 1;
    }
    try {
        for (const std::string& source : paths) {
            struct stat info {};
            if (::lstat(source.c_str(), &info) != 0)
                fail(source, errno);
            if (S_ISDIR(info.st_mode)) {
                // A folder copied into itself would never end.
                const std::string from = resolvedPath(source) + "/";
                const std::string to = resolvedPath(destination) + "/";
                if (to.compare(0, from.size(), from) == 0)
                    throw Failure{"can't copy " + source + " into itself (" + destination + ")"};
                copyItem(source, destination);
            } else {
                copyItem(source, destinationIsFolder ? joined(destination, baseName(source)) : destination);
            }
        }
    } catch (const Failure& failure) {
        std::fprintf(stderr, "ditto: %s\n", failure.message.c_str());
        return 1;
    }
    return 0;
}
