#pragma once
#include <atomic>
#include <thread>

#include "link/Clock.h"

// A clock for tests: Sleep moves the tick count on at once, so waits cost no real time.
// Safe to share between the controller thread, a simulated lamp and the test thread.
class FakeClock : public Clock {
  public:
    explicit FakeClock(std::uint32_t start = 1000) : now_(start) {}
    std::uint32_t TickCount() override { return now_.load(); }
    void Sleep(std::uint32_t ms) override {
        now_.fetch_add(ms);
        // Let other threads run, as a real sleep would. A reply wait looks every millisecond,
        // and on a busy machine each yield can cost a whole time slice, so the shortest
        // sleeps yield only now and then.
        if (ms > 1 || shortSleeps_.fetch_add(1) % 16 == 15) std::this_thread::yield();
    }
    void Advance(std::uint32_t ms) { now_.fetch_add(ms); }

  private:
    std::atomic<std::uint32_t> now_;
    std::atomic<std::uint32_t> shortSleeps_{0};
};
