#pragma once
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "link/Clock.h"

// The lamp controller's helpers for serving several lamps at once: each round hands one job to
// each thread and waits until every job is done, so the jobs' lamps are only ever touched
// inside the round. Threads start when a round first needs them and are kept for the next.
class CWorkers {
  public:
    explicit CWorkers(Clock& clock);
    ~CWorkers();
    CWorkers(const CWorkers&) = delete;
    CWorkers& operator=(const CWorkers&) = delete;

    // Runs the jobs side by side, the first on the calling thread and each other on a thread of
    // its own, and returns when all have returned. The caller has joined the clock; every job
    // keeps time with it.
    void RunAll(const std::vector<std::function<void()>>& jobs);
    // Ends the threads; a later round starts new ones.
    void Stop();

  private:
    void Serve(std::size_t index);

    Clock& clock_;
    std::mutex mutex_;
    // Threads wait here for a job or the stop; the caller waits on progress_ for them.
    std::condition_variable posted_;
    std::condition_variable progress_;
    std::vector<std::thread> threads_;
    // The job handed to each thread this round; null while it has none.
    std::vector<const std::function<void()>*> jobs_;
    std::size_t started_ = 0;
    std::size_t finished_ = 0;
    bool stop_ = false;
};
