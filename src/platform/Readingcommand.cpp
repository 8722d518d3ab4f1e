#include "platform/Readingcommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

// Stops the command and everything it started, and collects its exit.
int Finish(pid_t child, bool kill) {
    if (kill) ::kill(-child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace

ReadingCommand::ReadingCommand(std::string command, int waitMs)
    : command_(std::move(command)), waitMs_(waitMs) {}

ReadingResult ReadingCommand::Read(std::stop_token stop) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {ReadingStatus::Failed, {}, std::string("cannot run the reading command: ") +
                                               std::strerror(errno)};
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return {ReadingStatus::Failed, {}, std::string("cannot run the reading command: ") +
                                               std::strerror(errno)};
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
    bool line = false, ended = false;
    while (!line && !ended) {
        if (stop.stop_requested()) {
            ::close(out[0]);
            Finish(child, true);
            return {ReadingStatus::Cancelled, {}, {}};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(out[0]);
            Finish(child, true);
            return {ReadingStatus::Failed, {},
                    "the reading command gave no reading within " +
                        std::to_string(waitMs_ / 1000) + " s"};
        }
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[256];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended = true;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        const std::size_t newline = text.find('\n');
        if (newline != std::string::npos) {
            text.resize(newline);
            line = true;
        }
        // A tool that prints without end is not a reading.
        if (text.size() > 4096) break;
    }
    ::close(out[0]);
    // The first line is all that is read: the rest of the run does not matter.
    const int status = Finish(child, line);
    if (!line && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        const std::string how = WIFEXITED(status)
                                    ? "exit " + std::to_string(WEXITSTATUS(status))
                                    : "signal " + std::to_string(WTERMSIG(status));
        return {ReadingStatus::Failed, {}, "the reading command failed (" + how + ")"};
    }
    const std::optional<LightReading> reading = ParseReadingLine(text);
    if (!reading)
        return {ReadingStatus::Failed, {},
                "the reading command printed no reading: \"" + text.substr(0, 80) + "\""};
    return {ReadingStatus::Taken, *reading, {}};
}
