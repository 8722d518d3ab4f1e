#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Poll.h"
#include "Tempdir.h"
#include "Usbchip.h"
#include "link/Clock.h"
#include "settings/Channel.h"
#include "sim/Simlamp.h"

extern char** environ;

namespace {

// Runs a program with the test's environment plus `extra`; its pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extra,
            const std::string& output = {}) {
    std::vector<std::string> env = extra;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::vector<char*> envp, argv;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argsCopy = args;
    for (std::string& a : argsCopy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty())
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status, or -1 when the process did not end in time (it is killed then).
int Finish(pid_t pid, int ms = 30000) {
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, ms)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The program with SIMULATE 0 on emulated chips whose serial side is a simulated lamp each,
// driven by the D-Bus client as a user would.
class RealPath : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Usbchips::Available()) {
            if (Usbchips::Required()) FAIL() << "umockdev's preload is missing";
            GTEST_SKIP() << "no USB emulator: these run under umockdev-wrapper";
        }
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
            if (Usbchips::Required()) FAIL() << "no session bus";
            GTEST_SKIP() << "no session bus: these run under dbus-run-session";
        }
        chips_ = std::make_unique<Usbchips>();
        std::filesystem::create_directories(dir_.Path / "data");
        std::ofstream(dir_.Path / "data/options.xml")
            << "<OPTIONS><SIMULATE>0</SIMULATE><SPEED>38400</SPEED><LOG>1</LOG><C1S>1</C1S></"
               "OPTIONS>\n";
        program_ = (dir_.Path / "veltra-lamp").string();
        std::filesystem::copy_file(VELTRA_PROGRAM, program_);
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    void PlugLamps(int count) {
        SimLampOptions options;
        options.RunBaud = 38400;
        options.WireTimed = true;
        // Status frames often enough to meet replies on the line, so that a reply regularly
        // comes behind other bytes and crosses a packet boundary of the chip.
        options.StatusIntervalMs = 100;
        for (int n = 1; n <= count; ++n) {
            options.DeviceName = "VDL " + std::to_string(n);
            lamps_.push_back(std::make_shared<SimLamp>(DefaultClock(), options));
            chips_->Plug("VL00000" + std::to_string(n), "LED Lamp " + std::to_string(n),
                         lamps_.back());
        }
    }

    std::vector<std::string> Env() const {
        return {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir_.Path.string(),
                "HOME=" + dir_.Path.string()};
    }

    void Start() {
        pid_ = Spawn({program_}, Env());
        ASSERT_GT(pid_, 0);
    }

    // Runs the client to its end: its exit code and what it printed.
    std::pair<int, std::string> Client(const std::vector<std::string>& args) {
        std::vector<std::string> all = {VELTRA_LAMPCTL};
        all.insert(all.end(), args.begin(), args.end());
        const std::string out = (dir_.Path / "client.out").string();
        const int exit = Finish(Spawn(all, Env(), out));
        std::ifstream in(out);
        return {exit, std::string(std::istreambuf_iterator<char>(in), {})};
    }

    // The program's state as the client prints it, once it is connected and shows the main
    // lamp's channel; that channel, or -1.
    int WaitConnected() {
        int channel = -1;
        const bool connected = WaitUntil([&] {
            const auto [exit, out] = Client({"status", "--json"});
            const std::string key = "\"Channel\":";
            const std::size_t at = out.find(key);
            if (exit != 0 || out.find("\"Connected\":true") == std::string::npos ||
                at == std::string::npos)
                return false;
            channel = std::atoi(out.c_str() + at + key.size());
            // Connected comes a moment before the window has read the lamp's channel.
            return channel == lamps_[0]->State().CurrentChannel;
        });
        return connected ? channel : -1;
    }

    // The client shows the lamp on `chip` gone: no longer among the lamps held, and where it
    // was the main lamp, its loss given as the reason no lamp is connected.
    bool Noticed(int chip) {
        const auto [exit, out] = Client({"status", "--json"});
        const std::string serial = "\"VL00000" + std::to_string(chip + 1) + "\"";
        const bool connected = out.find("\"Connected\":true") != std::string::npos;
        return exit == 0 && out.find("\"LampSerials\":") != std::string::npos &&
               out.find(serial) == std::string::npos &&
               (connected || out.find("lost (unplugged?)") != std::string::npos);
    }

    // The colour temperature the lamp holds in its current channel.
    static int LampCct(const SimLamp& lamp) {
        const SimLampState state = lamp.State();
        CChannel c(state.CurrentChannel);
        c.DecodeBlock(state.Slots[static_cast<std::size_t>(state.CurrentChannel)]);
        return c.ColorValues[6];
    }

    // The protocol log from the given offset on.
    std::string Log(std::size_t from = 0) const {
        std::ifstream in(dir_.Path / "log.txt");
        const std::string log(std::istreambuf_iterator<char>(in), {});
        return from < log.size() ? log.substr(from) : std::string();
    }

    // Since logFrom, every reply the program waited for came whole, which status bytes left in
    // the data anywhere would prevent.
    void ExpectEveryReplyWhole(std::size_t logFrom) {
        const std::string log = Log(logFrom);
        const std::size_t error = log.find("IN error");
        EXPECT_EQ(error, std::string::npos) << log.substr(error, 600);
        EXPECT_EQ(log.find("IN checksum error"), std::string::npos);
    }

    // What the line shows of the session so far: every chip runs at its lamp's rate to within
    // the chip's finest divisor step (an eighth, where the lamp's own UART would take 3 %) and
    // with the program's short latency timer; no chip had an overrun or a framing error to
    // report, no lamp heard a garbled byte, and every reply came whole.
    void ExpectCleanLine(std::size_t logFrom, const char* when) {
        SCOPED_TRACE(when);
        for (std::size_t chip = 0; chip < lamps_.size(); ++chip) {
            const ChipState state = chips_->State(static_cast<int>(chip));
            const SimLampState lamp = lamps_[chip]->State();
            ASSERT_GT(state.Baud, 0);
            EXPECT_LT(std::abs(3e6 / state.Baud - 3e6 / lamp.LineBaud), 0.125)
                << "chip " << chip << " runs at " << state.Baud << ", its lamp at "
                << lamp.LineBaud;
            EXPECT_EQ(state.LatencyMs, 2) << "chip " << chip;
            EXPECT_EQ(state.LineErrorReports, 0u) << "chip " << chip;
            EXPECT_EQ(lamp.GarbledBytes, 0u) << "lamp " << chip;
        }
        ExpectEveryReplyWhole(logFrom);
    }

    bool AllAt(int cct) const {
        for (const auto& lamp : lamps_)
            if (std::abs(LampCct(*lamp) - cct) > 2) return false;
        return true;
    }

    TempDir dir_;
    std::unique_ptr<Usbchips> chips_;
    std::vector<std::shared_ptr<SimLamp>> lamps_;
    std::string program_;
    pid_t pid_ = -1;
};

// Start, connect, a colour from the client, one lamp pulled out and plugged back, close: every
// lamp ends in the program's channel, switched on, and the chips are let go.
TEST_F(RealPath, OneAndTwoLampsFromStartToClose) {
    for (const int count : {1, 2}) {
        SCOPED_TRACE(count);
        if (count == 2) {
            TearDown();
            pid_ = -1;
            chips_ = std::make_unique<Usbchips>();
            lamps_.clear();
        }
        PlugLamps(count);
        const std::size_t logStart = Log().size();
        Start();
        ASSERT_GE(WaitConnected(), 0) << "the program did not connect";
        ASSERT_EQ(Client({"set", "cct", "4000"}).first, 0);
        EXPECT_TRUE(WaitUntil([&] { return AllAt(4000); }, 5000))
            << LampCct(*lamps_[0]) << " in channel " << lamps_[0]->State().CurrentChannel;
        const int channel = WaitConnected();
        ExpectCleanLine(logStart, "before the unplug");

        // The last lamp goes and comes back; it is taken back and follows the next change.
        const int last = count - 1;
        chips_->Unplug(last);
        EXPECT_TRUE(WaitUntil([&] { return Noticed(last); }))
            << "the client never showed the lamp gone";
        const std::size_t afterLoss = Log().size();
        lamps_[static_cast<std::size_t>(last)]->ClearCommands();
        chips_->Replug(last);
        EXPECT_TRUE(WaitUntil([&] {
            return !lamps_[static_cast<std::size_t>(last)]->Commands().empty();
        })) << "the lamp was not taken back";
        EXPECT_EQ(WaitConnected(), channel);
        EXPECT_TRUE(WaitUntil([&] {
            return Client({"set", "cct", "5000"}).first == 0 && AllAt(5000);
        }));

        ExpectCleanLine(afterLoss, "from the replug on");

        kill(pid_, SIGTERM);
        EXPECT_EQ(Finish(pid_), 0);
        pid_ = -1;
        ExpectEveryReplyWhole(afterLoss);
        for (const auto& lamp : lamps_) {
            const SimLampState state = lamp->State();
            EXPECT_EQ(state.CurrentChannel, channel);
            EXPECT_FALSE(state.Off);
        }
        for (int chip = 0; chip < count; ++chip) EXPECT_FALSE(chips_->State(chip).Claimed);
    }
}

}  // namespace
