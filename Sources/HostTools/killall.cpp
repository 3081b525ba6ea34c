// killall: signals this user's processes by the name of their executable.
//   killall [-lsv] [-SIGNAL] procname ...
// SIGNAL is a name ("HUP", "SIGKILL") or a number; the default is TERM. -s shows what would be done without
// doing it, -v shows what is done, -l lists the signal names. Exits 1 when no process matched.
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct SignalName {
    const char* name;
    int number;
};

const SignalName signalNames[] = {
    {"HUP", SIGHUP},   {"INT", SIGINT},     {"QUIT", SIGQUIT}, {"ILL", SIGILL},   {"TRAP", SIGTRAP},
    {"ABRT", SIGABRT}, {"BUS", SIGBUS},     {"FPE", SIGFPE},   {"KILL", SIGKILL}, {"USR1", SIGUSR1},
    {"SEGV", SIGSEGV}, {"USR2", SIGUSR2},   {"PIPE", SIGPIPE}, {"ALRM", SIGALRM}, {"TERM", SIGTERM},
    {"CHLD", SIGCHLD}, {"CONT", SIGCONT},   {"STOP", SIGSTOP}, {"TSTP", SIGTSTP}, {"TTIN", SIGTTIN},
    {"TTOU", SIGTTOU}, {"URG", SIGURG},     {"XCPU", SIGXCPU}, {"XFSZ", SIGXFSZ}, {"VTALRM", SIGVTALRM},
    {"PROF", SIGPROF}, {"WINCH", SIGWINCH}, {"IO", SIGIO},     {"SYS", SIGSYS},
};

const char* nameOf(int number) {
    for (const SignalName& entry : signalNames)
        if (entry.number == number)
            return entry.name;
    return nullptr;
}

// -1 when the text names no signal.
int parseSignal(std::string text) {
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
        char* end = nullptr;
        const long number = std::strtol(text.c_str(), &end, 10);
        return *end == '\0' && number >= 0 && number < NSIG ? int(number) : -1;
    }
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    if (text.rfind("SIG", 0) == 0)
        text = text.substr(3);
    for (const SignalName& entry : signalNames)
        if (text == entry.name)
            return entry.number;
    return -1;
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The names a process goes by: its executable's file name and the kernel's (possibly shortened) command name.
std::vector<std::string> processNames(const std::string& procFolder) {
    std::vector<std::string> names;
    char target[4096];
    const ssize_t length = ::readlink((procFolder + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        std::string path(target, length);
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() &&
            path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
            path.resize(path.size() - deleted.size());
        names.push_back(baseName(path));
    }
    std::ifstream comm(procFolder + "/comm");
    std::string command;
    if (std::getline(comm, command) && !command.empty())
        names.push_back(command);
    return names;
}

int usage() {
    std::fprintf(stderr, "usage: killall [-lsv] [-SIGNAL] procname ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int signalNumber = SIGTERM;
    bool dryRun = false;
    bool verbose = false;
    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-l") {
            for (const SignalName& entry : signalNames)
                std::printf("%s%c", entry.name,
                            &entry == &signalNames[std::size(signalNames) - 1] ? '\n' : ' ');
            return 0;
        }
        if (argument == "-s")
            dryRun = true;
        else if (argument == "-v")
            verbose = true;
        else if (argument.size() > 1 && argument[0] == '-') {
            signalNumber = parseSignal(argument.substr(1));
            if (signalNumber < 0) {
                std::fprintf(stderr, "killall: unknown signal %s\n", argument.c_str() + 1);
                return usage();
            }
        } else
            wanted.push_back(argument);
    }
    if (wanted.empty())
        return usage();

    const uid_t me = ::getuid();
    const pid_t self = ::getpid();
    int matched = 0;
    bool failed = false;
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        std::perror("killall: /proc");
        return 1;
    }
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self)
            continue;
        const std::string folder = std::string("/proc/") + entry->d_name;
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0 || (me != 0 && info.st_uid != me))
            continue;
        bool matches = false;
        for (const std::string& name : processNames(folder))
            for (const std::string& candidate : wanted)
                matches = matches || name == candidate;
        if (!matches)
            continue;
        ++matched;
        const char* signalName = nameOf(signalNumber);
        if (dryRun || verbose) {
            if (signalName)
                std::printf("kill -%s %ld\n", signalName, pid);
            else
                std::printf("kill -%d %ld\n", signalNumber, pid);
        }
        if (!dryRun && ::kill(pid_t(pid), signalNumber) != 0 && errno != ESRCH) {
            std::fprintf(stderr, "killall: %ld: %s\n", pid, std::strerror(errno));
            failed = true;
        }
    }
    ::closedir(proc);
    if (matched == 0) {
        std::fprintf(stderr, "No matching processes belonging to you were found\n");
        return 1;
    }
    return failed ? 1 : 0;
}
