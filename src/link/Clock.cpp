#include "link/Clock.h"

#include <chrono>
#include <thread>

std::uint32_t SystemClock::TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::Sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

SystemClock& DefaultClock() {
    static SystemClock clock;
    return clock;
}
