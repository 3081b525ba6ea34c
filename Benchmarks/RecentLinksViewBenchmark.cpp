// The recent-links page with 500 links: one keystroke in its filter until the list is drawn again (the
// filter applied, the title and the visible rows repainted). Alternates typing a letter and deleting it, so
// every keystroke changes what is shown.
#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Routing/RecentLinksView.h"
#include "Figures.h"
#include "Rig.h"
#include "Support/FakeHelperConnection.h"
#include "Support/ModelEnvironment.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>
#include <benchmark/benchmark.h>

namespace {

std::vector<RecentLink> manyLinks(const QDateTime& now) {
    std::vector<RecentLink> links;
    for (int i = 0; i < 500; ++i) {
        RecentLink link;
        link.id = QUuid::createUuid();
        link.date = now.addSecs(-i * 600);
        link.url = QStringLiteral("https://site%1.example%2.com/path/to/page?item=%1").arg(i).arg(i % 7);
        link.sourceBundleID = QStringLiteral("com.example.source%1").arg(i % 20);
        link.sourceName = QStringLiteral("Source %1").arg(i % 20);
        link.targetBundleID = QStringLiteral("org.example.browser%1").arg(i % 5);
        link.targetName = QStringLiteral("Browser %1").arg(i % 5);
        if (i % 3) {
            link.ruleID = QUuid::createUuid();
            link.ruleName = QStringLiteral("Rule %1").arg(i % 40);
        }
        links.push_back(link);
    }
    return links;
}

void press(QWidget* field, int key, const QString& text) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(field, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(field, &up);
}

void filterKeystroke(benchmark::State& state) {
    test::ModelEnvironment environment;
    AppModel model(std::make_shared<test::FakeHelperConnection>());
    model.installHelper = [](bool) { return false; };
    model.loadSymbolCatalog = {};
    RoutingModel routing;
    routing.load();
    routing.setRecentLinks(manyLinks(environment.time().now()));
    RecentLinksView view(model, routing);
    view.resize(1100, 800);
    view.show();
    auto* field = view.findChild<QLineEdit*>(QStringLiteral("filterField"));
    auto* table = view.findChild<QTableView*>(QStringLiteral("linksTable"));
    field->setFocus();
    // "site1" to start with: the next letter narrows it, its deletion widens it again.
    for (const QChar c : QStringLiteral("site1"))
        press(field, 0, c);
    table->viewport()->repaint();
    // 111 links hold "site1", 11 hold "site12".
    if (table->model()->rowCount() != 111)
        state.SkipWithError("the filter did not apply");

    bool typing = true;
    for (auto _ : state) {
        if (typing)
            press(field, Qt::Key_2, QStringLiteral("2"));
        else
            press(field, Qt::Key_Backspace, QString());
        table->viewport()->repaint();
        view.repaint();
        typing = !typing;
    }
    if (field->text() != QStringLiteral("site1") && field->text() != QStringLiteral("site12"))
        state.SkipWithError("the keystrokes did not reach the filter");
}
BENCHMARK(filterKeystroke)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("TZ", "America/Los_Angeles");
    bench::HomeRig<QApplication> rig(argc, argv);
    return bench::main(argc, argv,
                       {
                           {"filterKeystroke", "time", "<", 16, "ms"},
                       });
}
