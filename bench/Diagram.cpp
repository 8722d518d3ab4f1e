// The diagram's redraw after a pointer move against building one of its cached views, in one
// run. The "ratio" counter is build time over redraw time, in thread CPU time.
#include "window/Diagram.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>

#include "Examplegamut.h"
#include "Timing.h"

namespace {

constexpr Chromaticity kWhitePoint{0.345741f, 0.358666f};

// Each iteration builds one view, then follows a drag of 64 pointer moves across the plot,
// each picked and redrawn with the triangle, the crosshair and a transition ring.
void BM_DiagramRedrawRatio(benchmark::State& state) {
    const bool zoomed = state.range(0) != 0;
    Diagram diagram(kExampleCorners, QString());
    DiagramLamp lamp;
    lamp.gamut = kExampleGamut;
    lamp.transitionX = 0.40f;
    lamp.transitionY = 0.38f;
    lamp.transitionTimeLeft = 12;
    if (zoomed) diagram.Press(451, 47, false);
    QImage shown;
    // The first redraw builds the cached views; it is left out of both figures.
    diagram.Redraw(shown, 0.33f, 0.33f, lamp, 1);
    const DiagramView& view = zoomed ? kZoomedView : kNormalView;
    constexpr int kMoves = 64;
    double build = 0.0;
    double redraw = 0.0;
    for (auto _ : state) {
        build += Seconds([&] {
            QImage view_image = diagram.BuildView(view);
            benchmark::DoNotOptimize(view_image.constBits());
        });
        redraw += Seconds([&] {
            for (int i = 0; i < kMoves; ++i) {
                const DiagramPick pick =
                    diagram.Pick(60 + 5 * i, 280 - 4 * i, lamp.gamut, kWhitePoint);
                const DiagramLabels labels = diagram.Redraw(shown, pick.x, pick.y, lamp, i % 5);
                benchmark::DoNotOptimize(labels.transition);
            }
        });
        benchmark::DoNotOptimize(shown.constBits());
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["build_ms"] = benchmark::Counter(build * 1e3 / iterations);
    state.counters["redraw_us"] = benchmark::Counter(redraw * 1e6 / (iterations * kMoves));
    state.counters["ratio"] = benchmark::Counter(build * kMoves / redraw);
}
BENCHMARK(BM_DiagramRedrawRatio)->Arg(0)->Arg(1)->ArgName("zoomed")->Unit(benchmark::kMillisecond);

}  // namespace

// Text is drawn with the application's fonts, so an application must exist; no display needed.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
