#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

#include "link/Clock.h"

// A clock for tests: a sleep moves the tick count on at once, so waits cost no real time.
// Threads that join it keep time together: a joined thread's sleep ends when the count reaches
// its end, and the count moves on to the earliest such end only once no joined thread is
// awake, so lamps served side by side each see the time their own exchanges take. A thread
// that has not joined (a test's own) moves the count on by itself, as before.
// Safe to share between the controller thread, its workers, simulated lamps and the test thread.
class FakeClock : public Clock {
  public:
    explicit FakeClock(std::uint32_t start = 1000) : now_(start) {}
    std::uint32_t TickCount() override { return static_cast<std::uint32_t>(now_.load()); }
    void Sleep(std::uint32_t ms) override;
    // Moves the count on from outside, waking the joined threads whose sleep it ends.
    void Advance(std::uint32_t ms);
    void Join() override;
    void Leave() override;

  private:
    // Under the lock: when no joined thread is awake, jumps to the earliest end of a sleep.
    void MoveOn();
    // Under the lock: wakes every joined thread whose sleep has ended.
    void ReleaseEnded();
    // Let other threads run, as a real sleep would. A reply wait looks every millisecond, and
    // on a busy machine each yield can cost a whole time slice, so the shortest sleeps yield
    // only now and then.
    void YieldNowAndThen(std::uint32_t ms);

    std::atomic<std::uint64_t> now_;
    std::atomic<std::uint32_t> shortSleeps_{0};
    std::mutex mutex_;
    std::condition_variable woken_;
    // Joined threads not asleep, and the ends of the sleeps of those that are.
    int awake_ = 0;
    std::multiset<std::uint64_t> ends_;
};
