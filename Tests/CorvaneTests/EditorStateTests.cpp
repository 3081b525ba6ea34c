#include "Corvane/Models/EditorState.h"
#include "Support/ModelEnvironment.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

RegisteredApp savedApp(const QString& folder, const QString& name, const QString& bundleID) {
    StubConfig config(QStringLiteral("Profile 1"), QStringLiteral("Work"));
    config.badgeColorHex = QStringLiteral("#1f2124");
    const QString path =
        test::writeProxyBundle(folder + QLatin1Char('/') + name + QStringLiteral(".app"), bundleID, config);
    RegisteredApp app;
    app.bundleID = bundleID;
    app.name = name;
    app.path = path;
    app.config = config;
    return app;
}

TEST(EditorStateNames, NameRulesApplyToTheTrimmedName) {
    EditorState state;
    auto problem = [&](const QString& name) {
        state.name = name;
        return state.nameProblem().value_or(QString());
    };
    EXPECT_EQ(problem(QStringLiteral("   \n")), QStringLiteral("Give the app a name."));
    EXPECT_EQ(problem(QString(60, QLatin1Char('a'))), QString());
    EXPECT_EQ(problem(QString(61, QLatin1Char('a'))), QStringLiteral("That name is too long."));
    // Sixty characters of two code points each still count as sixty.
    QString accented;
    for (int i = 0; i < 60; ++i)
        accented += QStringLiteral("e\u0301");
    EXPECT_EQ(problem(accented), QString());
    EXPECT_EQ(problem(QStringLiteral("a:b")), QStringLiteral("Names can't contain “/” or “:”."));
    EXPECT_EQ(problem(QStringLiteral("a/b")), QStringLiteral("Names can't contain “/” or “:”."));
    EXPECT_EQ(problem(QStringLiteral(" .hidden")), QStringLiteral("Names can't start with a dot."));
}

TEST(EditorStateNames, DefaultNameFollowsTabGroupThenProfile) {
    EditorState state;
    EXPECT_EQ(state.defaultName(), QString());
    state.profileName = QStringLiteral("Work");
    state.tabGroupName = QString();
    EXPECT_EQ(state.defaultName(), QStringLiteral("Chrome - Work"));
    state.tabGroupName = QStringLiteral("Sprint");
    EXPECT_EQ(state.defaultName(), QStringLiteral("Sprint"));
}

TEST(EditorStateNames, AnotherProfileDropsTheTabGroup) {
    EditorState state;
    state.setProfileDirectory(QStringLiteral("Default"));
    state.tabGroupName = QStringLiteral("Sprint");
    state.setProfileDirectory(QStringLiteral("Default"));
    EXPECT_EQ(state.tabGroupName, QStringLiteral("Sprint"));
    state.setProfileDirectory(QStringLiteral("Profile 1"));
    EXPECT_FALSE(state.tabGroupName.has_value());
}

TEST(EditorStateDirt, SavedAppIsCleanUntilSomethingThatCountsChanges) {
    test::ModelEnvironment environment;
    const RegisteredApp app =
        savedApp(environment.applications(), QStringLiteral("Work"), QStringLiteral("app.corvane.a"));
    EditorState state = EditorState::fromApp(app);
    EXPECT_FALSE(state.isDirty());
    EXPECT_FALSE(state.isDraft());

    state.name = QStringLiteral("  Work \n");
    EXPECT_FALSE(state.isDirty());
    EXPECT_FALSE(state.isRenamed());

    state.tabGroupName = QString(); // an empty group is no group
    EXPECT_FALSE(state.isDirty());

    state.badgeColor = *IconColor::fromHex(QStringLiteral("#1f2124 "));
    EXPECT_FALSE(state.isDirty());

    state.registerAsBrowser = true;
    EXPECT_TRUE(state.isDirty());
    state.registerAsBrowser = false;

    state.name = QStringLiteral("Work 2");
    EXPECT_TRUE(state.isDirty());
    EXPECT_TRUE(state.isRenamed());

    EXPECT_TRUE(EditorState().isDirty());
    EXPECT_FALSE(EditorState().isRenamed());
}

TEST(EditorStateDirt, LoadsTheBundlesBrowserDeclarationAndFolder) {
    test::ModelEnvironment environment;
    RegisteredApp app =
        savedApp(environment.applications(), QStringLiteral("Web"), QStringLiteral("app.corvane.w"));
    test::writeProxyBundle(app.path, app.bundleID, app.config, 7, true, true);
    const EditorState state = EditorState::fromApp(app);
    EXPECT_TRUE(state.registerAsBrowser);
    EXPECT_EQ(EditorState::plainPath(*state.destination), QDir::cleanPath(environment.applications()));
    EXPECT_EQ(state.nameEdited, true);
}

TEST(EditorStateBundles, HttpAloneIsNoBrowserDeclaration) {
    test::ModelEnvironment environment;
    const QString path = environment.applications() + QStringLiteral("/Http.app");
    QDir().mkpath(path + QStringLiteral("/Contents"));
    QVariantMap type;
    type.insert(QStringLiteral("CFBundleURLSchemes"),
                QVariantList{QStringLiteral("http"), QStringLiteral("HTTPS")});
    host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"),
                                QVariantMap{{QStringLiteral("CFBundleURLTypes"), QVariantList{type}}});
    EXPECT_FALSE(EditorState::declaresBrowserURLTypes(path));
    EXPECT_FALSE(
        EditorState::declaresBrowserURLTypes(environment.applications() + QStringLiteral("/None.app")));
}

TEST(EditorStateBundles, OccupiedOnlyByAnotherApplication) {
    test::ModelEnvironment environment;
    const QString folder = environment.applications();
    const RegisteredApp app = savedApp(folder, QStringLiteral("Work"), QStringLiteral("app.corvane.a"));
    savedApp(folder, QStringLiteral("Other"), QStringLiteral("app.corvane.other"));

    EditorState draft;
    draft.destination = QUrl::fromLocalFile(folder);
    draft.name = QStringLiteral("Work");
    EXPECT_TRUE(draft.occupiedByAnotherBundle());
    draft.name = QStringLiteral("Free");
    EXPECT_FALSE(draft.occupiedByAnotherBundle());

    EditorState saved = EditorState::fromApp(app);
    saved.destination = QUrl::fromLocalFile(folder + QStringLiteral("/./sub/.."));
    EXPECT_FALSE(saved.occupiedByAnotherBundle());
    saved.name = QStringLiteral("Other");
    EXPECT_TRUE(saved.occupiedByAnotherBundle());

    // A copy of this very app elsewhere is not another app.
    const QString elsewhere = folder + QStringLiteral("/elsewhere");
    savedApp(elsewhere, QStringLiteral("Work"), QStringLiteral("app.corvane.a"));
    saved.name = QStringLiteral("Work");
    saved.destination = QUrl::fromLocalFile(elsewhere);
    EXPECT_FALSE(saved.occupiedByAnotherBundle());

    // Something without an identifier is someone else's.
    QDir().mkpath(folder + QStringLiteral("/Plain.app"));
    saved.name = QStringLiteral("Plain");
    saved.destination = QUrl::fromLocalFile(folder);
    EXPECT_TRUE(saved.occupiedByAnotherBundle());
}

TEST(EditorStatePaths, FriendlyPathAbbreviatesOnlyTheHomeFolder) {
    const QString home = QDir::homePath();
    EXPECT_EQ(EditorState::friendlyPath(QUrl::fromLocalFile(home + QStringLiteral("/"))),
              QStringLiteral("~"));
    EXPECT_EQ(EditorState::friendlyPath(QUrl::fromLocalFile(home + QStringLiteral("/Applications"))),
              QStringLiteral("~/Applications"));
    EXPECT_EQ(EditorState::friendlyPath(QUrl::fromLocalFile(home + QStringLiteral("more"))),
              home + QStringLiteral("more"));
    EXPECT_EQ(EditorState::plainPath(QUrl::fromLocalFile(QStringLiteral("/"))), QStringLiteral("/"));
}

TEST(EditorStatePaths, RemembersTheLastFolder) {
    test::ModelEnvironment environment;
    EXPECT_FALSE(EditorState::rememberedDestination().has_value());
    const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/tmp/with space"));
    EditorState::setRememberedDestination(folder);
    EXPECT_EQ(EditorState::rememberedDestination(), folder);
    EditorState::setRememberedDestination(std::nullopt);
    EXPECT_FALSE(EditorState::rememberedDestination().has_value());
}

} // namespace
