// The icon module's costs: one 1024-pixel corner-badge icon (the base image loaded once, as the icon writer
// does), one 128-pixel preview (a 64-point preview at twice the pixels), reading the symbol catalog, and
// building and installing one proxy app with the real tools (rebuilt in place on every iteration).
// Run from the build folder: Benchmarks/IconBenchmark (the app build needs build/Corvane.app).

#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "CorvaneIcon/AppBuilder.h"
#include "CorvaneIcon/IconRenderer.h"
#include "CorvaneIcon/SymbolCatalog.h"
#include "Figures.h"
#include "Rig.h"

#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <benchmark/benchmark.h>

namespace {

// Chrome's icon where it is installed, else a round stand-in of the same kind.
QImage baseImage() {
    if (const auto chrome = IconRenderer::chromeBaseImage())
        return *chrome;
    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(66, 133, 244));
    painter.drawEllipse(QRectF(8, 8, 240, 240));
    return image;
}

IconSpec iconDescription(StubConfig::IconStyle style) {
    return IconSpec(QStringLiteral("briefcase.fill"), *IconColor::fromHex("#1F6FEB"),
                    StubConfig::SymbolStyle::Auto, style);
}

void RenderBadge1024(benchmark::State& state) {
    const QImage base = baseImage();
    const IconSpec icon = iconDescription(StubConfig::IconStyle::Badge);
    for (auto _ : state)
        benchmark::DoNotOptimize(IconRenderer::render(icon, 1024, base));
}
BENCHMARK(RenderBadge1024)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void Preview128(benchmark::State& state) {
    const IconSpec icon = iconDescription(StubConfig::IconStyle::Segments);
    for (auto _ : state)
        benchmark::DoNotOptimize(IconRenderer::previewImage(icon, 64));
}
BENCHMARK(Preview128)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void LoadSymbolCatalog(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(SymbolCatalog::read(SymbolCatalog::resourceDirectory()));
}
BENCHMARK(LoadSymbolCatalog)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void BuildProxyApp(benchmark::State& state) {
    const QString creator = QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app");
    host::workspace().registerBundle(creator);
    AppBuilder::Request request;
    request.name = QStringLiteral("Work");
    request.bundleID = QStringLiteral("app.corvane.5e1f0a2b3c4d");
    request.config = StubConfig(QStringLiteral("Profile 1"), QStringLiteral("Work"));
    request.config.symbolName = QStringLiteral("briefcase.fill");
    request.destinationDirectory = QDir::homePath() + QStringLiteral("/Applications");
    request.replacing = request.destinationURL();
    for (auto _ : state)
        benchmark::DoNotOptimize(AppBuilder::build(request, QStringLiteral("-")));
}
BENCHMARK(BuildProxyApp)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    bench::HomeRig<> rig(argc, argv);
    return bench::main(argc, argv,
                       {
                           {"RenderBadge1024", "time", "<", 30, "ms"},
                           {"Preview128", "time", "<", 3, "ms"},
                           {"LoadSymbolCatalog", "time", "<", 50, "ms"},
                           {"BuildProxyApp", "time", "<", 500, "ms"},
                       });
}
