#include "Support/DesktopSession.h"

#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"
#include "CorvaneHost/Linux/X11/X11Display.h"
#include "Support/Files.h"
#include "Support/OutsidePrograms.h"
#include "Support/ProgramEnd.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test {
namespace {

// Checkouts worked on side by side each give their runs a user of their own, so their desktops never meet.
const char* const testUser =
    std::getenv("CORVANE_DESKTOP_TEST_USER") ? std::getenv("CORVANE_DESKTOP_TEST_USER") : "corvane-test";
const char* const freshHomeVariable = "CORVANE_DESKTOP_TEST_HOME";
const QString chromiumProgram = QStringLiteral("/usr/bin/chromium");

// Runs a program to its end (no shell) and gives its exit status, or -1.
int runToEnd(const std::vector<const char*>& arguments) {
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const char* argument : arguments)
            argv.push_back(const_cast<char*>(argument));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits up to `seconds` for `pid` to end, reaping it when it is a child of this process; whether it ended.
bool reap(pid_t pid, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        const pid_t result = waitpid(pid, nullptr, WNOHANG);
        if (result == pid || (result < 0 && hasEnded(pid)))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void end(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (!reap(pid, 5)) {
        kill(pid, SIGKILL);
        reap(pid, 2);
    }
}

// Reads one line from `fd` within `seconds`.
QByteArray readLine(int fd, double seconds) {
    QByteArray line;
    QElapsedTimer clock;
    clock.start();
    while (!line.endsWith('\n') && clock.elapsed() < seconds * 1000) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        char byte = 0;
        if (read(fd, &byte, 1) != 1)
            break;
        line.append(byte);
    }
    return line.trimmed();
}

} // namespace

void DesktopSession::runAsUnprivilegedUser(int argc, char** argv) {
    if (geteuid() != 0)
        return;
    for (const QString& program : {QStringLiteral("useradd"), QStringLiteral("setpriv")})
        if (const QString missing = missingProgram(program); !missing.isEmpty()) {
            std::fprintf(stderr, "desktop session: %s\n", qPrintable(missing));
            std::exit(1);
        }
    if (!getpwnam(testUser))
        runToEnd({"useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", testUser});
    const passwd* user = getpwnam(testUser);
    if (!user) {
        std::fprintf(stderr, "desktop session: cannot create the user %s to run the tests as\n", testUser);
        std::exit(1);
    }
    char home[] = "/tmp/corvane-desktop-XXXXXX";
    if (!mkdtemp(home) || chown(home, user->pw_uid, user->pw_gid) != 0) {
        std::perror("desktop session: fresh home");
        std::exit(1);
    }
    // The run's artifacts (screenshots) stay in the build folder, written by the test user.
    const QByteArray artifacts = qEnvironmentVariableIsSet("CORVANE_TEST_ARTIFACTS")
                                     ? qgetenv("CORVANE_TEST_ARTIFACTS")
                                     : QByteArray(CORVANE_BUILD_DIR "/Tests/artifacts");
    if (QDir().mkpath(QString::fromLocal8Bit(artifacts)) &&
        chown(artifacts.constData(), user->pw_uid, user->pw_gid) != 0)
        std::perror("desktop session: artifacts folder");
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        std::perror("desktop session: own path");
        std::exit(1);
    }
    setenv("HOME", home, 1);
    setenv("TMPDIR", home, 1);
    setenv("USER", testUser, 1);
    setenv("LOGNAME", testUser, 1);
    setenv(freshHomeVariable, home, 1);
    unsetenv("XDG_RUNTIME_DIR");
    const std::string uid = "--reuid=" + std::to_string(user->pw_uid);
    const std::string gid = "--regid=" + std::to_string(user->pw_gid);
    std::vector<char*> arguments{const_cast<char*>("setpriv"),   const_cast<char*>(uid.c_str()),
                                 const_cast<char*>(gid.c_str()), const_cast<char*>("--clear-groups"),
                                 const_cast<char*>("--"),        self};
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    std::fflush(nullptr);
    execvp("setpriv", arguments.data());
    std::perror("desktop session: setpriv");
    std::exit(1);
}

void DesktopSession::removeFreshHome() {
    const QString home = qEnvironmentVariable(freshHomeVariable);
    if (home.startsWith(QLatin1String("/tmp/corvane-desktop-")))
        QDir(home).removeRecursively();
}

bool DesktopSession::waitUntil(const std::function<bool()>& condition, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= seconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

DesktopSession::DesktopSession()
    : DesktopSession(Options{}) {}

DesktopSession::DesktopSession(Options options)
    : options_(std::move(options)) {}

DesktopSession::~DesktopSession() {
    endSessionProcesses();
}

QString DesktopSession::userDataDirectory() const {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/chromium");
}

pid_t DesktopSession::spawn(const QStringList& arguments, const QProcessEnvironment& environment, int passFd,
                            const QString& logName) {
    const QByteArray logPath = QFile::encodeName(
        folder_.filePath(logName.isEmpty() ? QFileInfo(arguments.first()).fileName() : logName) +
        QStringLiteral(".log"));
    std::vector<QByteArray> argumentBytes, environmentBytes;
    for (const QString& argument : arguments)
        argumentBytes.push_back(argument.toLocal8Bit());
    for (const QString& entry : environment.toStringList())
        environmentBytes.push_back(entry.toLocal8Bit());
    std::vector<char*> argv, envp;
    for (QByteArray& bytes : argumentBytes)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);
    for (QByteArray& bytes : environmentBytes)
        envp.push_back(bytes.data());
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child != 0)
        return child;
    // The session's processes end with the test program, even when it is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
    setpgid(0, 0);
    const int null = open("/dev/null", O_RDONLY);
    const int log = open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(null, STDIN_FILENO);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    if (passFd >= 0)
        dup2(passFd, 3);
    closefrom(passFd >= 0 ? 4 : 3);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
}

bool DesktopSession::start() {
    if (running_)
        return true;
    const auto fail = [this](const QString& reason) {
        failure_ = reason;
        // What the session's programs said goes to the test's output, for whoever reads why it failed.
        for (const QFileInfo& log :
             QDir(folder_.path()).entryInfoList({QStringLiteral("*.log")}, QDir::Files)) {
            QFile file(log.filePath());
            if (file.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "--- %s\n%s\n", qPrintable(log.fileName()),
                             file.readAll().right(2000).constData());
        }
        endSessionProcesses();
        return false;
    };
    if (!folder_.isValid())
        return fail(QStringLiteral("no temporary folder for the session"));
    for (const QString& program :
         {QStringLiteral("Xvfb"), QStringLiteral("openbox"), QStringLiteral("dbus-daemon"),
          QStringLiteral("/usr/libexec/at-spi-bus-launcher"), chromiumProgram})
        if (const QString missing = missingProgram(program); !missing.isEmpty())
            return fail(missing);
    if (geteuid() == 0)
        return fail(QStringLiteral("Chromium does not run as root with its sandbox"));
    // The programs that the tests' programs start detached (the helper, proxy apps) end as children of this
    // one.
    adoptDetachedPrograms();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    environment.remove(QStringLiteral("DISPLAY"));
    // The test's home hides the system's data and configuration folders; the desktop's programs need them
    // (GSettings schemas, openbox's theme).
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), environment.value(QStringLiteral("XDG_DATA_DIRS")) +
                                                            QStringLiteral(":/usr/local/share:/usr/share"));
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"),
                       environment.value(QStringLiteral("XDG_CONFIG_DIRS")) + QStringLiteral(":/etc/xdg"));
    sessionEnvironment_ = environment;

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return fail(QStringLiteral("no pipe"));
    started_.push_back(spawn({qEnvironmentVariable("CORVANE_DESKTOP_XVFB", QStringLiteral("Xvfb")),
                              QStringLiteral("-displayfd"), QStringLiteral("3"), QStringLiteral("-screen"),
                              QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                              QStringLiteral("tcp"), QStringLiteral("-noreset")},
                             environment, pipeFds[1]));
    close(pipeFds[1]);
    const QByteArray number = readLine(pipeFds[0], 15);
    close(pipeFds[0]);
    if (number.isEmpty())
        return fail(QStringLiteral("Xvfb did not start"));
    display_ = QStringLiteral(":") + QString::fromLatin1(number);

    if (pipe(pipeFds) != 0)
        return fail(QStringLiteral("no pipe"));
    started_.push_back(spawn({QStringLiteral("dbus-daemon"), QStringLiteral("--session"),
                              QStringLiteral("--nofork"), QStringLiteral("--print-address=3")},
                             environment, pipeFds[1]));
    close(pipeFds[1]);
    busAddress_ = QString::fromLatin1(readLine(pipeFds[0], 10));
    close(pipeFds[0]);
    if (busAddress_.isEmpty())
        return fail(QStringLiteral("the session bus did not start"));

    // From here on this process, its host services and every program started below belong to the session.
    qputenv("DISPLAY", display_.toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress_.toLocal8Bit());
    qunsetenv("AT_SPI_BUS_ADDRESS");
    environment.insert(QStringLiteral("DISPLAY"), display_);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress_);
    sessionEnvironment_ = environment;

    started_.push_back(
        spawn({QStringLiteral("/usr/libexec/at-spi-bus-launcher"), QStringLiteral("--launch-immediately")},
              environment));
    if (!waitUntil([] { return host::AtspiAccessibility::busAnswers(); }, 15))
        return fail(QStringLiteral("the accessibility bus did not start"));
    if (!setAccessibilitySwitch(options_.accessibilitySwitch))
        return fail(QStringLiteral("the accessibility switch cannot be set"));

    windowManager_ = spawn({QStringLiteral("openbox"), QStringLiteral("--sm-disable")}, environment);
    started_.push_back(windowManager_);
    if (!waitUntil(
            [] {
                const auto x11 = host::X11Display::shared();
                return x11 && x11->hasWindowManager();
            },
            15))
        return fail(QStringLiteral("the window manager did not start"));

    writeLocalState();
    running_ = true;
    return true;
}

void DesktopSession::writeLocalState() const {
    QJsonObject infoCache;
    for (const QString& profile : options_.profiles)
        infoCache.insert(profile, QJsonObject{{QStringLiteral("name"), profile},
                                              {QStringLiteral("is_using_default_name"), false}});
    const QJsonObject localState{
        {QStringLiteral("profile"),
         QJsonObject{{QStringLiteral("info_cache"), infoCache},
                     {QStringLiteral("profiles_order"), QJsonArray::fromStringList(options_.profiles)},
                     {QStringLiteral("last_used"), options_.profiles.value(0)}}}};
    QDir().mkpath(userDataDirectory());
    QFile file(userDataDirectory() + QStringLiteral("/Local State"));
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(localState).toJson());
}

QStringList DesktopSession::chromiumArguments(const QString& profileDirectory, const QString& url) const {
    QStringList arguments{
        chromiumProgram, QStringLiteral("--user-data-dir=") + userDataDirectory(),
        QStringLiteral("--profile-directory=") + profileDirectory, QStringLiteral("--no-first-run"),
        QStringLiteral("--no-default-browser-check"), QStringLiteral("--disable-background-networking"),
        QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
        QStringLiteral("--password-store=basic"), QStringLiteral("--ozone-platform=x11"),
        // A window each time, also where the profile has one (else the page would open as a tab in it).
        QStringLiteral("--new-window")};
    if (options_.chromiumOutlivesItsWindows)
        arguments.append(QStringLiteral("--keep-alive-for-test"));
    arguments.append(url);
    return arguments;
}

bool DesktopSession::openWindow(const QString& profileDirectory, const QString& url,
                                const QProcessEnvironment& environment) {
    return startOrAsk(chromiumArguments(profileDirectory, url), environment);
}

bool DesktopSession::openIncognitoWindow(const QString& profileDirectory) {
    QStringList arguments = chromiumArguments(profileDirectory, QStringLiteral("about:blank"));
    arguments.insert(arguments.size() - 1, QStringLiteral("--incognito"));
    return startOrAsk(arguments, {});
}

bool DesktopSession::startOrAsk(const QStringList& arguments, const QProcessEnvironment& environment) {
    if (!running_)
        return false;
    QProcessEnvironment chromiumEnvironment = sessionEnvironment_;
    chromiumEnvironment.insert(environment);
    if (chromium_ > 0 && kill(chromium_, 0) == 0) {
        // A second start hands the request to the running browser and ends.
        const pid_t request = spawn(arguments, chromiumEnvironment, -1, QStringLiteral("chromium-request"));
        if (!reap(request, 20)) {
            end(request);
            return false;
        }
        return true;
    }
    chromium_ = spawn(arguments, chromiumEnvironment);
    return chromium_ > 0;
}

namespace {

// The processes of this user, other than this one.
std::vector<pid_t> processesOfThisUser() {
    std::vector<pid_t> found;
    QDirIterator entries(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        const QString path = entries.next();
        bool numeric = false;
        const pid_t pid = pid_t(QFileInfo(path).fileName().toInt(&numeric));
        struct stat info {};
        if (numeric && pid != getpid() && stat(QFile::encodeName(path).constData(), &info) == 0 &&
            info.st_uid == geteuid())
            found.push_back(pid);
    }
    return found;
}

// Processes of this user whose environment or command line holds `marker`.
std::vector<pid_t> processesCarrying(const QByteArray& marker) {
    std::vector<pid_t> found;
    if (marker.isEmpty())
        return found;
    for (const pid_t pid : processesOfThisUser()) {
        const QString path = QStringLiteral("/proc/%1").arg(pid);
        if ((contents(path + QStringLiteral("/environ")) + contents(path + QStringLiteral("/cmdline")))
                .contains(marker))
            found.push_back(pid);
    }
    return found;
}

// Processes of this user whose program lies in `folder`.
std::vector<pid_t> processesRunningFrom(const QString& folder) {
    std::vector<pid_t> found;
    const QString prefix = QDir::cleanPath(folder) + QLatin1Char('/');
    for (const pid_t pid : processesOfThisUser())
        if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget().startsWith(prefix))
            found.push_back(pid);
    return found;
}

// Processes of this user that belong to the session although it did not start them itself (Chromium's
// helpers, the accessibility bus's daemon and registry): they carry the session's bus address or user-data
// folder. Each is ended by its pid.
void endStragglers(const QByteArray& marker) {
    for (const pid_t pid : processesCarrying(marker))
        kill(pid, SIGTERM);
}

// A Chromium that a program under test started (a proxy app's launcher) is no child of the session, and it
// rewrites its own environment for its process title, so no marker finds it. It still holds its profile
// folder: the folder's lock names its process ("<host>-<pid>"), which is ended when it is that Chromium.
void endChromiumHolding(const QString& userDataDirectory) {
    const QString lock = QFileInfo(userDataDirectory + QStringLiteral("/SingletonLock")).symLinkTarget();
    const QString owner = QFileInfo(lock).fileName().section(QLatin1Char('-'), -1);
    bool numeric = false;
    const pid_t pid = pid_t(owner.toInt(&numeric));
    if (!numeric || pid <= 1 || pid == getpid())
        return;
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!commandLine.open(QIODevice::ReadOnly) || !commandLine.readAll().contains("chrom"))
        return;
    end(pid);
}

} // namespace

void DesktopSession::stopChromium() {
    end(std::exchange(chromium_, 0));
    endStragglers(("--user-data-dir=" + userDataDirectory()).toLocal8Bit());
}

bool DesktopSession::clearDesktop() {
    if (!running_)
        return false;
    stopChromium();
    endChromiumHolding(userDataDirectory());
    // What a test opens runs from its home folder: the installed creator app, the helper, proxy apps. Each
    // must end cleanly when asked; its status is read, not taken, for a QProcess of the test may own it. One
    // that another of them started ends first, while its starter still runs to log how it ended.
    std::vector<pid_t> programs = processesRunningFrom(QDir::homePath());
    const auto startersAmongPrograms = [&programs](pid_t pid) {
        int count = 0;
        for (pid_t parent = parentOf(pid);
             count < int(programs.size()) &&
             std::find(programs.begin(), programs.end(), parent) != programs.end();
             parent = parentOf(parent))
            ++count;
        return count;
    };
    std::vector<std::pair<int, pid_t>> byDepth;
    for (const pid_t pid : programs)
        byDepth.emplace_back(-startersAmongPrograms(pid), pid);
    std::stable_sort(byDepth.begin(), byDepth.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [depth, pid] : byDepth) {
        const QString name = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        if (const QString end = endProgram(pid, 5, false); !end.isEmpty())
            ADD_FAILURE() << name.toStdString() << " " << end.toStdString();
    }
    return waitUntil(
        [] {
            const auto x11 = host::X11Display::shared();
            if (!x11)
                return false;
            for (const host::X11ClientWindow& window : x11->clientWindows())
                if (!window.desktop && !window.dock)
                    return false;
            return true;
        },
        15);
}

std::vector<host::X11ClientWindow> DesktopSession::windowsOnScreen() {
    std::vector<host::X11ClientWindow> shown;
    if (const auto x11 = host::X11Display::shared())
        for (const host::X11ClientWindow& window : x11->clientWindows())
            if (window.viewable && !window.hidden && !window.desktop && !window.dock)
                shown.push_back(window);
    return shown;
}

bool DesktopSession::setAccessibilitySwitch(bool on) {
    return host::AtspiAccessibility::setAccessibilitySwitch(on) &&
           host::AtspiAccessibility::accessibilitySwitch() == on;
}

void DesktopSession::endSessionProcesses() {
    if (chromium_)
        stopChromium();
    endChromiumHolding(userDataDirectory());
    for (auto pid = started_.rbegin(); pid != started_.rend(); ++pid)
        end(*pid);
    started_.clear();
    if (!busAddress_.isEmpty())
        endStragglers(("DBUS_SESSION_BUS_ADDRESS=" + busAddress_).toLocal8Bit());
    running_ = false;
}

} // namespace test
