#include "sim/Fakeclock.h"

#include <thread>

namespace {

// The clock the calling thread has joined, if any.
Clock*& JoinedClock() {
    thread_local Clock* clock = nullptr;
    return clock;
}

}  // namespace

void FakeClock::Sleep(std::uint32_t ms) {
    if (JoinedClock() != this || ms == 0) {
        Advance(ms);
        YieldNowAndThen(ms);
        return;
    }
    std::unique_lock lock(mutex_);
    const std::uint64_t end = now_.load() + ms;
    ends_.insert(end);
    --awake_;
    MoveOn();
    woken_.wait(lock, [&] { return now_.load() >= end; });
    lock.unlock();
    YieldNowAndThen(ms);
}

void FakeClock::Advance(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    now_.fetch_add(ms);
    ReleaseEnded();
}

void FakeClock::Join() {
    if (JoinedClock() == this) return;
    std::lock_guard lock(mutex_);
    ++awake_;
    JoinedClock() = this;
}

void FakeClock::Leave() {
    if (JoinedClock() != this) return;
    std::lock_guard lock(mutex_);
    --awake_;
    JoinedClock() = nullptr;
    MoveOn();
}

void FakeClock::MoveOn() {
    if (awake_ > 0 || ends_.empty()) return;
    if (*ends_.begin() > now_.load()) now_.store(*ends_.begin());
    ReleaseEnded();
}

void FakeClock::ReleaseEnded() {
    const auto ended = ends_.upper_bound(now_.load());
    if (ended == ends_.begin()) return;
    awake_ += static_cast<int>(std::distance(ends_.begin(), ended));
    ends_.erase(ends_.begin(), ended);
    woken_.notify_all();
}

void FakeClock::YieldNowAndThen(std::uint32_t ms) {
    if (ms > 1 || shortSleeps_.fetch_add(1) % 16 == 15) std::this_thread::yield();
}
