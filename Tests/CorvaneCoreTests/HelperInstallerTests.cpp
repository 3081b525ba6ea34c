#include "CorvaneCore/Integration/HelperInstaller.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Linux/Processes/SpawnProcessRunner.h"
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/FakeWorkspace.h"
#include "Support/LogCapture.h"
#include "Support/RecordingProcessRunner.h"
#include "Support/TemporaryHome.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <future>
#include <gmock/gmock.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using testing::ElementsAre;

const QString ditto = QStringLiteral("/usr/bin/ditto");
const QString xattr = QStringLiteral("/usr/bin/xattr");

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A helper bundle: Info.plist (with the version, when given) and an executable that names its version.
void makeHelper(const QString& path, const std::optional<QString>& version) {
    QVariantMap info{{QStringLiteral("CFBundleIdentifier"), Corvane::helperBundleID},
                     {QStringLiteral("CFBundleExecutable"), QStringLiteral("CorvaneHelper")}};
    if (version)
        info.insert(QStringLiteral("CFBundleVersion"), *version);
    QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
    ASSERT_TRUE(host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info));
    const QString executable = path + QStringLiteral("/Contents/MacOS/CorvaneHelper");
    writeFile(executable, "#!/bin/sh\necho " + version.value_or(QStringLiteral("none")).toUtf8() + "\n");
    QFile(executable).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class HelperInstallerTests : public testing::Test {
protected:
    HelperInstallerTests() { runner->forwardTo(std::make_shared<host::SpawnProcessRunner>()); }

    // The creator app, known to the workspace, carrying a helper of `version`.
    QString addCreator(const std::optional<QString>& version) {
        const QString creator = workspace->addApplication(
            QStringLiteral("Corvane"), test::FakeWorkspace::info(Corvane::creatorBundleID));
        makeHelper(source(creator), version);
        return creator;
    }
    static QString source(const QString& creator) {
        return creator + QLatin1Char('/') + Corvane::helperInBundle;
    }
    static QString installed() { return Corvane::installedHelperURL(); }
    static QString installedExecutable() {
        return installed() + QStringLiteral("/Contents/MacOS/CorvaneHelper");
    }
    host::RunningApplication addRunningHelper() {
        const host::RunningApplication helper{4242, Corvane::helperBundleID, QStringLiteral("CorvaneHelper"),
                                              installed()};
        workspace->addRunning(helper);
        return helper;
    }
    double secondsWaited() { return start_.msecsTo(time->now()) / 1000.0; }

    test::TemporaryHome home;
    test::FakeWorkspaceScope workspace;
    test::RecordingProcessRunnerScope runner;
    test::VirtualTimeScope time;
    test::LogCapture log;

private:
    QDateTime start_ = time->now();
};

TEST_F(HelperInstallerTests, WithoutASourceItThrowsNoSourceBundle) {
    const auto expectNoSource = [] {
        try {
            HelperInstaller::installFromCreatorBundle(false);
            ADD_FAILURE() << "installed without a source";
        } catch (const HelperInstaller::InstallError& error) {
            EXPECT_EQ(error.code(), HelperInstaller::InstallError::Code::noSourceBundle);
            EXPECT_EQ(error.description(), QStringLiteral("could not find a helper to install"));
        }
    };
    expectNoSource();

    // The creator app found through its identifier, then removed from the disk.
    const QString creator = addCreator(QStringLiteral("7"));
    EXPECT_EQ(HelperInstaller::sourceHelperURL(), source(creator));
    QDir(creator).removeRecursively();
    EXPECT_EQ(HelperInstaller::sourceHelperURL(), std::nullopt);
    expectNoSource();
    EXPECT_FALSE(QFileInfo::exists(Corvane::supportDirectory()));
}

TEST_F(HelperInstallerTests, VersionReadsOnlyAStringBundleVersion) {
    QTemporaryDir dir;
    const QString bundle = dir.filePath(QStringLiteral("X.app"));
    EXPECT_EQ(HelperInstaller::version(bundle), std::nullopt);
    makeHelper(bundle, QStringLiteral("1.2"));
    EXPECT_EQ(HelperInstaller::version(bundle), QStringLiteral("1.2"));
    host::writePropertyListFile(bundle + QStringLiteral("/Contents/Info.plist"),
                                QVariantMap{{QStringLiteral("CFBundleVersion"), qint64(12)}});
    EXPECT_EQ(HelperInstaller::version(bundle), std::nullopt);
    host::writePropertyListFile(bundle + QStringLiteral("/Contents/Info.plist"),
                                QVariantList{QStringLiteral("CFBundleVersion")});
    EXPECT_EQ(HelperInstaller::version(bundle), std::nullopt);
    writeFile(bundle + QStringLiteral("/Contents/Info.plist"), "not a property list");
    EXPECT_EQ(HelperInstaller::version(bundle), std::nullopt);
}

TEST_F(HelperInstallerTests, AFirstInstallCreatesTheSupportFolderAndCopiesTheHelper) {
    const QString creator = addCreator(QStringLiteral("7"));
    EXPECT_TRUE(HelperInstaller::installFromCreatorBundle(false));

    EXPECT_EQ(HelperInstaller::installedVersion(), QStringLiteral("7"));
    EXPECT_EQ(readFile(installedExecutable()), "#!/bin/sh\necho 7\n");
    EXPECT_TRUE(QFileInfo(installedExecutable()).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral(".installing")));
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral(".replaced")));
    EXPECT_THAT(runner->runs(),
                ElementsAre(
                    test::RecordingProcessRunner::Run{
                        ditto, {source(creator), installed() + QStringLiteral(".installing")}},
                    test::RecordingProcessRunner::Run{xattr, {QStringLiteral("-cr"), installed()}}));
    EXPECT_TRUE(log.contains(QStringLiteral("ipc"), host::LogLevel::Info,
                             QStringLiteral("installed helper 7 to fixed path")));
    EXPECT_TRUE(workspace->terminated.empty());
    EXPECT_EQ(secondsWaited(), 0.0);
}

TEST_F(HelperInstallerTests, TheSameVersionIsLeftAloneUnlessForced) {
    addCreator(QStringLiteral("7"));
    ASSERT_TRUE(HelperInstaller::installFromCreatorBundle(false));
    writeFile(installed() + QStringLiteral("/Contents/Resources/marker"), "from before");
    const auto helper = addRunningHelper();
    workspace->addRunning({77, QStringLiteral("com.example.other"), QStringLiteral("Other"), {}});
    runner->clear();

    EXPECT_FALSE(HelperInstaller::installFromCreatorBundle(false));
    EXPECT_TRUE(runner->runs().empty());
    EXPECT_TRUE(workspace->terminated.empty());
    EXPECT_TRUE(QFileInfo::exists(installed() + QStringLiteral("/Contents/Resources/marker")));

    EXPECT_TRUE(HelperInstaller::installFromCreatorBundle(true));
    EXPECT_THAT(workspace->terminated, ElementsAre(helper.processIdentifier));
    EXPECT_EQ(secondsWaited(), 0.4);
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral("/Contents/Resources/marker")));
    EXPECT_EQ(HelperInstaller::installedVersion(), QStringLiteral("7"));
}

TEST_F(HelperInstallerTests, AnUnreadableVersionOnEitherSideMakesTheCopyHappen) {
    addCreator(QStringLiteral("7"));
    makeHelper(installed(), QStringLiteral("7"));
    writeFile(installed() + QStringLiteral("/Contents/Info.plist"), "garbage");
    EXPECT_TRUE(HelperInstaller::installFromCreatorBundle(false));
    EXPECT_EQ(HelperInstaller::installedVersion(), QStringLiteral("7"));

    QDir(workspace->root()).removeRecursively();
    addCreator(std::nullopt);
    EXPECT_TRUE(HelperInstaller::installFromCreatorBundle(false));
    EXPECT_TRUE(HelperInstaller::installFromCreatorBundle(false));
    EXPECT_EQ(log.count(QStringLiteral("installed helper ? to fixed path")), 2);
}

TEST_F(HelperInstallerTests, AFailedCopyLeavesTheInstalledHelperWholeAndIsRepairedLater) {
    const QString creator = addCreator(QStringLiteral("7"));
    ASSERT_TRUE(HelperInstaller::installFromCreatorBundle(false));
    makeHelper(source(creator), QStringLiteral("8"));

    // ditto gets as far as the Info.plist of the new version, then the disk fills up.
    runner->handle(ditto, [](const QStringList& arguments) -> QString {
        const QString target = arguments.at(1);
        QDir().mkpath(target + QStringLiteral("/Contents"));
        QFile::copy(arguments.at(0) + QStringLiteral("/Contents/Info.plist"),
                    target + QStringLiteral("/Contents/Info.plist"));
        throw host::toolFailure(QStringLiteral("/usr/bin/ditto"), 1,
                                QStringLiteral("ditto: No space left on device\n"));
    });
    try {
        HelperInstaller::installFromCreatorBundle(false);
        FAIL() << "the failed copy was not reported";
    } catch (const host::SystemError& error) {
        EXPECT_EQ(error.domain(), QStringLiteral("Corvane"));
        EXPECT_EQ(error.code(), 1);
        EXPECT_EQ(error.description(),
                  QStringLiteral("/usr/bin/ditto failed (1): ditto: No space left on device\n"));
    }
    EXPECT_EQ(HelperInstaller::installedVersion(), QStringLiteral("7"));
    EXPECT_EQ(readFile(installedExecutable()), "#!/bin/sh\necho 7\n");
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral(".installing")));

    // The next ordinary call sees the old version and completes the update.
    runner->handle(
        ditto, [](const QStringList& arguments) { return host::SpawnProcessRunner().run(ditto, arguments); });
    EXPECT_TRUE(HelperInstaller::installFromCreatorBundle(false));
    EXPECT_EQ(readFile(installedExecutable()), "#!/bin/sh\necho 8\n");
}

TEST_F(HelperInstallerTests, LeftoversOfAnInterruptedInstallNeverReachTheInstalledCopy) {
    addCreator(QStringLiteral("7"));
    Corvane::ensureSupportDirectory();
    writeFile(installed() + QStringLiteral(".installing/Contents/stale"), "half of an older copy");
    writeFile(installed() + QStringLiteral(".replaced/Contents/old"), "an old copy");
    EXPECT_TRUE(HelperInstaller::installFromCreatorBundle(false));
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral("/Contents/stale")));
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral(".installing")));
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral(".replaced")));
}

TEST_F(HelperInstallerTests, AFailingAttributeClearIsIgnored) {
    addCreator(QStringLiteral("7"));
    runner->exitWith(xattr, 1, QStringLiteral("xattr: denied\n"));
    EXPECT_TRUE(HelperInstaller::installFromCreatorBundle(false));
    EXPECT_EQ(HelperInstaller::installedVersion(), QStringLiteral("7"));
}

TEST_F(HelperInstallerTests, AnOldCopyThatCannotBeMovedAsideFailsTheInstall) {
    addCreator(QStringLiteral("8"));
    makeHelper(installed(), QStringLiteral("7"));
    // While the new copy is made, a file turns up where the old copy is to be moved aside: a folder cannot
    // be renamed onto a file, whoever runs the test (folder permissions would not bind the superuser).
    const QString aside = installed() + QStringLiteral(".replaced");
    runner->handle(ditto, [aside](const QStringList& arguments) {
        const QString output = host::SpawnProcessRunner().run(ditto, arguments);
        writeFile(aside, "in the way");
        return output;
    });
    EXPECT_THROW(HelperInstaller::installFromCreatorBundle(false), host::SystemError);
    EXPECT_EQ(HelperInstaller::installedVersion(), QStringLiteral("7"));
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral(".installing")));
}

TEST_F(HelperInstallerTests, TerminateAsksPolitelyWaitsThenForcesWhatRemains) {
    HelperInstaller::terminateRunningHelper();
    EXPECT_EQ(secondsWaited(), 0.0);
    EXPECT_TRUE(workspace->terminated.empty());

    // A helper that quits when asked is not forced.
    const auto helper = addRunningHelper();
    HelperInstaller::terminateRunningHelper();
    EXPECT_THAT(workspace->terminated, ElementsAre(helper.processIdentifier));
    EXPECT_TRUE(workspace->forceTerminated.empty());
    EXPECT_EQ(secondsWaited(), 0.4);

    // One that ignores the request is forced after the wait; other programs are left alone.
    workspace->terminationRemoves = false;
    addRunningHelper();
    workspace->addRunning({77, QStringLiteral("com.example.other"), QStringLiteral("Other"), {}});
    HelperInstaller::terminateRunningHelper();
    EXPECT_THAT(workspace->forceTerminated, ElementsAre(helper.processIdentifier));
    EXPECT_EQ(secondsWaited(), 0.8);
}

TEST_F(HelperInstallerTests, RunPassesThroughTheProcessRunner) {
    runner->respond(QStringLiteral("/usr/bin/codesign"), QStringLiteral("signed\n"));
    EXPECT_EQ(HelperInstaller::run(QStringLiteral("/usr/bin/codesign"), {QStringLiteral("-v")}),
              QStringLiteral("signed\n"));
    EXPECT_THAT(runner->argumentsOf(QStringLiteral("/usr/bin/codesign")),
                ElementsAre(QStringList{QStringLiteral("-v")}));
}

// Holds the installers' lock as another installer would, and tells when a second one waits for it.
class LockHolder {
public:
    LockHolder() {
        Corvane::ensureSupportDirectory();
        lock_.emplace();
        struct stat info {};
        ::stat(QFile::encodeName(HelperInstaller::installLockURL()).constData(), &info);
        inode_ = QByteArray::number(quint64(info.st_ino));
    }
    void release() { lock_.reset(); }
    // The kernel lists a blocked waiter as "N: -> FLOCK ... <major>:<minor>:<inode> ...".
    bool hasWaiter() const {
        QFile locks(QStringLiteral("/proc/locks"));
        if (!locks.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : locks.readAll().split('\n')) {
            if (!line.contains("->") || !line.contains("FLOCK"))
                continue;
            for (const QByteArray& field : line.simplified().split(' '))
                if (field.count(':') == 2 && field.split(':').last() == inode_)
                    return true;
        }
        return false;
    }
    bool waitForWaiter() const {
        for (int attempt = 0; attempt < 2'000'000; ++attempt) {
            if (hasWaiter())
                return true;
            std::this_thread::yield();
        }
        return false;
    }

private:
    std::optional<HelperInstaller::InstallLock> lock_;
    QByteArray inode_;
};

TEST_F(HelperInstallerTests, ConcurrentInstallersTakeTurns) {
    addCreator(QStringLiteral("7"));
    LockHolder other;
    auto result =
        std::async(std::launch::async, [] { return HelperInstaller::installFromCreatorBundle(true); });
    ASSERT_TRUE(other.waitForWaiter());
    EXPECT_TRUE(runner->argumentsOf(ditto).empty());
    other.release();
    EXPECT_TRUE(result.get());
    EXPECT_EQ(HelperInstaller::installedVersion(), QStringLiteral("7"));
}

TEST_F(HelperInstallerTests, AnInstallerThatWaitedDoesNotRedoWhatTheOtherDid) {
    const QString creator = addCreator(QStringLiteral("7"));
    const auto helper = addRunningHelper();
    LockHolder other;
    auto result =
        std::async(std::launch::async, [] { return HelperInstaller::installFromCreatorBundle(false); });
    ASSERT_TRUE(other.waitForWaiter());
    // The other installer completes its copy and starts the helper while this one waits.
    host::SpawnProcessRunner().run(ditto, {source(creator), installed()});
    other.release();
    EXPECT_FALSE(result.get());
    EXPECT_TRUE(runner->argumentsOf(ditto).empty());
    EXPECT_TRUE(workspace->terminated.empty());
    EXPECT_EQ(workspace->runningApplications(Corvane::helperBundleID).size(), 1u);
    (void)helper;
}

// The creator app finds the helper in its own bundle: this test program, copied into a bundle that carries a
// helper, reports what it finds there.
TEST(HelperInstallerOwnBundleTests, TheRunningProgramsOwnBundleComesFirst) {
    if (qEnvironmentVariableIsSet("CORVANE_REPORT_SOURCE")) {
        std::printf("SOURCE=%s\n",
                    qPrintable(HelperInstaller::sourceHelperURL().value_or(QStringLiteral("none"))));
        return;
    }
    QTemporaryDir dir;
    const QString bundle = dir.filePath(QStringLiteral("Corvane.app"));
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Corvane");
    QDir().mkpath(QFileInfo(executable).absolutePath());
    ASSERT_TRUE(QFile::copy(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(), executable));
    const QStringList arguments{QStringLiteral("--gtest_filter=HelperInstallerOwnBundleTests.*")};

    qputenv("CORVANE_REPORT_SOURCE", "1");
    const QString without = host::SpawnProcessRunner().run(executable, arguments);
    makeHelper(bundle + QLatin1Char('/') + Corvane::helperInBundle, QStringLiteral("7"));
    const QString with = host::SpawnProcessRunner().run(executable, arguments);
    qunsetenv("CORVANE_REPORT_SOURCE");

    EXPECT_THAT(without.toStdString(), testing::HasSubstr("SOURCE=none\n"));
    EXPECT_THAT(
        with.toStdString(),
        testing::HasSubstr(
            ("SOURCE=" + bundle + QStringLiteral("/Contents/Library/CorvaneHelper.app\n")).toStdString()));
}

} // namespace
