#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "Tempdir.h"
#include "link/Light.h"
#include "settings/Channel.h"
#include "sim/Fakeclock.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"

namespace {

constexpr std::int32_t kRunBaud = 38400;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int CountLinesStartingWith(const std::string& text, const std::string& prefix) {
    int n = 0;
    for (const auto& line : Lines(text))
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

class LightTest : public ::testing::Test {
  protected:
    // Puts lamps on the bus; status frames off unless a test asks for them.
    void AddLamps(int count, std::uint32_t statusMs = 0) {
        SimLampOptions options;
        options.RunBaud = kRunBaud;
        options.StatusIntervalMs = statusMs;
        lamps = AddSimLamps(bus, count, clock, options);
    }
    std::unique_ptr<CLightInput> MakeLamp(bool log = true) {
        auto lamp = std::make_unique<CLightInput>(bus, clock, logPath.string());
        lamp->LogEnabled = log;
        // Time of day from the fake clock, so that log lines are exact.
        lamp->LogTimeOfDay = [this] { return 10u * 3600000u + clock.TickCount(); };
        return lamp;
    }
    std::int32_t Connect(CLightInput& lamp) { return lamp.Connect(19200, kRunBaud, 5); }
    std::string Log() const { return ReadBytes(logPath.string()); }
    std::vector<SimLampCommand> CommandsNamed(std::uint8_t cmd, int lamp = 0) const {
        std::vector<SimLampCommand> out;
        for (const auto& c : lamps[static_cast<std::size_t>(lamp)].Lamp->Commands())
            if (c.Cmd == cmd) out.push_back(c);
        return out;
    }

    FakeClock clock{0};
    SimBus bus;
    std::vector<SimLampEntry> lamps;
    // Each test logs into a folder of its own, removed with it.
    TempDir folder;
    std::filesystem::path logPath = folder.File("log.txt");
};

TEST_F(LightTest, ConnectSwitchesBaudAndLoadsTheBlock) {
    AddLamps(1);
    auto lamp = MakeLamp();
    EXPECT_EQ(Connect(*lamp), CLightInput::kOk);
    EXPECT_FALSE(lamp->NoAnswer);
    EXPECT_EQ(lamp->SendDelayMs, 5);
    EXPECT_EQ(lamp->Info.DeviceName(), "VDL 1");
    EXPECT_EQ(lamp->Info.StoredChannelCount(), 10u);
    EXPECT_EQ(lamp->Info.ChannelName(0), "");
    EXPECT_EQ(lamps[0].Lamp->State().LineBaud, kRunBaud);
    // Opened at the connect rate, then again at the run rate after the half-second pause.
    const auto divisors = bus.CallsNamed("SetDivisor");
    ASSERT_EQ(divisors.size(), 2u);
    EXPECT_EQ(divisors[0].Args[0], 0x809C);
    EXPECT_EQ(divisors[1].Args[0], 0xC04E);
    EXPECT_GE(clock.TickCount(), CLightInput::kBaudSwitchMs);
    // Page 0 is read in 16 pieces, the area in 32 from pages 256 and 257.
    EXPECT_EQ(CommandsNamed(CLightInput::kCmdReadMemory).size(), 48u);
    std::vector<int> pages;
    for (const auto& c : CommandsNamed(CLightInput::kCmdSelectPage)) {
        EXPECT_EQ(c.Cd1, 0);  // for reading
        pages.push_back(c.Data[0] << 8 | c.Data[1]);
    }
    EXPECT_EQ(pages, (std::vector<int>{0, 256, 257}));
    // After a session the lamp returns to the connect rate and a new connect works.
    lamp.reset();
    EXPECT_EQ(lamps[0].Lamp->State().LineBaud, SimLamp::kConnectBaud);
    EXPECT_EQ(Connect(*MakeLamp()), CLightInput::kOk);
}

TEST_F(LightTest, ConnectTakesOnlyFreeLedLamps) {
    AddLamps(2);
    auto main = MakeLamp();
    auto second = MakeLamp();
    auto third = MakeLamp();
    EXPECT_EQ(Connect(*main), CLightInput::kOk);
    EXPECT_EQ(Connect(*second), CLightInput::kOk);
    EXPECT_EQ(main->Info.DeviceName(), "VDL 1");
    EXPECT_EQ(second->Info.DeviceName(), "VDL 2");
    std::filesystem::remove(logPath);
    EXPECT_EQ(Connect(*third), CLightInput::kNoLamp);
    // Both lamps are held, so the third tries each and is refused.
    std::vector<std::string> texts;
    for (const auto& line : Lines(Log())) texts.push_back(line.substr(17));
    EXPECT_EQ(texts,
              (std::vector<std::string>{"devices found: 2", "device: 1/2", "name: LED Lamp",
                                        "failed", "device: 2/2", "name: LED Lamp", "failed"}));
}

TEST_F(LightTest, ConnectMatchesTheFirstEightCharactersExactly) {
    struct Case {
        const char* description;
        std::int32_t result;
    };
    const Case cases[] = {
        {"LED Lamp", CLightInput::kOk},
        {"LED Lamp 1", CLightInput::kOk},
        {"LED Lamp Mk II (ch. B)", CLightInput::kOk},
        {"LED LAMP 1", CLightInput::kNoLamp},
        {"led lamp", CLightInput::kNoLamp},
        {"LED Lam", CLightInput::kNoLamp},
        {"", CLightInput::kNoLamp},
        {"FT232R USB UART", CLightInput::kNoLamp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        SimBus own;
        own.AddDevice(c.description, "S1", std::make_shared<SimLamp>(clock));
        CLightInput lamp(own, clock, logPath.string());
        EXPECT_EQ(lamp.Connect(19200, kRunBaud, 5), c.result);
    }
}

TEST_F(LightTest, ConnectFailures) {
    // No device at all.
    {
        auto lamp = MakeLamp();
        EXPECT_EQ(Connect(*lamp), CLightInput::kNoLamp);
        EXPECT_EQ(Lines(Log()).size(), 1u);
        EXPECT_NE(Log().find(" devices found: 0\n"), std::string::npos);
    }
    AddLamps(1);
    // A block without the magic value.
    lamps[0].Lamp->ClearMagic();
    {
        auto lamp = MakeLamp();
        EXPECT_EQ(Connect(*lamp), CLightInput::kInvalidInfo);
    }
    // A run rate the lamp does not switch to: everything after the switch is noise to it.
    {
        auto lamp = MakeLamp();
        EXPECT_EQ(lamp->Connect(19200, 57600, 5), CLightInput::kNoReply);
        EXPECT_TRUE(lamp->NoAnswer);
        EXPECT_GT(lamps[0].Lamp->State().GarbledBytes, 0u);
    }
}

TEST_F(LightTest, StatusFrameDuringAWaitIsLoggedAndSkipped) {
    AddLamps(1, 1000);
    auto lamp = MakeLamp();
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    std::filesystem::remove(logPath);
    clock.Advance(1000);
    EXPECT_TRUE(lamp->Probe());
    EXPECT_FALSE(lamp->NoAnswer);
    const auto lines = Lines(Log());
    // OUT record, then the status frame with its eight values, then the reply.
    ASSERT_EQ(lines.size(), 4u + 5u + 4u);
    EXPECT_EQ(lines[4].substr(0, 6), "ST ok ");
    EXPECT_EQ(lines[5], "cmd=FF cd1=00 cd2=00 err=00");
    // Temperatures, channel 1, no transition, x and y in thousandths, timer 0, on.
    EXPECT_EQ(lines[7], "32.31 32.56 1.00 0.00 459.89 410.59 0.00 0.00 ");
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[9].substr(0, 6), "IN ok ");
}

TEST_F(LightTest, UnansweredCommandTimesOutOnceAndRecovers) {
    AddLamps(1);
    auto lamp = MakeLamp();
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    std::filesystem::remove(logPath);
    lamps[0].Lamp->SetNoReply(true);
    const std::uint32_t before = clock.TickCount();
    CFrame probe;
    probe.cmd = CLightInput::kCmdProbe;
    lamp->SendFrame(probe);
    EXPECT_FALSE(lamp->WaitReply(CLightInput::kCmdProbe));
    EXPECT_TRUE(lamp->NoAnswer);
    EXPECT_EQ(clock.TickCount() - before, 5u + CLightInput::kReplyTimeoutMs);
    const std::string log = Log();
    EXPECT_EQ(CountLinesStartingWith(log, "IN error "), 1);
    EXPECT_EQ(CountLinesStartingWith(log, "IN "), 1);

    lamps[0].Lamp->SetNoReply(false);
    lamp->Finish();
    EXPECT_FALSE(lamp->NoAnswer);
}

TEST_F(LightTest, WriteChannelSendsTwiceAndTakesTheLampsMix) {
    AddLamps(1);
    auto lamp = MakeLamp();
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    std::filesystem::remove(logPath);
    CChannel record(3);
    record.ColorValues[7] = 21626;  // x 0.33
    record.ColorValues[8] = 21626;  // y 0.33
    record.ColorValues[14] = 65535;
    record.ModeFlags = 1;
    lamp->WriteChannel(record);
    const std::string log = Log();
    EXPECT_EQ(CountLinesStartingWith(log, "OUT ok "), 2);
    EXPECT_EQ(CountLinesStartingWith(log, "IN ok "), 2);
    EXPECT_EQ(CountLinesStartingWith(log, "cmd=02 cd1=03 cd2=00 err=00"), 4);
    const auto writes = CommandsNamed(CLightInput::kCmdWriteChannel);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_NE(writes[0].Sequence, writes[1].Sequence);
    // The lamp mixed white from the white channel; the record now shows the lamp's levels.
    EXPECT_EQ(record.ColorValues[5], 4000);
    EXPECT_EQ(record.ColorValues[7], 21626);
    CChannel read(3);
    lamp->ReadChannel(read);
    EXPECT_EQ(read.ColorValues, record.ColorValues);
}

TEST_F(LightTest, SaveRightAfterLoadWritesNothingButSelectsEveryPage) {
    AddLamps(1);
    auto lamp = MakeLamp();
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    lamps[0].Lamp->ClearCommands();
    EXPECT_EQ(lamp->SaveInfo(), CLightInput::kOk);
    EXPECT_TRUE(CommandsNamed(CLightInput::kCmdWriteMemory).empty());
    std::vector<std::pair<int, int>> selects;  // page, for writing
    for (const auto& c : CommandsNamed(CLightInput::kCmdSelectPage))
        selects.emplace_back(c.Data[0] << 8 | c.Data[1], c.Cd1);
    EXPECT_EQ(selects, (std::vector<std::pair<int, int>>{{0, 1}, {256, 1}, {257, 1}, {0, 1}}));
}

TEST_F(LightTest, SaveSendsOnlyChangedPiecesAndTheLampKeepsThem) {
    AddLamps(1);
    // The lamp keeps its own count of 7; the program stores 10 back, with a fresh checksum.
    SimLamp::Page page = lamps[0].Lamp->ReadPage(0);
    page[32] = 7;
    CLightInfo::BlockImage own{};
    std::copy(page.begin(), page.end(), own.begin());
    CLightInfo::WriteLe32(page.data(), CLightInfo::InfoChecksum(own));
    lamps[0].Lamp->WritePage(0, page);
    auto lamp = MakeLamp();
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    lamp->Info.SetCoefficient(49, 2, 0xBEEF);  // area offset 810: page 257 offset 298
    lamps[0].Lamp->ClearCommands();
    std::vector<std::pair<int, int>> progress;
    EXPECT_EQ(lamp->SaveInfo([&](int done, int total) { progress.emplace_back(done, total); }),
              CLightInput::kOk);
    std::vector<int> offsets;
    for (const auto& c : CommandsNamed(CLightInput::kCmdWriteMemory))
        offsets.push_back(c.Cd1 << 8 | c.Cd2);
    EXPECT_EQ(offsets, (std::vector<int>{0, 32, 288}));
    // Told before the first frame and after each: four page selections and three pieces.
    const int frames = static_cast<int>(lamps[0].Lamp->Commands().size());
    ASSERT_EQ(frames, 7);
    ASSERT_EQ(progress.size(), 8u);
    for (int i = 0; i <= frames; ++i) EXPECT_EQ(progress[i], std::pair(i, frames)) << i;
    const SimLamp::Page block = lamps[0].Lamp->ReadPage(0);
    EXPECT_EQ(block[32], 10);
    CLightInfo::BlockImage image{};
    std::copy(block.begin(), block.end(), image.begin());
    EXPECT_EQ(CLightInfo::ReadLe32(image.data()), CLightInfo::InfoChecksum(image));
    const SimLamp::Page area = lamps[0].Lamp->ReadPage(257);
    EXPECT_EQ(area[298], 0xEF);
    EXPECT_EQ(area[299], 0xBE);
    // Nothing left to send.
    lamps[0].Lamp->ClearCommands();
    EXPECT_EQ(lamp->SaveInfo(), CLightInput::kOk);
    EXPECT_TRUE(CommandsNamed(CLightInput::kCmdWriteMemory).empty());
}

TEST_F(LightTest, FaultsOnTheLineAndTheNextCommandAfterThem) {
    AddLamps(1);
    struct Case {
        const char* name;
        std::function<void(SimLamp&)> on;
        bool answered;
    };
    const Case cases[] = {
        {"stray bytes", [](SimLamp& l) { l.InjectStrayBytes(7); }, true},
        {"one stray byte", [](SimLamp& l) { l.InjectStrayBytes(1); }, true},
        {"wrong checksum", [](SimLamp& l) { l.SetWrongChecksum(true); }, false},
        {"late by 300 ms", [](SimLamp& l) { l.SetLateReplyMs(300); }, true},
        {"late by 6 s", [](SimLamp& l) { l.SetLateReplyMs(6000); }, false},
        {"wrong sequence", [](SimLamp& l) { l.SetWrongSequence(true); }, false},
        {"no reply", [](SimLamp& l) { l.SetNoReply(true); }, false},
    };
    auto lamp = MakeLamp(false);
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    SimLamp& sim = *lamps[0].Lamp;
    ASSERT_TRUE(lamp->SelectPage(0, false));
    CLightInfo::Piece expected{};
    std::copy_n(lamp->Info.LampBlock.begin() + 32, 32, expected.begin());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.on(sim);
        CLightInfo::Piece piece{};
        EXPECT_EQ(lamp->ReadMemory(32, piece) == CLightInput::kOk, c.answered);
        EXPECT_EQ(lamp->NoAnswer, !c.answered);
        if (c.answered) {
            EXPECT_EQ(piece, expected);
        }
        sim.SetLateReplyMs(0);
        sim.SetWrongChecksum(false);
        sim.SetWrongSequence(false);
        sim.SetNoReply(false);
        // The stream is in step again for the very next command.
        piece.fill(0);
        EXPECT_EQ(lamp->ReadMemory(32, piece), CLightInput::kOk);
        EXPECT_EQ(piece, expected);
        EXPECT_FALSE(lamp->NoAnswer);
    }
}

TEST_F(LightTest, AReplyWithAWrongChecksumIsLoggedAndLeavesTheCommandUnanswered) {
    AddLamps(1);
    auto lamp = MakeLamp();
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    std::filesystem::remove(logPath);
    lamps[0].Lamp->SetWrongChecksum(true);
    EXPECT_FALSE(lamp->Probe());
    EXPECT_TRUE(lamp->NoAnswer);
    const auto lines = Lines(Log());
    // OUT record, the damaged reply as it came, then the time-out.
    ASSERT_EQ(lines.size(), 4u + 5u + 2u);
    EXPECT_EQ(lines[4].substr(0, 18), "IN checksum error ");
    EXPECT_EQ(lines[5], "cmd=09 cd1=00 cd2=00 err=00");
    EXPECT_EQ(lines[6].substr(0, 9), "01 04 02 ");
    EXPECT_EQ(lines[7].rfind("seq=", 0), 0u);
    EXPECT_EQ(lines[9].substr(0, 9), "IN error ");
}

TEST_F(LightTest, UnansweredCommandsKeepTheCallersValues) {
    AddLamps(1);
    auto lamp = MakeLamp(false);
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    lamps[0].Lamp->SetNoReply(true);
    CChannel record(2);
    record.Name = "Kept";
    record.ColorValues[7] = 1234;
    const CChannel before = record;
    EXPECT_FALSE(lamp->ReadChannel(record));
    EXPECT_EQ(record, before);
    EXPECT_FALSE(lamp->WriteChannel(record));
    EXPECT_EQ(record, before);
    EXPECT_FALSE(lamp->GetGamut(record));
    EXPECT_FALSE(lamp->SetRemote(0));
    EXPECT_FALSE(lamp->ReadTemperatures(0));
    EXPECT_FALSE(lamp->GetState());
    EXPECT_FALSE(lamp->GetPower());
    EXPECT_FALSE(lamp->GetPowerOff());
    EXPECT_FALSE(lamp->GetBacklight());
    EXPECT_FALSE(lamp->SetPower(0, false, true));
    EXPECT_FALSE(lamp->SelectChannel(1));
    EXPECT_FALSE(lamp->Probe());
    EXPECT_FALSE(lamp->Finish());
    EXPECT_FALSE(lamp->CommitInfo());
    EXPECT_EQ(lamp->WriteBlock(420, {}), CLightInput::kNoReply);
    EXPECT_TRUE(lamp->NoAnswer);
}

TEST_F(LightTest, UnpluggedLampFailsEveryCall) {
    AddLamps(1);
    auto lamp = MakeLamp(false);
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    bus.Unplug(lamps[0].Index);
    CLightInfo::Piece piece{};
    EXPECT_EQ(lamp->ReadMemory(0, piece), CLightInput::kNoReply);
    EXPECT_EQ(lamp->SaveInfo(), CLightInput::kNoReply);
    EXPECT_TRUE(lamp->NoAnswer);
    EXPECT_EQ(Connect(*MakeLamp(false)), CLightInput::kNoLamp);
}

TEST_F(LightTest, CommandsCarryAndReadTheirBytes) {
    AddLamps(1);
    auto lamp = MakeLamp();
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    SimLamp& sim = *lamps[0].Lamp;

    lamp->SetPower(600, true, false);
    std::filesystem::remove(logPath);
    EXPECT_EQ(lamp->GetPower(), std::optional<std::int32_t>(600));
    EXPECT_EQ(lamp->GetPowerOff(), std::optional(true));
    EXPECT_EQ(lamp->GetBacklight(), std::optional(false));
    // Only the first of the three power queries is logged going out.
    EXPECT_EQ(CountLinesStartingWith(Log(), "OUT "), 1);
    EXPECT_EQ(CountLinesStartingWith(Log(), "IN ok "), 3);
    EXPECT_TRUE(sim.State().Off);

    lamp->SelectChannel(15);
    EXPECT_EQ(sim.State().CurrentChannel, 15);
    EXPECT_EQ(lamp->GetState(), std::optional(10));  // capped at the stored channel count
    lamp->SelectChannel(4);
    EXPECT_EQ(lamp->GetState(), std::optional(4));

    const TransitionStatus moving = lamp->SetRemote(0).value();
    EXPECT_TRUE(sim.State().Remote);
    EXPECT_EQ(moving.SecondsLeft, 2);
    clock.Advance(5000);
    const TransitionStatus done = lamp->SetRemote(1).value();
    EXPECT_FALSE(sim.State().Remote);
    EXPECT_EQ(done.SecondsLeft, 0);
    EXPECT_NEAR(done.X, 0.3451f, 1e-4);
    EXPECT_NEAR(done.Y, 0.3516f, 1e-4);
    const auto remote = CommandsNamed(CLightInput::kCmdState);
    EXPECT_EQ(remote.back().Cd1, 1);
    EXPECT_EQ(remote.back().Data[0], 1);
    EXPECT_EQ(remote.back().Data[1], 1);

    CChannel record(4);
    record.ColorValues[6] = 0x1234;
    const std::array<float, 6> gamut = lamp->GetGamut(record).value();
    for (std::size_t i = 0; i < 6; ++i) EXPECT_NEAR(gamut[i], SimLamp::kGamut[i], 1e-4);
    EXPECT_EQ(CommandsNamed(CLightInput::kCmdGetGamut).back().Data[0], 0x12);

    const std::array<float, 16> temperatures = lamp->ReadTemperatures(1).value();
    EXPECT_GE(temperatures[0], 25.0f);
    EXPECT_LT(temperatures[0], 70.0f);

    EXPECT_TRUE(lamp->CommitInfo());
    EXPECT_EQ(sim.State().CommitCount, 1);

    CLightInput::Page text{};
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>(i * 7);
    sim.ClearCommands();
    EXPECT_EQ(lamp->WriteBlock(421, text), CLightInput::kOk);
    EXPECT_EQ(sim.ReadPage(421), text);
    EXPECT_EQ(CommandsNamed(CLightInput::kCmdWriteMemory).size(), 16u);
    EXPECT_EQ(sim.State().SelectedPage, 0);
}

TEST_F(LightTest, LogOfAShortSession) {
    bus.AddDevice("FT232R USB UART", "A900XYZ", std::make_shared<EchoModel>());
    AddLamps(1, 1000);
    auto lamp = MakeLamp(false);
    lamp->LogEnabled = true;
    ASSERT_EQ(Connect(*lamp), CLightInput::kOk);
    clock.Advance(1000);
    lamp->Probe();
    lamp->SelectChannel(2);
    lamps[0].Lamp->SetNoReply(true);
    lamp->Finish();
    lamp->LogEnabled = false;
    lamp->Finish();
    const std::string expected =
        ReadBytes((std::filesystem::path(VELTRA_TEST_DATA) / "session.log").string());
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Log(), expected);
}

}  // namespace

namespace {

// Answers every frame with stray bytes holding a false start byte, then a reply whose checksum
// byte happens to equal the end byte, so the false start looks like a whole frame. The first
// `split` bytes go out at once, the rest one poll interval later.
class FalseStartModel : public SimDeviceModel {
  public:
    FalseStartModel(Clock& clock, std::size_t split) : clock_(clock), split_(split) {}
    void Receive(SimDevice& device, const std::uint8_t* data, std::size_t size) override {
        if (size != CFrame::kSize) return;
        CFrame reply;
        reply.cmd = data[3];
        reply.Data[0] = 0x42;
        reply.Encode(data[1]);
        reply.Raw[6 + 31] =
            static_cast<std::uint8_t>(CFrame::kEnd - (reply.FrameChecksum() - reply.Raw[6 + 31]));
        reply.Raw[38] = reply.FrameChecksum();
        std::vector<std::uint8_t> bytes = {0x31, CFrame::kStart};
        bytes.insert(bytes.end(), reply.Raw.begin(), reply.Raw.end());
        const std::size_t now = std::min(split_, bytes.size());
        device.Queue(bytes.data(), now);
        rest_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(now), bytes.end());
        due_ = clock_.TickCount() + CLightInput::kReplyPollMs;
    }
    void Poll(SimDevice& device) override {
        if (rest_.empty() || static_cast<std::int32_t>(clock_.TickCount() - due_) < 0) return;
        device.Queue(rest_.data(), rest_.size());
        rest_.clear();
    }

  private:
    Clock& clock_;
    std::size_t split_;
    std::vector<std::uint8_t> rest_;
    std::uint32_t due_ = 0;
};

TEST(LightRealign, FalseStartBeforeAReplyArrivingInTwoReads) {
    // Every split of the 42 bytes, the whole reply at once included.
    for (std::size_t split = 1; split <= 42; ++split) {
        SCOPED_TRACE(split);
        FakeClock clock{0};
        SimBus bus;
        bus.AddDevice("LED Lamp", "S1", std::make_shared<FalseStartModel>(clock, split));
        CLightInput lamp(bus, clock, "");
        lamp.Devices.ListDevices();
        ASSERT_TRUE(lamp.Devices.OpenDevice(0, 38400));
        CFrame probe;
        probe.cmd = CLightInput::kCmdProbe;
        lamp.SendFrame(probe);
        const std::optional<CFrame> reply = lamp.WaitReply(CLightInput::kCmdProbe);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Raw[38], CFrame::kEnd);
        EXPECT_EQ(reply->Data[0], 0x42);
    }
}

// Sends noise without a start byte whenever the program looks at the line, and never stops.
class BabblingModel : public SimDeviceModel {
  public:
    void Receive(SimDevice&, const std::uint8_t*, std::size_t) override {}
    void Poll(SimDevice& device) override {
        const std::uint8_t noise[16] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                                        0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
        device.Queue(noise, sizeof noise);
    }
};

TEST(LightRealign, EndlessNoiseEndsTheWaitInsteadOfHoldingIt) {
    FakeClock clock{0};
    SimBus bus;
    bus.AddDevice("LED Lamp", "S1", std::make_shared<BabblingModel>());
    CLightInput lamp(bus, clock, "");
    lamp.Devices.ListDevices();
    ASSERT_TRUE(lamp.Devices.OpenDevice(0, 38400));
    EXPECT_FALSE(lamp.ReceiveFrame());
    CFrame probe;
    probe.cmd = CLightInput::kCmdProbe;
    lamp.SendFrame(probe);
    EXPECT_FALSE(lamp.WaitReply(CLightInput::kCmdProbe));
    EXPECT_TRUE(lamp.NoAnswer);
}

// A device whose every library call takes a quarter of a second, as a bridge reading ahead at a
// slow rate can, and which never stops sending noise.
class SlowBabblingModel : public SimDeviceModel {
  public:
    explicit SlowBabblingModel(FakeClock& clock) : clock_(clock) {}
    void Receive(SimDevice&, const std::uint8_t*, std::size_t) override {}
    void Poll(SimDevice& device) override {
        clock_.Advance(250);
        const std::uint8_t noise[64] = {};
        device.Queue(noise, sizeof noise);
    }

  private:
    FakeClock& clock_;
};

TEST(LightRealign, AReplyWaitEndsAtItsTimeOutWhateverTheDeviceDoes) {
    FakeClock clock{0};
    SimBus bus;
    bus.AddDevice("LED Lamp", "S1", std::make_shared<SlowBabblingModel>(clock));
    CLightInput lamp(bus, clock, "");
    lamp.Devices.ListDevices();
    ASSERT_TRUE(lamp.Devices.OpenDevice(0, 38400));
    const std::uint32_t start = clock.TickCount();
    EXPECT_FALSE(lamp.WaitReply(CLightInput::kCmdProbe));
    EXPECT_TRUE(lamp.NoAnswer);
    // The time-out, plus the one read that was under way when it passed; counted in tries
    // alone, a hundred tries of several such reads each would take hours.
    const std::uint32_t took = clock.TickCount() - start;
    EXPECT_GE(took, CLightInput::kReplyTimeoutMs);
    EXPECT_LT(took, CLightInput::kReplyTimeoutMs + 3000);
}

}  // namespace
