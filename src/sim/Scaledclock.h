#pragma once
#include <chrono>
#include <cstdint>

#include "link/Clock.h"

// The wall clock run faster by a whole factor, for tests that need the controller and the lamps
// running but do not look at timing: a sleep takes 1/factor of its time and the tick count
// moves on factor times as fast, so every timing keeps its proportions while a connect's
// half-second pause costs a few milliseconds. Unlike a fake clock it still moves by itself, so
// a controller that idles between passes does not spin.
class ScaledClock : public Clock {
  public:
    explicit ScaledClock(std::uint32_t factor);
    std::uint32_t TickCount() override;
    void Sleep(std::uint32_t ms) override;

  private:
    std::uint32_t factor_;
    std::chrono::steady_clock::time_point start_;
};
