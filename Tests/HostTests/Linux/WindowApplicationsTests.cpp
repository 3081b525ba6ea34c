// Which desktop entry stands for a window: the desktop shell's order of matching.
#include "CorvaneHost/Linux/WindowApplications.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

host::DesktopEntry entry(const QString& id, const QString& exec, const QString& startupWMClass = {}) {
    host::DesktopEntry made;
    made.path = QStringLiteral("/usr/share/applications/%1.desktop").arg(id);
    made.id = id;
    made.name = id;
    made.exec = exec;
    made.bundleIdentifier = host::bundleIdentifierForDesktopEntry(id);
    made.startupWMClass = startupWMClass;
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
    EXPECT_EQ(matched(entries, {QStringLiteral("xterm"), QStringLiteral("XTerm"), {QStringLiteral("xterm")}}),
              QStringLiteral("org.example.Notes"));
    // Without one, the entry's name, letter case aside.
    EXPECT_EQ(matched({entries[0], entries[2]},
                      {QStringLiteral("XTERM"), QStringLiteral("Xterm"), {QStringLiteral("xterm")}}),
              QStringLiteral("xterm"));
    // Last, the program, past "env" and its variables.
    EXPECT_EQ(
        matched(entries, {QStringLiteral("mailer"), QStringLiteral("Mailer"), {QStringLiteral("mailer")}}),
        QStringLiteral("org.example.Mail"));
    EXPECT_EQ(matched({entries[0]}, {QStringLiteral("x"), QStringLiteral("X"), {QStringLiteral("xterm")}}),
              QStringLiteral("debian-xterm"));
    EXPECT_EQ(matched(entries, {QStringLiteral("gimp"), QStringLiteral("Gimp"), {QStringLiteral("gimp")}}),
              std::nullopt);
    // A window without a class is matched by its program only.
    EXPECT_EQ(matched(entries, {{}, {}, {}}), std::nullopt);
}

TEST(WindowApplicationsTest, ProgramNamesOfAProcess) {
    const QStringList names = host::programNamesOf(qint32(QCoreApplication::applicationPid()));
    EXPECT_TRUE(names.contains(QStringLiteral("HostTests_WindowApplicationsTests")))
        << names.join(' ').toStdString();
    EXPECT_TRUE(host::programNamesOf(0).isEmpty());
}

} // namespace
