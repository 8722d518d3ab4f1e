#pragma once
#include <cstdint>

// Time as the lamp link sees it: a millisecond tick count and a sleep. Tests swap in a clock
// whose sleep only moves the count on, so a minute of lamp time passes in microseconds.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
    // Threads that talk to lamps side by side join the clock while they do: a simulated clock
    // then moves on only once every joined thread sleeps, so their waits overlap as they would
    // on the wall clock instead of adding up. The wall clock needs no such bookkeeping.
    virtual void Join() {}
    virtual void Leave() {}
};

// The wall clock: a monotonic tick count and a real sleep.
class SystemClock : public Clock {
  public:
    std::uint32_t TickCount() override;
    void Sleep(std::uint32_t ms) override;
};

// One wall clock for the whole program.
SystemClock& DefaultClock();
