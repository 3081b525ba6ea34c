// The cost of one routing decision, and of the rule store's reload check when nothing changed.
//
// Decide/N: rule sets of N enabled rules, each with 3 conditions of 5 patterns (host patterns, "*." host
// patterns and path patterns), against a fixed mix of 10,000 links: most match one rule picked evenly
// over the set, the rest match none and so try every pattern. Each iteration decides one link of the mix;
// the counters give the median and the 99th percentile of single decisions over the whole mix.
// DecideNoMatch/N is the worst case: a link that no rule takes.
// ReloadUnchanged runs a fixed number of reload checks on an unchanged "rules.json", so the file-status calls
// can be counted from outside: strace -f -c -e trace=%stat LinkRouterBenchmark --benchmark_filter=Reload

#include "CorvaneCore/Routing/LinkRouter.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "Figures.h"
#include "Support/TemporaryHome.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <random>

namespace {

constexpr int linkCount = 10000;

RuleSet makeRules(int ruleCount) {
    RuleSet set;
    for (int r = 0; r < ruleCount; ++r) {
        LinkRule rule{.name = QStringLiteral("Rule %1").arg(r),
                      .target = RouteTarget::browser("com.example.b")};
        QStringList hosts, wildcards, paths;
        for (int p = 0; p < 5; ++p) {
            hosts << QStringLiteral("site%1-%2.example.com").arg(r).arg(p);
            wildcards << QStringLiteral(" *.corp%1-%2.example.net ").arg(r).arg(p);
            paths << QStringLiteral("https://docs.example.org/team%1/page%2*").arg(r).arg(p);
        }
        rule.conditions = {{Condition::Kind::addresses, hosts},
                           {Condition::Kind::addresses, wildcards},
                           {Condition::Kind::addresses, paths}};
        set.rules.push_back(std::move(rule));
    }
    return set;
}

std::vector<QUrl> makeLinks(int ruleCount) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> ruleOf(0, ruleCount - 1);
    std::uniform_int_distribution<int> patternOf(0, 4);
    std::uniform_int_distribution<int> shape(0, 9);
    std::vector<QUrl> links;
    links.reserve(linkCount);
    for (int i = 0; i < linkCount; ++i) {
        const int r = ruleOf(random);
        const int p = patternOf(random);
        switch (shape(random)) {
        case 0:
        case 1:
        case 2:
            links.emplace_back(
                QStringLiteral("https://site%1-%2.example.com/some/path?q=%3").arg(r).arg(p).arg(i));
            break;
        case 3:
        case 4:
            links.emplace_back(QStringLiteral("https://www.corp%1-%2.example.net/").arg(r).arg(p));
            break;
        case 5:
        case 6:
            links.emplace_back(QStringLiteral("https://docs.example.org/team%1/page%2/x").arg(r).arg(p));
            break;
        default: // taken by no rule
            links.emplace_back(QStringLiteral("https://news%1.example.info/article/%2").arg(r).arg(i));
            break;
        }
    }
    return links;
}

void Decide(benchmark::State& state) {
    const int ruleCount = int(state.range(0));
    const RuleSet set = makeRules(ruleCount);
    const std::vector<QUrl> links = makeLinks(ruleCount);
    const std::optional<QString> source = QStringLiteral("com.apple.mail");

    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(LinkRouter::decide(links[next], source, set));
        next = (next + 1) % links.size();
    }

    // Single decisions over the whole mix, for the median.
    std::vector<double> nanoseconds;
    nanoseconds.reserve(links.size());
    for (const QUrl& url : links) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(LinkRouter::decide(url, source, set));
        nanoseconds.push_back(
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(nanoseconds.begin(), nanoseconds.end());
    state.counters["median_us"] = nanoseconds[nanoseconds.size() / 2] / 1000.0;
    state.counters["p99_us"] = nanoseconds[nanoseconds.size() * 99 / 100] / 1000.0;
    state.counters["rules"] = ruleCount;
}
BENCHMARK(Decide)->Arg(25)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMicrosecond);

void DecideNoMatch(benchmark::State& state) {
    const RuleSet set = makeRules(int(state.range(0)));
    const QUrl url(QStringLiteral("https://unrelated.example.info/article/1?x=y"));
    for (auto _ : state)
        benchmark::DoNotOptimize(LinkRouter::decide(url, std::nullopt, set));
    state.counters["rules"] = double(state.range(0));
}
BENCHMARK(DecideNoMatch)->Arg(25)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMicrosecond);

void ReloadUnchanged(benchmark::State& state) {
    test::TemporaryHome home;
    RuleStore store;
    store.save(makeRules(100));
    for (auto _ : state)
        benchmark::DoNotOptimize(store.reloadIfChanged());
}
BENCHMARK(ReloadUnchanged)->Iterations(100000)->Unit(benchmark::kNanosecond);

} // namespace

int main(int argc, char** argv) {
    return bench::main(argc, argv,
                       {
                           {"Decide/100", "median_us", "<", 20, "us"},
                       });
}
