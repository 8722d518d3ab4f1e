// The lamp following a drag, on lamps whose bytes take their time on the wire, on the wall
// clock: the pointer moves 100 times a second for ten seconds, each position going to the
// controller as the window sends a drag's point, and then the pointer is released. Compared in
// one run: how long a position takes to reach every lamp against the floor of one record write
// on the link, the record writes sent against the positions given, the release (after the long
// drag and ten short ones) against that floor, and eight lamps against one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Timing.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "settings/Channel.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kEventEveryMs = 10.0;
// The positions are told apart by the x they carry: the first one's, then one more each.
constexpr std::int32_t kFirstX = 10000;
// After the long drag, short ones of this many positions, each with its release.
constexpr int kShortDrags = 10;
constexpr int kShortDragPositions = 20;

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[at];
}

// When each lamp first held each x it was written, as its frames arrived.
class Arrivals {
  public:
    void Note(std::size_t lamp, std::int32_t x) {
        const auto now = Clock::now();
        std::lock_guard lock(mutex_);
        auto& seen = seen_[lamp];
        if (seen.empty() || seen.back().second != x) {
            seen.emplace_back(now, x);
            if (lamp == 0) ++writes_;
        }
    }
    // The first time every lamp held x or a later one; nullopt when one never did.
    std::optional<Clock::time_point> AllHeld(std::int32_t x, std::size_t lamps) const {
        std::lock_guard lock(mutex_);
        Clock::time_point latest{};
        for (std::size_t i = 0; i < lamps; ++i) {
            const auto it = seen_.find(i);
            if (it == seen_.end()) return std::nullopt;
            const auto hit = std::find_if(it->second.begin(), it->second.end(),
                                          [x](const auto& s) { return s.second >= x; });
            if (hit == it->second.end()) return std::nullopt;
            latest = std::max(latest, hit->first);
        }
        return latest;
    }
    int Writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }

  private:
    mutable std::mutex mutex_;
    std::map<std::size_t, std::vector<std::pair<Clock::time_point, std::int32_t>>> seen_;
    int writes_ = 0;
};

struct Drag {
    std::vector<double> latencyMs;  // each position to every lamp holding it or a later one
    int positions = 0;
    int writes = 0;                 // record writes the main lamp took during the drag
    std::vector<double> releaseMs;  // each release to every lamp holding its point
    double earlyMedianMs = 0.0;     // the first and the last second of the drag
    double lateMedianMs = 0.0;
};

// One drag of `seconds` on `count` connected lamps; false when the lamps did not connect.
bool RunDrag(int count, double seconds, Drag& drag) {
    SimBus bus;
    const std::vector<SimLampEntry> lamps =
        AddSimLamps(bus, count, DefaultClock(), WireTimedOptions());
    CLightInput main(bus, DefaultClock(), "");
    InlineDispatcher dispatch;
    CLampState controller(main, bus, dispatch);
    std::atomic<bool> connected{false};
    controller.OnConnected = [&] { connected = true; };
    controller.Start(kRunBaud);
    while (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!controller.IsConnected() || controller.LampCount() != count) return false;
    // Let the connect's own traffic end before the drag starts.
    while (controller.PendingChannel() != -1)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    Arrivals arrivals;
    for (std::size_t i = 0; i < lamps.size(); ++i) {
        lamps[i].Lamp->SetCommandHook([&arrivals, i](const SimLampCommand& c) {
            if (c.Cmd != CLightInput::kCmdWriteChannel) return;
            CChannel record;
            record.DecodeBlock(c.Data);
            arrivals.Note(i, record.ColorValues[7]);
        });
    }

    // Drags of `count` positions from x = `first` on, the pointer then released; the time from
    // each release to every lamp holding its point goes into drag.releaseMs.
    std::vector<Clock::time_point> given;
    const auto dragFrom = [&](std::int32_t first, int count) {
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(
                start +
                std::chrono::microseconds(static_cast<std::int64_t>(i * kEventEveryMs * 1000)));
            controller.EditCurrentRecord([&](CChannel& r) { r.ColorValues[7] = first + i; });
            given.push_back(Clock::now());
            controller.FollowCurrentChannel();
        }
        // The release: the setting itself, sent as the window's release sends it.
        const std::int32_t releaseX = first + count;
        controller.EditCurrentRecord([&](CChannel& r) { r.ColorValues[7] = releaseX; });
        const auto released = Clock::now();
        controller.ResendCurrentChannel();
        const auto limit = released + std::chrono::seconds(10);
        std::optional<Clock::time_point> held;
        while (!(held = arrivals.AllHeld(releaseX, lamps.size())) && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!held) return false;
        drag.releaseMs.push_back(
            std::chrono::duration<double, std::milli>(*held - released).count());
        return true;
    };
    const auto positions = static_cast<int>(seconds * 1000.0 / kEventEveryMs);
    drag.releaseMs.clear();
    bool done = dragFrom(kFirstX, positions);
    drag.positions = positions;
    drag.writes = arrivals.Writes() - 1;
    // A single release lands anywhere in the write under way; short drags give it more tries.
    const int shortDrags = SmokeRun() ? 2 : kShortDrags;
    for (int n = 0; done && n < shortDrags; ++n)
        done =
            dragFrom(kFirstX + positions + 1 + n * (kShortDragPositions + 1), kShortDragPositions);
    controller.StopAndWait();
    for (const SimLampEntry& lamp : lamps) lamp.Lamp->SetCommandHook(nullptr);
    if (!done) return false;

    drag.latencyMs.clear();
    for (int i = 0; i < positions; ++i) {
        const auto at = arrivals.AllHeld(kFirstX + i, lamps.size());
        if (!at) return false;
        drag.latencyMs.push_back(
            std::chrono::duration<double, std::milli>(*at - given[static_cast<std::size_t>(i)])
                .count());
    }
    const auto perSecond = static_cast<std::size_t>(1000.0 / kEventEveryMs);
    const std::size_t span = std::min(perSecond, drag.latencyMs.size());
    drag.earlyMedianMs = Percentile({drag.latencyMs.begin(), drag.latencyMs.begin() + span}, 0.5);
    drag.lateMedianMs = Percentile({drag.latencyMs.end() - span, drag.latencyMs.end()}, 0.5);
    return true;
}

// The floor: one record write on an idle link, request to the second reply.
double RecordWriteMs() {
    SimBus bus;
    const auto lamps = AddSimLamps(bus, 1, DefaultClock(), WireTimedOptions());
    CLightInput lamp(bus, DefaultClock(), "");
    if (lamp.Connect(19200, kRunBaud, static_cast<std::int32_t>(kSendDelayMs)) != CLightInput::kOk)
        return 0.0;
    std::vector<double> took;
    CChannel record(1);
    for (int i = 0; i < 10; ++i) {
        const auto start = Clock::now();
        if (!lamp.WriteChannel(record)) return 0.0;
        took.push_back(MsSince(start));
    }
    return Percentile(took, 0.5);
}

void BM_FollowDrag(benchmark::State& state) {
    // A smoke run drags for a moment, enough to show that the whole path still works.
    const double seconds = SmokeRun() ? 0.5 : 10.0;
    std::map<int, Drag> drags;
    double floorMs = 0.0;
    for (auto _ : state) {
        floorMs = RecordWriteMs();
        if (floorMs <= 0.0) {
            state.SkipWithError("the simulated lamp did not take a record");
            return;
        }
        for (const int count : {1, 8}) {
            if (!RunDrag(count, seconds, drags[count])) {
                state.SkipWithError("the drag did not reach every simulated lamp");
                return;
            }
        }
        state.SetIterationTime(seconds * 2);
    }
    state.counters["write_floor_ms"] = floorMs;
    for (const auto& [count, drag] : drags) {
        const std::string n = std::to_string(count);
        const double median = Percentile(drag.latencyMs, 0.5);
        const double p95 = Percentile(drag.latencyMs, 0.95);
        state.counters["lamps" + n + "_median_ms"] = median;
        state.counters["lamps" + n + "_p95_ms"] = p95;
        state.counters["lamps" + n + "_p95_per_floor"] = p95 / floorMs;
        state.counters["lamps" + n + "_writes_per_event"] =
            static_cast<double>(drag.writes) / static_cast<double>(drag.positions);
        state.counters["lamps" + n + "_late_per_early"] = drag.lateMedianMs / drag.earlyMedianMs;
        const double release = Percentile(drag.releaseMs, 0.5);
        const double slowestRelease = Percentile(drag.releaseMs, 1.0);
        state.counters["lamps" + n + "_release_median_ms"] = release;
        state.counters["lamps" + n + "_release_max_ms"] = slowestRelease;
        state.counters["lamps" + n + "_release_max_per_floor"] = slowestRelease / floorMs;
    }
    state.counters["p95_8_per_1"] =
        Percentile(drags[8].latencyMs, 0.95) / Percentile(drags[1].latencyMs, 0.95);
}
BENCHMARK(BM_FollowDrag)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
