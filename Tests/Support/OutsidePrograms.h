#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace test {

// A program from outside the project that the tests, their support code, the benchmarks or the scripts run,
// with the Debian package that installs it. scripts/bootstrap installs each of these packages, so a fresh
// machine has every one; a test checks that, and that every program the sources start is listed here or among
// the preinstalled ones.
struct OutsideProgram {
    QString name; // as it is run: a name looked up in PATH, or an absolute path
    QString package;
};
const QList<OutsideProgram>& outsidePrograms();
// The programs that every Debian machine has before the bootstrap runs, and that are run as well: those of
// the essential packages (a shell, coreutils) and the package tools the bootstrap installs the others with.
const QStringList& preinstalledPrograms();

// Where the listed program `name` is installed; empty when it is not.
QString installedProgram(const QString& name);

// Why the program `name` cannot be run ("xdotool is not installed: add the package xdotool to
// scripts/bootstrap"); empty when it can. A program missing from the list above is reported as such, so
// that whoever starts a new one lists it, and the bootstrap then installs it. Checked before a program is
// started, so that a missing one fails at once instead of as a time-out later.
QString missingProgram(const QString& name);

} // namespace test
