// The closed loop against "Load measurement" alone, on simulated lamps of different
// miscalibrations read by a simulated meter with scatter, stale and failed readings: the error
// left after sending the target once beside the error left by the loop, and the readings the
// loop takes. Both correction spaces run on the same lamps, targets and meters.
#include "match/Match.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "Timing.h"
#include "sim/Fakeclock.h"
#include "sim/Simlight.h"

namespace {

struct Case {
    LightReading Target;
    SimLightOptions Lamp;
    double OnSeconds = 0.0;
    std::uint32_t MeterSeed = 0;
};

// Targets spread over the lamp's stored triangle (kept a little inside its edges, where every
// lamp reaches), lux from 150 to 1500, on eight lamps whose errors grow from small to large.
std::vector<Case> Cases(int count) {
    const auto& stored = SimLight::Stored();
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Case> cases;
    for (int i = 0; i < count; ++i) {
        double a = unit(random), b = unit(random);
        if (a + b > 1.0) {
            a = 1.0 - a;
            b = 1.0 - b;
        }
        // Inset: 10 % of the way towards the centre.
        const double wr = 0.1 / 3 + 0.9 * a, wg = 0.1 / 3 + 0.9 * b, wb = 1.0 - wr - wg;
        Case c;
        c.Target.x = wr * stored[0].x + wg * stored[1].x + wb * stored[2].x;
        c.Target.y = wr * stored[0].y + wg * stored[1].y + wb * stored[2].y;
        // Lux up to a little under what the stored coefficients promise at this colour.
        const double reach = SimLight().Promised({c.Target.x, c.Target.y, 1e6}).lux;
        c.Target.lux = std::round(150.0 + (std::min(1500.0, 0.9 * reach) - 150.0) * unit(random));
        const int lamp = i % 8;
        c.Lamp.Seed = static_cast<std::uint32_t>(lamp + 1);
        c.Lamp.ChromaticityError = 0.002 + 0.0006 * lamp;
        c.Lamp.FluxError = 0.02 + 0.005 * lamp;
        c.OnSeconds = 1200.0 * unit(random);
        c.MeterSeed = static_cast<std::uint32_t>(1000 + i);
        cases.push_back(c);
    }
    return cases;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

double Worst(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

void BM_MatchLoop(benchmark::State& state) {
    const MatchSpace space = state.range(0) == 0 ? MatchSpace::UvLux : MatchSpace::Xyz;
    const std::vector<Case> cases = Cases(SmokeRun() ? 16 : 400);
    std::vector<double> openLoop, loop, readings;
    int matched = 0, worse = 0;
    for (auto _ : state) {
        openLoop.clear();
        loop.clear();
        readings.clear();
        matched = worse = 0;
        for (const Case& c : cases) {
            FakeClock clock{0};
            const SimLight light(c.Lamp);
            LightReading onLamp;
            auto now = [&] { return light.Emit(onLamp, c.OnSeconds + clock.TickCount() / 1000.0); };
            SimMeterOptions meterOptions;
            meterOptions.Seed = c.MeterSeed;
            meterOptions.StaleChance = 0.03;
            meterOptions.FailChance = 0.02;
            SimMeter meter(clock, now, meterOptions);
            MatchOptions options;
            options.Space = space;
            MatchLoop match(
                meter,
                [&](const LightReading& s) {
                    onLamp = s;
                    return SendResult{};
                },
                options);
            onLamp = c.Target;
            const double before = UvDistance(now(), c.Target);
            const MatchResult r = match.Run(c.Target);
            const double after = UvDistance(now(), c.Target);
            openLoop.push_back(before);
            loop.push_back(after);
            readings.push_back(r.Readings);
            if (r.Outcome == MatchOutcome::Matched || r.Outcome == MatchOutcome::WithinNoise)
                ++matched;
            // Worse: outside the tolerance and further off than sending the target once, by more
            // than the lamp's warm-up drifts in the few seconds the loop takes.
            if (after > before + 0.0001 && after > options.Tolerance) ++worse;
        }
    }
    state.counters["targets"] = static_cast<double>(cases.size());
    state.counters["open_duv_median"] = Median(openLoop);
    state.counters["open_duv_worst"] = Worst(openLoop);
    state.counters["loop_duv_median"] = Median(loop);
    state.counters["loop_duv_worst"] = Worst(loop);
    state.counters["readings_median"] = Median(readings);
    state.counters["readings_worst"] = Worst(readings);
    double total = 0.0;
    for (double n : readings) total += n;
    state.counters["readings_mean"] = total / static_cast<double>(readings.size());
    state.counters["matched_share"] =
        static_cast<double>(matched) / static_cast<double>(cases.size());
    state.counters["ended_worse"] = worse;
}
BENCHMARK(BM_MatchLoop)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("xyz")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
