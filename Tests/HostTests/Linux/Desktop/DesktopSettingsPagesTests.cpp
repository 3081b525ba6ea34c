#include "CorvaneHost/Linux/Desktop/DesktopSettingsPages.h"
#include "CorvaneHost/Linux/HostWorkspace.h"
#include "Support/LogCapture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using host::DesktopSettingsPage;

namespace {

const QUrl
    defaultBrowserAddress(QStringLiteral("x-apple.systempreferences:com.apple.Desktop-Settings.extension"));
const QUrl accessibilityAddress(
    QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));

// Finds only the panels named.
std::function<bool(const QString&)> panels(const QStringList& entries) {
    return [entries](const QString& entry) { return entries.contains(entry); };
}

// Finds only the programs named, in /opt/bin.
std::function<QString(const QString&)> onPath(const QStringList& programs) {
    return [programs](const QString& program) {
        return programs.contains(program) ? QStringLiteral("/opt/bin/") + program : QString();
    };
}

TEST(DesktopSettingsPages, AddressesNameTheirPages) {
    EXPECT_EQ(host::settingsPageForAddress(defaultBrowserAddress), DesktopSettingsPage::defaultApplications);
    EXPECT_EQ(host::settingsPageForAddress(accessibilityAddress), DesktopSettingsPage::accessibility);
    EXPECT_FALSE(
        host::settingsPageForAddress(QUrl(QStringLiteral("x-apple.systempreferences:com.apple.other"))));
    EXPECT_FALSE(host::settingsPageForAddress(QUrl(QStringLiteral("https://example.com"))));
}

TEST(DesktopSettingsPages, TheSessionsOwnDesktopProgramOpensThePage) {
    // A release with a panel of its own for default applications, and one that shows them among the apps.
    const QStringList ubuntu{QStringLiteral("ubuntu"), QStringLiteral("GNOME")};
    const auto older = host::settingsPageCommand(
        DesktopSettingsPage::defaultApplications, ubuntu, onPath({QStringLiteral("gnome-control-center")}),
        panels({QStringLiteral("gnome-default-apps-panel.desktop")}));
    EXPECT_EQ(older,
              (QStringList{QStringLiteral("/opt/bin/gnome-control-center"), QStringLiteral("default-apps")}));
    const auto newer =
        host::settingsPageCommand(DesktopSettingsPage::defaultApplications, ubuntu,
                                  onPath({QStringLiteral("gnome-control-center")}), panels({}));
    EXPECT_EQ(newer,
              (QStringList{QStringLiteral("/opt/bin/gnome-control-center"), QStringLiteral("applications")}));

    // An older release's program serves where the newer one is missing; names compare without case.
    const auto plasma = host::settingsPageCommand(DesktopSettingsPage::accessibility, {QStringLiteral("kde")},
                                                  onPath({QStringLiteral("systemsettings5")}), panels({}));
    EXPECT_EQ(plasma,
              (QStringList{QStringLiteral("/opt/bin/systemsettings5"), QStringLiteral("kcm_access")}));

    // Another desktop's settings program is never used for this one.
    EXPECT_FALSE(host::settingsPageCommand(DesktopSettingsPage::defaultApplications, {QStringLiteral("XFCE")},
                                           onPath({QStringLiteral("gnome-control-center")}), panels({})));
    EXPECT_FALSE(host::settingsPageCommand(DesktopSettingsPage::accessibility, {QStringLiteral("openbox")},
                                           onPath({QStringLiteral("gnome-control-center")}), panels({})));
}

class OpenSystemSettings : public testing::Test {
protected:
    QTemporaryDir bin;
    QByteArray savedPath = qgetenv("PATH");
    std::optional<QByteArray> savedDesktop = qEnvironmentVariableIsSet("XDG_CURRENT_DESKTOP")
                                                 ? std::optional(qgetenv("XDG_CURRENT_DESKTOP"))
                                                 : std::nullopt;
    host::HostWorkspace workspace;
    test::LogCapture log;

    void SetUp() override { qputenv("PATH", QFile::encodeName(bin.path())); }
    void TearDown() override {
        qputenv("PATH", savedPath);
        if (savedDesktop)
            qputenv("XDG_CURRENT_DESKTOP", *savedDesktop);
        else
            qunsetenv("XDG_CURRENT_DESKTOP");
    }

    // A settings program that writes its arguments to "<name>.args" beside it.
    QString recordingProgram(const QString& name) {
        const QString path = bin.path() + QLatin1Char('/') + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"$@\" > \"$0.args.part\" && /bin/mv \"$0.args.part\" \"$0.args\"\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path + QStringLiteral(".args");
    }
};

TEST_F(OpenSystemSettings, StartsTheDesktopsSettingsProgram) {
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    const QString record = recordingProgram(QStringLiteral("gnome-control-center"));
    EXPECT_TRUE(workspace.openSystemSettings(accessibilityAddress));
    QDeadlineTimer deadline(10000);
    while (!QFile::exists(record) && !deadline.hasExpired())
        QThread::msleep(10);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().trimmed(), QByteArray("universal-access"));
}

TEST_F(OpenSystemSettings, OpensNothingWhereTheDesktopHasNoPageAndSaysWhy) {
    recordingProgram(QStringLiteral("gnome-control-center"));
    qputenv("XDG_CURRENT_DESKTOP", "openbox");
    EXPECT_FALSE(workspace.openSystemSettings(defaultBrowserAddress));
    EXPECT_TRUE(
        log.contains(QStringLiteral("not opening the default applications settings: this desktop (openbox) "
                                    "has no settings program for them here")));

    qunsetenv("XDG_CURRENT_DESKTOP");
    EXPECT_FALSE(workspace.openSystemSettings(accessibilityAddress));
    EXPECT_TRUE(
        log.contains(QStringLiteral("not opening the accessibility settings: the desktop does not say "
                                    "which it is (XDG_CURRENT_DESKTOP is not set)")));

    EXPECT_FALSE(
        workspace.openSystemSettings(QUrl(QStringLiteral("x-apple.systempreferences:com.apple.other"))));
    EXPECT_TRUE(log.contains(
        QStringLiteral("no settings page on this desktop for x-apple.systempreferences:com.apple.other")));
}

} // namespace
