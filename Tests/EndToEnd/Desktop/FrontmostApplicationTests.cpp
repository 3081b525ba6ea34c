// The application in front and bringing one forward, on the real desktop: an X program of the desktop's
// menu (xmessage, with a desktop entry of the test's own) focused, a link opened from there routed by a
// source-app rule that names it, a program opened with a file known by its entry, the window of a script an
// interpreter runs known by its script, and Chromium brought forward when asked.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/Linux/X11/X11Activation.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/DesktopSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/OutsidePrograms.h"
#include "Support/ProgramEnd.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using test::DesktopSession;

const QString notesID = QStringLiteral("org.example.Notes");
const QString workID = QStringLiteral("com.example.work");

class FrontmostApplicationTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new DesktopSession();
        // Chromium's window is up (and has taken the focus) before a test focuses a window of its own.
        if (session->start() && session->openWindow(QStringLiteral("Work")))
            DesktopSession::waitUntil(
                [] {
                    const auto window = host::activeClientWindow();
                    return window && window->pid == qint32(session->chromiumPid());
                },
                20);
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString();
        for (const QString& program : {QStringLiteral("xmessage"), QStringLiteral("/usr/bin/python3")}) {
            const QString missing = test::missingProgram(program);
            ASSERT_TRUE(missing.isEmpty()) << missing.toStdString();
        }
        // The desktop's menu entry of the program, matched to its windows by their class.
        test::writeFile(host::desktopEntryDirectories().first() + QStringLiteral("/") + notesID +
                            QStringLiteral(".desktop"),
                        "[Desktop Entry]\nType=Application\nName=Notes\nExec=xmessage %F\n"
                        "StartupWMClass=Xmessage\n",
                        QDateTime::currentDateTime());
    }
    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "log:\n" << test::readText(logFile()).toStdString();
        if (notes.state() != QProcess::NotRunning) {
            notes.kill(); // its own pid, as QProcess started it
            notes.waitForFinished(3000);
        }
        test::endProgramsOf(Corvane::helperBundleID, QDir::homePath());
    }

    // Shows the program's window on the session's display; the window manager focuses it.
    bool showNotes() {
        notes.setProcessEnvironment(session->programEnvironment());
        notes.start(QStringLiteral("xmessage"), {QStringLiteral("A note")});
        return notes.waitForStarted(5000) && DesktopSession::waitUntil(
                                                 [] {
                                                     const auto window = host::activeClientWindow();
                                                     return window &&
                                                            window->wmClass == QLatin1String("Xmessage");
                                                 },
                                                 10);
    }

    // Shows a window of `script` run by the system's Python (drawn through Xlib, which every X desktop has),
    // of a class no desktop entry names; the window manager focuses it.
    bool showScriptWindow(QProcess& process, const QString& script) {
        test::writeFile(
            script,
            "import ctypes, os, time\n"
            "x = ctypes.cdll.LoadLibrary('libX11.so.6')\n"
            "x.XOpenDisplay.restype = ctypes.c_void_p\n"
            "x.XOpenDisplay.argtypes = [ctypes.c_char_p]\n"
            "x.XDefaultRootWindow.restype = ctypes.c_ulong\n"
            "x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]\n"
            "x.XCreateSimpleWindow.restype = ctypes.c_ulong\n"
            "x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + "
            "[ctypes.c_int] * 2 + [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2\n"
            "x.XInternAtom.restype = ctypes.c_ulong\n"
            "x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]\n"
            "x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, "
            "ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]\n"
            "x.XSetClassHint.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]\n"
            "x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]\n"
            "x.XFlush.argtypes = [ctypes.c_void_p]\n"
            "class Hint(ctypes.Structure):\n"
            "    _fields_ = [('name', ctypes.c_char_p), ('cls', ctypes.c_char_p)]\n"
            "d = x.XOpenDisplay(None)\n"
            "w = x.XCreateSimpleWindow(d, x.XDefaultRootWindow(d), 0, 0, 300, 120, 0, 0, 0xffffff)\n"
            "x.XSetClassHint(d, w, ctypes.byref(Hint(b'sketchpad', b'Sketchpad')))\n"
            "pid = ctypes.c_long(os.getpid())\n"
            "x.XChangeProperty(d, w, x.XInternAtom(d, b'_NET_WM_PID', 0), 6, 32, 0, "
            "ctypes.byref(pid), 1)\n"
            "x.XMapWindow(d, w)\n"
            "x.XFlush(d)\n"
            "time.sleep(120)\n",
            QDateTime::currentDateTime());
        process.setProcessEnvironment(session->programEnvironment());
        process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-u"), script});
        return process.waitForStarted(5000) && DesktopSession::waitUntil(
                                                   [&] {
                                                       const auto window = host::activeClientWindow();
                                                       return window && window->pid == process.processId();
                                                   },
                                                   10);
    }

    static QString logFile() { return QDir::homePath() + QStringLiteral("/frontmost.log"); }

    static inline DesktopSession* session = nullptr;
    QProcess notes;
};

TEST_F(FrontmostApplicationTest, ALinkFromTheFocusedProgramRoutesByARuleThatNamesIt) {
    const test::ToolRun install =
        test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/corvane-dev-install"),
                           {QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app")}, logFile());
    ASSERT_EQ(install.status, 0) << install.output.toStdString();
    const QString record = QDir::homePath() + QStringLiteral("/work.txt");
    ASSERT_TRUE(test::writeScriptBundle(
        QDir::homePath() + QStringLiteral("/Applications/Work Browser.app"),
        {{QStringLiteral("CFBundleIdentifier"), workID},
         {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
         {QStringLiteral("CFBundleURLTypes"),
          QVariantList{QVariantMap{{QStringLiteral("CFBundleURLSchemes"), QStringList{"http", "https"}}}}}},
        QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n").arg(record)));
    RuleSet set;
    LinkRule fromNotes{
        QUuid::createUuid(), QStringLiteral("Notes"), RouteTarget::browser(workID), true, MatchMode::any, {}};
    fromNotes.conditions = {Condition{Condition::Kind::apps, {notesID}}};
    set.rules = {fromNotes};
    RuleStore().save(set);

    ASSERT_TRUE(showNotes()) << "the program's window never came to the front";
    const auto frontmost = host::workspace().frontmostApplication();
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->bundleIdentifier, notesID);
    EXPECT_EQ(frontmost->localizedName, QStringLiteral("Notes"));

    // Opened by a program that is no application (as from a terminal): the one in front is the source.
    const QString link = QStringLiteral("https://example.com/from-notes");
    const test::ToolRun open =
        test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/open"), {link}, logFile());
    ASSERT_EQ(open.status, 0) << open.output.toStdString();
    EXPECT_TRUE(DesktopSession::waitUntil([&] { return test::linesOf(record).contains(link); }, 15))
        << "the link never reached the browser the rule names";
    RecentLinksStore history;
    ASSERT_TRUE(DesktopSession::waitUntil(
        [&] {
            history.reloadIfChanged();
            return history.links().size() == 1;
        },
        10));
    EXPECT_EQ(history.links()[0].sourceBundleID, notesID);
    EXPECT_EQ(history.links()[0].ruleName, QStringLiteral("Notes"));
}

TEST_F(FrontmostApplicationTest, AProgramOpenedWithAFileIsKnownByTheEntryThatRunsIt) {
    // A program of the project's tests (a Qt window named after its program, which names its process) opened
    // with a file, and an entry matched to its windows only by its program, as most desktop entries are: no
    // StartupWMClass, and a name that is not the window's class.
    const QString program = QStringLiteral(CORVANE_BUILD_DIR "/Tests/ReplacingWindow");
    test::writeFile(host::desktopEntryDirectories().first() + QStringLiteral("/org.example.Viewer.desktop"),
                    ("[Desktop Entry]\nType=Application\nName=Viewer\nExec=" + program + " %f\n").toUtf8(),
                    QDateTime::currentDateTime());
    const QString document = QDir::homePath() + QStringLiteral("/note.txt");
    test::writeFile(document, "A note in a file\n", QDateTime::currentDateTime());

    QProcess viewer;
    QProcessEnvironment environment = session->programEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    viewer.setProcessEnvironment(environment);
    viewer.start(program, {document});
    const bool shown =
        viewer.waitForStarted(5000) && DesktopSession::waitUntil(
                                           [&] {
                                               const auto window = host::activeClientWindow();
                                               return window && window->pid == viewer.processId();
                                           },
                                           10);
    const auto frontmost = host::workspace().frontmostApplication();
    viewer.kill(); // its own pid, as QProcess started it
    viewer.waitForFinished(3000);
    ASSERT_TRUE(shown) << "the program's window never came to the front";
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->bundleIdentifier, QStringLiteral("org.example.Viewer"));
    EXPECT_EQ(frontmost->localizedName, QStringLiteral("Viewer"));
}

TEST_F(FrontmostApplicationTest, AScriptsWindowIsKnownByTheEntryThatRunsThatScript) {
    const QString entries = host::desktopEntryDirectories().first() + QStringLiteral("/");
    const QString sketch = QDir::homePath() + QStringLiteral("/sketch.py");
    // The interpreter's own entry (run in a terminal) and another script's come first in the folder.
    test::writeFile(entries + QStringLiteral("org.example.APython.desktop"),
                    "[Desktop Entry]\nType=Application\nName=Python\nExec=python3\nTerminal=true\n",
                    QDateTime::currentDateTime());
    test::writeFile(entries + QStringLiteral("org.example.BTool.desktop"),
                    "[Desktop Entry]\nType=Application\nName=Tool\nExec=python3 /opt/tool/tool.py %F\n",
                    QDateTime::currentDateTime());
    test::writeFile(
        entries + QStringLiteral("org.example.Sketch.desktop"),
        ("[Desktop Entry]\nType=Application\nName=Sketch\nExec=python3 " + sketch + QStringLiteral("\n"))
            .toUtf8(),
        QDateTime::currentDateTime());

    QProcess sketching;
    ASSERT_TRUE(showScriptWindow(sketching, sketch)) << "the script's window never came to the front";
    auto frontmost = host::workspace().frontmostApplication();
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->bundleIdentifier, QStringLiteral("org.example.Sketch"));
    EXPECT_EQ(frontmost->localizedName, QStringLiteral("Sketch"));
    sketching.kill(); // its own pid, as QProcess started it
    sketching.waitForFinished(3000);

    // A script no entry runs is no entry's, whichever entries run its interpreter.
    QProcess scratch;
    ASSERT_TRUE(showScriptWindow(scratch, QDir::homePath() + QStringLiteral("/scratch.py")))
        << "the script's window never came to the front";
    frontmost = host::workspace().frontmostApplication();
    scratch.kill();
    scratch.waitForFinished(3000);
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->bundleIdentifier, QString());
    EXPECT_EQ(frontmost->localizedName, QStringLiteral("Sketchpad"));
}

TEST_F(FrontmostApplicationTest, ChromeComesForwardWhenAsked) {
    ASSERT_TRUE(showNotes()) << "the program's window never came to the front";
    const qint32 chromium = qint32(session->chromiumPid());
    ASSERT_GT(chromium, 0);
    // Asked until Chromium has mapped its window.
    ASSERT_TRUE(DesktopSession::waitUntil([&] { return host::workspace().activate(chromium); }, 20));
    EXPECT_TRUE(DesktopSession::waitUntil(
        [&] {
            const auto window = host::activeClientWindow();
            return window && window->pid == chromium;
        },
        10))
        << "Chromium's window did not come forward";
    // Known by the system's desktop entry of Chromium, which serves as Chrome, through its window class.
    const QByteArray dataFolders = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS",
            session->programEnvironment().value(QStringLiteral("XDG_DATA_DIRS")).toLocal8Bit());
    const auto frontmost = host::workspace().frontmostApplication();
    qputenv("XDG_DATA_DIRS", dataFolders);
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->bundleIdentifier, QStringLiteral("com.google.Chrome"));
    EXPECT_EQ(frontmost->processIdentifier, chromium);
    // A process without windows cannot be brought forward.
    EXPECT_FALSE(host::workspace().activate(qint32(::getpid())));
}

} // namespace
