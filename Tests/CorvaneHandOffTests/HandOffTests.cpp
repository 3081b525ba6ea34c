// The desktop's hand-off program as the desktop runs it: from inside a bundle, with the links as arguments.
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/Eventually.h"
#include "Support/Files.h"
#include "Support/TemporaryHome.h"
#include "Support/VanishingListener.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using host::AppleEvent;

const QString builtHandOff = QStringLiteral(
    CORVANE_BUILD_DIR "/Corvane.app/Contents/Library/CorvaneHelper.app/Contents/MacOS/CorvaneHandOff");
const QString bundleID = QStringLiteral("com.example.handoff");

class HandOffTest : public testing::Test {
protected:
    void SetUp() override {
        // A bundle whose program records the events it was started with and, while `lingers()` exists, stays
        // (without listening: the test listens in its place once it has seen the start).
        ASSERT_TRUE(test::writeScriptBundle(
            bundle(),
            {{QStringLiteral("CFBundleIdentifier"), bundleID},
             {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")}},
            QStringLiteral(
                "#!/bin/sh\necho started >> '%3'\nprintf '%s' \"$%1\" > '%2.tmp'\nmv '%2.tmp' '%2'\n"
                "[ -e '%4' ] && echo $$ >> '%5' && exec sleep 10\nexit 0\n")
                .arg(QString::fromLatin1(host::kLaunchEventsVariable), startedWith(), starts(), lingers(),
                     lingering())));
        ASSERT_TRUE(QFile::copy(builtHandOff, bundle() + QStringLiteral("/Contents/MacOS/CorvaneHandOff")));
    }

    void TearDown() override {
        for (const QString& pid : test::linesOf(lingering()))
            ::kill(pid.toInt(), SIGTERM);
    }

    QString bundle() const { return home.file(QStringLiteral("Applications/Hand Off.app")); }
    QString startedWith() const { return home.file(QStringLiteral("started-with")); }
    QString starts() const { return home.file(QStringLiteral("starts")); }
    QString lingers() const { return home.file(QStringLiteral("lingers")); }
    QString lingering() const { return home.file(QStringLiteral("lingering")); }

    void startHandOff(QProcess& process, const QStringList& arguments, const QString& workingDirectory = {}) {
        process.setWorkingDirectory(workingDirectory);
        process.start(bundle() + QStringLiteral("/Contents/MacOS/CorvaneHandOff"), arguments);
    }

    // The hand-off's exit status once it ended, while this thread keeps serving events.
    int statusOnceEnded(QProcess& process) {
        EXPECT_TRUE(test::eventually(
            [&] {
                QCoreApplication::processEvents();
                return process.state() == QProcess::NotRunning;
            },
            20000));
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    int runHandOff(const QStringList& arguments, const QString& workingDirectory = {}) {
        QProcess process;
        startHandOff(process, arguments, workingDirectory);
        return statusOnceEnded(process);
    }

    std::optional<host::DeliveredEvents> eventsStartedWith() {
        EXPECT_TRUE(test::eventually([&] { return QFile::exists(startedWith()); }));
        return host::decodeDeliveredEvents(test::contents(startedWith()));
    }

    test::TemporaryHome home;
};

TEST_F(HandOffTest, TheRunningProgramGetsTheArgumentsAsWritten) {
    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(listener.start(bundleID), host::EventListener::StartResult::listening);

    const QString escaped = QStringLiteral("https://caf%C3%A9.example/menu");
    const QString page = home.file(QStringLiteral("a page.html"));
    EXPECT_EQ(runHandOff({escaped, page, QStringLiteral("--not-a-switch")}), 0);
    ASSERT_TRUE(test::eventually([&] {
        QCoreApplication::processEvents();
        return received.size() == 3;
    }));
    EXPECT_EQ(received[0], AppleEvent::getURL(escaped, qint32(QCoreApplication::applicationPid())));
    // Not a switch of the program: a text the receiver parses, and refuses, as any event's.
    EXPECT_EQ(received[1].directObject, QStringLiteral("--not-a-switch"));
    EXPECT_TRUE(received[2].isOpenDocuments());
    EXPECT_EQ(received[2].documents, QList<QUrl>{QUrl::fromLocalFile(page)});
    EXPECT_FALSE(QFile::exists(startedWith())) << "the program was started while one ran";
}

// xdg-open hands a path on as it was given: one relative to the folder it ran in names the file there.
TEST_F(HandOffTest, ARelativePathOfAFileIsMadeAbsoluteAgainstTheWorkingFolder) {
    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(listener.start(bundleID), host::EventListener::StartResult::listening);
    const QString folder = home.file(QStringLiteral("notes"));
    QDir().mkpath(folder + QStringLiteral("/sub"));
    const QString page = folder + QStringLiteral("/page one.html");
    QFile(page).open(QIODevice::WriteOnly);

    EXPECT_EQ(runHandOff({QStringLiteral("page one.html"), QStringLiteral("./sub/../page one.html"),
                          QStringLiteral("missing.html")},
                         folder),
              0);
    ASSERT_TRUE(test::eventually([&] {
        QCoreApplication::processEvents();
        return received.size() == 2;
    }));
    // A relative text that names no file stays a text, which the receiver refuses with its text.
    EXPECT_EQ(received[0].directObject, QStringLiteral("missing.html"));
    EXPECT_TRUE(received[1].isOpenDocuments());
    EXPECT_EQ(received[1].documents, (QList<QUrl>{QUrl::fromLocalFile(page), QUrl::fromLocalFile(page)}));
}

// The hand-off ends only once the program it started has the links: the events it was started with are
// handed over its socket as soon as it listens.
TEST_F(HandOffTest, WithoutARunningProgramItStartsItAndWaitsUntilItTakesTheLinks) {
    QFile(lingers()).open(QIODevice::WriteOnly);
    const QString escaped = QStringLiteral("https://caf%C3%A9.example/wine");
    QProcess handOff;
    startHandOff(handOff, {escaped});
    const auto launch = eventsStartedWith();
    ASSERT_TRUE(launch);
    const std::vector<AppleEvent> expected{
        AppleEvent::getURL(escaped, qint32(QCoreApplication::applicationPid()))};
    EXPECT_EQ(launch->events, expected);
    EXPECT_FALSE(launch->deliveryID.isEmpty());
    EXPECT_FALSE(handOff.waitForFinished(100)) << "it ended before the program took the links";

    // The program listens: it gets the same events once more, under the mark it was started with.
    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(listener.start(bundleID), host::EventListener::StartResult::listening);
    listener.deliver(*launch);
    EXPECT_EQ(statusOnceEnded(handOff), 0);
    EXPECT_EQ(received, expected);
    EXPECT_EQ(test::linesOf(starts()).size(), 1);

    // Opened again without links: the reopen.
    EXPECT_EQ(runHandOff({}), 0);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(received[1].isReopen());
}

// A program killed before it listened never handed the links on: it is started again, a bounded number of
// times, and the hand-off says it failed when none of them took the links.
TEST_F(HandOffTest, AProgramThatEndsBeforeItListensIsStartedAgainButNotEndlessly) {
    const QString link = QStringLiteral("https://example.com/again");
    EXPECT_EQ(runHandOff({link}), 1);
    const qsizetype count = test::linesOf(starts()).size();
    EXPECT_GT(count, 1);
    EXPECT_LE(count, 10);
    const auto launch = eventsStartedWith();
    ASSERT_TRUE(launch);
    EXPECT_EQ(launch->events.size(), 1u);
}

// The running program read the links and ended before answering (killed, or ending): the hand-off cannot
// know they were handed on, so it starts the program with them, under the same mark.
TEST_F(HandOffTest, LinksWhoseListenerEndedWithoutAnsweringGoToTheProgramItStarts) {
    QFile(lingers()).open(QIODevice::WriteOnly);
    const QString link = QStringLiteral("https://example.com/unanswered");
    test::VanishingListener vanishing(host::eventSocketPath(bundleID));
    QProcess handOff;
    startHandOff(handOff, {link});
    const auto read = vanishing.line();
    ASSERT_TRUE(read);
    const auto launch = eventsStartedWith();
    ASSERT_TRUE(launch);
    EXPECT_EQ(host::decodeDeliveredEvents(*read)->deliveryID, launch->deliveryID);
    EXPECT_EQ(launch->events.size(), 1u);

    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(listener.start(bundleID), host::EventListener::StartResult::listening);
    EXPECT_EQ(statusOnceEnded(handOff), 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].directObject, link);
}

// Whatever ran xdg-open may block or ignore signals and leave descriptors open: the helper, which outlives
// it, starts with none of them.
TEST_F(HandOffTest, TheProgramItStartsInheritsNoSignalStateOrDescriptorOfItsCaller) {
    constexpr int leftOpen = 57;
    const QString state = home.file(QStringLiteral("state"));
    ASSERT_TRUE(test::writeScriptBundle(
        bundle(),
        {{QStringLiteral("CFBundleIdentifier"), bundleID},
         {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")}},
        // Read by the shell itself: a shell blocks signals while it waits for a command it ran.
        QStringLiteral("#!/bin/sh\nwhile read -r field value; do case $field in SigBlk:|SigIgn:) "
                       "echo \"$field $value\";; esac; done < /proc/$$/status > '%1.tmp'\n"
                       "[ -e /proc/$$/fd/%2 ] && echo open >> '%1.tmp'\nmv '%1.tmp' '%1'\n")
            .arg(state)
            .arg(leftOpen)));
    QFile::remove(bundle() + QStringLiteral("/Contents/MacOS/CorvaneHandOff"));
    ASSERT_TRUE(QFile::copy(builtHandOff, bundle() + QStringLiteral("/Contents/MacOS/CorvaneHandOff")));
    QFile open(home.file(QStringLiteral("open")));
    ASSERT_TRUE(open.open(QIODevice::WriteOnly));
    const int descriptor = open.handle();

    QProcess handOff;
    handOff.setChildProcessModifier([descriptor] {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGUSR1);
        ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
        ::signal(SIGUSR2, SIG_IGN);
        ::dup2(descriptor, leftOpen); // without close-on-exec
    });
    startHandOff(handOff, {QStringLiteral("https://example.com/clean")});
    ASSERT_TRUE(test::eventually([&] { return QFile::exists(state); }));
    statusOnceEnded(handOff);

    const QStringList lines = test::linesOf(state);
    EXPECT_FALSE(lines.contains(QStringLiteral("open"))) << "descriptor " << leftOpen << " stayed open";
    ASSERT_GE(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    const auto mask = [&](int line) {
        return lines[line].section(QLatin1Char(' '), 1).toULongLong(nullptr, 16);
    };
    EXPECT_EQ(mask(0) & (1ull << (SIGUSR1 - 1)), 0u) << "SIGUSR1 stayed blocked: " << lines[0].toStdString();
    EXPECT_EQ(mask(1) & (1ull << (SIGUSR2 - 1)), 0u) << "SIGUSR2 stayed ignored: " << lines[1].toStdString();
}

TEST_F(HandOffTest, OutsideABundleItFails) {
    const QString loose = home.file(QStringLiteral("CorvaneHandOff"));
    ASSERT_TRUE(QFile::copy(builtHandOff, loose));
    QProcess process;
    process.start(loose, {QStringLiteral("https://example.com/")});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 1);
}

} // namespace
