// The lamp link against the wire: a simulated lamp whose bytes take their time on the line, on
// the wall clock. Each benchmark runs the real thing and compares it, in the same run, with the
// least the wire allows: "ratio" is the time taken over that floor (1.0 would be a program that
// costs nothing beyond the wire, the send delay and the baud switch pause).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "link/Lamp.h"
#include "link/Light.h"
#include "settings/Channel.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"

namespace {

constexpr std::int32_t kRunBaud = 38400;
constexpr double kSendDelayMs = 5.0;
// One request and its reply, 40 bytes each, 10 bits a byte.
constexpr double kExchangeWireMs = 2 * 40 * 10 * 1000.0 / kRunBaud;
// The controller's connect sends the power query's last two forms without the send delay.
constexpr int kFramesWithoutDelay = 2;

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

std::vector<SimLampEntry> WireTimedLamps(SimBus& bus, int count) {
    SimLampOptions options;
    options.RunBaud = kRunBaud;
    options.StatusIntervalMs = 0;
    options.WireTimed = true;
    return AddSimLamps(bus, count, DefaultClock(), options);
}

// The window's side with nothing to draw: reports run where they are sent.
class InlineDispatcher : public Dispatcher {
  public:
    void Synchronize(const std::function<void()>& fn) override { fn(); }
    void ProcessMessages() override {}
};

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
    const double floorMs = kSendDelayMs + kExchangeWireMs;
    const double meanMs = tookMs / static_cast<double>(state.iterations());
    state.counters["exchange_ms"] = meanMs;
    state.counters["floor_ms"] = floorMs;
    state.counters["ratio"] = meanMs / floorMs;
}
BENCHMARK(BM_ChannelExchange)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

// The controller's whole connect of one lamp, from start to its connected report.
void BM_ConnectOneLamp(benchmark::State& state) {
    double tookMs = 0.0;
    double floorMs = 0.0;
    for (auto _ : state) {
        SimBus bus;
        const auto lamps = WireTimedLamps(bus, 1);
        CLightInput main(bus, DefaultClock(), "");
        InlineDispatcher dispatch;
        CLampState controller(main, bus, dispatch);
        std::atomic<bool> connected{false};
        std::atomic<double> ms{0.0};
        std::size_t frames = 0;
        const auto start = std::chrono::steady_clock::now();
        // Runs on the controller's thread once the connect is done, before anything else goes out.
        controller.OnConnected = [&] {
            ms = MsSince(start);
            frames = lamps[0].Lamp->Commands().size();
            connected = true;
        };
        controller.Start(kRunBaud);
        while (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!controller.IsConnected()) state.SkipWithError("the simulated lamp did not connect");
        controller.StopAndWait();
        state.SetIterationTime(ms / 1000.0);
        tookMs += ms;
        floorMs += static_cast<double>(frames) * kExchangeWireMs +
                   static_cast<double>(frames - kFramesWithoutDelay) * kSendDelayMs +
                   CLightInput::kBaudSwitchMs;
        state.counters["frames"] = static_cast<double>(frames);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["connect_ms"] = tookMs / n;
    state.counters["floor_ms"] = floorMs / n;
    state.counters["ratio"] = tookMs / floorMs;
}
BENCHMARK(BM_ConnectOneLamp)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
