// Compares the colour searches with their step-by-step references in one run. The "ratio"
// counter is reference time over fast time for the same work, in thread CPU time.
#include <benchmark/benchmark.h>

#include <vector>

#include "Examplegamut.h"
#include "Timing.h"
#include "colour/Colorspro.h"
#include "colour/Diagramfill.h"

namespace {

bool SameFill(const std::vector<DiagramColour>& a, const std::vector<DiagramColour>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].n != b[i].n || a[i].R != b[i].R || a[i].G != b[i].G || a[i].B != b[i].B) {
            return false;
        }
    }
    return true;
}

// One view's fill (399 x 304 cells), both ways in each iteration.
void BM_DiagramFillRatio(benchmark::State& state) {
    const Ccolors model = ExampleGamutModel();
    const DiagramView view = state.range(0) == 0 ? kNormalView : kZoomedView;
    // One untimed round first, so that one-time set-up (tables, the output storage) is not
    // counted against either side.
    std::vector<DiagramColour> slow;
    std::vector<DiagramColour> quick;
    FillDiagram(model, view, quick);
    FillDiagramReference(model, view, slow);
    double reference = 0.0;
    double fast = 0.0;
    for (auto _ : state) {
        fast += Seconds([&] { FillDiagram(model, view, quick); });
        reference += Seconds([&] { FillDiagramReference(model, view, slow); });
        if (!SameFill(slow, quick)) {
            state.SkipWithError("fast fill differs from the reference");
            return;
        }
        benchmark::DoNotOptimize(quick.data());
    }
    state.counters["reference_ms"] =
        benchmark::Counter(reference * 1e3 / static_cast<double>(state.iterations()));
    state.counters["fast_ms"] =
        benchmark::Counter(fast * 1e3 / static_cast<double>(state.iterations()));
    state.counters["ratio"] = benchmark::Counter(reference / fast);
}
BENCHMARK(BM_DiagramFillRatio)->Arg(0)->Arg(1)->ArgName("zoomed")->Unit(benchmark::kMillisecond);

void BM_DiagramFillFast(benchmark::State& state) {
    const Ccolors model = ExampleGamutModel();
    std::vector<DiagramColour> cells;
    for (auto _ : state) {
        FillDiagram(model, kNormalView, cells);
        benchmark::DoNotOptimize(cells.data());
    }
}
BENCHMARK(BM_DiagramFillFast)->Unit(benchmark::kMillisecond);

// The 100,000 targets of a 0.01..0.7 grid, as XYZ at unit luminance.
std::vector<ColorTriple> TemperatureTargets() {
    std::vector<ColorTriple> targets;
    constexpr int kSide = 317;
    for (int i = 0; i < kSide; ++i) {
        for (int j = 0; j < kSide && targets.size() < static_cast<std::size_t>(WorkSize(100000));
             ++j) {
            const auto x = static_cast<float>(0.01 + 0.69 * i / (kSide - 1));
            const auto y = static_cast<float>(0.01 + 0.69 * j / (kSide - 1));
            targets.push_back(XyYToXyz(x, y, 1.0f));
        }
    }
    return targets;
}

// The whole grid both ways in each iteration; results must agree target by target.
void BM_NearestTemperatureRatio(benchmark::State& state) {
    static const std::vector<ColorTriple> targets = TemperatureTargets();
    std::vector<int> slow(targets.size());
    std::vector<int> quick(targets.size());
    double reference = 0.0;
    double fast = 0.0;
    for (auto _ : state) {
        reference += Seconds([&] {
            for (std::size_t i = 0; i < targets.size(); ++i) {
                slow[i] = NearestTemperatureReference(targets[i].c0, targets[i].c1, targets[i].c2);
            }
        });
        fast += Seconds([&] {
            for (std::size_t i = 0; i < targets.size(); ++i) {
                quick[i] = NearestTemperature(targets[i].c0, targets[i].c1, targets[i].c2);
            }
        });
        if (slow != quick) {
            state.SkipWithError("fast temperature search differs from the reference");
            return;
        }
    }
    const auto calls = static_cast<double>(state.iterations() * targets.size());
    state.counters["targets"] = benchmark::Counter(static_cast<double>(targets.size()));
    state.counters["reference_us_per_call"] = benchmark::Counter(reference * 1e6 / calls);
    state.counters["fast_us_per_call"] = benchmark::Counter(fast * 1e6 / calls);
    state.counters["ratio"] = benchmark::Counter(reference / fast);
}
BENCHMARK(BM_NearestTemperatureRatio)->Iterations(1)->Unit(benchmark::kSecond);

void BM_NearestTemperatureFast(benchmark::State& state) {
    const ColorTriple t = XyYToXyz(0.33f, 0.33f, 1.0f);
    for (auto _ : state) {
        benchmark::DoNotOptimize(NearestTemperature(t.c0, t.c1, t.c2));
    }
}
BENCHMARK(BM_NearestTemperatureFast);

}  // namespace
