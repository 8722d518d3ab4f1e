#pragma once
#include <chrono>
#include <functional>
#include <thread>

// Asks every pollMs until the condition holds or ms have gone by; for tests that watch other
// threads or processes and have no event loop to run meanwhile.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 30000, int pollMs = 50) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}
