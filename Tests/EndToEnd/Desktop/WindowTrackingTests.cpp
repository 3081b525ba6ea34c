// The helper program tracking a real Chromium on a private desktop, as the proxy apps see it: clients on its
// socket watch a profile and hear its window count, raise its windows and close them.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Accessibility.h"
#include "CorvaneHost/Linux/PrivacyGrants.h"
#include "CorvaneHost/Services.h"
#include "Support/DesktopSession.h"
#include "Support/HelperSession.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

namespace {

using host::AXElement;
using host::AXError;
using host::AXValue;

using test::HelperClient;

// A generous wait for what the browser and the helper do in their own time.
constexpr double generous = 15;

std::optional<QString> string(const AXElement& element, const QString& attribute) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(element, attribute, value) != AXError::success)
        return std::nullopt;
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    return std::nullopt;
}

QList<AXElement> windowsOf(const AXElement& application) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(application, QStringLiteral("AXWindows"), value) !=
        AXError::success)
        return {};
    if (const auto* list = std::get_if<QList<AXElement>>(&value))
        return *list;
    return {};
}

// Chromium names its windows "<page> - Chromium - <profile>", an incognito one "<page> - Chromium
// (Incognito)" when only one profile is open and with the profile otherwise; both are matched by the
// profile's name at the end or an incognito marker.
QList<AXElement> standardWindowsOf(const AXElement& application, const QString& profile, bool incognito) {
    QList<AXElement> result;
    for (const AXElement& window : windowsOf(application)) {
        if (string(window, QStringLiteral("AXSubrole")) != QStringLiteral("AXStandardWindow"))
            continue;
        const QString title = string(window, QStringLiteral("AXTitle")).value_or(QString());
        const bool isIncognito = title.contains(QStringLiteral("Incognito"));
        if (isIncognito == incognito && (isIncognito || title.endsWith(QStringLiteral(" - ") + profile)))
            result.append(window);
    }
    return result;
}

class WindowTrackingTests : public testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new test::DesktopSession;
        if (!session->start())
            return;
        host::services().accessibility.reset();
        host::services().windowList.reset();
        // Home's window stays open throughout, so that Chromium keeps running when Work's windows close.
        session->openWindow(QStringLiteral("Home"));
        application = host::accessibility().createApplication(session->chromiumPid());
        host::accessibility().setMessagingTimeout(application, 2.0);
        test::DesktopSession::waitUntil(
            [] { return !standardWindowsOf(application, QStringLiteral("Home"), false).isEmpty(); }, 30);
        // The helper is trusted as a user grants it: the switch is on (the session's) and the grant recorded.
        host::PrivacyGrants::grant(QStringLiteral("Accessibility"), Corvane::helperBundleID);
        helper = new test::HelperProcess;
        helper->start(session->programEnvironment());
    }
    static void TearDownTestSuite() {
        delete helper;
        helper = nullptr;
        application = {};
        host::services().accessibility.reset();
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        if (!session->skipReason().isEmpty())
            GTEST_SKIP() << session->skipReason().toStdString();
        ASSERT_GT(helper->pid(), 0) << "the helper did not start";
        ASSERT_FALSE(standardWindowsOf(application, QStringLiteral("Home"), false).isEmpty())
            << "Chromium published no window of the profile Home";
    }
    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "the helper's log:\n" << helper->log().toStdString();
        closeAll(QStringLiteral("Work"), true);
        closeAll(QStringLiteral("Work"), false);
    }

    // Opens a window of `profile` and waits until Chromium shows it.
    static bool openWindow(const QString& profile, bool incognito = false) {
        const qsizetype before = standardWindowsOf(application, profile, incognito).size();
        if (incognito ? !session->openIncognitoWindow(profile) : !session->openWindow(profile))
            return false;
        return test::DesktopSession::waitUntil(
            [&] { return standardWindowsOf(application, profile, incognito).size() > before; }, generous);
    }
    // Closes the windows by their close buttons, as a user does.
    static void closeAll(const QString& profile, bool incognito) {
        for (const AXElement& window : standardWindowsOf(application, profile, incognito)) {
            AXValue button;
            if (host::accessibility().copyAttributeValue(window, QStringLiteral("AXCloseButton"), button) ==
                    AXError::success &&
                std::holds_alternative<AXElement>(button))
                host::accessibility().performAction(std::get<AXElement>(button), QStringLiteral("AXPress"));
        }
        test::DesktopSession::waitUntil(
            [&] { return standardWindowsOf(application, profile, incognito).isEmpty(); }, generous);
    }
    static std::optional<AXElement> focusedWindow() {
        AXValue value;
        if (host::accessibility().copyAttributeValue(application, QStringLiteral("AXFocusedWindow"), value) !=
            AXError::success)
            return std::nullopt;
        if (const auto* window = std::get_if<AXElement>(&value))
            return *window;
        return std::nullopt;
    }

    static inline test::DesktopSession* session = nullptr;
    static inline AXElement application;
    static inline test::HelperProcess* helper = nullptr;
};

TEST_F(WindowTrackingTests, AWatcherHearsTheCountOfItsProfileAsWindowsOpenAndClose) {
    auto work = HelperClient::connect(QStringLiteral("Work"));
    ASSERT_TRUE(work);
    EXPECT_TRUE(work->hears(0)) << work->describe().toStdString();

    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    EXPECT_TRUE(work->hears(1)) << work->describe().toStdString();
    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    EXPECT_TRUE(work->hears(2)) << work->describe().toStdString();

    closeAll(QStringLiteral("Work"), false);
    EXPECT_TRUE(work->hears(0)) << work->describe().toStdString();
    // Home's window was never Work's.
    const std::optional<Response> status = work->send(Request(0, Request::Op::status));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->windowCount, 0);
}

TEST_F(WindowTrackingTests, AnIncognitoWindowCountsOnlyForAWatcherThatIncludesIncognito) {
    auto including = HelperClient::connect(QStringLiteral("Work"), true);
    auto excluding = HelperClient::connect(QStringLiteral("Work"), false);
    ASSERT_TRUE(including && excluding);
    ASSERT_TRUE(including->hears(0)) << including->describe().toStdString();

    // An incognito window names no profile: the helper learns whose it is from the launch the proxy app
    // notes before it starts the browser.
    ASSERT_TRUE(including->send(Request(0, Request::Op::noteLaunch)));
    ASSERT_TRUE(openWindow(QStringLiteral("Work"), true));
    EXPECT_TRUE(including->hears(1)) << including->describe().toStdString();
    excluding->drain();
    const std::optional<Response> status = excluding->send(Request(0, Request::Op::status));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->windowCount, 0);
    EXPECT_EQ(status->confidence, CountConfidence::certain);

    closeAll(QStringLiteral("Work"), true);
    EXPECT_TRUE(including->hears(0)) << including->describe().toStdString();
}

TEST_F(WindowTrackingTests, ActivateRaisesTheProfilesWindowOrSaysThereIsNothingToRaise) {
    auto work = HelperClient::connect(QStringLiteral("Work"), false);
    ASSERT_TRUE(work);
    std::optional<Response> answer = work->send(Request(0, Request::Op::activate));
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->action, Response::Action::nothingToRaise);

    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    const AXElement workWindow = standardWindowsOf(application, QStringLiteral("Work"), false).value(0);
    ASSERT_TRUE(work->hears(1)) << work->describe().toStdString();
    // A new window of Home goes in front of Work's.
    ASSERT_TRUE(openWindow(QStringLiteral("Home")));
    ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() != workWindow; }, generous));

    answer = work->send(Request(0, Request::Op::activate));
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->action, Response::Action::raised);
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == workWindow; }, generous));

    // Back to one window of Home.
    const QList<AXElement> homes = standardWindowsOf(application, QStringLiteral("Home"), false);
    if (homes.size() > 1) {
        AXValue button;
        if (host::accessibility().copyAttributeValue(homes.last(), QStringLiteral("AXCloseButton"), button) ==
                AXError::success &&
            std::holds_alternative<AXElement>(button))
            host::accessibility().performAction(std::get<AXElement>(button), QStringLiteral("AXPress"));
        test::DesktopSession::waitUntil(
            [&] { return standardWindowsOf(application, QStringLiteral("Home"), false).size() == 1; },
            generous);
    }
}

TEST_F(WindowTrackingTests, CloseWindowsClosesTheProfilesWindowsAndLeavesTheOthers) {
    auto work = HelperClient::connect(QStringLiteral("Work"), false);
    auto home = HelperClient::connect(QStringLiteral("Home"), false);
    ASSERT_TRUE(work && home);
    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    ASSERT_TRUE(work->hears(2)) << work->describe().toStdString();
    ASSERT_TRUE(home->hears(1)) << home->describe().toStdString();

    const std::optional<Response> answer = work->send(Request(0, Request::Op::closeWindows), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->closed, 2);
    EXPECT_EQ(answer->remaining, 0);
    EXPECT_EQ(answer->blocked, false);
    EXPECT_TRUE(work->hears(0)) << work->describe().toStdString();
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [] { return standardWindowsOf(application, QStringLiteral("Work"), false).isEmpty(); }, generous));
    EXPECT_EQ(standardWindowsOf(application, QStringLiteral("Home"), false).size(), 1);
    home->drain();
    ASSERT_TRUE(home->lastWindows());
    EXPECT_EQ(home->lastWindows()->count, 1);
}

} // namespace
