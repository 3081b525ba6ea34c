// How the tests read the end of a program they did not start themselves: one started detached, as the
// launcher and the open tool start the helper, is adopted by the test process and its end is judged.
#include "Support/ProgramEnd.h"

#include <QProcess>
#include <gtest/gtest.h>

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

} // namespace
