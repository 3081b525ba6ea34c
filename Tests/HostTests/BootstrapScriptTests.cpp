#include "CorvaneHost/ProcessRunner.h"
#include "Support/Files.h"
#include "Support/OutsidePrograms.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A normal user on a machine without sudo, with a package missing: the bootstrap says plainly what to run
// as root instead of failing on a missing sudo.
TEST(BootstrapScript, WithoutSudoANormalUserIsToldWhatToRunAsRoot) {
    QTemporaryDir folder;
    const QString bin = folder.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    // Only what the script needs: a shell, grep, a user id that is not root and a package database in which
    // nothing is installed.
    for (const char* tool : {"bash", "grep"})
        ASSERT_TRUE(QFile::link(QStringLiteral("/bin/") + tool, bin + "/" + tool));
    writeScript(bin + "/id", "echo 1000");
    writeScript(bin + "/dpkg-query", "exit 1");

    QProcess bootstrap;
    QProcessEnvironment environment;
    environment.insert("PATH", bin);
    bootstrap.setProcessEnvironment(environment);
    bootstrap.start(bin + "/bash", {QStringLiteral(CORVANE_SOURCE_DIR "/scripts/bootstrap")});
    ASSERT_TRUE(bootstrap.waitForFinished(30000));
    const QString errors = QString::fromUtf8(bootstrap.readAllStandardError());
    EXPECT_NE(bootstrap.exitCode(), 0);
    EXPECT_FALSE(errors.contains("command not found")) << errors.toStdString();
    EXPECT_TRUE(errors.contains("Run this once as root:")) << errors.toStdString();
    EXPECT_TRUE(errors.contains("  apt-get update && apt-get install -y cmake ninja-build"))
        << errors.toStdString();
}

// The packages the bootstrap installs: the words of its list, without comments.
QSet<QString> bootstrapPackages() {
    const QString script = test::readText(QStringLiteral(CORVANE_SOURCE_DIR "/scripts/bootstrap"));
    const QString list = script.section(QStringLiteral("packages=("), 1).section(QStringLiteral("\n)"), 0, 0);
    QSet<QString> packages;
    for (QString line : list.split(QLatin1Char('\n'))) {
        line = line.section(QLatin1Char('#'), 0, 0);
        for (const QString& word : line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
            packages.insert(word);
    }
    return packages;
}

// A fresh machine has only what the bootstrap installs: every outside program the tests run comes with it,
// and the package named for a program is the one that installs it.
TEST(BootstrapScript, InstallsThePackageOfEveryProgramTheTestsRun) {
    const QSet<QString> packages = bootstrapPackages();
    ASSERT_TRUE(packages.contains(QStringLiteral("cmake"))) << "the bootstrap's package list was not found";
    for (const test::OutsideProgram& program : test::outsidePrograms()) {
        EXPECT_TRUE(packages.contains(program.package))
            << program.package.toStdString() << " (for " << program.name.toStdString()
            << ") is missing from scripts/bootstrap";
        EXPECT_EQ(test::missingProgram(program.name), QString()) << "the bootstrap ran, yet";
    }
    // A program nobody listed is named as such, so it gets listed (and its package installed).
    EXPECT_TRUE(test::missingProgram(QStringLiteral("corvane-unlisted-tool"))
                    .startsWith(QStringLiteral("corvane-unlisted-tool is not among the outside programs")));
}

// The programs a C++ source starts by name: the literal given to the calls that start one (QProcess, exec,
// the test support's run helpers, the check that one is installed), and a constant named "<what>Program".
QSet<QString> programsStartedByCode(const QString& source) {
    static const QRegularExpression start(QStringLiteral(
        R"re(\b(?:start|setProgram|startDetached|execute|execvpe?|spawn|runToEnd|runLoggingTo|runOnDisplay|)re"
        R"re(runInSession|run|missingProgram)\(\s*\{?\s*(?:qEnvironmentVariable\("[^"]*",\s*)?)re"
        R"re((?:QStringLiteral\()?"([^"]+)"|\b\w+Program\s*=\s*(?:QStringLiteral\()?"([^"]+)")re"));
    QSet<QString> programs;
    for (const QRegularExpressionMatch& match : start.globalMatch(source))
        programs.insert(match.captured(1).isEmpty() ? match.captured(2) : match.captured(1));
    return programs;
}

// A shell script's commands alone: without comments, arithmetic, the names of its functions where they are
// defined, arrays assigned, and quoted text (but for the commands substituted in it).
QString commandText(QString script) {
    static const QRegularExpression comment(QStringLiteral(R"re((^|\s)#.*$)re"),
                                            QRegularExpression::MultilineOption);
    static const QRegularExpression arithmetic(QStringLiteral(R"re(\$?\(\(.*?\)\))re"));
    static const QRegularExpression definition(QStringLiteral(R"re(^\s*[\w-]+\(\)\s*)re"),
                                               QRegularExpression::MultilineOption);
    static const QRegularExpression quoted(QStringLiteral(R"re('[^']*'|"(?:\\.|[^"\\])*")re"));
    static const QRegularExpression substituted(QStringLiteral(R"re(\$\([^)"]*)re"));
    static const QRegularExpression array(QStringLiteral(R"re(\w+\+?=\([^)]*\))re"));
    script.remove(comment).remove(arithmetic).remove(definition);
    QString plain;
    qsizetype from = 0;
    for (const QRegularExpressionMatch& match : quoted.globalMatch(script)) {
        plain += script.mid(from, match.capturedStart() - from) + QLatin1Char(' ');
        for (const QRegularExpressionMatch& inner : substituted.globalMatch(match.captured()))
            plain += inner.captured() + QLatin1Char(' ');
        from = match.capturedEnd();
    }
    plain += script.mid(from);
    return plain.remove(array);
}

// The programs a script starts: its interpreter and, in a shell script, the first word of each command (past
// assignments, keywords and commands held in variables) and what `command -v` looks for.
QSet<QString> programsStartedByScript(const QString& script) {
    QSet<QString> programs;
    static const QRegularExpression interpreter(QStringLiteral(R"re(^#!(?:\S*/env\s+)?(\S+))re"));
    const QString shell = interpreter.match(script).captured(1).section(QLatin1Char('/'), -1);
    if (!shell.isEmpty())
        programs.insert(shell);
    if (shell != QLatin1String("bash") && shell != QLatin1String("sh"))
        return programs;
    static const QRegularExpression function(QStringLiteral(R"re(^\s*([\w-]+)\(\)\s*)re"),
                                             QRegularExpression::MultilineOption);
    static const QRegularExpression lookup(QStringLiteral(R"re(command -v (\S+))re"));
    static const QRegularExpression separator(QStringLiteral(R"re(\|\|?|&&|;|\$\(|<\(|`|\n)re"));
    static const QRegularExpression name(QStringLiteral(R"re(^[A-Za-z][\w.+-]*$)re"));
    static const QSet<QString> leading{"if",   "while", "until", "!",    "time", "exec",
                                       "then", "do",    "else",  "elif", "{",    "("};
    static const QSet<QString> builtins{
        "case",    "esac",    "for",   "in",       "done",  "fi",     "function", "return",  "exit",
        "local",   "set",     "shift", "cd",       "echo",  "printf", "read",     "test",    "true",
        "false",   "wait",    "trap",  "export",   "unset", "source", "eval",     "command", "compgen",
        "mapfile", "declare", "break", "continue", "[",     "[["};
    QSet<QString> functions;
    for (const QRegularExpressionMatch& match : function.globalMatch(script))
        functions.insert(match.captured(1));
    const QString commands = commandText(script);
    for (const QRegularExpressionMatch& match : lookup.globalMatch(commands))
        programs.insert(match.captured(1));
    for (QString command : commands.split(separator)) {
        QStringList words = command.replace(QLatin1Char('('), QStringLiteral(" ( "))
                                .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        while (!words.isEmpty() &&
               (leading.contains(words.first()) || words.first().contains(QLatin1Char('=')) ||
                words.first().startsWith(QLatin1Char('$'))))
            words.removeFirst();
        const QString word = words.isEmpty() ? QString() : words.first().remove(QLatin1Char(')'));
        if (name.match(word).hasMatch() && !builtins.contains(word) && !functions.contains(word))
            programs.insert(word);
    }
    return programs;
}

// What the checks below are made of finds a program that is started in any of the ways the sources start
// them.
TEST(BootstrapScript, FindsTheProgramsThatTheSourcesStart) {
    EXPECT_EQ(programsStartedByCode(QStringLiteral(R"cpp(
        viewer.start(QStringLiteral("viewer"), {path});
        shell.setProgram(QStringLiteral("/bin/sh"));
        execvp("setpriv", arguments.data());
        spawn({qEnvironmentVariable("SERVER", QStringLiteral("server")), QStringLiteral("-x")}, environment);
        const QString browserProgram = QStringLiteral("/usr/bin/browser");
        clock.start();
        runLoggingTo(toolsDir + QStringLiteral("/open"), {link}, log);
        const QString title = QStringLiteral("Notes");)cpp")),
              (QSet<QString>{"viewer", "/bin/sh", "setpriv", "server", "/usr/bin/browser"}));
    EXPECT_EQ(programsStartedByScript(QStringLiteral(R"sh(#!/usr/bin/env bash
        set -euo pipefail
        cd "$(dirname "$0")/.." # a comment naming cmake
        helper() { grep -q x "$1"; }
        packages=(
          first-package
        )
        if ! command -v sudo >/dev/null; then echo "nothing (run me); said it" >&2; fi
        log=$(mktemp)
        FLAGS=1 $runner awk '{ print }' "$log" | tee out && helper "$log"
        echo "took $(((SECONDS - started) / 60)) min"
        (cd build && "./program")
)sh")),
              (QSet<QString>{"bash", "dirname", "grep", "sudo", "mktemp", "awk", "tee"}));
    EXPECT_EQ(
        programsStartedByScript(QStringLiteral("#!/usr/bin/env python3\nimport sys\nprint(sys.argv)\n")),
        QSet<QString>{"python3"});
}

// Every program that the tests, their support, the benchmarks and the scripts start is found in the sources
// and must be listed with its package (or be one that every machine has), so the bootstrap installs it.
TEST(BootstrapScript, ListsEveryProgramTheTestsBenchmarksAndScriptsStart) {
    QSet<QString> listed;
    for (const test::OutsideProgram& program : test::outsidePrograms())
        listed.insert(program.name);
    for (const QString& program : test::preinstalledPrograms())
        listed.insert(program);
    const QString root = QStringLiteral(CORVANE_SOURCE_DIR);
    QStringList unlisted;
    qsizetype sources = 0;
    const auto check = [&](const QSet<QString>& programs, const QString& path) {
        ++sources;
        for (const QString& program : programs)
            // The platform's tools that the project's stand-ins take the place of are its own.
            if (!listed.contains(program) && host::resolveToolPath(program) == program)
                unlisted.append(program + QStringLiteral(" (") + QDir(root).relativeFilePath(path) +
                                QLatin1Char(')'));
    };
    for (const QString& folder : {QStringLiteral("Tests"), QStringLiteral("Benchmarks")}) {
        QDirIterator files(root + QLatin1Char('/') + folder, {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                           QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            // This file names a program nobody lists, on purpose.
            if (!path.endsWith(QLatin1String("/BootstrapScriptTests.cpp")))
                check(programsStartedByCode(test::readText(path)), path);
        }
    }
    for (const QString& path : QDir(root + QStringLiteral("/scripts")).entryList(QDir::Files))
        check(programsStartedByScript(test::readText(root + QStringLiteral("/scripts/") + path)),
              root + QStringLiteral("/scripts/") + path);
    EXPECT_GT(sources, 100) << "the sources were not found";
    EXPECT_TRUE(unlisted.isEmpty()) << "started, but not listed in Tests/Support/OutsidePrograms.cpp: "
                                    << unlisted.join(QStringLiteral(", ")).toStdString();
}

} // namespace
