#include "Support/OutsidePrograms.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace test {

const QList<OutsideProgram>& outsidePrograms() {
    static const QList<OutsideProgram> programs{
        {QStringLiteral("Xvfb"), QStringLiteral("xvfb")},
        {QStringLiteral("openbox"), QStringLiteral("openbox")},
        {QStringLiteral("dbus-daemon"), QStringLiteral("dbus")},
        // The leak canary's bus of its own.
        {QStringLiteral("dbus-run-session"), QStringLiteral("dbus")},
        // Another program that turns the desktop's accessibility switch.
        {QStringLiteral("dbus-send"), QStringLiteral("dbus")},
        {QStringLiteral("/usr/libexec/at-spi-bus-launcher"), QStringLiteral("at-spi2-core")},
        {QStringLiteral("/usr/bin/chromium"), QStringLiteral("chromium")},
        {QStringLiteral("xdg-open"), QStringLiteral("xdg-utils")},
        {QStringLiteral("xdg-settings"), QStringLiteral("xdg-utils")},
        {QStringLiteral("xdg-mime"), QStringLiteral("xdg-utils")},
        // Writes the custom icon that the desktop's file managers show.
        {QStringLiteral("/usr/bin/gio"), QStringLiteral("libglib2.0-bin")},
        // A program of the desktop's menu, and a script's interpreter, on the real desktop.
        {QStringLiteral("xmessage"), QStringLiteral("x11-utils")},
        {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")},
        {QStringLiteral("python3"), QStringLiteral("python3")},
        // The scripts' build and test runs, and the fuzz runs without a network.
        {QStringLiteral("cmake"), QStringLiteral("cmake")},
        {QStringLiteral("ctest"), QStringLiteral("cmake")},
        {QStringLiteral("awk"), QStringLiteral("mawk")},
        {QStringLiteral("unshare"), QStringLiteral("util-linux")},
        // What xdg-open asks for a file's type where no other type finder is installed.
        {QStringLiteral("/usr/bin/file"), QStringLiteral("file")},
        // Running the desktop tests as an unprivileged user when started as root.
        {QStringLiteral("useradd"), QStringLiteral("passwd")},
        {QStringLiteral("setpriv"), QStringLiteral("util-linux")},
    };
    return programs;
}

const QStringList& preinstalledPrograms() {
    static const QStringList programs{
        // Debian's essential packages.
        QStringLiteral("sh"), QStringLiteral("/bin/sh"), QStringLiteral("bash"), QStringLiteral("basename"),
        QStringLiteral("cat"), QStringLiteral("cp"), QStringLiteral("cut"), QStringLiteral("dirname"),
        QStringLiteral("find"), QStringLiteral("grep"), QStringLiteral("id"), QStringLiteral("mkdir"),
        QStringLiteral("mktemp"), QStringLiteral("nproc"), QStringLiteral("rm"), QStringLiteral("sed"),
        QStringLiteral("seq"), QStringLiteral("sha1sum"), QStringLiteral("sleep"), QStringLiteral("stat"),
        QStringLiteral("tail"), QStringLiteral("tee"),
        // What the bootstrap installs the rest with.
        QStringLiteral("dpkg-query"), QStringLiteral("apt-get"), QStringLiteral("sudo")};
    return programs;
}

QString installedProgram(const QString& name) {
    if (QFileInfo(name).isAbsolute())
        return QFileInfo(name).isExecutable() ? name : QString();
    return QStandardPaths::findExecutable(name);
}

QString missingProgram(const QString& name) {
    for (const OutsideProgram& program : outsidePrograms())
        if (program.name == name)
            return installedProgram(name).isEmpty()
                       ? QStringLiteral("%1 is not installed: add the package %2 to scripts/bootstrap")
                             .arg(name, program.package)
                       : QString();
    return QStringLiteral("%1 is not among the outside programs of Tests/Support/OutsidePrograms.cpp: list "
                          "it there with its package, and add the package to scripts/bootstrap")
        .arg(name);
}

} // namespace test
