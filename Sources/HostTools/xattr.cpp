// xattr: lists, prints, writes, deletes and clears extended attributes.
//   xattr [-lrsv] file ...                      list the attributes' names (with -l, their values)
//   xattr -p [-lrsv] attr_name file ...         print a value
//   xattr -w [-rsv] attr_name attr_value file ...
//   xattr -d [-rsv] attr_name file ...
//   xattr -c [-rsv] file ...                    remove every attribute
// -r descends into folders (never through symbolic links), -s acts on a symbolic link itself, -v names the
// file on every line. Attribute names without a namespace live in the "user." namespace, which is the one a
// user may change; it is the only one listed or cleared. Exits 1 when anything failed.
#include "HostTools/FolderEntries.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <vector>

namespace {

enum class Action { list, print, write, remove, clear };

struct Options {
    Action action = Action::list;
    bool longForm = false;
    bool recursive = false;
    bool onLink = false;
    bool verbose = false;
    std::string name;
    std::string value;
};

const std::string userPrefix = "user.";

std::string systemName(const std::string& name) {
    for (const char* prefix : {"user.", "trusted.", "security.", "system."})
        if (name.rfind(prefix, 0) == 0)
            return name;
    return userPrefix + name;
}

bool ignorable(int error) {
    return error == ENOTSUP || error == ENODATA;
}

void report(const std::string& path, const std::string& what, int error) {
    std::fprintf(stderr, "xattr: %s: %s%s\n", path.c_str(), what.empty() ? "" : (what + ": ").c_str(),
                 std::strerror(error));
}

// The names of the user attributes, without their namespace; none when the file system keeps none.
bool userNames(const std::string& path, bool noFollow, std::vector<std::string>& names) {
    ssize_t size = noFollow ? ::llistxattr(path.c_str(), nullptr, 0) : ::listxattr(path.c_str(), nullptr, 0);
    if (size < 0)
        return ignorable(errno) ? true : (report(path, "", errno), false);
    std::vector<char> buffer(size + 1);
    size = noFollow ? ::llistxattr(path.c_str(), buffer.data(), buffer.size())
                    : ::listxattr(path.c_str(), buffer.data(), buffer.size());
    if (size < 0)
        return ignorable(errno) ? true : (report(path, "", errno), false);
    for (ssize_t offset = 0; offset < size;) {
        const std::string name(buffer.data() + offset);
        offset += name.size() + 1;
        if (name.rfind(userPrefix, 0) == 0)
            names.push_back(name.substr(userPrefix.size()));
    }
    return true;
}

bool readValue(const std::string& path, const std::string& name, bool noFollow, std::string& value) {
    const std::string full = systemName(name);
    ssize_t size = noFollow ? ::lgetxattr(path.c_str(), full.c_str(), nullptr, 0)
                            : ::getxattr(path.c_str(), full.c_str(), nullptr, 0);
    if (size >= 0) {
        value.resize(size);
        size = noFollow ? ::lgetxattr(path.c_str(), full.c_str(), value.data(), value.size())
                        : ::getxattr(path.c_str(), full.c_str(), value.data(), value.size());
    }
    if (size < 0) {
        if (errno == ENODATA || errno == ENOTSUP)
            std::fprintf(stderr, "xattr: %s: No such xattr: %s\n", path.c_str(), name.c_str());
        else
            report(path, name, errno);
        return false;
    }
    value.resize(size);
    return true;
}

bool removeValue(const std::string& path, const std::string& name, bool noFollow, bool quietWhenMissing) {
    const std::string full = systemName(name);
    const int result =
        noFollow ? ::lremovexattr(path.c_str(), full.c_str()) : ::removexattr(path.c_str(), full.c_str());
    if (result == 0)
        return true;
    if (errno == ENODATA || errno == ENOTSUP) {
        if (quietWhenMissing)
            return true;
        std::fprintf(stderr, "xattr: %s: No such xattr: %s\n", path.c_str(), name.c_str());
        return false;
    }
    report(path, name, errno);
    return false;
}

bool actOn(const Options& options, const std::string& path, bool noFollow, bool showPath) {
    const std::string prefix = showPath ? path + ": " : "";
    switch (options.action) {
    case Action::list: {
        std::vector<std::string> names;
        if (!userNames(path, noFollow, names))
            return false;
        bool ok = true;
        for (const std::string& name : names) {
            std::string value;
            if (options.longForm && readValue(path, name, noFollow, value))
                std::printf("%s%s: %s\n", prefix.c_str(), name.c_str(), value.c_str());
            else if (options.longForm)
                ok = false;
            else
                std::printf("%s%s\n", prefix.c_str(), name.c_str());
        }
        return ok;
    }
    case Action::print: {
        std::string value;
        if (!readValue(path, options.name, noFollow, value))
            return false;
        std::printf("%s%s\n", prefix.c_str(), value.c_str());
        return true;
    }
    case Action::write: {
        const std::string full = systemName(options.name);
        const int result =
            noFollow ? ::lsetxattr(path.c_str(), full.c_str(), options.value.data(), options.value.size(), 0)
                     : ::setxattr(path.c_str(), full.c_str(), options.value.data(), options.value.size(), 0);
        if (result != 0)
            report(path, options.name, errno);
        return result == 0;
    }
    case Action::remove:
        // In a recursive walk most files lack the attribute; only a named file without it is an error.
        return removeValue(path, options.name, noFollow, options.recursive);
    case Action::clear: {
        std::vector<std::string> names;
        if (!userNames(path, noFollow, names))
            return false;
        bool ok = true;
        for (const std::string& name : names)
            ok = removeValue(path, name, noFollow, true) && ok;
        return ok;
    }
    }
    return false;
}

bool walk(const Options& options, const std::string& path, bool noFollow, bool showPath) {
    bool ok = actOn(options, path, noFollow, showPath);
    if (!options.recursive)
        return ok;
    struct stat info {};
    const int statResult = noFollow ? ::lstat(path.c_str(), &info) : ::stat(path.c_str(), &info);
    if (statResult != 0 || !S_ISDIR(info.st_mode))
        return ok;
    const auto names = hosttools::folderEntries(path);
    if (!names) {
        report(path, "", errno);
        return false;
    }
    for (const std::string& name : *names)
        // Inside the tree a symbolic link is never followed.
        ok = walk(options, path + "/" + name, true, true) && ok;
    return ok;
}

int usage() {
    std::fprintf(stderr, "usage: xattr [-lrsv] file ...\n"
                         "       xattr -p [-lrsv] attr_name file ...\n"
                         "       xattr -w [-rsv] attr_name attr_value file ...\n"
                         "       xattr -d [-rsv] attr_name file ...\n"
                         "       xattr -c [-rsv] file ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int actions = 0;
    int index = 1;
    for (; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--") {
            ++index;
            break;
        }
        if (argument.size() < 2 || argument[0] != '-')
            break;
        for (char flag : argument.substr(1)) {
            switch (flag) {
            case 'p':
                options.action = Action::print, ++actions;
                break;
            case 'w':
                options.action = Action::write, ++actions;
                break;
            case 'd':
                options.action = Action::remove, ++actions;
                break;
            case 'c':
                options.action = Action::clear, ++actions;
                break;
            case 'l':
                options.longForm = true;
                break;
            case 'r':
                options.recursive = true;
                break;
            case 's':
                options.onLink = true;
                break;
            case 'v':
                options.verbose = true;
                break;
            default:
                std::fprintf(stderr, "xattr: unknown option -%c\n", flag);
                return usage();
            }
        }
    }
    if (actions > 1)
        return usage();
    std::vector<std::string> rest(argv + index, argv + argc);
    const size_t needed = options.action == Action::write                                       ? 2
                          : options.action == Action::print || options.action == Action::remove ? 1
                                                                                                : 0;
    if (rest.size() < needed + 1)
        return usage();
    if (needed >= 1)
        options.name = rest[0];
    if (needed == 2)
        options.value = rest[1];
    const std::vector<std::string> files(rest.begin() + needed, rest.end());
    const bool showPath = options.verbose || files.size() > 1 || options.recursive;
    bool ok = true;
    for (const std::string& file : files) {
        struct stat info {};
        if (::lstat(file.c_str(), &info) != 0) {
            std::fprintf(stderr, "xattr: No such file: %s\n", file.c_str());
            ok = false;
            continue;
        }
        ok = walk(options, file, options.onLink, showPath) && ok;
    }
    return ok ? 0 : 1;
}
