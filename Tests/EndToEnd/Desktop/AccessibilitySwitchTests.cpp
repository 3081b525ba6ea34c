// The desktop's accessibility switch: trust needs it and the host's grant record; Chromium started while it
// is off is seen once it is on when it was started with ACCESSIBILITY_ENABLED=1.
#include "CorvaneHost/Accessibility.h"
#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"
#include "CorvaneHost/Linux/Files/PrivacyGrants.h"
#include "CorvaneHost/Services.h"
#include "Support/DesktopSession.h"
#include "Support/HostToolRun.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

using host::AXElement;
using host::AXError;
using host::AXValue;

const QString accessibility = QStringLiteral("Accessibility");

int chromiumWindowCount(const AXElement& application) {
    AXValue windows;
    if (host::accessibility().copyAttributeValue(application, QStringLiteral("AXWindows"), windows) !=
        AXError::success)
        return 0;
    int count = 0;
    for (const AXElement& window : std::get<QList<AXElement>>(windows)) {
        AXValue subrole;
        host::accessibility().copyAttributeValue(window, QStringLiteral("AXSubrole"), subrole);
        count += subrole == AXValue(QStringLiteral("AXStandardWindow"));
    }
    return count;
}

class AccessibilitySwitchTests : public testing::Test {
protected:
    static void SetUpTestSuite() {
        test::DesktopSession::Options options;
        options.accessibilitySwitch = false;
        session = new test::DesktopSession(options);
        if (!session->start())
            return;
        host::replaceService(host::services().accessibility, {});
        // Started while the switch is off, as every Chrome the host starts: with ACCESSIBILITY_ENABLED=1.
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("ACCESSIBILITY_ENABLED"), QStringLiteral("1"));
        session->openWindow(QStringLiteral("Work"), QStringLiteral("about:blank"), environment);
    }
    static void TearDownTestSuite() {
        host::replaceService(host::services().accessibility, {});
        delete session;
        session = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString(); }

    static inline test::DesktopSession* session = nullptr;
};

TEST_F(AccessibilitySwitchTests, TrustNeedsTheSwitchAndTheGrantAndResetLeavesTheSwitchOn) {
    ASSERT_TRUE(session->setAccessibilitySwitch(false));
    host::Accessibility& ax = host::accessibility();
    const QString self = host::AtspiAccessibility::ownGrantIdentifier();
    ASSERT_FALSE(self.isEmpty());
    EXPECT_FALSE(ax.isProcessTrusted());
    EXPECT_FALSE(ax.isProcessTrustedWithPrompt(false));

    // The grant alone is not enough while the desktop's switch is off.
    host::PrivacyGrants::grant(accessibility, self);
    EXPECT_FALSE(ax.isProcessTrusted());
    host::PrivacyGrants::reset(accessibility, self);

    // The prompt records the grant and turns the switch on.
    EXPECT_TRUE(ax.isProcessTrustedWithPrompt(true));
    EXPECT_TRUE(host::PrivacyGrants::isGranted(accessibility, self));
    EXPECT_TRUE(host::AtspiAccessibility::accessibilitySwitch());
    EXPECT_TRUE(ax.isProcessTrusted());

    // Withdrawing the grant withdraws the trust but leaves the desktop's switch alone (a screen reader may
    // depend on it).
    const test::ToolRun reset =
        test::runHostTool(QStringLiteral("tccutil"), {QStringLiteral("reset"), accessibility, self});
    EXPECT_EQ(reset.status, 0) << reset.errors.toStdString();
    EXPECT_FALSE(ax.isProcessTrusted());
    EXPECT_TRUE(host::AtspiAccessibility::accessibilitySwitch());
}

// Trust is checked every 2 s; the switch is read once and then followed through the service's announcements.
TEST_F(AccessibilitySwitchTests, TrustFollowsTheSwitchTurnedByAnotherProgram) {
    const QString self = host::AtspiAccessibility::ownGrantIdentifier();
    host::PrivacyGrants::grant(accessibility, self);
    ASSERT_TRUE(session->setAccessibilitySwitch(true));
    host::Accessibility& ax = host::accessibility();
    ASSERT_TRUE(ax.isProcessTrusted());
    const auto turn = [&](bool on) {
        QProcess send;
        send.setProcessEnvironment(session->programEnvironment());
        send.start(QStringLiteral("dbus-send"),
                   {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                    QStringLiteral("--dest=org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                    QStringLiteral("org.freedesktop.DBus.Properties.Set"),
                    QStringLiteral("string:org.a11y.Status"), QStringLiteral("string:IsEnabled"),
                    on ? QStringLiteral("variant:boolean:true") : QStringLiteral("variant:boolean:false")});
        return send.waitForFinished(5000) && send.exitCode() == 0;
    };
    ASSERT_TRUE(turn(false));
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return !ax.isProcessTrusted(); }, 2));
    ASSERT_TRUE(turn(true));
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return ax.isProcessTrusted(); }, 2));
    host::PrivacyGrants::reset(accessibility, self);
}

TEST_F(AccessibilitySwitchTests, ChromiumStartedWhileTheSwitchWasOffIsSeenOnceItIsOn) {
    ASSERT_GT(session->chromiumPid(), 0);
    ASSERT_TRUE(session->setAccessibilitySwitch(true));
    const AXElement application = host::accessibility().createApplication(session->chromiumPid());
    host::accessibility().setMessagingTimeout(application, 2.0);
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return chromiumWindowCount(application) == 1; }, 30));
}

} // namespace
