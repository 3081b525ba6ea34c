// What CI runs (.ci/run and the scripts of its stages) in a tree of its own: the scripts under test are the
// project's, copied; what they start around them (the bootstrap, the test runs, cmake, the fuzz targets) are
// stand-ins, so that a fault made on purpose reaches the verdict in seconds.
#include "Support/Files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class CiTree {
public:
    CiTree() { EXPECT_TRUE(QDir().mkpath(folder_.filePath(QStringLiteral("bin")))); }

    // The project's own copy of `path` (relative to the source tree).
    void copyFromProject(const QString& path) {
        write(path, test::contents(QStringLiteral(CORVANE_SOURCE_DIR "/") + path));
        ASSERT_FALSE(test::contents(folder_.filePath(path)).isEmpty()) << path.toStdString();
    }
    // A shell script at `path` doing `body`; "bin/<name>" is found on the PATH before the machine's programs.
    void standIn(const QString& path, const QByteArray& body) { write(path, "#!/bin/sh\n" + body + "\n"); }

    // Runs .ci/run there; its status and what it printed.
    std::pair<int, QString> runCi() {
        QProcess ci;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), folder_.filePath(QStringLiteral("bin")) +
                                                       QLatin1Char(':') + environment.value("PATH"));
        environment.remove(QStringLiteral("CI"));
        environment.insert(QStringLiteral("FUZZ_SECONDS"), QStringLiteral("1"));
        ci.setProcessEnvironment(environment);
        ci.setProcessChannelMode(QProcess::MergedChannels);
        ci.start(QStringLiteral("bash"), {folder_.filePath(QStringLiteral(".ci/run"))});
        EXPECT_TRUE(ci.waitForFinished(60000));
        return {ci.exitStatus() == QProcess::NormalExit ? ci.exitCode() : -1,
                QString::fromUtf8(ci.readAll())};
    }

    bool exists(const QString& path) const { return QFile::exists(folder_.filePath(path)); }

private:
    void write(const QString& path, const QByteArray& bytes) {
        const QString full = folder_.filePath(path);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(full).path()));
        QFile file(full);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QTemporaryDir folder_;
};

// The stages around the one under test pass, and count nothing.
void passingStages(CiTree& tree) {
    tree.copyFromProject(QStringLiteral(".ci/run"));
    tree.standIn(QStringLiteral("scripts/bootstrap"), "exit 0");
    tree.standIn(QStringLiteral("scripts/test"), "exit 0");
    tree.standIn(QStringLiteral("scripts/sanitize"), "exit 0");
    tree.standIn(QStringLiteral("scripts/fuzz"), "exit 0");
}

// A configure or a build under a sanitizer that fails ends that stage before anything is tested (the programs
// there would be stale or missing, and pass or fail for nothing), and the run is red.
TEST(CiScripts, ASanitizerConfigureOrBuildThatFailsTurnsTheRunRed) {
    const struct {
        const char* failing;
        QByteArray cmake;
        const char* said;
    } cases[] = {
        {"configure", "[ \"$1\" = --build ] && exit 0; exit 1", "asan: configuring failed"},
        {"build", "[ \"$1\" = --build ] && exit 2; exit 0", "asan: the build failed"},
        {"nothing", "exit 0", nullptr},
    };
    for (const auto& fault : cases) {
        SCOPED_TRACE(fault.failing);
        CiTree tree;
        passingStages(tree);
        tree.copyFromProject(QStringLiteral("scripts/sanitize"));
        tree.standIn(QStringLiteral("bin/cmake"), fault.cmake);
        // The tests of a stage pass (as stale programs' might) and leave a mark where they ran.
        tree.standIn(QStringLiteral("scripts/ctest-checked"),
                     "touch tested\necho '100% tests passed, 0 tests failed out of 4'");
        const auto [status, output] = tree.runCi();
        if (!fault.said) {
            EXPECT_EQ(status, 0) << output.toStdString();
            EXPECT_TRUE(output.contains("ci: 8 passed, 0 failed")) << output.toStdString();
            continue;
        }
        EXPECT_NE(status, 0) << output.toStdString();
        EXPECT_TRUE(output.contains(fault.said)) << output.toStdString();
        EXPECT_TRUE(output.contains("ci: failed stages: sanitize")) << output.toStdString();
        EXPECT_FALSE(tree.exists(QStringLiteral("tested"))) << "the stage went on to test";
    }
}

// A fuzz target that ended without its statistics (it never fuzzed, or its log lost them) did not pass.
TEST(CiScripts, AFuzzTargetWithoutStatisticsFails) {
    CiTree tree;
    passingStages(tree);
    tree.copyFromProject(QStringLiteral("scripts/fuzz"));
    tree.standIn(QStringLiteral("bin/cmake"), "exit 0");
    tree.standIn(QStringLiteral("build-fuzz/Tests/Fuzz/SteadyFuzzer"),
                 "echo 'stat::number_of_executed_units: 1234'");
    tree.standIn(QStringLiteral("build-fuzz/Tests/Fuzz/QuietFuzzer"), "exit 0");
    const auto [status, output] = tree.runCi();
    EXPECT_NE(status, 0) << output.toStdString();
    EXPECT_TRUE(output.contains("ci: failed stages: fuzz")) << output.toStdString();
    EXPECT_TRUE(output.contains("ci: 1 passed, 1 failed")) << output.toStdString();
}

} // namespace
