#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "Poll.h"
#include "Tempdir.h"
#include "platform/Readingcommand.h"

namespace {

TEST(ReadingCommand, FirstLineIsTheReading) {
    struct Case {
        std::string command;
        ReadingStatus status;
        std::string problem;  // the start of it
        double lux;
    };
    const std::vector<Case> cases = {
        {"echo 0.3127 0.3290 500", ReadingStatus::Taken, "", 500},
        {"printf '95.047 100 108.883\\n'", ReadingStatus::Taken, "", 100},
        {"printf '0.31 0.33 250'", ReadingStatus::Taken, "", 250},
        // Only the first line counts, and the tool is not waited for after it.
        {"echo 0.31 0.33 400; echo 0.5 0.4 9; sleep 30", ReadingStatus::Taken, "", 400},
        {"echo 0.31 0.33 400; exit 2", ReadingStatus::Taken, "", 400},
        {"exit 3", ReadingStatus::Failed, "the reading command failed (exit 3)", 0},
        {"echo no light >&2; exit 1", ReadingStatus::Failed, "the reading command failed", 0},
        {"echo instrument busy", ReadingStatus::Failed,
         "the reading command printed no reading: \"instrument busy\"", 0},
        {"true", ReadingStatus::Failed, "the reading command printed no reading", 0},
        {"sleep 30", ReadingStatus::Failed, "the reading command gave no reading within", 0},
        // Output that ends without a line does not stretch the time limit: the tool still has
        // to end within it, and printing without end is no reading.
        {"exec >&-; sleep 30", ReadingStatus::Failed, "the reading command gave no reading within",
         0},
        {"printf '%05000d' 0; sleep 30", ReadingStatus::Failed,
         "the reading command printed no reading", 0},
    };
    for (const Case& c : cases) {
        ReadingCommand command(c.command, 1500);
        const auto start = std::chrono::steady_clock::now();
        const ReadingResult r = command.Read({});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.command;
        EXPECT_EQ(r.Status, c.status) << c.command;
        EXPECT_EQ(r.Problem.substr(0, c.problem.size()), c.problem)
            << c.command << ": " << r.Problem;
        if (r.Status == ReadingStatus::Taken) {
            EXPECT_DOUBLE_EQ(r.Light.lux, c.lux) << c.command;
        }
    }
}

// What the command left running in the background ends with its run, as it does after the
// first line.
TEST(ReadingCommand, NothingItStartedOutlivesTheRun) {
    TempDir dir;
    const std::string pidFile = dir.File("pid");
    for (const char* tail : {"printf '0.31 0.33 400'", "echo 0.31 0.33 400"}) {
        ReadingCommand command("sleep 30 >/dev/null 2>&1 & echo $! >" + pidFile + "; " + tail,
                               5000);
        ASSERT_EQ(command.Read({}).Status, ReadingStatus::Taken) << tail;
        const pid_t pid = std::stoi(ReadBytes(pidFile));
        // Gone, or a corpse its new parent has yet to collect.
        EXPECT_TRUE(WaitUntil(
            [&] {
                std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
                std::string line;
                std::getline(stat, line);
                const std::size_t close = line.rfind(')');
                return !stat || close == std::string::npos || line.substr(close + 2, 1) == "Z";
            },
            5000, 10))
            << tail;
    }
}

TEST(ReadingCommand, StopEndsTheRun) {
    ReadingCommand command("sleep 30", 60000);
    std::stop_source stop;
    stop.request_stop();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(command.Read(stop.get_token()).Status, ReadingStatus::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
