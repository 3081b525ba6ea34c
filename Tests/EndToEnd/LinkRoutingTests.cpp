// The helper as it runs for a user: installed from the built creator app, made the default application for
// web links, and handed links by the host's open tool. Stand-in browsers record the links they are given.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/Eventually.h"
#include "Support/Files.h"
#include "Support/HelperDefaults.h"
#include "Support/HostToolRun.h"
#include "Support/ProgramEnd.h"
#include "Support/SocketPeer.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const QString buildDir = QStringLiteral(CORVANE_BUILD_DIR);
const QString toolsDir = QStringLiteral(CORVANE_HOST_TOOLS_DIR);

const QString workID = QStringLiteral("com.example.work");
const QString mailBrowserID = QStringLiteral("com.example.mailbrowser");
const QString chromeID = QStringLiteral("com.google.Chrome");
const QString mailID = QStringLiteral("com.example.mail");

// Connects to the helper's socket and says hello as the creator app does, until the helper answers: its
// socket file can be there before it listens (or be one it has not yet replaced). The answered connection,
// with the acknowledgement read; none when no helper answered in time.
std::unique_ptr<test::SocketPeer> helloToHelper(int timeoutMs = 10000) {
    QElapsedTimer elapsed;
    elapsed.start();
    Request hello(0, Request::Op::hello);
    hello.bundleID = Corvane::creatorBundleID;
    while (elapsed.elapsed() < timeoutMs) {
        try {
            auto client = std::make_unique<test::SocketPeer>(UnixSocket::connect(Corvane::socketPath()));
            if (client->write(*hello.encode() + '\n'))
                if (const auto answer = client->readLine(2000)) {
                    if (QJsonDocument::fromJson(*answer).object().value("action").toString() ==
                        QStringLiteral("acknowledged"))
                        return client;
                }
        } catch (const SocketError&) {
            // Not listening yet.
        }
        QThread::msleep(50);
    }
    return nullptr;
}

class LinkRoutingTest : public testing::Test {
protected:
    void SetUp() override {
        test::adoptDetachedPrograms();
        ASSERT_TRUE(
            QFileInfo(buildDir + QStringLiteral("/Corvane.app/Contents/Library/CorvaneHelper.app")).isDir());
        const test::ToolRun install =
            test::runLoggingTo(toolsDir + QStringLiteral("/corvane-dev-install"),
                               {buildDir + QStringLiteral("/Corvane.app")}, logFile());
        ASSERT_EQ(install.status, 0) << install.output.toStdString();
        ASSERT_TRUE(QFileInfo(Corvane::installedHelperURL()).isDir());

        work = browser(QStringLiteral("Work Browser"), workID);
        mailBrowser = browser(QStringLiteral("Mail Browser"), mailBrowserID);
        chrome = browser(QStringLiteral("Google Chrome"), chromeID);
        // The source application: it opens the link it is given as a click in it would, and stays until a
        // browser got that very link (so the helper can still find it as the sender). The open tool returns
        // as soon as the running helper has taken the event, before the helper looks the sender up.
        makeBundle(QStringLiteral("Mail"), mailID, {},
                   QStringLiteral("#!/bin/sh\n\"%1/open\" \"$1\"\nfor i in $(seq 1 400); do\n"
                                  "  grep -qsxF -e \"$1\" '%2'/*.txt && break\n  sleep 0.05\ndone\n")
                       .arg(toolsDir, home.file(QStringLiteral("records"))));
        QDir().mkpath(home.file(QStringLiteral("records")));
    }

    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "log of the tools and the helper:\n"
                          << test::linesOf(logFile()).join('\n').toStdString();
        // Stop the helpers this test started (they stay resident as the default browser).
        test::endProgramsOf(Corvane::helperBundleID, home.path());
        test::eventually([&] {
            for (const auto& running : host::workspace().runningApplications(Corvane::helperBundleID))
                if (running.bundlePath.startsWith(home.path()))
                    return false;
            return true;
        });
    }

    QString makeBundle(const QString& name, const QString& id, const QStringList& schemes,
                       const QString& script) {
        const QString path = home.file(QStringLiteral("Applications/%1.app").arg(name));
        QVariantMap info{{QStringLiteral("CFBundleIdentifier"), id},
                         {QStringLiteral("CFBundleName"), name},
                         {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
                         {QStringLiteral("CFBundlePackageType"), QStringLiteral("APPL")}};
        if (!schemes.isEmpty())
            info.insert(QStringLiteral("CFBundleURLTypes"),
                        QVariantList{QVariantMap{{QStringLiteral("CFBundleURLSchemes"), schemes}}});
        EXPECT_TRUE(test::writeScriptBundle(path, info, script));
        return path;
    }

    // A stand-in browser: records each argument it is started with, one a line, in records/<id>.txt.
    QString browser(const QString& name, const QString& id) {
        makeBundle(name, id, {QStringLiteral("http"), QStringLiteral("https")},
                   QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1.tmp'; done\n"
                                  "mv '%1.tmp' '%1.txt'\n")
                       .arg(record(id).chopped(4)));
        return home.file(QStringLiteral("Applications/%1.app").arg(name));
    }

    QString record(const QString& id) const { return home.file(QStringLiteral("records/%1.txt").arg(id)); }

    // Waits for the browser with `id` to be given `link`.
    bool received(const QString& id, const QString& link) {
        return test::eventually([&] { return test::linesOf(record(id)).contains(link); });
    }

    static LinkRule rule(const QString& name, Condition::Kind kind, const QString& value,
                         const QString& target) {
        LinkRule result{QUuid::createUuid(), name, RouteTarget::browser(target), true, MatchMode::any, {}};
        result.conditions = {Condition{kind, {value}}};
        return result;
    }

    void saveRules(const RuleSet& set) { RuleStore().save(set); }

    test::ToolRun open(const QStringList& arguments) {
        return test::runLoggingTo(toolsDir + QStringLiteral("/open"), arguments, logFile());
    }
    QString logFile() const { return home.file(QStringLiteral("tools.log")); }

    test::TemporaryHome home;
    QString work;
    QString mailBrowser;
    QString chrome;
};

TEST_F(LinkRoutingTest, RulesOnTheAddressAndOnTheSourceApplicationChooseTheBrowser) {
    RuleSet set;
    set.rules = {
        rule(QStringLiteral("Work"), Condition::Kind::addresses, QStringLiteral("work.example.com"), workID),
        rule(QStringLiteral("Mail"), Condition::Kind::apps, mailID, mailBrowserID)};
    saveRules(set);

    const test::ToolRun first = open({QStringLiteral("https://work.example.com/page")});
    ASSERT_EQ(first.status, 0) << first.output.toStdString();
    EXPECT_TRUE(received(workID, QStringLiteral("https://work.example.com/page")));

    // From the mail application (the helper runs by now and takes the event on its socket).
    const test::ToolRun fromMail =
        test::runLoggingTo(home.file(QStringLiteral("Applications/Mail.app/Contents/MacOS/run")),
                           {QStringLiteral("https://news.example.org/story")}, logFile());
    ASSERT_EQ(fromMail.status, 0) << fromMail.output.toStdString();
    EXPECT_TRUE(received(mailBrowserID, QStringLiteral("https://news.example.org/story")));

    RecentLinksStore history;
    ASSERT_TRUE(test::eventually([&] {
        history.reloadIfChanged();
        return history.links().size() == 2;
    }));
    EXPECT_EQ(history.links()[0].url, QStringLiteral("https://news.example.org/story"));
    EXPECT_EQ(history.links()[0].sourceBundleID, mailID);
    EXPECT_EQ(history.links()[0].ruleName, QStringLiteral("Mail"));
    EXPECT_EQ(history.links()[0].targetBundleID, mailBrowserID);
    EXPECT_EQ(history.links()[1].ruleName, QStringLiteral("Work"));
    EXPECT_EQ(history.links()[1].targetName, QStringLiteral("Work Browser"));
}

// A host written with escapes is routed by the link's text as written, whether the open tool hands the link
// over or an event carries it straight to the helper: its parsed form (the host in its ASCII form) would
// match no rule written for it.
TEST_F(LinkRoutingTest, ALinkWithAnEscapedHostRoutesAsWrittenOnEveryRoad) {
    RuleSet set;
    set.rules = {rule(QStringLiteral("Caf\u00e9"), Condition::Kind::addresses,
                      QStringLiteral("caf%C3%A9.example"), workID)};
    set.fallback = RouteTarget::browser(mailBrowserID);
    saveRules(set);

    const QString byTool = QStringLiteral("https://caf%C3%A9.example/menu");
    const test::ToolRun run = open({byTool});
    ASSERT_EQ(run.status, 0) << run.output.toStdString();
    // A browser is given the link as written, not its parsed form (the host in its ASCII form).
    EXPECT_TRUE(received(workID, byTool));

    const QString byEvent = QStringLiteral("https://caf%C3%A9.example/wine");
    ASSERT_TRUE(host::deliverToRunningApplication(Corvane::helperBundleID,
                                                  {host::AppleEvent::getURL(byEvent, qint32(::getpid()))}));
    EXPECT_TRUE(received(workID, byEvent));

    RecentLinksStore history;
    ASSERT_TRUE(test::eventually([&] {
        history.reloadIfChanged();
        return history.links().size() == 2;
    }));
    EXPECT_EQ(history.links()[0].url, byEvent);
    EXPECT_EQ(history.links()[1].url, byTool);
    for (const auto& link : history.links()) {
        EXPECT_EQ(link.ruleName, QStringLiteral("Caf\u00e9"));
        EXPECT_EQ(link.targetBundleID, workID);
    }
}

// Links as chat clients, editors and terminals hand them on, through the open tool: the rule sees the written
// host and the decoded address, the record keeps the text, and the browser gets it byte for byte, a bundle
// and a browser of the desktop (its entry's command line) alike.
TEST_F(LinkRoutingTest, LinksAsDesktopProgramsWriteThemReachTheRuleAndTheBrowserByteForByte) {
    const QString recorder = home.file(QStringLiteral("records/desktop.recorder.txt"));
    const QString entry = home.file(QStringLiteral(".local/share/applications/recorder.desktop"));
    QDir().mkpath(QFileInfo(entry).path());
    const QString script = home.file(QStringLiteral("recorder.sh"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\n").arg(recorder).toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile desktop(entry);
    ASSERT_TRUE(desktop.open(QIODevice::WriteOnly));
    desktop.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Recorder\nExec=%1 %u\n"
                                 "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n")
                      .arg(script)
                      .toUtf8());
    desktop.close();

    RuleSet set;
    set.rules = {rule(QStringLiteral("Fonts"), Condition::Kind::addresses,
                      QStringLiteral("fonts.example/css?family=*|*"), workID),
                 rule(QStringLiteral("Maps"), Condition::Kind::addresses, QStringLiteral("maps.example"),
                      QStringLiteral("desktop.recorder"))};
    set.fallback = RouteTarget::browser(mailBrowserID);
    saveRules(set);

    const QString fonts = QStringLiteral("https://fonts.example/css?family=Roboto|Lato&text=%7E");
    const QString maps =
        QString::fromUtf8("https://maps.example/dir/?waypoints=A|B&q={\"x\":\"\xc3\xbc\"}^1`#%zz");
    for (const QString& link : {fonts, maps}) {
        const test::ToolRun run = open({link});
        ASSERT_EQ(run.status, 0) << run.output.toStdString();
    }
    EXPECT_TRUE(received(workID, fonts));
    EXPECT_TRUE(test::eventually([&] { return test::linesOf(recorder).contains(maps); }))
        << test::linesOf(recorder).join('\n').toStdString();

    RecentLinksStore history;
    ASSERT_TRUE(test::eventually([&] {
        history.reloadIfChanged();
        return history.links().size() == 2;
    }));
    EXPECT_EQ(history.links()[0].url, maps);
    EXPECT_EQ(history.links()[0].ruleName, QStringLiteral("Maps"));
    EXPECT_EQ(history.links()[1].url, fonts);
    EXPECT_EQ(history.links()[1].ruleName, QStringLiteral("Fonts"));
    EXPECT_EQ(history.links()[1].targetBundleID, workID);
}

TEST_F(LinkRoutingTest, MissingTargetsFallToTheFallbackThenTheLastResort) {
    RuleSet set;
    set.rules = {rule(QStringLiteral("Gone"), Condition::Kind::addresses, QStringLiteral("*.example.com"),
                      QStringLiteral("com.example.uninstalled"))};
    set.fallback = RouteTarget::browser(workID);
    saveRules(set);
    ASSERT_EQ(open({QStringLiteral("https://a.example.com/")}).status, 0);
    EXPECT_TRUE(received(workID, QStringLiteral("https://a.example.com/")));

    set.fallback = RouteTarget::browser(QStringLiteral("com.example.alsogone"));
    saveRules(set);
    ASSERT_EQ(open({QStringLiteral("https://b.example.com/")}).status, 0);
    EXPECT_TRUE(received(chromeID, QStringLiteral("https://b.example.com/")));

    RecentLinksStore history;
    ASSERT_TRUE(test::eventually([&] {
        history.reloadIfChanged();
        return history.links().size() == 2;
    }));
    EXPECT_TRUE(history.links()[0].targetWasMissing);
    EXPECT_EQ(history.links()[0].targetBundleID, chromeID);
    EXPECT_TRUE(history.links()[1].targetWasMissing);
    EXPECT_EQ(history.links()[1].ruleName, QStringLiteral("Gone"));
}

// A browser started for a link that ends with a failure before it took it did not open it: the link goes to
// the last-resort browser. One that ends cleanly read it from its start (every stand-in browser here does).
TEST_F(LinkRoutingTest, ALinkWhoseBrowserFailsAtItsStartGoesToTheLastResort) {
    const QString failingID = QStringLiteral("com.example.failing");
    makeBundle(QStringLiteral("Failing Browser"), failingID,
               {QStringLiteral("http"), QStringLiteral("https")},
               QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '%1'\nexit 1\n").arg(record(failingID)));
    RuleSet set;
    set.rules = {
        rule(QStringLiteral("Failing"), Condition::Kind::addresses, QStringLiteral("*.example.org"),
             failingID),
        rule(QStringLiteral("Work"), Condition::Kind::addresses, QStringLiteral("*.example.com"), workID)};
    saveRules(set);

    ASSERT_EQ(open({QStringLiteral("https://clean.example.com/")}).status, 0);
    EXPECT_TRUE(received(workID, QStringLiteral("https://clean.example.com/")));
    ASSERT_EQ(open({QStringLiteral("https://fails.example.org/")}).status, 0);
    EXPECT_TRUE(received(failingID, QStringLiteral("https://fails.example.org/")));
    EXPECT_TRUE(received(chromeID, QStringLiteral("https://fails.example.org/")));
    EXPECT_FALSE(test::linesOf(record(chromeID)).contains(QStringLiteral("https://clean.example.com/")));
}

TEST_F(LinkRoutingTest, ConnectedClientsHearOfEveryRecordedLink) {
    saveRules(RuleSet{});
    ASSERT_EQ(open({QStringLiteral("https://first.example.net/")}).status, 0);
    ASSERT_TRUE(received(chromeID, QStringLiteral("https://first.example.net/")));

    const auto answered = helloToHelper();
    ASSERT_TRUE(answered) << "the helper never answered on its socket";
    test::SocketPeer& client = *answered;
    ASSERT_TRUE(client.readLine()); // axPermission

    ASSERT_EQ(open({QStringLiteral("https://second.example.net/")}).status, 0);
    const auto event = client.readLine(10000);
    ASSERT_TRUE(event);
    EXPECT_EQ(QJsonDocument::fromJson(*event).object().value("event").toString(),
              QStringLiteral("routingHistoryChanged"));
    EXPECT_TRUE(received(chromeID, QStringLiteral("https://second.example.net/")));
    EXPECT_EQ(RecentLinksStore().links().size(), 2u);
}

TEST_F(LinkRoutingTest, AFileOfARoutedTypeTakesTheSameRoad) {
    RuleSet set;
    set.localFileTarget = RouteTarget::browser(workID);
    saveRules(set);
    ASSERT_TRUE(test::makeInstalledHelperTheDefaultForPages());
    const QString page = home.file(QStringLiteral("notes/page one.html"));
    QDir().mkpath(QFileInfo(page).path());
    QFile(page).open(QIODevice::WriteOnly);

    const test::ToolRun run = open({page});
    ASSERT_EQ(run.status, 0) << run.output.toStdString();
    EXPECT_TRUE(received(workID, QUrl::fromLocalFile(page).toString(QUrl::FullyEncoded)));
    RecentLinksStore history;
    ASSERT_TRUE(test::eventually([&] {
        history.reloadIfChanged();
        return history.links().size() == 1;
    }));
    EXPECT_EQ(history.links()[0].url, QUrl::fromLocalFile(page).toString(QUrl::FullyEncoded));
    EXPECT_EQ(history.links()[0].targetBundleID, workID);
}

} // namespace

namespace {

// A helper started by a program that has ended may have nowhere left to write its log: it keeps serving.
TEST(HelperProcessTest, AHelperWhoseLogIsGoneKeepsServing) {
    test::TemporaryHome home;
    // The tool ends before the helper it started: the helper becomes this process's child, whose end is read.
    test::adoptDetachedPrograms();
    const QString helperApp = home.file(QStringLiteral("CorvaneHelper.app"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("cp"),
                                {QStringLiteral("-a"),
                                 buildDir + QStringLiteral("/Corvane.app/Contents/Library/CorvaneHelper.app"),
                                 helperApp}),
              0);
    {
        // The tool's output is a pipe that goes away with it; the helper it starts inherits that pipe.
        QProcess tool;
        tool.start(toolsDir + QStringLiteral("/open"),
                   {QStringLiteral("-a"), helperApp, QStringLiteral("https://example.com/")});
        ASSERT_TRUE(tool.waitForFinished(20000));
        ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    }
    for (int round = 0; round < 2; ++round) {
        // Each connection makes the helper log a line.
        EXPECT_TRUE(helloToHelper()) << "round " << round;
    }

    std::vector<qint32> helpers;
    for (const auto& running : host::workspace().runningApplications(Corvane::helperBundleID))
        if (running.bundlePath.startsWith(home.path()))
            helpers.push_back(running.processIdentifier);
    ASSERT_EQ(helpers.size(), 1u);
    EXPECT_EQ(test::endProgram(helpers[0]).toStdString(), "");
    EXPECT_TRUE(test::eventually([] { return !QFileInfo::exists(Corvane::socketPath()); }));
}

} // namespace

namespace {

bool isRunning(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && close + 2 < text.size() && text.at(close + 2) != 'Z';
}

// A test installs helpers in its own temporary home: the user's own helper, which runs with the real home,
// must survive it.
TEST(HelperProcessTest, AnInstallationEndsOnlyTheHelpersOfItsOwnHome) {
    test::TemporaryHome home;
    const QString bundle = home.file(QStringLiteral("elsewhere/CorvaneHelper.app"));
    QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
    const QVariantMap info{{QStringLiteral("CFBundleIdentifier"), Corvane::helperBundleID},
                           {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")}};
    ASSERT_TRUE(host::writePropertyListFile(bundle + QStringLiteral("/Contents/Info.plist"), info));
    QFile script(bundle + QStringLiteral("/Contents/MacOS/run"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntrap 'exit 0' TERM\nwhile :; do sleep 0.05; done\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const auto start = [&](const QString& homeFolder) {
        QProcess helper;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), homeFolder);
        helper.setProcessEnvironment(environment);
        helper.setProgram(script.fileName());
        qint64 pid = 0;
        EXPECT_TRUE(helper.startDetached(&pid));
        return pid;
    };
    const qint64 users = start(home.file(QStringLiteral("the-users-home")));
    const qint64 tests = start(home.path());
    ASSERT_TRUE(
        test::eventually([&] { return host::workspace().runningApplication(qint32(tests)).has_value(); }));

    const test::ToolRun install =
        test::runLoggingTo(toolsDir + QStringLiteral("/corvane-dev-install"),
                           {buildDir + QStringLiteral("/Corvane.app")}, home.file(QStringLiteral("log")));
    EXPECT_EQ(install.status, 0) << install.output.toStdString();
    EXPECT_TRUE(test::eventually([&] { return !isRunning(tests); }));
    EXPECT_TRUE(isRunning(users));
    ::kill(pid_t(users), SIGKILL);
    ::kill(pid_t(tests), SIGKILL);
}

} // namespace
