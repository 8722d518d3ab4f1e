#include <gtest/gtest.h>

#include "link/Devices.h"
#include "link/Frame.h"
#include "sim/Fakeclock.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"

namespace {

// Purge calls on an unknown handle: each is recorded, with its mask as the one argument.
void Purges(SimBus& bus, int count, int first = 0) {
    for (int n = first; n < first + count; ++n) bus.Purge(99, static_cast<std::uint32_t>(n));
}

std::vector<std::int64_t> Masks(const SimBus& bus) {
    std::vector<std::int64_t> masks;
    for (const SimCall& call : bus.Calls()) masks.push_back(call.Args.at(0));
    return masks;
}

}  // namespace

// A program left running on the simulated bus must not keep every call it ever made.
TEST(Simbus, RecordKeepsTheLatestCallsWithinItsLimit) {
    SimBus bus;
    Purges(bus, static_cast<int>(SimBus::kDefaultCallLimit) + 5);
    ASSERT_EQ(bus.Calls().size(), SimBus::kDefaultCallLimit);
    EXPECT_EQ(bus.Calls().front().Args.at(0), 5);
    EXPECT_EQ(bus.DroppedCalls(), 5u);

    // A smaller limit drops the oldest at once and keeps the order of the rest.
    bus.ClearCalls();
    EXPECT_EQ(bus.DroppedCalls(), 0u);
    Purges(bus, 5);
    bus.SetCallLimit(3);
    EXPECT_EQ(Masks(bus), (std::vector<std::int64_t>{2, 3, 4}));
    Purges(bus, 2, 5);
    EXPECT_EQ(Masks(bus), (std::vector<std::int64_t>{4, 5, 6}));
    EXPECT_EQ(bus.DroppedCalls(), 4u);
    EXPECT_EQ(bus.CallsNamed("Purge").size(), 3u);

    // Limit 0 records nothing, and the calls still work.
    bus.SetCallLimit(0);
    EXPECT_TRUE(bus.Calls().empty());
    Purges(bus, 4);
    EXPECT_TRUE(bus.Calls().empty());
    EXPECT_EQ(bus.DroppedCalls(), 11u);
}

TEST(Simbus, LampKeepsTheLatestCommandsWithinItsLimit) {
    const struct {
        std::size_t limit;
        int frames;
        std::vector<std::uint8_t> sequences;  // of the commands kept
        std::uint64_t dropped;
    } cases[] = {
        {3, 5, {3, 4, 5}, 2},
        {0, 4, {}, 4},
        {10, 4, {1, 2, 3, 4}, 0},
    };
    for (const auto& c : cases) {
        FakeClock clock{0};
        SimBus bus;
        SimLampOptions options;
        options.StatusIntervalMs = 0;
        options.CommandLimit = c.limit;
        const auto lamps = AddSimLamps(bus, 1, clock, options);
        CDevices port(bus);
        port.ListDevices();
        ASSERT_TRUE(port.OpenDevice(0, SimLamp::kConnectBaud));
        CFrame frame;
        for (int n = 0; n < c.frames; ++n) ASSERT_TRUE(port.WriteFrame(frame));
        std::vector<std::uint8_t> sequences;
        for (const SimLampCommand& command : lamps[0].Lamp->Commands())
            sequences.push_back(command.Sequence);
        EXPECT_EQ(sequences, c.sequences) << "limit " << c.limit;
        EXPECT_EQ(lamps[0].Lamp->DroppedCommands(), c.dropped) << "limit " << c.limit;
    }
    // The default is bounded too.
    EXPECT_GT(SimLampOptions{}.CommandLimit, 0u);
    EXPECT_LT(SimLampOptions{}.CommandLimit, 100000u);
}

// A device plugged in again is a new device: listed and opened afresh, while the handle kept
// from before it was pulled stays dead and says the device has gone.
TEST(Simbus, ReplugListsTheDeviceAgainAndLeavesTheOldHandleDead) {
    SimBus bus;
    const int index = bus.AddDevice("LED Lamp 1", "S1", std::make_shared<EchoModel>());
    FtHandle old = 0;
    ASSERT_EQ(bus.OpenEx("S1", kFtOpenBySerial, &old), kFtOk);
    bus.Unplug(index);
    std::vector<std::string> texts;
    bus.ListDevices(texts, kFtListAllBySerial);
    EXPECT_TRUE(texts.empty());
    std::uint32_t rx = 0, tx = 0, events = 0;
    EXPECT_TRUE(FtDeviceGone(bus.GetStatus(old, &rx, &tx, &events)));

    bus.Replug(index);
    bus.ListDevices(texts, kFtListAllBySerial);
    EXPECT_EQ(texts, std::vector<std::string>{"S1"});
    EXPECT_FALSE(bus.IsOpen(index));
    FtHandle fresh = 0;
    ASSERT_EQ(bus.OpenEx("S1", kFtOpenBySerial, &fresh), kFtOk);
    EXPECT_NE(fresh, old);
    const std::uint8_t byte = 0x42;
    std::uint32_t written = 0;
    EXPECT_TRUE(FtDeviceGone(bus.Write(old, &byte, 1, &written)));
    EXPECT_EQ(bus.Write(fresh, &byte, 1, &written), kFtOk);
    EXPECT_EQ(bus.GetStatus(fresh, &rx, &tx, &events), kFtOk);
    EXPECT_EQ(rx, 1u);
    // Replugging a device that was never pulled changes nothing.
    bus.Replug(index);
    EXPECT_TRUE(bus.IsOpen(index));
}
