// The host's open tool as a user runs it: exit status, messages, and what the opened application receives.
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/TemporaryHome.h"

#include "Support/HostToolRun.h"
#include <QCoreApplication>
#include <QDir>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

test::ToolRun runOpen(const QStringList& arguments) {
    return test::runHostTool(QStringLiteral("open"), arguments, 20000);
}

class OpenToolTest : public testing::Test {
protected:
    // A stand-in browser that writes its arguments and its launch events to files in the home folder.
    QString addRecorder(const QString& name, const QString& id) {
        const QString app = home.file(QStringLiteral("Applications/%1.app").arg(name));
        QDir().mkpath(app + QStringLiteral("/Contents/MacOS"));
        host::writePropertyListFile(
            app + QStringLiteral("/Contents/Info.plist"),
            QVariantMap{{QStringLiteral("CFBundleIdentifier"), id},
                        {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
                        {QStringLiteral("CFBundleURLTypes"),
                         QVariantList{QVariantMap{{QStringLiteral("CFBundleURLSchemes"),
                                                   QStringList{QStringLiteral("https")}}}}}});
        QFile script(app + QStringLiteral("/Contents/MacOS/run"));
        script.open(QIODevice::WriteOnly);
        script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1/args.tmp'\n"
                                    "printf '%s' \"$CORVANE_HOST_LAUNCH_EVENTS\" > '%1/events'\n"
                                    "mv '%1/args.tmp' '%1/args'\n")
                         .arg(home.path())
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return app;
    }

    void makeDefault(const QString& app, const QString& scheme) {
        bool done = false;
        host::workspace().setDefaultApplicationForScheme(app, scheme, [&](auto) { done = true; });
        QElapsedTimer elapsed;
        elapsed.start();
        while (!done && elapsed.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    QStringList waitForArguments() {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!QFile::exists(home.file(QStringLiteral("args"))) && elapsed.elapsed() < 10000)
            QThread::msleep(20);
        QFile file(home.file(QStringLiteral("args")));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    test::TemporaryHome home;
};

TEST_F(OpenToolTest, ReportsWhatItCannotOpenLikeTheRealTool) {
    test::ToolRun outcome = runOpen({});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.errors.startsWith(QStringLiteral("Usage: open")));

    outcome = runOpen({home.file(QStringLiteral("missing.html"))});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.errors,
              QStringLiteral("The file %1 does not exist.").arg(home.file(QStringLiteral("missing.html"))));

    outcome = runOpen({QStringLiteral("gopher://example.com/")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.errors, QStringLiteral("No application knows how to open URL gopher://example.com/."));

    outcome = runOpen(
        {QStringLiteral("-b"), QStringLiteral("com.example.none"), QStringLiteral("https://x.test/")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.errors,
              QStringLiteral("Unable to find application with bundle identifier com.example.none."));
}

TEST_F(OpenToolTest, OpensALinkWithTheDefaultApplicationAsAnEventFromTheCaller) {
    const QString app = addRecorder(QStringLiteral("Recorder"), QStringLiteral("com.example.recorder"));
    makeDefault(app, QStringLiteral("https"));

    const test::ToolRun outcome = runOpen({QStringLiteral("https://example.com/page?a=1")});
    ASSERT_EQ(outcome.status, 0) << outcome.errors.toStdString();
    EXPECT_EQ(waitForArguments(), QStringList{QStringLiteral("https://example.com/page?a=1")});
    QFile eventsFile(home.file(QStringLiteral("events")));
    ASSERT_TRUE(eventsFile.open(QIODevice::ReadOnly));
    const auto events = host::decodeAppleEvents(eventsFile.readAll());
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 1u);
    EXPECT_EQ((*events)[0].directObject, QStringLiteral("https://example.com/page?a=1"));
    // Sent on behalf of the program that ran the tool: this test.
    EXPECT_EQ((*events)[0].senderPID, QCoreApplication::applicationPid());
}

TEST_F(OpenToolTest, ALinkWithAnEscapedHostIsALinkNotAFile) {
    const QString app = addRecorder(QStringLiteral("Recorder"), QStringLiteral("com.example.recorder"));
    makeDefault(app, QStringLiteral("https"));

    const test::ToolRun outcome = runOpen({QStringLiteral("https://caf%C3%A9.example/menu")});
    ASSERT_EQ(outcome.status, 0) << outcome.errors.toStdString();
    // The event and the arguments carry the link as written, never the parsed URL's encoded form.
    EXPECT_EQ(waitForArguments(), QStringList{QStringLiteral("https://caf%C3%A9.example/menu")});
    QFile eventsFile(home.file(QStringLiteral("events")));
    ASSERT_TRUE(eventsFile.open(QIODevice::ReadOnly));
    const auto events = host::decodeAppleEvents(eventsFile.readAll());
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 1u);
    EXPECT_TRUE((*events)[0].isGetURL());
    EXPECT_EQ((*events)[0].directObject, QStringLiteral("https://caf%C3%A9.example/menu"));
}

// Links as desktop programs write them are links, handed on byte for byte; an existing file whose name reads
// like such a link is still that file.
TEST_F(OpenToolTest, LinksWithRawCharactersGoOnAsWrittenAndFilesStayFiles) {
    const QString app = addRecorder(QStringLiteral("Recorder"), QStringLiteral("com.example.recorder"));
    makeDefault(app, QStringLiteral("https"));
    const QString link =
        QString::fromUtf8("https://maps.example/dir/?waypoints=A|B&q={\"x\":\"\xc3\xbc\"}&p=50%&t=%7E");

    test::ToolRun outcome = runOpen({link});
    ASSERT_EQ(outcome.status, 0) << outcome.errors.toStdString();
    EXPECT_EQ(waitForArguments(), QStringList{link});
    QFile eventsFile(home.file(QStringLiteral("events")));
    ASSERT_TRUE(eventsFile.open(QIODevice::ReadOnly));
    const auto events = host::decodeAppleEvents(eventsFile.readAll());
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 1u);
    EXPECT_EQ((*events)[0].directObject, link);

    QFile::remove(home.file(QStringLiteral("args")));
    const QString folder = home.file(QStringLiteral("notes"));
    QDir().mkpath(folder);
    const QString page = folder + QStringLiteral("/draft:{1}.html");
    QFile(page).open(QIODevice::WriteOnly);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    outcome = runOpen({QStringLiteral("-a"), app, QStringLiteral("draft:{1}.html")});
    QDir::setCurrent(previous);
    ASSERT_EQ(outcome.status, 0) << outcome.errors.toStdString();
    EXPECT_EQ(waitForArguments(), QStringList{QUrl::fromLocalFile(page).toString(QUrl::FullyEncoded)});
}

TEST_F(OpenToolTest, TextAfterDoubleDashIsAFileNeverASwitch) {
    const QString app = addRecorder(QStringLiteral("Recorder"), QStringLiteral("com.example.recorder"));
    const test::ToolRun outcome = runOpen(
        {QStringLiteral("-a"), app, QStringLiteral("--"), QStringLiteral("--user-data-dir=/tmp/evil")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.errors.startsWith(QStringLiteral("The file ")));
    EXPECT_TRUE(outcome.errors.endsWith(QStringLiteral("/--user-data-dir=/tmp/evil does not exist.")));
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("args"))));
}

} // namespace
