// A link opened by the desktop's own opener (xdg-open) reaches the helper once it is the desktop's default
// browser, and the helper routes it. The desktop session is an Xvfb display of the test's own: xdg-open reads
// the MIME defaults only where a display is set.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/Eventually.h"
#include "Support/Files.h"
#include "Support/HelperDefaults.h"
#include "Support/OutsidePrograms.h"
#include "Support/ProgramEnd.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

const QString buildDir = QStringLiteral(CORVANE_BUILD_DIR);
const QString toolsDir = QStringLiteral(CORVANE_HOST_TOOLS_DIR);
const QString workID = QStringLiteral("com.example.work");

struct ProgramRun {
    bool finished = false;
    int status = -1;
    QString output;
};

// Runs a desktop program as a session would: on the display, with no desktop environment named. Its output
// goes to a file, so a program it leaves behind cannot hold the test up.
ProgramRun runOnDisplay(const QString& program, const QStringList& arguments, const QString& display,
                        const QString& logFile, const QString& workingDirectory = {}) {
    QProcess process;
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "GNOME_DESKTOP_SESSION_ID", "WAYLAND_DISPLAY", "BROWSER"})
        environment.remove(QString::fromLatin1(name));
    // A session's data folders end with the system's, where xdg-open finds the MIME database that tells a
    // file's type; the test's own come first, so its defaults and entries still decide.
    environment.insert(QStringLiteral("XDG_DATA_DIRS"),
                       environment.value(QStringLiteral("XDG_DATA_DIRS")) + QStringLiteral(":/usr/share"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(logFile, QIODevice::Append);
    process.start(program, arguments);
    ProgramRun run;
    run.finished = process.waitForFinished(20000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    } else {
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    run.output = test::readText(logFile);
    return run;
}

class DesktopLinkTest : public testing::Test {
protected:
    void SetUp() override {
        test::adoptDetachedPrograms();
        for (const QString& program : {QStringLiteral("xdg-open"), QStringLiteral("Xvfb")}) {
            const QString missing = test::missingProgram(program);
            ASSERT_TRUE(missing.isEmpty()) << missing.toStdString();
        }
        startDisplay();
        ASSERT_FALSE(display_.isEmpty()) << "Xvfb did not start";

        const ProgramRun install =
            runOnDisplay(toolsDir + QStringLiteral("/corvane-dev-install"),
                         {buildDir + QStringLiteral("/Corvane.app")}, display_, logFile());
        ASSERT_EQ(install.status, 0) << install.output.toStdString();

        // A stand-in browser that records the links it is given, one a line.
        const QString bundle = home_.file(QStringLiteral("Applications/Work Browser.app"));
        const QVariantMap info{{QStringLiteral("CFBundleIdentifier"), workID},
                               {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
                               {QStringLiteral("CFBundleURLTypes"),
                                QVariantList{QVariantMap{
                                    {QStringLiteral("CFBundleURLSchemes"), QStringList{"http", "https"}}}}}};
        ASSERT_TRUE(test::writeScriptBundle(
            bundle, info,
            QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n")
                .arg(record())));
    }

    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "log:\n" << test::readText(logFile()).toStdString();
        test::endProgramsOf(Corvane::helperBundleID, home_.path());
        if (xvfb_.state() != QProcess::NotRunning) {
            xvfb_.terminate(); // its own pid, as QProcess started it
            xvfb_.waitForFinished(5000);
        }
    }

    // Xvfb picks a free display number itself and tells it on the descriptor named.
    void startDisplay() {
        xvfb_.setProgram(QStringLiteral("Xvfb"));
        xvfb_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                            QStringLiteral("640x480x24")});
        xvfb_.setStandardErrorFile(QProcess::nullDevice());
        xvfb_.start();
        if (!xvfb_.waitForStarted(5000))
            return;
        QElapsedTimer elapsed;
        elapsed.start();
        QByteArray number;
        while (!number.contains('\n') && elapsed.elapsed() < 10000)
            if (xvfb_.waitForReadyRead(500))
                number += xvfb_.readAllStandardOutput();
        if (number.trimmed().isEmpty())
            return;
        display_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    }

    QString record() const { return home_.file(QStringLiteral("work-browser.txt")); }
    QString logFile() const { return home_.file(QStringLiteral("session.log")); }

    test::TemporaryHome home_;
    QProcess xvfb_;
    QString display_;
};

TEST_F(DesktopLinkTest, XdgOpenHandsTheLinkToTheHelperWhichRoutesIt) {
    RuleSet set;
    set.fallback = RouteTarget::browser(workID);
    RuleStore().save(set);

    const ProgramRun browser = runOnDisplay(QStringLiteral("xdg-settings"),
                                            {QStringLiteral("get"), QStringLiteral("default-web-browser")},
                                            display_, home_.file(QStringLiteral("xdg-settings.out")));
    ASSERT_EQ(browser.status, 0) << browser.output.toStdString();
    EXPECT_EQ(browser.output.trimmed(), QStringLiteral("app.corvane.helper.desktop"));
    // The desktop runs the hand-off program, not a second helper.
    const QString entry =
        test::readText(home_.file(QStringLiteral(".local/share/applications/app.corvane.helper.desktop")));
    const qsizetype exec = entry.indexOf(QStringLiteral("\nExec=")) + 6;
    const QString program = entry.mid(exec, entry.indexOf(QStringLiteral(" %U"), exec) - exec);
    EXPECT_EQ(QFileInfo(QFileInfo(program).canonicalFilePath()).fileName(), QStringLiteral("CorvaneHandOff"))
        << entry.toStdString();

    // Twice: first no helper runs (the one started is resident and detached), then it runs.
    for (const QString& link :
         {QStringLiteral("https://example.com/a"), QStringLiteral("https://example.com/b")}) {
        const ProgramRun open = runOnDisplay(QStringLiteral("xdg-open"), {link}, display_, logFile());
        ASSERT_TRUE(open.finished) << "xdg-open did not return";
        EXPECT_EQ(open.status, 0) << open.output.toStdString();
        EXPECT_TRUE(
            test::eventually([&] { return test::readText(record()).split('\n').contains(link); }, 15000))
            << link.toStdString() << " never reached the browser";
    }
    int helpers = 0;
    for (const auto& running : host::workspace().runningApplications(Corvane::helperBundleID))
        helpers += running.bundlePath.startsWith(home_.path()) ? 1 : 0;
    EXPECT_EQ(helpers, 1);
}

// The desktop hands the link over as its text: a host written with escapes reaches the helper as written and
// is routed by the rule written for it, whether a helper runs yet or not.
TEST_F(DesktopLinkTest, ALinkWithAnEscapedHostRoutesAsWritten) {
    RuleSet set;
    LinkRule cafe{
        QUuid::createUuid(), QStringLiteral("Cafe"), RouteTarget::browser(workID), true, MatchMode::any, {}};
    cafe.conditions = {Condition{Condition::Kind::addresses, {QStringLiteral("caf%C3%A9.example")}}};
    set.rules = {cafe};
    RuleStore().save(set);

    const QStringList links{QStringLiteral("https://caf%C3%A9.example/menu"),
                            QStringLiteral("https://caf%C3%A9.example/wine")};
    for (const QString& link : links) {
        const ProgramRun open = runOnDisplay(QStringLiteral("xdg-open"), {link}, display_, logFile());
        ASSERT_TRUE(open.finished) << "xdg-open did not return";
        EXPECT_EQ(open.status, 0) << open.output.toStdString();
    }
    RecentLinksStore history;
    ASSERT_TRUE(test::eventually(
        [&] {
            history.reloadIfChanged();
            return history.links().size() == 2;
        },
        15000));
    for (const auto& link : history.links()) {
        EXPECT_TRUE(links.contains(link.url)) << link.url.toStdString();
        EXPECT_EQ(link.ruleName, QStringLiteral("Cafe"));
        EXPECT_EQ(link.targetBundleID, workID);
    }
    // A browser is given the link as written.
    EXPECT_TRUE(test::eventually([&] { return test::linesOf(record()).contains(links.last()); }));
}

// Links as chat clients, editors and terminals hand them to xdg-open (raw "|", "{}", "^", text beyond ASCII,
// a stray "%") reach the rule and the browser as written; a relative path, as xdg-open passes it on, is the
// file in the folder it was run in; a link that cannot be taken is logged with its text.
TEST_F(DesktopLinkTest, LinksAsDesktopProgramsWriteThemArriveAsWritten) {
    ASSERT_EQ(test::missingProgram(QStringLiteral("/usr/bin/file")), QString());
    RuleSet set;
    set.rules = {
        LinkRule{QUuid::createUuid(),
                 QStringLiteral("Fonts"),
                 RouteTarget::browser(workID),
                 true,
                 MatchMode::any,
                 {Condition{Condition::Kind::addresses, {QStringLiteral("fonts.example/css?family=*|*")}}}},
        LinkRule{QUuid::createUuid(),
                 QStringLiteral("Wiki"),
                 RouteTarget::browser(workID),
                 true,
                 MatchMode::any,
                 {Condition{Condition::Kind::addresses,
                            {QString::fromUtf8("wiki.example/stra\xc3\x9f"
                                               "e*")}}}}};
    set.localFileTarget = RouteTarget::browser(workID);
    RuleStore().save(set);
    ASSERT_TRUE(test::makeInstalledHelperTheDefaultForPages());
    // The helper started the workspace's way keeps its log where the test can read it.
    const QString first = QStringLiteral("https://fonts.example/css?family=Roboto|Lato&text=%7E");
    const ProgramRun started = runOnDisplay(toolsDir + QStringLiteral("/open"), {first}, display_, logFile());
    ASSERT_EQ(started.status, 0) << started.output.toStdString();

    const QStringList links{
        QStringLiteral("https://fonts.example/css?family=Open+Sans|Noto^Serif&x={\"a\":[1,2]}"),
        QString::fromUtf8("https://wiki.example/Stra\xc3\x9f"
                          "e?q=\xc3\xbc%&r=`1`#Teil|2")};
    for (const QString& link : links) {
        const ProgramRun open = runOnDisplay(QStringLiteral("xdg-open"), {link}, display_, logFile());
        ASSERT_TRUE(open.finished) << "xdg-open did not return";
        EXPECT_EQ(open.status, 0) << open.output.toStdString();
    }
    const QString folder = home_.file(QStringLiteral("notes"));
    QDir().mkpath(folder);
    QFile page(folder + QStringLiteral("/page one.html"));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<html></html>");
    page.close();
    const ProgramRun relative = runOnDisplay(QStringLiteral("xdg-open"), {QStringLiteral("page one.html")},
                                             display_, logFile(), folder);
    EXPECT_EQ(relative.status, 0) << relative.output.toStdString();
    const QString hidden = QStringLiteral("https://a.example\\@b.example/");
    EXPECT_EQ(runOnDisplay(QStringLiteral("xdg-open"), {hidden}, display_, logFile()).status, 0);

    const QString file = QUrl::fromLocalFile(page.fileName()).toString(QUrl::FullyEncoded);
    EXPECT_TRUE(test::eventually([&] {
        const QStringList received = test::linesOf(record());
        return received.contains(first) && received.contains(links[0]) && received.contains(links[1]) &&
               received.contains(file);
    })) << test::linesOf(record()).join('\n').toStdString();
    RecentLinksStore history;
    ASSERT_TRUE(test::eventually([&] {
        history.reloadIfChanged();
        return history.links().size() == 4;
    }));
    QMap<QString, QString> ruleOf;
    for (const auto& link : history.links())
        ruleOf.insert(link.url, link.ruleName.value_or(QStringLiteral("none")));
    EXPECT_EQ(ruleOf, (QMap<QString, QString>{{first, QStringLiteral("Fonts")},
                                              {links[0], QStringLiteral("Fonts")},
                                              {links[1], QStringLiteral("Wiki")},
                                              {file, QStringLiteral("none")}}));
    const QString helperLog =
        qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/corvane-host/logs/app.corvane.helper.log");
    EXPECT_TRUE(test::eventually([&] {
        return test::readText(helperLog).contains(
            QStringLiteral("a GURL event carried no usable URL: \"%1\"").arg(hidden));
    })) << test::readText(helperLog).toStdString();
}

} // namespace
