// Many copies of the helper started at the same moment, as the desktop, a login item and several launchers
// can do: one copy stays and takes every link the others were started with; the rest end.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/Eventually.h"
#include "Support/Files.h"
#include "Support/ProgramEnd.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

const QString builtHelper =
    QStringLiteral(CORVANE_BUILD_DIR) + QStringLiteral("/Corvane.app/Contents/Library/CorvaneHelper.app");
// The copies run under an identifier of their own: one instance per bundle identifier is the host's rule for
// every program, and installers of other checkouts (which end every "app.corvane.helper" of this user) leave
// them alone.
const QString stressID = QStringLiteral("app.corvane.single-instance-test");
constexpr int copies = 8;
constexpr int rounds = 20;
// All the copies starting at once take their time on a loaded machine.
constexpr int patienceMs = 20000;

class SingleInstanceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(
            QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), builtHelper, helperBundle()}), 0);
        auto helperInfo = host::readBundleInfo(helperBundle());
        ASSERT_TRUE(helperInfo);
        helperInfo->insert(QStringLiteral("CFBundleIdentifier"), stressID);
        ASSERT_TRUE(host::writePropertyListFile(helperBundle() + QStringLiteral("/Contents/Info.plist"),
                                                *helperInfo));
        ASSERT_TRUE(QFileInfo(helperProgram()).isExecutable());
        // The last-resort browser: records every link it is started with.
        const QString bundle = home.file(QStringLiteral("Applications/Google Chrome.app"));
        const QVariantMap info{
            {QStringLiteral("CFBundleIdentifier"), Corvane::chromeBundleID},
            {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
            {QStringLiteral("CFBundleURLTypes"),
             QVariantList{QVariantMap{{QStringLiteral("CFBundleURLSchemes"),
                                       QVariantList{QStringLiteral("http"), QStringLiteral("https")}}}}}};
        ASSERT_TRUE(test::writeScriptBundle(
            bundle, info,
            QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n")
                .arg(received())));
    }

    void TearDown() override {
        // Every copy ends cleanly: the one that stayed when asked, the others by themselves.
        for (auto& helper : helpers) {
            if (helper->state() != QProcess::NotRunning) {
                test::askToEnd(pid_t(helper->processId()));
                if (!helper->waitForFinished(10000)) {
                    helper->kill();
                    helper->waitForFinished();
                    ADD_FAILURE() << "a copy of the helper did not end when asked";
                }
            }
            EXPECT_EQ(test::uncleanEnd(*helper), QString()) << "a copy of the helper";
        }
        if (HasFailure())
            ADD_FAILURE() << "helper log:\n" << test::linesOf(logFile()).join('\n').toStdString();
    }

    QString helperBundle() const { return home.file(QStringLiteral("StressHelper.app")); }
    QString helperProgram() const { return helperBundle() + QStringLiteral("/Contents/MacOS/CorvaneHelper"); }
    QString received() const { return home.file(QStringLiteral("received.txt")); }
    QString logFile() const { return home.file(QStringLiteral("helpers.log")); }

    // A copy of the helper started as the desktop starts it for a link: with the link as its launch event.
    void startCopy(const QString& link) {
        auto helper = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            QString::fromLatin1(host::kLaunchEventsVariable),
            QString::fromUtf8(host::encodeAppleEvents({host::AppleEvent::getURL(link, qint32(::getpid()))})));
        helper->setProcessEnvironment(environment);
        helper->setProcessChannelMode(QProcess::MergedChannels);
        helper->setStandardOutputFile(logFile(), QIODevice::Append);
        helper->setStandardInputFile(QProcess::nullDevice());
        helper->start(helperProgram(), {});
        helpers.push_back(std::move(helper));
    }

    int runningCount() const {
        int running = 0;
        for (const auto& helper : helpers)
            running += helper->state() != QProcess::NotRunning ? 1 : 0;
        return running;
    }

    test::TemporaryHome home;
    std::vector<std::unique_ptr<QProcess>> helpers;
};

TEST_F(SingleInstanceTest, ManyCopiesStartedTogetherLeaveOneThatTakesEveryLink) {
    for (int round = 0; round < rounds; ++round) {
        QStringList links;
        for (int copy = 0; copy < copies; ++copy)
            links << QStringLiteral("https://example.com/round%1/copy%2").arg(round).arg(copy);
        for (const QString& link : links)
            startCopy(link);

        // Every copy's link reaches the one that stays, once.
        ASSERT_TRUE(test::eventually(
            [&] {
                const QStringList got = test::linesOf(received());
                return std::all_of(links.begin(), links.end(),
                                   [&](const QString& link) { return got.contains(link); });
            },
            patienceMs))
            << "round " << round;
        ASSERT_TRUE(test::eventually(
            [&] {
                for (auto& helper : helpers)
                    helper->waitForFinished(0);
                return runningCount() == 1;
            },
            patienceMs))
            << "round " << round << ": " << runningCount() << " copies run";
        for (const auto& helper : helpers) {
            if (helper->state() == QProcess::NotRunning) {
                EXPECT_EQ(helper->exitCode(), 0) << "round " << round;
            }
        }

        // The survivor still takes events, and serves its own socket.
        const QString later = QStringLiteral("https://example.com/round%1/later").arg(round);
        ASSERT_TRUE(host::deliverToRunningApplication(stressID,
                                                      {host::AppleEvent::getURL(later, qint32(::getpid()))}))
            << "round " << round;
        ASSERT_TRUE(test::eventually([&] { return test::linesOf(received()).contains(later); }, patienceMs))
            << "round " << round;
        EXPECT_TRUE(QFileInfo::exists(Corvane::socketPath()));
        EXPECT_EQ(test::linesOf(received()).size(), (round + 1) * (copies + 1)) << "a link was opened twice";

        for (auto& helper : helpers) {
            if (helper->state() == QProcess::NotRunning)
                continue;
            helper->terminate();
            ASSERT_TRUE(helper->waitForFinished(10000));
        }
        helpers.clear();
    }
}

// A copy that holds the lock but cannot listen for events ends, instead of running as a helper no link
// reaches.
TEST_F(SingleInstanceTest, ACopyThatCannotListenForEventsEnds) {
    ASSERT_TRUE(QDir().mkpath(host::eventSocketPath(stressID))); // in the socket's way
    startCopy(QStringLiteral("https://example.com/unheard"));
    ASSERT_TRUE(helpers[0]->waitForFinished(30000));
    const QString log = test::linesOf(logFile()).join('\n');
    EXPECT_TRUE(log.contains(QStringLiteral("cannot take events"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("helper listening at"))) << "it served as a helper";
}

} // namespace
