#include "Corvane/Models/RoutingModel.h"
#include "Support/ModelEnvironment.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

RecentLink linkFrom(const std::optional<QString>& bundleID, const std::optional<QString>& name) {
    RecentLink link;
    link.id = QUuid::createUuid();
    link.url = QStringLiteral("https://example.com");
    link.sourceBundleID = bundleID;
    link.sourceName = name;
    return link;
}

host::RunningApplication running(const QString& bundleID, const QString& name, bool regular = true) {
    host::RunningApplication app;
    app.processIdentifier = 100;
    app.bundleIdentifier = bundleID;
    app.localizedName = name;
    app.isRegular = regular;
    return app;
}

TEST(SourceApps, SeenFirstThenRunningEachOnce) {
    test::ModelEnvironment environment;
    RoutingModel model;
    model.setRecentLinks({linkFrom(QStringLiteral("com.tinyspeck.slack"), QStringLiteral("Slack new")),
                          linkFrom(std::nullopt, std::nullopt), linkFrom(QString(), QStringLiteral("empty")),
                          linkFrom(QStringLiteral("com.tinyspeck.slack"), QStringLiteral("Slack old")),
                          linkFrom(QStringLiteral("app.corvane.x"), std::nullopt)});
    environment.workspace().addRunning(
        running(QStringLiteral("com.tinyspeck.slack"), QStringLiteral("Slack")));
    environment.workspace().addRunning(running(QStringLiteral("org.beta"), QStringLiteral("beta")));
    environment.workspace().addRunning(running(QStringLiteral("org.alpha"), QStringLiteral("Alpha")));
    environment.workspace().addRunning(running(QStringLiteral("org.agent"), QStringLiteral("Agent"), false));
    environment.workspace().addRunning(
        running(QStringLiteral("app.corvane.helper"), QStringLiteral("Helper")));
    environment.workspace().addRunning(running(QString(), QStringLiteral("Anonymous")));

    const std::vector<SourceApp> apps = model.sourceApps();
    const std::vector<SourceApp> expected{
        {QStringLiteral("app.corvane.x"), QStringLiteral("app.corvane.x"), true},
        {QStringLiteral("com.tinyspeck.slack"), QStringLiteral("Slack old"), true},
        {QStringLiteral("org.alpha"), QStringLiteral("Alpha"), false},
        {QStringLiteral("org.beta"), QStringLiteral("beta"), false},
    };
    EXPECT_EQ(apps, expected);
}

TEST(SourceApps, NamesFallBackToTheInstalledAppThenTheIdentifier) {
    test::ModelEnvironment environment;
    RoutingModel model;
    environment.workspace().addApplication(QStringLiteral("Mail"),
                                           test::FakeWorkspace::info(QStringLiteral("com.apple.mail")));
    EXPECT_EQ(model.sourceAppName(QStringLiteral("com.apple.mail")), QStringLiteral("Mail"));
    EXPECT_EQ(model.sourceAppName(QStringLiteral("org.unknown")), QStringLiteral("org.unknown"));
}

TEST(SourceApps, ChoosingAnApplication) {
    test::ModelEnvironment environment;
    const QString mail = environment.workspace().addApplication(
        QStringLiteral("Mail"), test::FakeWorkspace::info(QStringLiteral("com.apple.mail")));
    const QString folder = environment.workspace().root() + QStringLiteral("/Folder");
    QDir().mkpath(folder);
    environment.panels().applicationAnswers = {mail, folder, std::nullopt};

    EXPECT_EQ(RoutingModel::chooseSourceApp(),
              (SourceApp{QStringLiteral("com.apple.mail"), QStringLiteral("Mail"), false}));
    const host::OpenPanelOptions& shown = environment.panels().applicationPanels.front();
    EXPECT_EQ(shown.message, QStringLiteral("Which app should this rule match links from?"));
    EXPECT_EQ(shown.prompt, QStringLiteral("Choose"));
    EXPECT_EQ(shown.startDirectory, QStringLiteral("/Applications"));
    EXPECT_FALSE(RoutingModel::chooseSourceApp());
    EXPECT_FALSE(RoutingModel::chooseSourceApp());
}

} // namespace
