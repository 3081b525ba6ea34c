// The stand-ins for the platform tools, run as the product runs them.
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Files/PrivacyGrants.h"
#include "CorvaneHost/Linux/Processes/SpawnProcessRunner.h"
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>
#include <csignal>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

extern char** environ;

namespace {

using testing::HasSubstr;

QString run(const QString& tool, const QStringList& arguments) {
    return host::SpawnProcessRunner().run(tool, arguments);
}

// The exit status and output of a run that is expected to fail.
std::pair<int, QString> failure(const QString& tool, const QStringList& arguments) {
    try {
        run(tool, arguments);
    } catch (const host::SystemError& error) {
        return {error.code(), error.description()};
    }
    return {0, {}};
}

void writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

// ---- ditto

const QString ditto = QStringLiteral("/usr/bin/ditto");

TEST(DittoTests, CopiesATreeKeepingModesTimesAndSymbolicLinks) {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("Source.app"));
    writeFile(source + QStringLiteral("/Contents/MacOS/Tool"), "#!/bin/sh\n",
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
    writeFile(source + QStringLiteral("/Contents/Resources/secret"), "s",
              QFile::ReadOwner | QFile::WriteOwner);
    QFile::link(QStringLiteral("Contents/MacOS/Tool"), source + QStringLiteral("/Tool"));
    QFile::link(QStringLiteral("nowhere"), source + QStringLiteral("/dangling"));
    QDir().mkpath(source + QStringLiteral("/Empty"));
    ::chmod(QFile::encodeName(source + QStringLiteral("/Empty")).constData(), 0500);
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD,
                QFile::encodeName(source + QStringLiteral("/Contents/Resources/secret")).constData(), times,
                0);

    const QString destination = dir.filePath(QStringLiteral("Copy/Deep/Dest.app"));
    QDir().mkpath(QFileInfo(destination).absolutePath());
    EXPECT_EQ(run(ditto, {source, destination}), QString());

    EXPECT_EQ(readFile(destination + QStringLiteral("/Contents/MacOS/Tool")), "#!/bin/sh\n");
    EXPECT_EQ(modeOf(destination + QStringLiteral("/Contents/MacOS/Tool")), 0750u);
    EXPECT_EQ(modeOf(destination + QStringLiteral("/Contents/Resources/secret")), 0600u);
    EXPECT_EQ(modeOf(destination + QStringLiteral("/Empty")), 0500u);
    EXPECT_EQ(QFileInfo(destination + QStringLiteral("/Contents/Resources/secret"))
                  .lastModified()
                  .toSecsSinceEpoch(),
              1000000000);
    EXPECT_EQ(QFileInfo(destination + QStringLiteral("/Tool")).symLinkTarget(),
              destination + QStringLiteral("/Contents/MacOS/Tool"));
    EXPECT_TRUE(QFileInfo(destination + QStringLiteral("/dangling")).isSymLink());
    ::chmod(QFile::encodeName(destination + QStringLiteral("/Empty")).constData(), 0700);
    ::chmod(QFile::encodeName(source + QStringLiteral("/Empty")).constData(), 0700);
}

TEST(DittoTests, MergesIntoAnExistingFolderReplacingFiles) {
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("src/a")), "new a");
    writeFile(dir.filePath(QStringLiteral("dst/a")), "old a", QFile::ReadOwner);
    writeFile(dir.filePath(QStringLiteral("dst/b")), "kept b");
    run(ditto, {dir.filePath(QStringLiteral("src")), dir.filePath(QStringLiteral("dst"))});
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("dst/a"))), "new a");
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("dst/b"))), "kept b");
}

TEST(DittoTests, CopiesAFileToAPathOrIntoAFolder) {
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("file")), "x");
    QDir().mkpath(dir.filePath(QStringLiteral("folder")));
    run(ditto, {dir.filePath(QStringLiteral("file")), dir.filePath(QStringLiteral("renamed"))});
    run(ditto, {dir.filePath(QStringLiteral("file")), dir.filePath(QStringLiteral("folder"))});
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("renamed"))), "x");
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("folder/file"))), "x");
}

TEST(DittoTests, FailuresExitOneWithAMessage) {
    QTemporaryDir dir;
    const auto [missingStatus, missingText] =
        failure(ditto, {dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("dst"))});
    EXPECT_EQ(missingStatus, 1);
    EXPECT_THAT(missingText.toStdString(), HasSubstr("No such file or directory"));

    // A folder copied into itself would never end.
    writeFile(dir.filePath(QStringLiteral("tree/file")), "x");
    const auto [selfStatus, selfText] =
        failure(ditto, {dir.filePath(QStringLiteral("tree")), dir.filePath(QStringLiteral("tree/inner"))});
    EXPECT_EQ(selfStatus, 1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("tree/inner"))));

    EXPECT_EQ(failure(ditto, {dir.filePath(QStringLiteral("tree"))}).first, 1);
}

// ---- xattr

const QString xattr = QStringLiteral("/usr/bin/xattr");

bool supportsUserAttributes(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (::setxattr(name.constData(), "user.corvane.probe", "1", 1, 0) != 0)
        return false;
    ::removexattr(name.constData(), "user.corvane.probe");
    return true;
}

TEST(XattrTests, WritesPrintsListsDeletesAndClearsRecursively) {
    // The temporary folder, or where it keeps no user attributes (a memory file system of an older kernel),
    // one in the build folder, which lies on a disk.
    std::optional<QTemporaryDir> dir;
    for (const QString& parent : {QDir::tempPath(), QStringLiteral(CORVANE_BUILD_DIR)}) {
        dir.emplace(parent + QStringLiteral("/corvane-xattr-XXXXXX"));
        if (dir->isValid() && supportsUserAttributes(dir->path()))
            break;
        dir.reset();
    }
    ASSERT_TRUE(dir) << "neither the temporary folder nor the build folder keeps user attributes";
    const QString top = dir->filePath(QStringLiteral("Bundle.app"));
    const QString inner = top + QStringLiteral("/Contents/MacOS/Tool");
    writeFile(inner, "x");
    QFile::link(QStringLiteral("Contents"), top + QStringLiteral("/link"));

    run(xattr,
        {QStringLiteral("-w"), QStringLiteral("com.apple.quarantine"), QStringLiteral("0081;x"), inner});
    run(xattr, {QStringLiteral("-w"), QStringLiteral("other"), QStringLiteral("v"), top});
    EXPECT_EQ(run(xattr, {QStringLiteral("-p"), QStringLiteral("com.apple.quarantine"), inner}),
              QStringLiteral("0081;x\n"));
    EXPECT_EQ(run(xattr, {inner}), QStringLiteral("com.apple.quarantine\n"));

    run(xattr, {QStringLiteral("-d"), QStringLiteral("other"), top});
    EXPECT_EQ(run(xattr, {top}), QString());
    const auto [status, text] = failure(xattr, {QStringLiteral("-d"), QStringLiteral("other"), top});
    EXPECT_EQ(status, 1);
    EXPECT_THAT(text.toStdString(), HasSubstr("No such xattr: other"));

    run(xattr, {QStringLiteral("-w"), QStringLiteral("other"), QStringLiteral("v"), top});
    EXPECT_EQ(run(xattr, {QStringLiteral("-cr"), top}), QString());
    EXPECT_EQ(run(xattr, {inner}), QString());
    EXPECT_EQ(run(xattr, {top}), QString());
}

TEST(XattrTests, MissingFileAndBadUsageFail) {
    QTemporaryDir dir;
    EXPECT_EQ(failure(xattr, {QStringLiteral("-cr"), dir.filePath(QStringLiteral("missing"))}).first, 1);
    EXPECT_EQ(failure(xattr, {QStringLiteral("-w"), QStringLiteral("name")}).first, 2);
    EXPECT_EQ(failure(xattr, {QStringLiteral("-q"), dir.path()}).first, 2);
}

// ---- killall

const QString killall = QStringLiteral("/usr/bin/killall");

// A program of a name no other process has: a copy of sleep, started in the background.
struct Sleeper {
    QTemporaryDir dir;
    QString name = QStringLiteral("cvk") + QUuid::createUuid().toString(QUuid::Id128).left(10);
    pid_t pid = 0;

    Sleeper() {
        const QString path = dir.filePath(name);
        QFile::copy(QStringLiteral("/bin/sleep"), path);
        QFile(path).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray program = QFile::encodeName(path);
        char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("600"), nullptr};
        ::posix_spawn(&pid, program.constData(), nullptr, nullptr, argv, environ);
    }
    // How the program ended: the signal that ended it.
    int waitForSignal() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = 0;
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }
    ~Sleeper() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// Until the spawned copy has exec'ed, the kernel still knows it by the test program's name.
void waitUntilNamed(const Sleeper& sleeper) {
    for (int attempt = 0; attempt < 5000; ++attempt) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(sleeper.pid));
        if (comm.open(QIODevice::ReadOnly) &&
            sleeper.name.startsWith(QString::fromUtf8(comm.readAll()).trimmed()))
            return;
        ::sched_yield();
    }
}

TEST(KillallTests, SignalsProcessesByExecutableName) {
    Sleeper sleeper;
    ASSERT_GT(sleeper.pid, 0);
    waitUntilNamed(sleeper);
    EXPECT_EQ(run(killall, {QStringLiteral("-s"), sleeper.name}),
              QStringLiteral("kill -TERM %1\n").arg(sleeper.pid));
    EXPECT_EQ(run(killall, {sleeper.name}), QString());
    EXPECT_EQ(sleeper.waitForSignal(), SIGTERM);
}

TEST(KillallTests, SendsTheNamedSignal) {
    Sleeper sleeper;
    waitUntilNamed(sleeper);
    run(killall, {QStringLiteral("-KILL"), sleeper.name});
    EXPECT_EQ(sleeper.waitForSignal(), SIGKILL);
}

TEST(KillallTests, NoMatchExitsOne) {
    const auto [status, text] = failure(killall, {QStringLiteral("Dock")});
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, QStringLiteral(
                        "/usr/bin/killall failed (1): No matching processes belonging to you were found\n"));
    EXPECT_EQ(failure(killall, {QStringLiteral("-NOSUCHSIGNAL"), QStringLiteral("x")}).first, 2);
}

// ---- tccutil

const QString tccutil = QStringLiteral("/usr/bin/tccutil");

TEST(TccutilTests, ResetWithdrawsTheGrantOfOneProgram) {
    host::PrivacyGrants::grant(QStringLiteral("Accessibility"), QStringLiteral("app.corvane.helper"));
    host::PrivacyGrants::grant(QStringLiteral("Accessibility"), QStringLiteral("app.corvane.other"));
    host::PrivacyGrants::grant(QStringLiteral("ScreenCapture"), QStringLiteral("app.corvane.helper"));

    EXPECT_EQ(run(tccutil, {QStringLiteral("reset"), QStringLiteral("Accessibility"),
                            QStringLiteral("app.corvane.helper")}),
              QStringLiteral("Successfully reset Accessibility approval status for app.corvane.helper\n"));
    EXPECT_EQ(host::PrivacyGrants::grantedBundleIDs(QStringLiteral("Accessibility")),
              QStringList{QStringLiteral("app.corvane.other")});
    EXPECT_TRUE(host::PrivacyGrants::isGranted(QStringLiteral("ScreenCapture"),
                                               QStringLiteral("app.corvane.helper")));

    // Resetting what was never granted is no failure.
    run(tccutil,
        {QStringLiteral("reset"), QStringLiteral("Accessibility"), QStringLiteral("app.corvane.helper")});

    run(tccutil, {QStringLiteral("reset"), QStringLiteral("All")});
    EXPECT_TRUE(host::PrivacyGrants::grantedBundleIDs(QStringLiteral("Accessibility")).isEmpty());
    EXPECT_TRUE(host::PrivacyGrants::grantedBundleIDs(QStringLiteral("ScreenCapture")).isEmpty());
}

TEST(TccutilTests, BadUsageFails) {
    EXPECT_EQ(failure(tccutil, {QStringLiteral("reset")}).first, 64);
    EXPECT_EQ(failure(tccutil, {QStringLiteral("grant"), QStringLiteral("Accessibility")}).first, 64);
    EXPECT_EQ(failure(tccutil, {QStringLiteral("reset"), QStringLiteral("../x")}).first, 64);
}

// ---- launchctl

const QString launchctl = QStringLiteral("/bin/launchctl");

QString guiDomain() {
    return QStringLiteral("gui/%1").arg(::getuid());
}

TEST(LaunchctlTests, BootstrapListBootoutOfAnAgent) {
    QTemporaryDir dir;
    const QString plist = dir.filePath(QStringLiteral("app.corvane.helper.plist"));
    ASSERT_TRUE(host::writePropertyListFile(
        plist, QVariantMap{{QStringLiteral("Label"), QStringLiteral("app.corvane.helper")}}));

    run(launchctl, {QStringLiteral("bootstrap"), guiDomain(), plist});
    EXPECT_EQ(run(launchctl, {QStringLiteral("list")}),
              QStringLiteral("PID\tStatus\tLabel\n-\t0\tapp.corvane.helper\n"));
    EXPECT_THAT(run(launchctl, {QStringLiteral("list"), QStringLiteral("app.corvane.helper")}).toStdString(),
                HasSubstr("\"Label\" = \"app.corvane.helper\";"));
    EXPECT_EQ(failure(launchctl, {QStringLiteral("bootstrap"), guiDomain(), plist}).first, 5);

    EXPECT_EQ(
        run(launchctl, {QStringLiteral("bootout"), guiDomain() + QStringLiteral("/app.corvane.helper")}),
        QString());
    EXPECT_EQ(failure(launchctl, {QStringLiteral("list"), QStringLiteral("app.corvane.helper")}).first, 113);
    const auto [status, text] =
        failure(launchctl, {QStringLiteral("bootout"), guiDomain() + QStringLiteral("/app.corvane.helper")});
    EXPECT_EQ(status, 3);
    EXPECT_EQ(text, QStringLiteral("/bin/launchctl failed (3): Boot-out failed: 3: No such process\n"));
}

TEST(LaunchctlTests, RemoveAndBootoutByPropertyList) {
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("one.plist"));
    const QString second = dir.filePath(QStringLiteral("two.plist"));
    host::writePropertyListFile(first, QVariantMap{{QStringLiteral("Label"), QStringLiteral("one")}});
    host::writePropertyListFile(second, QVariantMap{{QStringLiteral("Label"), QStringLiteral("two")}});
    run(launchctl, {QStringLiteral("bootstrap"), guiDomain(), first, second});

    run(launchctl, {QStringLiteral("remove"), QStringLiteral("one")});
    EXPECT_EQ(failure(launchctl, {QStringLiteral("remove"), QStringLiteral("one")}).first, 113);
    run(launchctl, {QStringLiteral("bootout"), guiDomain(), second});
    EXPECT_EQ(run(launchctl, {QStringLiteral("list")}), QStringLiteral("PID\tStatus\tLabel\n"));
    EXPECT_EQ(failure(launchctl, {QStringLiteral("frobnicate")}).first, 64);
}

} // namespace
