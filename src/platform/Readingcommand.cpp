#include "platform/Readingcommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// Stops whatever is left of the command's group, the shell included, and collects the shell's
// exit. The group is stopped before the shell is collected, so that its number cannot yet
// belong to another process.
int Finish(pid_t child) {
    ::kill(-child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The shell has ended; it is left to be collected by Finish.
bool Ended(pid_t child) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == child;
}

}  // namespace

ReadingCommand::ReadingCommand(std::string command, int waitMs)
    : command_(std::move(command)), waitMs_(waitMs) {}

ReadingResult ReadingCommand::Read(std::stop_token stop) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {ReadingStatus::Failed,
                {},
                std::string("cannot run the reading command: ") + std::strerror(errno)};
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return {ReadingStatus::Failed,
                {},
                std::string("cannot run the reading command: ") + std::strerror(errno)};
    }
    if (child == 0) {
        // A group of its own, so that a stop reaches whatever the shell started.
        ::setpgid(0, 0);
        ::dup2(out[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, STDIN_FILENO);
        ::execl("/bin/sh", "sh", "-c", command_.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::setpgid(child, child);
    ::close(out[1]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs_);
    std::string text;
    bool line = false, ended = false, endless = false;
    // Until the first line, or until the output has ended and the shell with it: a tool that
    // closes its output and goes on running has the same time limit as one that prints nothing.
    while (!line && !endless && !(ended && Ended(child))) {
        if (stop.stop_requested()) {
            ::close(out[0]);
            Finish(child);
            return {ReadingStatus::Cancelled, {}, {}};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(out[0]);
            Finish(child);
            return {ReadingStatus::Failed,
                    {},
                    "the reading command gave no reading within " + std::to_string(waitMs_ / 1000) +
                        " s"};
        }
        if (ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[256];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended = true;
            continue;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        const std::size_t newline = text.find('\n');
        if (newline != std::string::npos) {
            text.resize(newline);
            line = true;
        }
        // A tool that prints without end is not a reading.
        endless = text.size() > 4096;
    }
    ::close(out[0]);
    // The first line is all that is read: the rest of the run, and anything it left running
    // in the background, ends here.
    const int status = Finish(child);
    if (endless)
        return {ReadingStatus::Failed,
                {},
                "the reading command printed no reading: \"" + text.substr(0, 80) + "...\""};
    if (!line && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        const std::string how = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                                  : "signal " + std::to_string(WTERMSIG(status));
        return {ReadingStatus::Failed, {}, "the reading command failed (" + how + ")"};
    }
    const std::optional<LightReading> reading = ParseReadingLine(text);
    if (!reading)
        return {ReadingStatus::Failed,
                {},
                "the reading command printed no reading: \"" + text.substr(0, 80) + "\""};
    return {ReadingStatus::Taken, *reading, {}};
}
