#include "sim/Scaledclock.h"

#include <algorithm>
#include <thread>

namespace {
// A count that starts above zero, as a machine's uptime does, so that no tick reads as unset.
constexpr std::uint64_t kStartTick = 1000;
}  // namespace

ScaledClock::ScaledClock(std::uint32_t factor)
    : factor_(std::max<std::uint32_t>(factor, 1)), start_(std::chrono::steady_clock::now()) {}

std::uint32_t ScaledClock::TickCount() {
    using namespace std::chrono;
    const auto real = duration_cast<microseconds>(steady_clock::now() - start_).count();
    return static_cast<std::uint32_t>(kStartTick +
                                      static_cast<std::uint64_t>(real) * factor_ / 1000);
}

void ScaledClock::Sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(
        std::chrono::microseconds(static_cast<std::uint64_t>(ms) * 1000 / factor_));
}
