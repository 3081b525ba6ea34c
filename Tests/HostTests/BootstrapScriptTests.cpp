#include <QDir>
#include <QFile>
#include <QProcess>
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

} // namespace
