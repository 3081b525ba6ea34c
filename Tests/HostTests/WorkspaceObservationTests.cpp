#include "CorvaneHost/Workspace.h"
#include "Support/FakeWorkspace.h"
#include "Support/VirtualTime.h"

#include <gtest/gtest.h>

namespace {

TEST(WorkspaceObservation, LaunchesAndExitsAreToldWhileTheTokenIsHeld) {
    test::VirtualTimeScope time;
    test::FakeWorkspace workspace;
    workspace.addRunning({10, QStringLiteral("app.before"), QStringLiteral("Before"), QString()});
    QStringList told;
    auto token = workspace.observeApplications(
        [&](const host::RunningApplication& app) {
            told.append(QStringLiteral("+%1").arg(app.processIdentifier));
        },
        [&](const host::RunningApplication& app) {
            told.append(QStringLiteral("-%1").arg(app.processIdentifier));
        });

    workspace.addRunning({11, QStringLiteral("app.new"), QStringLiteral("New"), QString()});
    workspace.removeRunning(10);
    time->advance(host::Workspace::applicationPollInterval);
    EXPECT_EQ(told, (QStringList{QStringLiteral("-10"), QStringLiteral("+11")}));

    // A process number that comes back for another program is an exit and a launch.
    workspace.removeRunning(11);
    workspace.addRunning({11, QStringLiteral("app.other"), QStringLiteral("Other"), QString()});
    time->advance(host::Workspace::applicationPollInterval);
    EXPECT_EQ(told.mid(2), (QStringList{QStringLiteral("-11"), QStringLiteral("+11")}));

    token.reset();
    workspace.removeRunning(11);
    time->advance(10);
    EXPECT_EQ(told.size(), 4);
    EXPECT_EQ(time->pendingCount(), 0u);
}

} // namespace
