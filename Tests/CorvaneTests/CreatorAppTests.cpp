#include "Corvane/Models/CreatorApp.h"
#include "Support/AppModelFixture.h"
#include "Support/HelperDoubles.h"

#include <QFile>

namespace {

class CreatorAppTest : public test::AppModelFixture {
protected:
    std::shared_ptr<test::FakeApplication> application = std::make_shared<test::FakeApplication>();
    test::ServiceOverride<host::Application> applicationScope{host::services().application, application};
};

TEST_F(CreatorAppTest, StartUpWiresBothModelsBeforeLoading) {
    CreatorApp creator(link);
    creator.model().installHelper = [](bool) { return false; };
    creator.model().loadSymbolCatalog = {};
    creator.start();
    EXPECT_EQ(link->connects, 1);

    // The helper's news of a routed link republishes the links only when the file changed.
    int republished = 0;
    QObject::connect(&creator.routing(), &RoutingModel::recentLinksChanged, [&] { ++republished; });
    link->push(Event(Event::Kind::routingHistoryChanged));
    environment.time().runUntilIdle();
    EXPECT_EQ(republished, 0);
    RecentLink link;
    link.id = QUuid::createUuid();
    link.url = QStringLiteral("https://example.com");
    link.date = QDateTime::currentDateTimeUtc();
    RecentLinksStore().record(link);
    ASSERT_TRUE(QFile::exists(Corvane::recentLinksURL()));
    this->link->push(Event(Event::Kind::routingHistoryChanged));
    environment.time().runUntilIdle();
    EXPECT_EQ(republished, 1);
    EXPECT_EQ(creator.routing().recentLinks().size(), 1u);

    // The routing model's helper switch reaches the app model.
    environment.setDisablesHelper(true);
    creator.routing().onHelperUseChanged();
    EXPECT_TRUE(creator.model().helperDisabled());
}

TEST_F(CreatorAppTest, QuittingWaitsForARunningBuild) {
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    auto delegate = std::make_shared<CreatorAppDelegate>(*model);
    application->setDelegate(delegate);
    EXPECT_EQ(delegate->applicationShouldTerminate(), host::TerminateReply::terminateNow);

    editName(QStringLiteral("Office"));
    model->save();
    ASSERT_TRUE(model->isBusy());
    application->terminate();
    EXPECT_FALSE(application->terminated);
    EXPECT_TRUE(application->awaitingReply);
    ASSERT_TRUE(finishBuild());
    EXPECT_TRUE(application->terminated);
    EXPECT_EQ(model->apps()[0].name, QStringLiteral("Office"));
    EXPECT_TRUE(CreatorAppDelegate::applicationShouldTerminateAfterLastWindowClosed());
}

} // namespace
