// The creator app's start-up, from its models' creation to every list loaded: 50 registered proxy apps, 100
// rules and 500 recent links on disk. The symbol catalog's background load is not part of it.
#include "Corvane/Models/CreatorApp.h"
#include "CreatorFixtures.h"
#include "Figures.h"
#include "Rig.h"
#include "Support/FakeHelperConnection.h"
#include "Support/ModelEnvironment.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

void writeFixtures(test::ModelEnvironment& environment) {
    environment.installHelperCopy();
    bench::registerProxyApps(environment.applications(), 50, [](int i) {
        return StubConfig(QStringLiteral("Profile %1").arg(i), QStringLiteral("Profile"));
    });
    bench::writeRules(100);
    bench::writeRecentLinks(500);
}

void creatorStartup(benchmark::State& state) {
    test::ModelEnvironment environment;
    writeFixtures(environment);
    for (auto _ : state) {
        auto link = std::make_shared<test::FakeHelperConnection>();
        CreatorApp creator(link);
        creator.model().installHelper = [](bool) { return false; };
        creator.model().loadSymbolCatalog = {};
        state.PauseTiming();
        bench::touchStores();
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
    bench::HomeRig<> rig(argc, argv);
    return bench::main(argc, argv,
                       {
                           {"creatorStartup", "time", "<", 100, "ms"},
                       });
}
