// The desktop's hand-off program as the desktop runs it: from inside a bundle, with the links as arguments.
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/Eventually.h"
#include "Support/Files.h"
#include "Support/TemporaryHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

using host::AppleEvent;

const QString builtHandOff = QStringLiteral(
    CORVANE_BUILD_DIR "/Corvane.app/Contents/Library/CorvaneHelper.app/Contents/MacOS/CorvaneHandOff");
const QString bundleID = QStringLiteral("com.example.handoff");

class HandOffTest : public testing::Test {
protected:
    void SetUp() override {
        // A bundle whose program records the events it was started with.
        ASSERT_TRUE(test::writeScriptBundle(
            bundle(),
            {{QStringLiteral("CFBundleIdentifier"), bundleID},
             {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")}},
            QStringLiteral("#!/bin/sh\nprintf '%s' \"$%1\" > '%2.tmp'\nmv '%2.tmp' '%2'\n")
                .arg(QString::fromLatin1(host::kLaunchEventsVariable), startedWith())));
        ASSERT_TRUE(QFile::copy(builtHandOff, bundle() + QStringLiteral("/Contents/MacOS/CorvaneHandOff")));
    }

    QString bundle() const { return home.file(QStringLiteral("Applications/Hand Off.app")); }
    QString startedWith() const { return home.file(QStringLiteral("started-with")); }

    // Runs the bundle's hand-off program to its end while this thread keeps serving events.
    int runHandOff(const QStringList& arguments, const QString& workingDirectory = {}) {
        QProcess process;
        process.setWorkingDirectory(workingDirectory);
        process.start(bundle() + QStringLiteral("/Contents/MacOS/CorvaneHandOff"), arguments);
        EXPECT_TRUE(test::eventually([&] {
            QCoreApplication::processEvents();
            return process.state() == QProcess::NotRunning;
        }));
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
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

TEST_F(HandOffTest, WithoutARunningProgramItStartsItWithTheEventsAndReturns) {
    const QString escaped = QStringLiteral("https://caf%C3%A9.example/wine");
    EXPECT_EQ(runHandOff({escaped}), 0);
    ASSERT_TRUE(test::eventually([&] { return QFile::exists(startedWith()); }));
    const auto events = host::decodeAppleEvents(test::contents(startedWith()));
    ASSERT_TRUE(events);
    EXPECT_EQ(*events, std::vector<AppleEvent>{
                           AppleEvent::getURL(escaped, qint32(QCoreApplication::applicationPid()))});

    // Opened again without links: the reopen.
    QFile::remove(startedWith());
    EXPECT_EQ(runHandOff({}), 0);
    ASSERT_TRUE(test::eventually([&] { return QFile::exists(startedWith()); }));
    const auto reopen = host::decodeAppleEvents(test::contents(startedWith()));
    ASSERT_TRUE(reopen);
    ASSERT_EQ(reopen->size(), 1u);
    EXPECT_TRUE((*reopen)[0].isReopen());
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
