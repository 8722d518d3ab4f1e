// The lamp link against the wire: a simulated lamp whose bytes take their time on the line, on
// the wall clock. Each benchmark runs the real thing and compares it, in the same run, with the
// least the wire allows: "ratio" is the time taken over that floor (1.0 would be a program that
// costs nothing beyond the wire, the send delay and the baud switch pause). With several lamps
// it compares eight lamps with one instead.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
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

std::vector<SimLampEntry> WireTimedLamps(SimBus& bus, int count) {
    return AddSimLamps(bus, count, DefaultClock(), WireTimedOptions());
}

// One channel read at the run rate: send delay, request, lamp, reply.
void BM_ChannelExchange(benchmark::State& state) {
    SimBus bus;
    const auto lamps = WireTimedLamps(bus, 1);
    CLightInput lamp(bus, DefaultClock(), "");
    if (lamp.Connect(19200, kRunBaud, static_cast<std::int32_t>(kSendDelayMs)) !=
        CLightInput::kOk) {
        state.SkipWithError("the simulated lamp did not connect");
        return;
    }
    CChannel record(1);
    double tookMs = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool answered = lamp.ReadChannel(record);
        const double ms = MsSince(start);
        if (!answered) state.SkipWithError("the simulated lamp did not answer");
        state.SetIterationTime(ms / 1000.0);
        tookMs += ms;
    }
    const double meanMs = tookMs / static_cast<double>(state.iterations());
    state.counters["exchange_ms"] = meanMs;
    state.counters["floor_ms"] = kExchangeFloorMs;
    state.counters["ratio"] = meanMs / kExchangeFloorMs;
}
BENCHMARK(BM_ChannelExchange)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

// A controller with its lamps on the wire, on the wall clock, its reports counted where they run.
struct WiredController {
    explicit WiredController(int count) : lamps(WireTimedLamps(bus, count)) {
        controller.OnConnected = [this] {
            // Runs on the controller's thread once the connect is done, before anything else
            // goes out.
            connectMs = MsSince(start);
            connected = true;
        };
        controller.OnStateChanged = [this] { ++changes; };
    }

    // The controller's whole connect, from start to its connected report; false when the lamps
    // did not all come up.
    bool Connect() {
        start = std::chrono::steady_clock::now();
        controller.Start(kRunBaud);
        while (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return controller.IsConnected() && controller.LampCount() == static_cast<int>(lamps.size());
    }

    // A channel change, from the window's request to the report that every lamp has it.
    double ChangeChannel(int n) {
        const int before = changes;
        const auto asked = std::chrono::steady_clock::now();
        controller.RequestChannel(n);
        while (changes == before || controller.PendingChannel() != -1)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        return MsSince(asked);
    }

    SimBus bus;
    std::vector<SimLampEntry> lamps;
    CLightInput main{bus, DefaultClock(), ""};
    InlineDispatcher dispatch;
    CLampState controller{main, bus, dispatch};
    std::chrono::steady_clock::time_point start;
    std::atomic<bool> connected{false};
    std::atomic<double> connectMs{0.0};
    std::atomic<int> changes{0};
};

// The controller's whole connect of one lamp, from start to its connected report.
void BM_ConnectOneLamp(benchmark::State& state) {
    double tookMs = 0.0;
    double floorMs = 0.0;
    for (auto _ : state) {
        WiredController rig(1);
        if (!rig.Connect()) state.SkipWithError("the simulated lamp did not connect");
        const std::size_t frames = rig.lamps[0].Lamp->Commands().size();
        rig.controller.StopAndWait();
        state.SetIterationTime(rig.connectMs / 1000.0);
        tookMs += rig.connectMs;
        floorMs += ConnectFloorMs(frames);
        state.counters["frames"] = static_cast<double>(frames);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["connect_ms"] = tookMs / n;
    state.counters["floor_ms"] = floorMs / n;
    state.counters["ratio"] = tookMs / floorMs;
}
BENCHMARK(BM_ConnectOneLamp)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Several lamps served at once: the controller's connect and a channel change reaching every
// lamp, each with 1, 2, 4 and 8 lamps; "ratio" is 8 lamps against 1 (1.0 would be lamps that
// cost nothing one beside the other). A change is the median of several, so that the status
// poll a request may have to wait behind does not decide the figure.
void BM_ManyLamps(benchmark::State& state) {
    constexpr int kCounts[] = {1, 2, 4, 8};
    constexpr int kChanges = 15;
    std::map<int, double> connectMs;
    std::map<int, double> changeMs;
    double tookMs = 0.0;
    for (auto _ : state) {
        for (const int count : kCounts) {
            WiredController rig(count);
            if (!rig.Connect()) {
                state.SkipWithError("the simulated lamps did not all connect");
                return;
            }
            std::vector<double> changes;
            for (int i = 0; i < kChanges; ++i) changes.push_back(rig.ChangeChannel(1 + i % 10));
            rig.controller.StopAndWait();
            connectMs[count] = rig.connectMs;
            changeMs[count] = Median(changes);
            tookMs += rig.connectMs;
        }
    }
    state.SetIterationTime(tookMs / 1000.0);
    for (const int count : kCounts) {
        state.counters["connect_" + std::to_string(count) + "_ms"] = connectMs[count];
        state.counters["change_" + std::to_string(count) + "_ms"] = changeMs[count];
    }
    state.counters["connect_ratio"] = connectMs[8] / connectMs[1];
    state.counters["change_ratio"] = changeMs[8] / changeMs[1];
}
BENCHMARK(BM_ManyLamps)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
