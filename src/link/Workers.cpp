#include "link/Workers.h"

CWorkers::CWorkers(Clock& clock) : clock_(clock) {}

CWorkers::~CWorkers() {
    Stop();
}

void CWorkers::RunAll(const std::vector<std::function<void()>>& jobs) {
    if (jobs.empty()) return;
    const std::size_t others = jobs.size() - 1;
    if (others == 0) {
        jobs.front()();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        while (threads_.size() < others) {
            jobs_.push_back(nullptr);
            threads_.emplace_back([this, index = threads_.size()] { Serve(index); });
        }
        started_ = 0;
        finished_ = 0;
        for (std::size_t i = 0; i < others; ++i) jobs_[i] = &jobs[i + 1];
    }
    posted_.notify_all();
    {
        // Every job has joined the clock before this thread's own job can let time pass, so
        // on a simulated clock all of them start at the same moment.
        std::unique_lock lock(mutex_);
        progress_.wait(lock, [&] { return started_ == others; });
    }
    jobs.front()();
    // Waiting for the others is no sleep: the clock must not wait for this thread meanwhile.
    clock_.Leave();
    {
        std::unique_lock lock(mutex_);
        progress_.wait(lock, [&] { return finished_ == others; });
    }
    clock_.Join();
}

void CWorkers::Serve(std::size_t index) {
    std::unique_lock lock(mutex_);
    for (;;) {
        posted_.wait(lock, [&] { return stop_ || jobs_[index] != nullptr; });
        if (stop_) return;
        const std::function<void()>* job = jobs_[index];
        lock.unlock();
        clock_.Join();
        lock.lock();
        ++started_;
        progress_.notify_all();
        lock.unlock();
        (*job)();
        clock_.Leave();
        lock.lock();
        jobs_[index] = nullptr;
        ++finished_;
        progress_.notify_all();
    }
}

void CWorkers::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    posted_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    std::lock_guard lock(mutex_);
    threads_.clear();
    jobs_.clear();
    stop_ = false;
}
