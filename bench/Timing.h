#pragma once
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "link/Dispatch.h"
#include "link/Light.h"
#include "sim/Simlamp.h"

// CPU time of this thread, so that other load on the machine does not skew a ratio.
inline double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The thread CPU time one piece of work takes.
template <typename Work>
double Seconds(Work&& work) {
    const double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

// The tests run every benchmark once with VELTRA_BENCH_SMOKE set, to show that it still builds
// and runs; such a run does a small share of the work, so its figures mean nothing.
inline bool SmokeRun() {
    static const bool smoke = std::getenv("VELTRA_BENCH_SMOKE") != nullptr;
    return smoke;
}

// How many items a benchmark works on: all of them, or at most 200 in a smoke run.
inline std::int64_t WorkSize(std::int64_t full) {
    return SmokeRun() ? std::min<std::int64_t>(full, 200) : full;
}

// Wall time since start, in milliseconds: for work that waits on the wire, where CPU time
// would leave the waiting out.
inline double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The lamp link's benchmarks set the time taken against the least the wire allows at the run
// rate: a "ratio" of 1.0 would cost nothing beyond the wire, the send delay and the baud
// switch pause.
constexpr std::int32_t kRunBaud = 38400;
constexpr double kSendDelayMs = 5.0;
// One request and its reply, 40 bytes each, 10 bits a byte.
constexpr double kExchangeWireMs = 2 * 40 * 10 * 1000.0 / kRunBaud;
// One channel read: the send delay, then request and reply on the wire.
constexpr double kExchangeFloorMs = kSendDelayMs + kExchangeWireMs;

// The least the controller's connect takes for the frames it sent: each frame's exchange on
// the wire, the send delay before all but the power query's last two forms, which go without
// it, and the pause of the baud switch.
inline double ConnectFloorMs(std::size_t frames) {
    constexpr double kFramesWithoutDelay = 2;
    const auto sent = static_cast<double>(frames);
    return sent * kExchangeWireMs + std::max(sent - kFramesWithoutDelay, 0.0) * kSendDelayMs +
           CLightInput::kBaudSwitchMs;
}

// A simulated lamp at the run rate whose bytes take their time on the wire, sending no status
// of its own so that only the benchmark's own exchanges are timed.
inline SimLampOptions WireTimedOptions() {
    SimLampOptions options;
    options.RunBaud = kRunBaud;
    options.StatusIntervalMs = 0;
    options.WireTimed = true;
    return options;
}

// The window's side with nothing to draw: reports run where they are sent.
class InlineDispatcher : public Dispatcher {
  public:
    void Synchronize(const std::function<void()>& fn) override { fn(); }
    void ProcessMessages() override {}
};
