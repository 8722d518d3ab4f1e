#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>

// Makes a FIFO at path. Opening one for reading waits for a writer (and the other way round),
// the trap a reader of settings files must not fall into.
inline void MakeFifo(const std::string& path) {
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("cannot make FIFO " + path);
}

// Runs work on another thread and tells whether it returned within the time. When it did not,
// the FIFO is opened from both sides, so the stuck call returns and the test can still end.
template <class Work>
bool FinishesWithin(std::chrono::milliseconds time, const std::string& fifo, Work work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(time) == std::future_status::ready) return true;
    // A stuck reader wakes when a writer comes and goes; a stuck writer wakes when a reader
    // comes, which stays until the writer is done so that its writes do not raise SIGPIPE.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
    done.wait();
    if (reader >= 0) ::close(reader);
    return false;
}
