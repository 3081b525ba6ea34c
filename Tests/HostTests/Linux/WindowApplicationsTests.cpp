// Which desktop entry stands for a window: the desktop shell's order of matching.
#include "CorvaneHost/Linux/WindowApplications.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

host::DesktopEntry entry(const QString& id, const QString& exec, const QString& startupWMClass = {},
                         bool terminal = false) {
    host::DesktopEntry made;
    made.path = QStringLiteral("/usr/share/applications/%1.desktop").arg(id);
    made.id = id;
    made.name = id;
    made.exec = exec;
    made.bundleIdentifier = host::bundleIdentifierForDesktopEntry(id);
    made.startupWMClass = startupWMClass;
    made.terminal = terminal;
    return made;
}

std::optional<QString> matched(const std::vector<host::DesktopEntry>& entries,
                               const host::WindowOwner& owner) {
    const auto found = host::desktopEntryForWindow(entries, owner);
    return found ? std::optional(found->id) : std::nullopt;
}

TEST(WindowApplicationsTest, TheWindowClassThenTheEntryNameThenTheProgramName) {
    const std::vector<host::DesktopEntry> entries{
        entry(QStringLiteral("debian-xterm"), QStringLiteral("xterm")),
        entry(QStringLiteral("org.example.Mail"),
              QStringLiteral("env GDK_BACKEND=x11 /opt/mail/bin/mailer %U")),
        entry(QStringLiteral("xterm"), QStringLiteral("other-program")),
        entry(QStringLiteral("org.example.Notes"), QStringLiteral("notes %F"), QStringLiteral("XTerm"))};

    // A StartupWMClass that names the class wins over an entry named like the window.
    EXPECT_EQ(
        matched(entries, {QStringLiteral("xterm"), QStringLiteral("XTerm"), {QStringLiteral("xterm")}, {}}),
        QStringLiteral("org.example.Notes"));
    // Without one, the entry's name, letter case aside.
    EXPECT_EQ(matched({entries[0], entries[2]},
                      {QStringLiteral("XTERM"), QStringLiteral("Xterm"), {QStringLiteral("xterm")}, {}}),
              QStringLiteral("xterm"));
    // Last, the program, past "env" and its variables.
    EXPECT_EQ(matched(entries,
                      {QStringLiteral("mailer"), QStringLiteral("Mailer"), {QStringLiteral("mailer")}, {}}),
              QStringLiteral("org.example.Mail"));
    EXPECT_EQ(
        matched({entries[0]}, {QStringLiteral("x"), QStringLiteral("X"), {QStringLiteral("xterm")}, {}}),
        QStringLiteral("debian-xterm"));
    EXPECT_EQ(
        matched(entries, {QStringLiteral("gimp"), QStringLiteral("Gimp"), {QStringLiteral("gimp")}, {}}),
        std::nullopt);
    // A window without a class is matched by its program only.
    EXPECT_EQ(matched(entries, {{}, {}, {}, {}}), std::nullopt);
}

// Windows of interpreted programs, as their processes were recorded on this machine: the interpreter is
// shared by every script it runs, so only an entry that runs the same script stands for the window.
TEST(WindowApplicationsTest, AnInterpretedProgramIsKnownByItsScriptNeverByItsInterpreter) {
    const std::vector<host::DesktopEntry> entries{
        entry(QStringLiteral("python3.11"), QStringLiteral("/usr/bin/python3.11"), {}, true),
        entry(QStringLiteral("org.example.Idle"), QStringLiteral("python3 %F")),
        entry(QStringLiteral("org.example.Tool"), QStringLiteral("python3 -O /opt/tool/tool.py %U")),
        entry(QStringLiteral("org.example.Jar"), QStringLiteral("java -jar /opt/jar/app.jar")),
        entry(QStringLiteral("org.example.Shell"), QStringLiteral("python3"), {}, true)};
    const auto python = [](const QString& script) {
        return host::WindowOwner{QStringLiteral("tk"),
                                 QStringLiteral("Tk"),
                                 {QStringLiteral("python3.11"), QStringLiteral("python3")},
                                 script};
    };

    EXPECT_EQ(matched(entries, python(QStringLiteral("/home/me/app.py"))), std::nullopt);
    EXPECT_EQ(matched(entries, python(QStringLiteral("/opt/tool/tool.py"))),
              QStringLiteral("org.example.Tool"));
    // Started from the script's folder.
    EXPECT_EQ(matched(entries, python(QStringLiteral("tool.py"))), QStringLiteral("org.example.Tool"));
    EXPECT_EQ(matched(entries, python(QStringLiteral("/home/me/tool.py"))), std::nullopt);
    const host::WindowOwner java{QStringLiteral("sun-awt-X11-XFramePeer"),
                                 QStringLiteral("app-Main"),
                                 {QStringLiteral("java")},
                                 QStringLiteral("/opt/jar/app.jar")};
    EXPECT_EQ(matched(entries, java), QStringLiteral("org.example.Jar"));
    EXPECT_EQ(
        matched(entries, {java.wmInstance, java.wmClass, java.programNames, QStringLiteral("other.jar")}),
        std::nullopt);
    // An interpreter's window without a script is no terminal entry's: those windows are the terminal's.
    EXPECT_EQ(matched(entries, python(QString())), QStringLiteral("org.example.Idle"));
    EXPECT_EQ(matched({entries[0], entries[4]}, python(QString())), std::nullopt);
    EXPECT_EQ(matched({entries[0]}, {QStringLiteral("python3.11"), QStringLiteral("Python3.11"), {}, {}}),
              std::nullopt);
}

// Native programs opened with a document or a link, as their processes were recorded on this machine: the
// document is what the program opened, not a program it runs.
TEST(WindowApplicationsTest, AProgramOpenedWithADocumentIsStillItsEntrysProgram) {
    const std::vector<host::DesktopEntry> entries{
        entry(QStringLiteral("org.example.Idle"), QStringLiteral("python3 %F")),
        entry(QStringLiteral("org.gnome.Evince"), QStringLiteral("evince %U")),
        entry(QStringLiteral("org.example.Preview"),
              QStringLiteral("evince --preview /opt/preview/cover.pdf"))};
    const auto evince = [](const QString& opened) {
        return host::WindowOwner{
            QStringLiteral("evince"), QStringLiteral("Evince"), {QStringLiteral("evince")}, opened};
    };

    EXPECT_EQ(matched(entries, evince(QString())), QStringLiteral("org.gnome.Evince"));
    EXPECT_EQ(matched(entries, evince(QStringLiteral("/home/me/doc.pdf"))),
              QStringLiteral("org.gnome.Evince"));
    EXPECT_EQ(matched(entries, evince(QStringLiteral("https://example.com/a.pdf"))),
              QStringLiteral("org.gnome.Evince"));
    EXPECT_EQ(matched(entries, evince(QStringLiteral("/opt/preview/cover.pdf"))),
              QStringLiteral("org.gnome.Evince"));
    EXPECT_EQ(matched({entries[2]}, evince(QStringLiteral("/opt/preview/cover.pdf"))),
              QStringLiteral("org.example.Preview"));
    // A script's window is named by its script, never after the interpreter: no entry of the bare
    // interpreter stands for it.
    EXPECT_EQ(matched(entries, {QStringLiteral("sketch"),
                                QStringLiteral("Sketch"),
                                {QStringLiteral("python3.11"), QStringLiteral("python3")},
                                QStringLiteral("/home/me/sketch.py")}),
              std::nullopt);
}

TEST(WindowApplicationsTest, TheOwnerOfAProcessIsReadFromItsCommandLine) {
    const host::WindowOwner self = host::windowOwner(QStringLiteral("i"), QStringLiteral("C"),
                                                     qint32(QCoreApplication::applicationPid()));
    EXPECT_TRUE(self.programNames.contains(QStringLiteral("HostTests_WindowApplicationsTests")))
        << self.programNames.join(' ').toStdString();
    EXPECT_EQ(self.wmClass, QStringLiteral("C"));
    EXPECT_TRUE(host::windowOwner({}, {}, 0).programNames.isEmpty());

    // A shell running a script, as an interpreter runs a program: its switches come before the script.
    QTemporaryDir folder;
    const QString script = folder.filePath(QStringLiteral("sleeper.sh"));
    const QString running = folder.filePath(QStringLiteral("running"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("touch \"$1\"\nsleep 30\n");
    file.close();
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-e"), script, running});
    ASSERT_TRUE(shell.waitForStarted());
    // Once the script runs, the shell's command line is its own.
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(running) && waited.elapsed() < 10000)
        QThread::msleep(5);
    ASSERT_TRUE(QFile::exists(running));
    const host::WindowOwner owner = host::windowOwner({}, {}, qint32(shell.processId()));
    shell.kill();
    shell.waitForFinished();
    EXPECT_TRUE(owner.programNames.contains(QStringLiteral("sh")))
        << owner.programNames.join(' ').toStdString();
    EXPECT_EQ(owner.firstArgument, script);
}

} // namespace
