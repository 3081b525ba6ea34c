// The rules page with 200 rules: one keystroke in the tester's link field until its answer is painted. The
// link matches only the last rule, so every keystroke runs the whole list.
#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Routing/RulesView.h"
#include "CreatorFixtures.h"
#include "Figures.h"
#include "Rig.h"
#include "Support/FakeHelperConnection.h"
#include "Support/ModelEnvironment.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <benchmark/benchmark.h>

namespace {

void writeRules() {
    RuleSet rules;
    for (int i = 0; i < 200; ++i)
        rules.rules.push_back(bench::addressRule(
            i, {QStringLiteral("*.example%1.com").arg(i), QStringLiteral("example%1.org/*").arg(i)}));
    RuleStore::shared().save(rules);
}

void rulesTesterKeystroke(benchmark::State& state) {
    test::ModelEnvironment environment;
    environment.workspace().addApplication(
        QStringLiteral("Firefox"), test::FakeWorkspace::browserInfo(QStringLiteral("org.mozilla.firefox")));
    writeRules();
    auto link = std::make_shared<test::FakeHelperConnection>();
    AppModel model(link);
    model.installHelper = [](bool) { return false; };
    model.loadSymbolCatalog = {};
    RoutingModel routing;
    model.load();
    routing.load();
    environment.time().runUntilIdle();

    RulesView view(model, routing);
    view.resize(760, 1000);
    view.show();
    QCoreApplication::processEvents();
    auto* field = view.findChild<QLineEdit*>(QStringLiteral("testLink"));
    auto* matches = view.findChild<QLabel*>(QStringLiteral("testMatches"));
    QTest::keyClicks(field, QStringLiteral("www.example199.com/"));
    QCoreApplication::processEvents();
    if (matches->text() != QStringLiteral("Rule 199"))
        state.SkipWithError("the tester did not find the last rule");
    // The answer must be on screen, or no paint would be measured.
    if (matches->visibleRegion().isEmpty())
        state.SkipWithError("the tester's answer is scrolled out of sight");

    bool typed = false;
    for (auto _ : state) {
        QTest::keyClick(field, typed ? Qt::Key_Backspace : Qt::Key_X);
        typed = !typed;
        // The answer reaches the screen with the paint of the changed labels.
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(matches->text());
    }
    if (matches->text() != QStringLiteral("Rule 199"))
        state.SkipWithError("the tester lost the match");
}
BENCHMARK(rulesTesterKeystroke)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    bench::HomeRig<QApplication> rig(argc, argv);
    return bench::main(argc, argv,
                       {
                           {"rulesTesterKeystroke", "time", "<", 5, "ms"},
                       });
}
