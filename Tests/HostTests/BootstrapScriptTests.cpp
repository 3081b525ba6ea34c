#include "Support/Files.h"
#include "Support/OutsidePrograms.h"

#include <QDir>
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

} // namespace
