#include "Support/AppModelFixture.h"
#include "Support/LogCapture.h"

#include "Support/SignalCount.h"
#include <QFile>

namespace {

using Selection = AppModel::Selection;
using State = HelperConnection::State;

class AppModelLoad : public test::AppModelFixture {};

TEST_F(AppModelLoad, FirstStartWithNothingRegistered) {
    model->installHelper = [](bool force) {
        EXPECT_FALSE(force);
        return true;
    };
    model->load();
    EXPECT_TRUE(model->apps().empty());
    EXPECT_FALSE(model->selection().has_value());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Updated the background helper."));
    EXPECT_TRUE(model->canCreateProxyApps());
    EXPECT_FALSE(model->helperDisabled());
    EXPECT_EQ(link->connects, 1);
    EXPECT_TRUE(QFile::exists(Corvane::registryURL()));
}

TEST_F(AppModelLoad, FailedInstallIsOnlyLogged) {
    test::LogCapture log;
    model->installHelper = [](bool) -> bool {
        throw host::Error(QStringLiteral("could not find a helper to install"));
    };
    model->load();
    EXPECT_TRUE(log.contains(QStringLiteral("creator"), host::LogLevel::Error,
                             QStringLiteral("helper install failed: could not find a helper to install")));
    EXPECT_FALSE(model->statusMessage().has_value());
    EXPECT_FALSE(model->errorMessage().has_value());
}

TEST_F(AppModelLoad, SelectsTheFirstAppByNameAndShowsIt) {
    installApp(QStringLiteral("Zulu"), QStringLiteral("app.corvane.zulu"));
    installApp(QStringLiteral("alpha"), QStringLiteral("app.corvane.alpha"), QStringLiteral("Profile 3"));
    model->load();
    ASSERT_EQ(model->apps().size(), 2u);
    EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.alpha")));
    EXPECT_EQ(model->editor().name, QStringLiteral("alpha"));
    EXPECT_EQ(model->editor().profileDirectory, QStringLiteral("Profile 3"));
    EXPECT_FALSE(model->editor().isDirty());
}

TEST_F(AppModelLoad, StepsRunInOrder) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"));
    QStringList order;
    auto note = [&](const QString& what) { return [&order, what] { order << what; }; };
    QObject::connect(model.get(), &AppModel::renameOutcomeChanged, note(QStringLiteral("rename")));
    QObject::connect(model.get(), &AppModel::profilesChanged, note(QStringLiteral("profiles")));
    QObject::connect(model.get(), &AppModel::appsChanged, note(QStringLiteral("apps")));
    QObject::connect(model.get(), &AppModel::helperDisabledChanged, note(QStringLiteral("settings")));
    QObject::connect(model.get(), &AppModel::canCreateProxyAppsChanged, note(QStringLiteral("availability")));
    QObject::connect(model.get(), &AppModel::selectionChanged, note(QStringLiteral("selection")));
    model->installHelper = [&](bool) {
        order << QStringLiteral("install");
        return false;
    };
    model->loadSymbolCatalog = [] {
        SymbolCatalog::Catalog catalog;
        catalog.symbols = QStringList{QStringLiteral("globe")};
        return catalog;
    };
    model->load();
    EXPECT_EQ(order,
              (QStringList{QStringLiteral("rename"), QStringLiteral("profiles"), QStringLiteral("apps"),
                           QStringLiteral("install"), QStringLiteral("settings"),
                           QStringLiteral("availability"), QStringLiteral("selection")}));
    EXPECT_EQ(link->connects, 1);
    ASSERT_TRUE(environment.time().runUntil([&] { return model->symbolCatalog().has_value(); }));
    EXPECT_EQ(model->symbolCatalog()->symbols, QStringList{QStringLiteral("globe")});
}

TEST_F(AppModelLoad, HelperUseOffStillInstallsButNeverConnects) {
    environment.setDisablesHelper(true);
    bool installed = false;
    model->installHelper = [&](bool) { return installed = true; };
    model->load();
    EXPECT_TRUE(installed);
    EXPECT_TRUE(model->helperDisabled());
    EXPECT_FALSE(model->canCreateProxyApps());
    EXPECT_EQ(link->connects, 0);
}

TEST_F(AppModelLoad, UnreadableRegistryIsKeptBesideTheNewOne) {
    Corvane::ensureSupportDirectory();
    QFile broken(Corvane::registryURL());
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("{ not json");
    broken.close();
    model->load();
    QFile kept(Corvane::registryURL() + QStringLiteral(".unreadable"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{ not json"));
}

TEST_F(AppModelLoad, HelperBecomingUsableReloadsTabGroupsOnce) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"), QStringLiteral("Profile 1"));
    model->load();
    link->setState(State::connected);
    // The refresh runs just after the probe's callback, not inside it.
    EXPECT_FALSE(model->helperRunning());
    environment.time().runUntilIdle();
    EXPECT_TRUE(model->helperRunning());
    EXPECT_FALSE(model->helperTrusted());
    EXPECT_TRUE(link->requests.empty());

    link->pushTrust(true);
    environment.time().runUntilIdle();
    EXPECT_TRUE(model->helperTrusted());
    ASSERT_EQ(link->requests.size(), 1u);
    EXPECT_EQ(link->requests[0].request.profileDirectory, QStringLiteral("Profile 1"));
    link->answerTabGroups({});
    environment.time().runUntilIdle();

    link->pushTrust(true);
    environment.time().runUntilIdle();
    EXPECT_TRUE(link->requests.empty());
}

TEST_F(AppModelLoad, SwitchingHelperUseOffShowsTheSystemPage) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"), QStringLiteral("Profile 1"));
    model->load();
    connectTrustedHelper();
    link->answerTabGroups({TabGroupInfo{QStringLiteral("Sprint"), true, false, 1}});
    environment.time().runUntilIdle();
    editName(QStringLiteral("Unsaved"));

    environment.setDisablesHelper(true);
    model->helperUseChanged();
    environment.time().runUntilIdle();
    EXPECT_EQ(link->shutdowns, 1);
    EXPECT_FALSE(model->helperRunning());
    EXPECT_FALSE(model->helperTrusted());
    EXPECT_FALSE(model->canCreateProxyApps());
    EXPECT_TRUE(model->tabGroups().isEmpty());
    EXPECT_EQ(model->selection(), Selection::system());
    EXPECT_FALSE(model->unsavedPrompt().has_value());

    environment.setDisablesHelper(false);
    model->helperUseChanged();
    EXPECT_EQ(link->connects, 2);
    EXPECT_TRUE(model->canCreateProxyApps());
}

// The helper's status is asked again every few seconds: an answer that changes nothing announces nothing,
// so the window redraws nothing; a change is announced.
TEST_F(AppModelLoad, AHelperStatusThatDidNotChangeAnnouncesNothing) {
    model->load();
    connectTrustedHelper();
    test::SignalCount running(model.get(), &AppModel::helperRunningChanged);
    test::SignalCount trusted(model.get(), &AppModel::helperTrustedChanged);
    test::SignalCount disabled(model.get(), &AppModel::helperDisabledChanged);
    test::SignalCount available(model.get(), &AppModel::canCreateProxyAppsChanged);
    for (int poll = 0; poll < 3; ++poll) {
        link->pushTrust(true);
        environment.time().runUntilIdle();
    }
    EXPECT_EQ(running.count() + trusted.count() + disabled.count() + available.count(), 0);

    link->pushTrust(false);
    environment.time().runUntilIdle();
    EXPECT_EQ(trusted.count(), 1);
    EXPECT_FALSE(model->helperTrusted());
}

TEST_F(AppModelLoad, HistoryNewsReachesTheCallbackJustAfter) {
    int calls = 0;
    model->onRoutingHistoryChanged = [&] { ++calls; };
    model->load();
    link->push(Event(Event::Kind::routingHistoryChanged));
    EXPECT_EQ(calls, 0);
    environment.time().runUntilIdle();
    EXPECT_EQ(calls, 1);
}

TEST_F(AppModelLoad, GrantRepairReportsACleanedEntryOnlyWhenTheResetWorked) {
    model->load();
    environment.runner().exitWith(QStringLiteral("/usr/bin/tccutil"), 1, QStringLiteral("No such bundle"));
    EXPECT_EQ(model->repairHelperGrant(), QStringLiteral("/usr/bin/tccutil failed (1): No such bundle"));
    EXPECT_FALSE(model->statusMessage().has_value());

    environment.runner().exitWith(QStringLiteral("/usr/bin/tccutil"), 0, {});
    EXPECT_EQ(model->repairHelperGrant(), std::nullopt);
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("Cleared the helper's Accessibility entry. Grant it again when prompted."));
}

TEST_F(AppModelLoad, GrantRepairWithHelperUseOffIsNeitherAFailureNorACleanedEntry) {
    model->load();
    environment.setDisablesHelper(true);
    EXPECT_EQ(model->repairHelperGrant(), std::nullopt);
    EXPECT_FALSE(model->statusMessage().has_value());
    EXPECT_FALSE(model->errorMessage().has_value());
    EXPECT_TRUE(environment.runner().argumentsOf(QStringLiteral("/usr/bin/tccutil")).empty());
}

} // namespace
