// Programs started detached stay this process's children: one thread waits for all of them, logs how each
// ended and hands that to whoever started it.
#include "CorvaneHost/Linux/Processes/ChildProcess.h"
#include "Support/LogCapture.h"

#include "Support/Eventually.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>

namespace {

using host::LogLevel;
using host::ProgramEnd;

int threadCount() {
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

using test::pumpUntil;

TEST(ChildProcess, EveryEndIsLoggedAndHandedToItsStarterWithoutAThreadPerProgram) {
    test::LogCapture log;
    const int threadsBefore = threadCount();
    // Each waits for a file, so that all of them run at once before any ends.
    const QString go = QDir::tempPath() + QStringLiteral("/go-%1").arg(::getpid());
    const std::vector<std::pair<QString, ProgramEnd>> cases{
        {QStringLiteral("exit 0"), ProgramEnd{0, 0}},
        {QStringLiteral("exit 3"), ProgramEnd{3, 0}},
        {QStringLiteral("kill -SEGV $$"), ProgramEnd{0, 11}},
        {QStringLiteral("kill -TERM $$"), ProgramEnd{0, 15}},
        {QStringLiteral("exit 0"), ProgramEnd{0, 0}},
        {QStringLiteral("exit 0"), ProgramEnd{0, 0}}};
    std::vector<qint64> pids;
    std::vector<std::optional<ProgramEnd>> ended(cases.size());
    for (std::size_t index = 0; index < cases.size(); ++index) {
        QString failure;
        const auto pid = host::startDetached(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral("while [ ! -e '%1' ]; do sleep 0.02; done; %2").arg(go, cases[index].first)},
            {}, QStringLiteral("child-process-tests"), failure,
            [&ended, index](const ProgramEnd& end) { ended[index] = end; });
        ASSERT_TRUE(pid) << failure.toStdString();
        pids.push_back(*pid);
    }
    // One waits for all of them (and a thread checker may start its own with the first thread).
    EXPECT_LE(threadCount(), threadsBefore + 2) << "a thread for each program";
    ASSERT_TRUE(QFile(go).open(QIODevice::WriteOnly));
    const bool allEnded = pumpUntil([&] {
        return std::all_of(ended.begin(), ended.end(), [](const auto& end) { return end.has_value(); });
    });
    QFile::remove(go);
    ASSERT_TRUE(allEnded) << "not every end was handed over";

    for (std::size_t index = 0; index < cases.size(); ++index) {
        const ProgramEnd& end = cases[index].second;
        EXPECT_EQ(ended[index], end) << cases[index].first.toStdString();
        EXPECT_EQ(::kill(pid_t(pids[index]), 0), -1) << pids[index] << " is still a zombie";
        const QString line = QStringLiteral("/bin/sh (pid %1) %2").arg(pids[index]).arg(end.description());
        EXPECT_TRUE(
            log.contains(QStringLiteral("processes"), end.clean() ? LogLevel::Info : LogLevel::Error, line))
            << line.toStdString() << "\n"
            << log.messages().join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_EQ(ProgramEnd({0, 11}).description(), QStringLiteral("ended by signal 11 (Segmentation fault)"));
    EXPECT_EQ(ProgramEnd({3, 0}).description(), QStringLiteral("ended with status 3"));
}

} // namespace
