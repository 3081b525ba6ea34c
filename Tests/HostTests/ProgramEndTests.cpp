// How the tests read the end of a program they did not start themselves: one started detached, as the
// launcher and the open tool start the helper, is adopted by the test process and its end is judged.
#include "Support/Files.h"
#include "Support/ProgramEnd.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// A shell started detached that does `onTerm` when asked to end, and otherwise waits.
pid_t startDetachedShell(const QString& onTerm) {
    qint64 pid = 0;
    const QString script = QStringLiteral("trap '%1' TERM; while :; do sleep 0.05; done").arg(onTerm);
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, QString(), &pid))
        return 0;
    return pid_t(pid);
}

TEST(ProgramEnd, TheEndOfAProgramStartedDetachedIsJudged) {
    test::adoptDetachedPrograms();
    const pid_t clean = startDetachedShell(QStringLiteral("exit 0"));
    const pid_t failing = startDetachedShell(QStringLiteral("exit 3"));
    const pid_t crashing = startDetachedShell(QStringLiteral("kill -SEGV $$"));
    const pid_t deaf = startDetachedShell(QString());
    ASSERT_TRUE(clean > 0 && failing > 0 && crashing > 0 && deaf > 0);
    EXPECT_EQ(test::endProgram(clean), QString());
    EXPECT_EQ(test::endProgram(failing), QStringLiteral("ended with status 3"));
    EXPECT_EQ(test::endProgram(crashing), QStringLiteral("crashed with signal 11 (Segmentation fault)"));
    EXPECT_EQ(test::endProgram(deaf, 0.5),
              QStringLiteral("did not end within 0.5 s of being asked, and was killed"));
    EXPECT_TRUE(test::hasEnded(deaf));
}

// A program of ours started by another that runs on (as the helper starts proxy apps, a launcher or the
// creator app the helper): it is its starter's child, and the starter's log says how it ended.
class StartedProgram {
public:
    explicit StartedProgram(const QString& way) {
        starter_.setStandardErrorFile(log_.filePath(QStringLiteral("starter.log")));
        starter_.start(QStringLiteral(CORVANE_BUILD_DIR "/Tests/EndingProgram"),
                       {QStringLiteral("start"), way});
        if (starter_.waitForReadyRead(20000))
            pid_ = pid_t(starter_.readLine().trimmed().toInt());
    }
    ~StartedProgram() {
        starter_.kill();
        starter_.waitForFinished(5000);
    }
    pid_t pid() const { return pid_; }
    QString starterLog() const { return test::readText(log_.filePath(QStringLiteral("starter.log"))); }

private:
    QTemporaryDir log_;
    QProcess starter_;
    pid_t pid_ = 0;
};

TEST(ProgramEnd, OurProgramIsJudgedByHowItEndedWhileItsStarterRuns) {
    const struct {
        const char* way;
        QString end;
    } cases[] = {{"clean", QString()},
                 {"crash-at-exit", QStringLiteral("crashed with signal 6 (Aborted)")},
                 {"lost-term-handler", QStringLiteral("was ended by SIGTERM, which it did not handle")}};
    for (const auto& [way, end] : cases) {
        StartedProgram program{QString::fromLatin1(way)};
        ASSERT_GT(program.pid(), 0) << way << ": " << program.starterLog().toStdString();
        EXPECT_NE(test::parentOf(program.pid()), ::getpid()) << way;
        EXPECT_EQ(test::endProgram(program.pid()).toStdString(), end.toStdString())
            << way << ": " << program.starterLog().toStdString();
    }
}

} // namespace
