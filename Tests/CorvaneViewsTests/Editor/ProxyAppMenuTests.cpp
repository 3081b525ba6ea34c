// The per-app menu offered for each state of a proxy app, and what its entries do.
#include "Corvane/Views/Editor/ProxyAppMenu.h"
#include "Support/AppModelFixture.h"

#include <QDir>

namespace {

using Selection = AppModel::Selection;
using Titles = std::vector<QString>;

class ProxyAppMenu : public test::AppModelFixture {
protected:
    Titles titles(const Selection& item) { return entryTitles(proxyAppMenuItems(*model, item)); }
    void choose(const Selection& item, const QString& title) {
        const auto entries = proxyAppMenuItems(*model, item);
        const MenuEntry* entry = findEntry(entries, title);
        ASSERT_NE(entry, nullptr) << title.toStdString();
        entry->action();
    }
};

TEST_F(ProxyAppMenu, EntriesFollowTheAppsState) {
    installApp(QStringLiteral("Current"), QStringLiteral("app.corvane.current"));
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 3);
    const RegisteredApp gone = installApp(QStringLiteral("Gone"), QStringLiteral("app.corvane.gone"));
    model->load();
    QDir(gone.path).removeRecursively();
    model->navigate(AppModel::PendingNavigation::newApp());
    const QUuid draft = model->drafts()[0].id;

    EXPECT_EQ(titles(Selection::saved(QStringLiteral("app.corvane.old"))),
              (Titles{"Duplicate", "Update to Latest", "-", "Reveal in Finder", "Re-apply Icon", "-",
                      "Move to Trash…"}));
    EXPECT_EQ(titles(Selection::saved(QStringLiteral("app.corvane.current"))),
              (Titles{"Duplicate", "Reveal in Finder", "Re-apply Icon", "-", "Move to Trash…"}));
    EXPECT_EQ(titles(Selection::saved(QStringLiteral("app.corvane.gone"))),
              (Titles{"Duplicate", "Locate…", "-", "Forget"}));
    EXPECT_TRUE(titles(Selection::saved(QStringLiteral("app.corvane.unknown"))).empty());
    EXPECT_EQ(titles(Selection::draft(draft)), (Titles{"Duplicate", "-", "Discard"}));
    EXPECT_TRUE(titles(Selection::rules()).empty());
    EXPECT_TRUE(titles(Selection::system()).empty());
    EXPECT_TRUE(titles(Selection::recentLinks()).empty());
}

TEST_F(ProxyAppMenu, WithoutProxyAppsThereIsNoDuplicateNorUpdate) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 3);
    environment.setDisablesHelper(true);
    model->load();
    ASSERT_FALSE(model->canCreateProxyApps());
    model->navigate(AppModel::PendingNavigation::newApp());

    EXPECT_EQ(titles(Selection::saved(QStringLiteral("app.corvane.old"))),
              (Titles{"Reveal in Finder", "Re-apply Icon", "-", "Move to Trash…"}));
    // A draft's menu then starts with the divider.
    EXPECT_EQ(titles(*model->selection()), (Titles{"-", "Discard"}));
}

TEST_F(ProxyAppMenu, UpdateIsDisabledDuringABuildAndEntriesReachTheModel) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 3);
    const RegisteredApp gone = installApp(QStringLiteral("Gone"), QStringLiteral("app.corvane.gone"));
    model->load();
    QDir(gone.path).removeRecursively();
    const Selection old = Selection::saved(QStringLiteral("app.corvane.old"));

    // Forgotten before the rebuild: the registry may take a rebuilt bundle for the vanished one.
    choose(Selection::saved(QStringLiteral("app.corvane.gone")), QStringLiteral("Forget"));
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("Removed Gone from the list. The app itself was left alone."));
    EXPECT_EQ(app(QStringLiteral("app.corvane.gone")), nullptr);

    // Held while the menu is read: the fake build replaces the bundle on disk, where the menu looks.
    builder.hold();
    choose(old, QStringLiteral("Update to Latest"));
    const bool busy = model->isBusy();
    const auto entries = proxyAppMenuItems(*model, old);
    builder.release();
    ASSERT_TRUE(busy);
    ASSERT_NE(findEntry(entries, QStringLiteral("Update to Latest")), nullptr);
    EXPECT_FALSE(findEntry(entries, QStringLiteral("Update to Latest"))->enabled);
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(builder.requests().size(), 1u);

    choose(old, QStringLiteral("Reveal in Finder"));
    ASSERT_EQ(environment.desktop().revealed.size(), 1u);

    choose(old, QStringLiteral("Duplicate"));
    ASSERT_EQ(model->drafts().size(), 1u);
    EXPECT_EQ(model->drafts()[0].state.name, QStringLiteral("Old copy"));
    EXPECT_EQ(model->selection(), Selection::draft(model->drafts()[0].id));

    choose(*model->selection(), QStringLiteral("Discard"));
    EXPECT_TRUE(model->drafts().empty());
}

} // namespace
