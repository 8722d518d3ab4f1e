#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "link/Light.h"
#include "settings/Channel.h"
#include "sim/Fakeclock.h"
#include "sim/Simlamp.h"

namespace {

struct SimRig {
    SimRig() {
        SimLampOptions options;
        options.StatusIntervalMs = 0;
        lamps = AddSimLamps(bus, 2, clock, options);
    }
    FakeClock clock{0};
    SimBus bus;
    std::vector<SimLampEntry> lamps;
};

TEST(Simlamp, FreshLampsOnABus) {
    SimRig rig;
    ASSERT_EQ(rig.lamps.size(), 2u);
    EXPECT_EQ(rig.lamps[1].Description, "LED Lamp 2");
    EXPECT_EQ(rig.lamps[1].Serial, "VL000002");
    EXPECT_EQ(rig.bus.DeviceCount(), 2);
    // A valid information block: magic, matching checksum, name, count 10, no channel names.
    CLightInfo info;
    const SimLamp::Page page = rig.lamps[1].Lamp->ReadPage(0);
    std::copy(page.begin(), page.end(), info.LampBlock.begin());
    EXPECT_TRUE(info.Accept());
    EXPECT_EQ(CLightInfo::ReadLe32(&info.LampBlock[0]), CLightInfo::InfoChecksum(info.LampBlock));
    EXPECT_EQ(CLightInfo::ReadLe32(&info.LampBlock[32]), 10u);
    EXPECT_EQ(info.DeviceName(), "VDL 2");
    for (int n = 0; n < 10; ++n) EXPECT_EQ(info.ChannelName(n), "");
    // Slots other than the dark channel 0 carry light.
    const SimLampState state = rig.lamps[0].Lamp->State();
    CChannel slot(0);
    slot.DecodeBlock(state.Slots[0]);
    EXPECT_EQ(slot.ColorValues, (std::array<std::int32_t, 16>{}));
    for (int n = 1; n < SimLamp::kSlotCount; ++n) {
        slot.DecodeBlock(state.Slots[static_cast<std::size_t>(n)]);
        EXPECT_GT(slot.ColorValues[7], 0) << n;
        EXPECT_GT(slot.ColorValues[0] + slot.ColorValues[2] + slot.ColorValues[5], 0) << n;
    }
}

TEST(Simlamp, MixFollowsTheTarget) {
    SimRig rig;
    CLightInput lamp(rig.bus, rig.clock, "");
    ASSERT_EQ(lamp.Connect(19200, 38400, 5), CLightInput::kOk);
    auto write = [&](float x, float y, int mode, std::array<std::int32_t, 6> levels = {}) {
        CChannel record(5);
        for (std::size_t i = 0; i < 6; ++i) record.ColorValues[i] = levels[i];
        record.ColorValues[7] = static_cast<std::int32_t>(x * 65535);
        record.ColorValues[8] = static_cast<std::int32_t>(y * 65535);
        record.ColorValues[14] = 65535;
        record.ModeFlags = mode;
        lamp.WriteChannel(record);
        return record;
    };
    // Slots 0..5 are R, B2, G, B1, UV, W.
    const CChannel red = write(0.65f, 0.31f, 1);
    EXPECT_EQ(red.ColorValues[0], 4000);
    EXPECT_LT(red.ColorValues[2], 1000);
    const CChannel green = write(0.2f, 0.65f, 1);
    EXPECT_EQ(green.ColorValues[2], 4000);
    EXPECT_LT(green.ColorValues[0], 1000);
    const CChannel blue = write(0.15f, 0.07f, 1);
    EXPECT_GT(blue.ColorValues[3], blue.ColorValues[0]);
    EXPECT_GT(blue.ColorValues[1], 0);
    const CChannel white = write(0.33f, 0.34f, 1);
    EXPECT_EQ(white.ColorValues[5], 4000);
    // Direct values are taken as they are, up to the lamp's range.
    const CChannel direct = write(0.33f, 0.34f, 5, {100, 200, 300, 400, 500, 9000});
    EXPECT_EQ(direct.ColorValues[0], 100);
    EXPECT_EQ(direct.ColorValues[4], 500);
    EXPECT_EQ(direct.ColorValues[5], 4000);
}

TEST(Simlamp, BytesAtTheWrongRateGoUnanswered) {
    SimRig rig;
    // Straight to the run rate without the link command: the lamp still listens at 19200.
    CDevices port(rig.bus);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 38400));
    CFrame probe;
    probe.cmd = CLightInput::kCmdProbe;
    ASSERT_TRUE(port.WriteFrame(probe));
    rig.clock.Advance(1000);
    EXPECT_EQ(port.BytesWaiting(), 0);
    EXPECT_EQ(rig.lamps[0].Lamp->State().GarbledBytes, 40u);
    EXPECT_TRUE(rig.lamps[0].Lamp->Commands().empty());
    // At 19200 it answers.
    port.CloseDevice();
    ASSERT_TRUE(port.OpenDevice(0, 19200));
    ASSERT_TRUE(port.WriteFrame(probe));
    EXPECT_EQ(port.BytesWaiting(), 40);
}

TEST(Simlamp, WireTimeHoldsBackTheFrameAndTricklesTheReply) {
    FakeClock clock{0};
    SimBus bus;
    SimLampOptions options;
    options.StatusIntervalMs = 0;
    options.WireTimed = true;
    const auto lamps = AddSimLamps(bus, 1, clock, options);
    CDevices port(bus);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 19200));
    CFrame probe;
    probe.cmd = CLightInput::kCmdProbe;
    ASSERT_TRUE(port.WriteFrame(probe));
    // At 19200 a byte takes 0.52 ms: the request is in at 20.8 ms, the lamp works 1 ms, and
    // its reply's 40 bytes arrive one by one from 21.8 ms on.
    struct Step {
        std::uint32_t at;
        std::size_t commands;
        std::int32_t waiting;
    };
    for (const Step step : {Step{20, 0, 0}, Step{21, 1, 0}, Step{22, 1, 0}, Step{30, 1, 15},
                            Step{42, 1, 38}, Step{43, 1, 40}, Step{60, 1, 40}}) {
        clock.Advance(step.at - clock.TickCount());
        EXPECT_EQ(port.BytesWaiting(), step.waiting) << step.at;
        EXPECT_EQ(lamps[0].Lamp->Commands().size(), step.commands) << step.at;
    }
    // Two frames written at once queue up on the line and are answered in turn.
    std::uint8_t reply[40];
    ASSERT_EQ(port.ReadBytes(reply, 40), 40);
    ASSERT_TRUE(port.WriteFrame(probe));
    ASSERT_TRUE(port.WriteFrame(probe));
    clock.Advance(43);
    EXPECT_EQ(port.BytesWaiting(), 40);
    EXPECT_EQ(lamps[0].Lamp->Commands().size(), 3u);
    clock.Advance(21);
    EXPECT_EQ(port.BytesWaiting(), 80);
}

TEST(Simlamp, FaultsFlippedWhileAnotherThreadTalks) {
    SimRig rig;
    CLightInput lamp(rig.bus, rig.clock, "");
    ASSERT_EQ(lamp.Connect(19200, 38400, 5), CLightInput::kOk);
    SimLamp& sim = *rig.lamps[0].Lamp;
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        for (int i = 0; !stop; ++i) {
            // A wrong checksum costs its reply by design, so only faults that lose nothing
            // are flipped here.
            sim.InjectStrayBytes(static_cast<std::size_t>(i % 5));
            sim.SetLateReplyMs(static_cast<std::uint32_t>(i % 3) * 20);
            (void)sim.State();
            std::this_thread::yield();
        }
    });
    const SimLamp::Page page = sim.ReadPage(sim.State().SelectedPage);
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        CLightInfo::Piece piece{};
        if (lamp.ReadMemory(0, piece) == CLightInput::kOk) {
            ++answered;
            EXPECT_TRUE(std::equal(piece.begin(), piece.end(), page.begin()));
        }
    }
    stop = true;
    flipper.join();
    // None of these faults loses a reply.
    EXPECT_EQ(answered, 200);
    EXPECT_EQ(sim.Commands().size(), 3u + 48u + 200u);
}

}  // namespace
