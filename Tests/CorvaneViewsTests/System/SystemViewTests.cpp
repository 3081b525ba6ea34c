// The system page: the default browser and its file types, helper use, login and Accessibility, the notice of
// outdated proxy apps, the rules' summary, and the routing model's lines in the page's footer.
#include "SystemPageFixture.h"

#include "Corvane/Views/System/SystemHelperSection.h"
#include "CorvaneHost/PropertyList.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

namespace {

using Selection = AppModel::Selection;

const QUrl
    defaultBrowserSettings(QStringLiteral("x-apple.systempreferences:com.apple.Desktop-Settings.extension"));
const QUrl accessibilitySettings(
    QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));

class SystemViewTest : public test::SystemPageFixture {
protected:
    QString text(const QString& name) const {
        const auto* label = find<QLabel>(name);
        return label ? label->text() : QString();
    }
    const StatusDot* dot(const QString& name) const { return find<StatusDot>(name); }
    QPushButton* button(const QString& name) const { return find<QPushButton>(name); }
};

TEST_F(SystemViewTest, DefaultBrowserRowNamesTheBrowserThatTakesLinksNow) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"));
    const QString viewer = environment.workspace().addApplication(
        QStringLiteral("Viewer"), test::FakeWorkspace::info(QStringLiteral("com.example.viewer")));
    showPage();
    EXPECT_EQ(
        text(QStringLiteral("defaultBrowserDetail")),
        QStringLiteral("Links from other apps go straight to another browser. Your rules aren't running."));
    EXPECT_FALSE(dot(QStringLiteral("defaultBrowserDot"))->isGood());
    EXPECT_TRUE(shown(QStringLiteral("makeDefaultButton")));
    EXPECT_TRUE(ButtonStyle::isProminent(button(QStringLiteral("makeDefaultButton"))));
    EXPECT_FALSE(shown(QStringLiteral("openSystemSettingsButton")));

    environment.workspace().setDefaultForScheme(QStringLiteral("https"), firefox);
    routing.refreshSystemState();
    EXPECT_EQ(text(QStringLiteral("defaultBrowserDetail")),
              QStringLiteral("Links from other apps go straight to Firefox. Your rules aren't running."));

    // One the routing model does not list as a browser goes by its identifier.
    environment.workspace().setDefaultForScheme(QStringLiteral("https"), viewer);
    routing.refreshSystemState();
    EXPECT_EQ(text(QStringLiteral("defaultBrowserDetail")),
              QStringLiteral(
                  "Links from other apps go straight to com.example.viewer. Your rules aren't running."));
}

TEST_F(SystemViewTest, MakingCorvaneTheDefaultTurnsTheRowGreen) {
    showPage();
    click(QStringLiteral("makeDefaultButton"));
    EXPECT_EQ(footer(), QStringLiteral("Corvane now handles web links."));
    EXPECT_TRUE(dot(QStringLiteral("defaultBrowserDot"))->isGood());
    EXPECT_EQ(text(QStringLiteral("defaultBrowserDetail")),
              QStringLiteral("Links from other apps come here first, then follow your rules."));
    EXPECT_FALSE(shown(QStringLiteral("makeDefaultButton")));
    ASSERT_TRUE(shown(QStringLiteral("openSystemSettingsButton")));
    EXPECT_EQ(button(QStringLiteral("openSystemSettingsButton"))->text(),
              QStringLiteral("Open System Settings…"));

    // The settings page opens through the workspace; the page never hands the links back itself.
    click(QStringLiteral("openSystemSettingsButton"));
    EXPECT_EQ(environment.workspace().settingsAddresses, std::vector<QUrl>{defaultBrowserSettings});
    for (const auto& change : environment.workspace().defaultChanges)
        EXPECT_EQ(change.appPath, Corvane::installedHelperURL());
}

TEST_F(SystemViewTest, RefusedDefaultBrowserChangesShowWhy) {
    environment.workspace().failDefaultChange(
        QStringLiteral("http"), host::SystemError(QStringLiteral("X"), 1, QStringLiteral("nope")));
    showPage();
    click(QStringLiteral("makeDefaultButton"));
    EXPECT_EQ(footer(), QStringLiteral("macOS declined: nope"));
    EXPECT_FALSE(dot(QStringLiteral("defaultBrowserDot"))->isGood());

    // Without the installed helper there is nothing to make the default.
    QDir(Corvane::installedHelperURL()).removeRecursively();
    click(QStringLiteral("makeDefaultButton"));
    EXPECT_EQ(footer(), QStringLiteral("macOS declined: no browser available to hand links to"));
}

TEST_F(SystemViewTest, FileTypeTogglesFollowWhatTheHelperOpens) {
    showPage();
    QStringList labels;
    for (const BrowserCatalog::RoutableFileType& type : BrowserCatalog::routableFileTypes()) {
        const auto* toggle = find<QCheckBox>(QStringLiteral("fileType:") + type.type);
        ASSERT_NE(toggle, nullptr);
        labels << toggle->text();
        EXPECT_FALSE(toggle->isChecked());
    }
    EXPECT_EQ(labels, (QStringList{QStringLiteral("HTML pages"), QStringLiteral("SVG images"),
                                   QStringLiteral("Web archives")}));

    click(QStringLiteral("fileType:") + BrowserCatalog::FileType::html);
    EXPECT_TRUE(checked(QStringLiteral("fileType:") + BrowserCatalog::FileType::html));
    EXPECT_TRUE(routing.ruleSet().handlesHTMLFiles);
    EXPECT_EQ(footer(), QString());

    // A refusal: the toggle shows what the system reports, the footer says why.
    environment.workspace().failDefaultChange(
        BrowserCatalog::FileType::svg, host::SystemError(QStringLiteral("X"), 1, QStringLiteral("denied")));
    click(QStringLiteral("fileType:") + BrowserCatalog::FileType::svg);
    EXPECT_FALSE(checked(QStringLiteral("fileType:") + BrowserCatalog::FileType::svg));
    EXPECT_EQ(footer(), QStringLiteral("macOS declined: denied"));
}

TEST_F(SystemViewTest, StaleHelperOffersAnUpdate) {
    showPage();
    EXPECT_FALSE(shown(QStringLiteral("staleHelperSection")));

    // The creator app carries a newer helper than the installed one.
    const QString creator = environment.workspace().root() + QStringLiteral("/Corvane.app");
    QVariantMap bundled = test::FakeWorkspace::info(Corvane::helperBundleID);
    bundled.insert(QStringLiteral("CFBundleVersion"), QStringLiteral("2"));
    QDir().mkpath(creator + QLatin1Char('/') + Corvane::helperInBundle + QStringLiteral("/Contents"));
    host::writePropertyListFile(creator + QLatin1Char('/') + Corvane::helperInBundle +
                                    QStringLiteral("/Contents/Info.plist"),
                                bundled);
    environment.workspace().addApplicationAt(creator, test::FakeWorkspace::info(Corvane::creatorBundleID));
    QVariantMap installed = test::FakeWorkspace::info(Corvane::helperBundleID);
    installed.insert(QStringLiteral("CFBundleVersion"), QStringLiteral("1"));
    host::writePropertyListFile(Corvane::installedHelperURL() + QStringLiteral("/Contents/Info.plist"),
                                installed);
    routing.refreshSystemState();
    ASSERT_TRUE(shown(QStringLiteral("staleHelperSection")));
    EXPECT_TRUE(ButtonStyle::isProminent(button(QStringLiteral("updateHelperButton"))));

    // The copy fails here (the recorded copy tool copies nothing); the footer says so.
    environment.runner().exitWith(QStringLiteral("/usr/bin/ditto"), 1, QStringLiteral("no space"));
    click(QStringLiteral("updateHelperButton"));
    ASSERT_FALSE(footer().isEmpty());
    EXPECT_TRUE(footer().startsWith(QStringLiteral("Couldn't update the helper: ")))
        << footer().toStdString();
}

TEST_F(SystemViewTest, HelperSectionFollowsTheHelpersGrant) {
    showPage();
    // Running, not trusted.
    EXPECT_FALSE(dot(QStringLiteral("accessibilityDot"))->isGood());
    EXPECT_EQ(text(QStringLiteral("accessibilityDetail")),
              QStringLiteral("Not granted — apps will open new windows instead of raising"));
    EXPECT_EQ(button(QStringLiteral("grantButton"))->text(), QStringLiteral("Grant…"));
    EXPECT_TRUE(ButtonStyle::isProminent(button(QStringLiteral("grantButton"))));
    EXPECT_TRUE(
        button(QStringLiteral("repairButton"))->toolTip().startsWith(QStringLiteral("Updating the tool")));

    connectTrustedHelper();
    EXPECT_TRUE(dot(QStringLiteral("accessibilityDot"))->isGood());
    EXPECT_EQ(text(QStringLiteral("accessibilityDetail")),
              QStringLiteral("Granted to the background helper"));
    EXPECT_EQ(button(QStringLiteral("grantButton"))->text(), QStringLiteral("Open Privacy && Security…"));
    EXPECT_EQ(button(QStringLiteral("grantButton"))->accessibleName(),
              QStringLiteral("Open Privacy & Security…"));
    EXPECT_FALSE(ButtonStyle::isProminent(button(QStringLiteral("grantButton"))));
    EXPECT_TRUE(
        button(QStringLiteral("repairButton"))->toolTip().startsWith(QStringLiteral("Use this if apps")));

    // Both grant buttons start the installed helper quietly and open the accessibility settings.
    click(QStringLiteral("grantButton"));
    ASSERT_FALSE(environment.workspace().opens.empty());
    EXPECT_EQ(environment.workspace().opens.back().appPath, Corvane::installedHelperURL());
    EXPECT_FALSE(environment.workspace().opens.back().configuration.activates);
    EXPECT_EQ(environment.workspace().settingsAddresses, std::vector<QUrl>{accessibilitySettings});

    // The helper drops the connection: the grant is no longer known.
    link->setState(HelperConnection::State::connecting);
    environment.time().runUntilIdle();
    EXPECT_FALSE(dot(QStringLiteral("accessibilityDot"))->isGood());
}

TEST_F(SystemViewTest, RepairReportsAClearedEntryOnlyWhenItWasCleared) {
    showPage();
    routing.setStatusMessage(QStringLiteral("The helper will start at login."));
    click(QStringLiteral("repairButton"));
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("Cleared the helper's Accessibility entry. Grant it again when prompted."));
    EXPECT_EQ(footer(), QStringLiteral("The helper will start at login."));

    model->setStatusMessage(std::nullopt);
    environment.runner().exitWith(QStringLiteral("/usr/bin/tccutil"), 1, QStringLiteral("denied"));
    click(QStringLiteral("repairButton"));
    EXPECT_FALSE(model->statusMessage().has_value());
    EXPECT_EQ(footer(),
              QStringLiteral(
                  "Couldn't clear the helper's Accessibility entry: /usr/bin/tccutil failed (1): denied"));
}

TEST_F(SystemViewTest, SwitchingHelperUseOffLeavesOnlyTheSwitch) {
    showPage();
    ASSERT_TRUE(shown(QStringLiteral("helperDetail")));
    click(QStringLiteral("disableHelperToggle"));
    EXPECT_TRUE(SettingsStore::shared().current().disablesHelper);
    EXPECT_TRUE(checked(QStringLiteral("disableHelperToggle")));
    EXPECT_FALSE(shown(QStringLiteral("helperDetail")));
    EXPECT_FALSE(shown(QStringLiteral("proxyAppsSection")));
    EXPECT_EQ(footer(), QString());

    click(QStringLiteral("disableHelperToggle"));
    EXPECT_TRUE(shown(QStringLiteral("helperDetail")));
    EXPECT_TRUE(shown(QStringLiteral("proxyAppsSection")));

    // A save that fails springs the switch back and says why; helper use is re-read all the same.
    blockFile(Corvane::settingsURL());
    click(QStringLiteral("disableHelperToggle"));
    EXPECT_FALSE(checked(QStringLiteral("disableHelperToggle")));
    EXPECT_TRUE(footer().startsWith(QStringLiteral("Couldn't save that setting: ")))
        << footer().toStdString();
    EXPECT_TRUE(shown(QStringLiteral("helperDetail")));
    unblockFile(Corvane::settingsURL());
}

TEST_F(SystemViewTest, LoginItemSwitchReportsEachOutcome) {
    showPage();
    click(QStringLiteral("startAtLoginToggle"));
    EXPECT_TRUE(checked(QStringLiteral("startAtLoginToggle")));
    EXPECT_EQ(footer(), QStringLiteral("The helper will start at login."));
    EXPECT_FALSE(shown(QStringLiteral("loginApprovalNotice")));

    click(QStringLiteral("startAtLoginToggle"));
    EXPECT_FALSE(checked(QStringLiteral("startAtLoginToggle")));
    EXPECT_EQ(footer(), QStringLiteral("The helper will no longer start at login."));

    // Held for the user's approval: not on yet, and both the notice and the status say what to do.
    loginItems->requireApproval = true;
    click(QStringLiteral("startAtLoginToggle"));
    EXPECT_FALSE(checked(QStringLiteral("startAtLoginToggle")));
    EXPECT_EQ(footer(), QStringLiteral("Allow Corvane under Login Items in System Settings to finish."));
    EXPECT_TRUE(shown(QStringLiteral("loginApprovalNotice")));

    loginItems->failChanges(
        host::SystemError(QStringLiteral("SMAppService"), 1, QStringLiteral("not allowed")));
    click(QStringLiteral("startAtLoginToggle"));
    EXPECT_FALSE(checked(QStringLiteral("startAtLoginToggle")));
    EXPECT_EQ(footer(), QStringLiteral("Couldn't change the login item: not allowed"));
}

TEST_F(SystemViewTest, OutdatedAppNotificationSwitchSavesTheSetting) {
    showPage();
    ASSERT_TRUE(checked(QStringLiteral("notifyOutdatedToggle")));
    click(QStringLiteral("notifyOutdatedToggle"));
    EXPECT_FALSE(SettingsStore::shared().current().notifiesWhenProxyAppsAreOutdated);
    EXPECT_FALSE(checked(QStringLiteral("notifyOutdatedToggle")));

    blockFile(Corvane::settingsURL());
    click(QStringLiteral("notifyOutdatedToggle"));
    EXPECT_FALSE(checked(QStringLiteral("notifyOutdatedToggle")));
    EXPECT_TRUE(footer().startsWith(QStringLiteral("Couldn't save that setting: ")))
        << footer().toStdString();
    unblockFile(Corvane::settingsURL());

    click(QStringLiteral("notifyOutdatedToggle"));
    EXPECT_TRUE(SettingsStore::shared().current().notifiesWhenProxyAppsAreOutdated);
    EXPECT_EQ(footer(), QString());
}

TEST_F(SystemViewTest, ProxyAppsSectionOffersTheRebuildOfOutdatedApps) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"), QStringLiteral("Default"), 1);
    showPage();
    ASSERT_TRUE(shown(QStringLiteral("rebuildRow")));
    EXPECT_EQ(text(QStringLiteral("rebuildTitle")), QStringLiteral("1 app can be updated"));
    EXPECT_EQ(button(QStringLiteral("rebuildOutdatedButton"))->text(), QStringLiteral("Update 1 App"));

    click(QStringLiteral("rebuildOutdatedButton"));
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(builder.requests().size(), 1u);
    EXPECT_FALSE(shown(QStringLiteral("rebuildRow")));
}

TEST_F(SystemViewTest, RebuildButtonWaitsForARunningBuild) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"), QStringLiteral("Default"), 1);
    installApp(QStringLiteral("Beta"), QStringLiteral("app.corvane.beta"), QStringLiteral("Default"), 1);
    showPage();
    EXPECT_EQ(text(QStringLiteral("rebuildTitle")), QStringLiteral("2 apps can be updated"));
    model->rebuildOutdated();
    ASSERT_TRUE(model->isBusy());
    EXPECT_FALSE(button(QStringLiteral("rebuildOutdatedButton"))->isEnabled());
    ASSERT_TRUE(finishBuild());
}

TEST_F(SystemViewTest, WithoutTheHelperCopyTheProxyAppsSectionIsGone) {
    QDir(Corvane::installedHelperURL()).removeRecursively();
    showPage();
    EXPECT_FALSE(shown(QStringLiteral("proxyAppsSection")));
    EXPECT_TRUE(shown(QStringLiteral("routingSummarySection")));
}

TEST_F(SystemViewTest, RoutingSummaryAndTheWayToTheRules) {
    showPage();
    EXPECT_EQ(text(QStringLiteral("rulesInUse")), QStringLiteral("No rules yet"));
    EXPECT_EQ(text(QStringLiteral("automaticFallback")), QStringLiteral("Automatic — no browser available"));

    addBrowser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"));
    RuleSet rules = routing.ruleSet();
    rules.rules.push_back(LinkRule{QUuid::createUuid(),
                                   QStringLiteral("Work"),
                                   RouteTarget::browser(QStringLiteral("org.mozilla.firefox"), false),
                                   true,
                                   MatchMode::any,
                                   {}});
    rules.fallback = RouteTarget::browser(QStringLiteral("org.mozilla.firefox"), false);
    routing.setRuleSet(rules);
    EXPECT_EQ(text(QStringLiteral("rulesInUse")), QStringLiteral("1 rule enabled, first match wins"));
    EXPECT_FALSE(shown(QStringLiteral("automaticFallback")));
    EXPECT_TRUE(shown(QStringLiteral("fallbackTarget")));

    rules.fallback.reset();
    routing.setRuleSet(rules);
    EXPECT_TRUE(shown(QStringLiteral("automaticFallback")));
    EXPECT_FALSE(shown(QStringLiteral("fallbackTarget")));

    model->setSelection(Selection::system());
    click(QStringLiteral("openRulesButton"));
    EXPECT_EQ(model->selection(), Selection::rules());
}

TEST_F(SystemViewTest, FooterShowsTheErrorOverTheStatus) {
    showPage();
    EXPECT_FALSE(find(QStringLiteral("pageStatusBar"))->isVisible());
    routing.setStatusMessage(QStringLiteral("Added Arc."));
    EXPECT_EQ(footer(), QStringLiteral("Added Arc."));
    blockFile(Corvane::settingsURL());
    click(QStringLiteral("notifyOutdatedToggle"));
    EXPECT_TRUE(footer().startsWith(QStringLiteral("Couldn't save that setting: ")));
    unblockFile(Corvane::settingsURL());
}

// Every control a screen reader reaches on the page has a name.
TEST_F(SystemViewTest, EveryControlHasAnAccessibleName) {
    addBrowser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"), QStringLiteral("120.0"));
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"), QStringLiteral("Default"), 1);
    showPage();
    int controls = 0;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node || node->state().invisible)
            return;
        const QAccessible::Role role = node->role();
        if (role == QAccessible::Button || role == QAccessible::CheckBox || role == QAccessible::ComboBox ||
            role == QAccessible::EditableText) {
            ++controls;
            EXPECT_FALSE(node->text(QAccessible::Name).isEmpty())
                << node->object()->objectName().toStdString() << " has no name";
        }
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(page.get()));
    EXPECT_GE(controls, 10);
}

} // namespace
