// The creator app's start-up, from its models' creation to every list loaded: 50 registered proxy apps, 100
// rules and 500 recent links on disk. The symbol catalog's background load is not part of it.
#include "Corvane/Models/CreatorApp.h"
#include "CorvaneCore/Foundation/JSONCoding.h"
#include "Figures.h"
#include "Support/FakeHelperConnection.h"
#include "Support/ModelEnvironment.h"
#include "Support/TemporaryHome.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <benchmark/benchmark.h>

namespace {

void writeFixtures(test::ModelEnvironment& environment) {
    environment.installHelperCopy();
    Registry registry;
    for (int i = 0; i < 50; ++i) {
        const QString bundleID = QStringLiteral("app.corvane.bench%1").arg(i);
        const QString path = environment.applications() + QStringLiteral("/App %1.app").arg(i);
        const StubConfig config(QStringLiteral("Profile %1").arg(i), QStringLiteral("Profile"));
        test::writeProxyBundle(path, bundleID, config);
        RegisteredApp app;
        app.bundleID = bundleID;
        app.name = QStringLiteral("App %1").arg(i);
        app.path = path;
        app.config = config;
        app.createdAt = QDateTime::currentDateTimeUtc();
        app.stubRevision = 7;
        registry.apps.push_back(app);
    }
    registry.save();

    RuleSet rules;
    for (int i = 0; i < 100; ++i) {
        Condition condition{Condition::Kind::addresses, {QStringLiteral("*.example%1.com").arg(i)}};
        rules.rules.push_back(LinkRule{QUuid::createUuid(),
                                       QStringLiteral("Rule %1").arg(i),
                                       RouteTarget::browser(QStringLiteral("org.mozilla.firefox")),
                                       true,
                                       MatchMode::any,
                                       {condition}});
    }
    RuleStore::shared().save(rules);

    QJsonArray links;
    for (int i = 0; i < 500; ++i) {
        RecentLink link;
        link.id = QUuid::createUuid();
        link.date = QDateTime::currentDateTimeUtc();
        link.url = QStringLiteral("https://example%1.com/page").arg(i);
        link.sourceBundleID = QStringLiteral("com.example.source%1").arg(i % 20);
        link.sourceName = QStringLiteral("Source %1").arg(i % 20);
        links.append(link.toJson());
    }
    Corvane::writeFileAtomically(Corvane::recentLinksURL(), JSONEncoder::corvane().encode(links));
}

void creatorStartup(benchmark::State& state) {
    test::ModelEnvironment environment;
    writeFixtures(environment);
    for (auto _ : state) {
        auto link = std::make_shared<test::FakeHelperConnection>();
        CreatorApp creator(link);
        creator.model().installHelper = [](bool) { return false; };
        creator.model().loadSymbolCatalog = {};
        // The process-wide stores read their files afresh, as at a real start: rewrite them unchanged.
        state.PauseTiming();
        for (const QString& path : {Corvane::rulesURL(), Corvane::recentLinksURL(), Corvane::settingsURL()}) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                Corvane::writeFileAtomically(path, file.readAll());
        }
        state.ResumeTiming();
        creator.start();
        benchmark::DoNotOptimize(creator.model().apps().size());
        benchmark::DoNotOptimize(creator.routing().recentLinks().size());
        if (creator.model().apps().size() != 50 || creator.routing().ruleSet().rules.size() != 100)
            state.SkipWithError("the lists did not load");
    }
}
BENCHMARK(creatorStartup)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    test::TemporaryHome home;
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    bench::runBenchmarks({
        {"creatorStartup", "time", "<", 100, "ms"},
    });
    return 0;
}
