#include "CorvaneHandOff/HandOff.h"
#include "CorvaneHost/Linux/Processes/SpawnSignals.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits.h>
#include <plist/plist.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace handoff {
namespace {

std::string stringValue(plist_t dictionary, const char* key) {
    const plist_t node = plist_dict_get_item(dictionary, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return {};
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? std::string(text, length) : std::string();
}

// A file URL for an absolute path: every byte but the unreserved ones and "/" is escaped.
std::string fileURL(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~' || c == '/') {
            url += c;
        } else {
            url += '%';
            url += hex[byte >> 4];
            url += hex[byte & 0xf];
        }
    }
    return url;
}

// A relative path of an existing file (as a desktop that substitutes paths as given hands it on), made
// absolute against the working folder with "." and ".." taken out as written; empty for anything else.
std::string absolutePathOfRelativeFile(const std::string& argument) {
    std::error_code error;
    if (argument.empty() || argument.starts_with('/') || !std::filesystem::exists(argument, error))
        return {};
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? std::string() : (folder / argument).lexically_normal().string();
}

} // namespace

std::optional<BundleInfo> ownBundle() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return std::nullopt;
    const std::string executable(buffer, std::size_t(length));
    static const std::string macOS = "/Contents/MacOS/";
    const std::size_t folder = executable.rfind('/');
    if (folder == std::string::npos || folder + 1 < macOS.size() ||
        executable.compare(folder + 1 - macOS.size(), macOS.size(), macOS) != 0)
        return std::nullopt;
    BundleInfo bundle;
    bundle.path = executable.substr(0, folder + 1 - macOS.size());

    std::ifstream file(bundle.path + "/Contents/Info.plist", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() > UINT32_MAX)
        return std::nullopt;
    plist_t info = nullptr;
    plist_from_memory(bytes.data(), uint32_t(bytes.size()), &info);
    if (!info)
        return std::nullopt;
    if (plist_get_node_type(info) == PLIST_DICT) {
        bundle.identifier = stringValue(info, "CFBundleIdentifier");
        bundle.executable = stringValue(info, "CFBundleExecutable");
    }
    plist_free(info);
    if (bundle.identifier.empty() || bundle.executable.empty() ||
        bundle.executable.find('/') != std::string::npos)
        return std::nullopt;
    return bundle;
}

std::vector<host::wire::Event> eventsFor(const std::vector<std::string>& arguments, std::int32_t sender) {
    if (arguments.empty())
        return {host::wire::Event{"aevt", "rapp", std::nullopt, {}, sender}};
    std::vector<host::wire::Event> events;
    std::vector<std::string> files;
    for (const std::string& argument : arguments) {
        if (argument.starts_with('/'))
            files.push_back(fileURL(argument));
        else if (const std::string absolute = absolutePathOfRelativeFile(argument); !absolute.empty())
            files.push_back(fileURL(absolute));
        else
            events.push_back(host::wire::Event{"GURL", "GURL", argument, {}, sender});
    }
    if (!files.empty())
        events.push_back(host::wire::Event{"aevt", "odoc", std::nullopt, std::move(files), sender});
    return events;
}

pid_t startDetached(const std::string& program, const std::string& events) {
    const std::string variable = std::string(host::kLaunchEventsVariable) + "=";
    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry)
        if (std::strncmp(*entry, variable.c_str(), variable.size()) != 0)
            environment.emplace_back(*entry);
    environment.push_back(variable + events);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string programCopy = program;
    char* argv[] = {programCopy.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // The helper lives long after whoever ran xdg-open: it keeps none of that program's descriptors, blocked
    // or ignored signals.
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    host::setDefaultSignals(attributes);
    pid_t pid = 0;
    const int result = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return result == 0 ? pid : 0;
}

} // namespace handoff
