#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "link/Light.h"
#include "sim/Fakeclock.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"

namespace {

// Milliseconds one byte takes on the wire: start bit, 8 data bits, stop bit.
double ByteMs(double baud) {
    return 10000.0 / baud;
}

// A lamp whose bytes take their wire time, on a fake clock, opened straight at a rate.
struct WireRig {
    explicit WireRig(double processingMs = 1.0, std::int32_t runBaud = 38400) {
        SimLampOptions options;
        options.RunBaud = runBaud;
        options.StatusIntervalMs = 0;
        options.WireTimed = true;
        options.ProcessingMs = processingMs;
        lamps = AddSimLamps(bus, 1, clock, options);
    }
    // Opens the port at a rate without the switch, so the lamp still listens at 19200.
    void Open(std::int32_t baud) {
        lamp.Devices.ListDevices();
        ASSERT_TRUE(lamp.Devices.OpenDevice(0, baud));
        lamp.SendDelayMs = 5;
    }
    // Milliseconds one probe exchange takes, send delay included.
    double TimedProbe() {
        const std::uint32_t start = clock.TickCount();
        EXPECT_TRUE(lamp.Probe());
        return static_cast<double>(clock.TickCount() - start);
    }

    FakeClock clock{0};
    SimBus bus;
    std::vector<SimLampEntry> lamps;
    CLightInput lamp{bus, clock, ""};
};

TEST(Timing, AnExchangeEndsWithinAMillisecondOfItsWireTime) {
    // Request and reply of 40 bytes each at 38400, the send delay and the lamp's own time.
    for (double processing : {0.0, 1.0, 3.5}) {
        WireRig rig(processing);
        ASSERT_EQ(rig.lamp.Connect(19200, 38400, 5), CLightInput::kOk);
        const double floor = 5.0 + 80 * ByteMs(38400) + processing;
        const double took = rig.TimedProbe();
        EXPECT_GE(took, floor) << processing;
        EXPECT_LT(took, floor + 1.0) << processing;
    }
}

TEST(Timing, BeforeTheBaudSwitchTheWireTakesTwiceAsLong) {
    WireRig rig(0.0);
    rig.Open(19200);
    const double wire = rig.TimedProbe() - 5.0;
    EXPECT_GE(wire, 2 * 80 * ByteMs(38400));
    EXPECT_LT(wire, 2 * 80 * ByteMs(38400) + 1.0);
}

TEST(Timing, ConnectCostsItsExchangesAndTheSwitchPause) {
    WireRig rig;
    ASSERT_EQ(rig.lamp.Connect(19200, 38400, 5), CLightInput::kOk);
    // The pause after the link command, then every frame's exchange at 38400.
    const auto frames = static_cast<double>(rig.lamps[0].Lamp->Commands().size());
    const double floor = CLightInput::kBaudSwitchMs + frames * (5.0 + 80 * ByteMs(38400) + 1.0);
    EXPECT_GE(rig.clock.TickCount(), floor);
    EXPECT_LT(rig.clock.TickCount(), floor + frames);
}

TEST(Timing, AReplyIsTakenUntilTheTimeOutAndNotAfter) {
    // Late by so much that the reply's last byte arrives this long after the request went out.
    struct Case {
        double lastByteMs;
        bool taken;
    };
    for (const Case c : {Case{4990, true}, Case{5010, false}}) {
        WireRig rig(1.0);
        ASSERT_EQ(rig.lamp.Connect(19200, 38400, 5), CLightInput::kOk);
        const double wire = 80 * ByteMs(38400) + 1.0;
        rig.lamps[0].Lamp->SetLateReplyMs(static_cast<std::uint32_t>(c.lastByteMs - wire));
        CFrame probe;
        probe.cmd = CLightInput::kCmdProbe;
        rig.lamp.SendFrame(probe);
        const std::uint32_t sent = rig.clock.TickCount();
        EXPECT_EQ(rig.lamp.WaitReply(CLightInput::kCmdProbe).has_value(), c.taken) << c.lastByteMs;
        EXPECT_EQ(rig.lamp.NoAnswer.load(), !c.taken);
        const std::uint32_t waited = rig.clock.TickCount() - sent;
        if (c.taken) {
            EXPECT_LE(waited, static_cast<std::uint32_t>(c.lastByteMs) + 1u);
        } else {
            EXPECT_EQ(waited, CLightInput::kReplyTimeoutMs);
        }
    }
}

TEST(Timing, AReplyTrickledInPiecesIsTakenWholeInAFewLooks) {
    // At 4800 a byte takes about two milliseconds: the wait sleeps while the reply cannot yet be
    // whole, then finds its last bytes in pieces of one or two, and ends within a millisecond of
    // the last byte instead of looking at the line every millisecond of the exchange.
    WireRig rig(1.0, 4800);
    ASSERT_EQ(rig.lamp.Connect(19200, 4800, 5), CLightInput::kOk);
    rig.bus.ClearCalls();
    const std::uint32_t start = rig.clock.TickCount();
    const std::optional<int> channel = rig.lamp.GetState();
    const double took = static_cast<double>(rig.clock.TickCount() - start);
    ASSERT_TRUE(channel.has_value());
    EXPECT_EQ(*channel, rig.lamps[0].Lamp->State().CurrentChannel);
    EXPECT_FALSE(rig.lamp.NoAnswer);
    std::size_t pieces = 0;
    for (const SimCall& call : rig.bus.CallsNamed("Read"))
        if (call.Args[0] > 0) ++pieces;
    EXPECT_GE(pieces, 2u);
    const double floor = 5.0 + 80 * ByteMs(4800) + 1.0;
    EXPECT_GE(took, floor);
    EXPECT_LT(took, floor + 1.0);
    // The exchange lasts some 170 ms; a look a millisecond would be that many.
    EXPECT_LE(rig.bus.CallsNamed("GetQueueStatus").size(), 8u);
}

// A simulated lamp that notes on the clock when a request reaches the bus and when the program
// looks at the line (every call on the device after the write).
class LookRecorder : public SimDeviceModel {
  public:
    LookRecorder(Clock& clock, std::shared_ptr<SimDeviceModel> lamp)
        : clock_(clock), lamp_(std::move(lamp)) {}
    void Receive(SimDevice& device, const std::uint8_t* data, std::size_t size) override {
        lamp_->Receive(device, data, size);
        Written = clock_.TickCount();
    }
    void Poll(SimDevice& device) override {
        lamp_->Poll(device);
        // Looks since the last write, by how long after it they came; the write's own call
        // comes before its bytes and is no look.
        if (Written) Looks.push_back(clock_.TickCount() - *Written);
    }
    void Opened(SimDevice& device) override { lamp_->Opened(device); }
    void Closed(SimDevice& device) override { lamp_->Closed(device); }

    std::optional<std::uint32_t> Written;
    std::vector<std::uint32_t> Looks;

  private:
    Clock& clock_;
    std::shared_ptr<SimDeviceModel> lamp_;
};

TEST(Timing, OnAWireTimedLineNoLookComesBeforeTheReplyCanBeWhole) {
    // Each look is a USB transfer on the real bridge: one made before the request and its reply
    // have crossed the wire can only come back empty.
    for (const std::int32_t baud : {38400, 9600}) {
        FakeClock clock{0};
        SimBus bus;
        SimLampOptions options;
        options.RunBaud = baud;
        options.StatusIntervalMs = 0;
        options.WireTimed = true;
        auto recorder =
            std::make_shared<LookRecorder>(clock, std::make_shared<SimLamp>(clock, options));
        bus.AddDevice("LED Lamp 1", "VL000001", recorder);
        CLightInput lamp(bus, clock, "");
        ASSERT_EQ(lamp.Connect(19200, baud, 5), CLightInput::kOk);
        const double wireMs = 80 * ByteMs(baud);
        for (int i = 0; i < 3; ++i) {
            recorder->Looks.clear();
            const std::uint32_t start = clock.TickCount();
            ASSERT_TRUE(lamp.Probe()) << baud;
            EXPECT_LT(clock.TickCount() - start, 5.0 + wireMs + 2.0) << baud;
            ASSERT_FALSE(recorder->Looks.empty());
            for (const std::uint32_t look : recorder->Looks)
                EXPECT_GE(look, static_cast<std::uint32_t>(wireMs) - 1u)
                    << baud << " exchange " << i;
        }
    }
}

TEST(Timing, ALampThatAnswersAtOnceIsLookedAtAtOnce) {
    // A simulated lamp without wire time, with and without status frames before its replies:
    // an exchange costs the send delay and at most one short pause, never the wire time.
    for (const std::uint32_t statusMs : {0u, 7u}) {
        FakeClock clock{0};
        SimBus bus;
        SimLampOptions options;
        options.StatusIntervalMs = statusMs;
        const auto lamps = AddSimLamps(bus, 1, clock, options);
        CLightInput lamp(bus, clock, "");
        ASSERT_EQ(lamp.Connect(19200, 38400, 5), CLightInput::kOk);
        for (int i = 0; i < 20; ++i) {
            const std::uint32_t start = clock.TickCount();
            ASSERT_TRUE(lamp.Probe());
            EXPECT_LE(clock.TickCount() - start, 5u + CLightInput::kReplyPollMs) << statusMs;
        }
        if (statusMs > 0) {
            EXPECT_GT(lamps[0].Lamp->State().StatusFramesSent, 0);
        }
    }
}

}  // namespace
