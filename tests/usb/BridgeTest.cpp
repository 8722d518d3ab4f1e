#include <ftdi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "Poll.h"
#include "Usbchip.h"
#include "link/Devices.h"
#include "link/Frame.h"
#include "link/Light.h"
#include "platform/Ftdi.h"
#include "settings/Channel.h"
#include "sim/Simlamp.h"

namespace {

using Steady = std::chrono::steady_clock;

// A chip whose serial side never says anything.
class SilentModel : public SimDeviceModel {
  public:
    void Receive(SimDevice&, const std::uint8_t*, std::size_t) override {}
};

double MsSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

// Chips on an emulated bus and the real bridge over libftdi1 and libusb in front of them.
class Bridge : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Usbchips::Available()) {
            if (Usbchips::Required()) FAIL() << "umockdev's preload is missing";
            GTEST_SKIP() << "no USB emulator: these run under umockdev-wrapper";
        }
        chips_ = std::make_unique<Usbchips>();
    }

    int PlugEcho(const std::string& serial, const std::string& description = "LED Lamp") {
        return chips_->Plug(serial, description, std::make_shared<EchoModel>());
    }

    // Opens by serial number; 0 when it failed.
    FtHandle Open(const std::string& serial, FtStatus* status = nullptr) {
        FtHandle handle = 0;
        const FtStatus s = bridge_.OpenEx(serial, kFtOpenBySerial, &handle);
        if (status) *status = s;
        return s == kFtOk ? handle : 0;
    }

    std::unique_ptr<Usbchips> chips_;
    FtdiBridge bridge_;
};

TEST_F(Bridge, ListsChipsBySerialAndDescription) {
    PlugEcho("VL000001");
    PlugEcho("VL000002", "LED Lamp 2");
    std::vector<std::string> serials, descriptions;
    ASSERT_EQ(bridge_.ListDevices(serials, kFtListAllBySerial), kFtOk);
    ASSERT_EQ(bridge_.ListDevices(descriptions, kFtListAllByDescription), kFtOk);
    ASSERT_EQ(serials.size(), 2u);
    ASSERT_EQ(descriptions.size(), 2u);
    // Whatever the bus order, each row pairs a chip's own two strings.
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(descriptions[i], serials[i] == "VL000001" ? "LED Lamp" : "LED Lamp 2");
}

TEST_F(Bridge, OpensBySerialAndEchoes) {
    const int chip = PlugEcho("VL000001");
    const FtHandle handle = Open("VL000001");
    ASSERT_NE(handle, 0u);
    EXPECT_TRUE(chips_->State(chip).Claimed);
    const std::uint8_t bytes[3] = {'<', 'M', '>'};
    std::uint32_t written = 0;
    ASSERT_EQ(bridge_.Write(handle, bytes, 3, &written), kFtOk);
    EXPECT_EQ(written, 3u);
    std::uint8_t got[3] = {};
    std::uint32_t read = 0;
    ASSERT_EQ(bridge_.Read(handle, got, 3, &read), kFtOk);
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(got, got + 3), std::vector<std::uint8_t>(bytes, bytes + 3));
    EXPECT_EQ(bridge_.Close(handle), kFtOk);
    EXPECT_FALSE(chips_->State(chip).Claimed);
}

// The port's whole open over the real bridge: the chip receives the program's own divisor
// for each rate, the short latency timer, no flow control, and DTR and RTS raised.
TEST_F(Bridge, OpenProgramsTheDivisorLatencyAndLine) {
    const struct {
        std::int32_t baud;
        std::uint16_t value;
    } rates[] = {{19200, 0x809C}, {38400, 0xC04E}};
    const int chip = PlugEcho("VL000001");
    CDevices port(bridge_);
    port.ListDevices();
    ASSERT_EQ(port.DeviceCount, 1);
    for (const auto& rate : rates) {
        chips_->ClearRequests(chip);
        ASSERT_TRUE(port.OpenDevice(0, rate.baud)) << rate.baud;
        const ChipState state = chips_->State(chip);
        const auto last = [&](std::uint8_t request) {
            ChipRequest found{0xFF, 0, 0};
            for (const ChipRequest& r : state.Requests)
                if (r.Request == request) found = r;
            return found;
        };
        // libftdi's own open resets the chip and sets a rate of its own first; ours come last.
        const auto lastAt = [&](std::uint8_t request, int value) {
            std::size_t at = state.Requests.size();
            for (std::size_t i = 0; i < state.Requests.size(); ++i)
                if (state.Requests[i].Request == request &&
                    (value < 0 || state.Requests[i].Value == value))
                    at = i;
            return at;
        };
        const std::size_t reset = lastAt(0x00, 0);
        const std::size_t baud = lastAt(0x03, -1);
        ASSERT_LT(reset, baud) << rate.baud;
        ASSERT_LT(baud, state.Requests.size()) << rate.baud;
        // The reset is what leaves flow control off, so "none" must be said after it, once.
        std::vector<std::uint16_t> flow;
        for (std::size_t i = reset + 1; i < state.Requests.size(); ++i)
            if (state.Requests[i].Request == 0x02) flow.push_back(state.Requests[i].Index & 0xFF00);
        EXPECT_EQ(flow, std::vector<std::uint16_t>{0}) << rate.baud;
        // Both ways purged after the rate is set: value 1 the way out, 2 the way in.
        std::vector<std::uint16_t> purges;
        for (std::size_t i = baud + 1; i < state.Requests.size(); ++i)
            if (state.Requests[i].Request == 0x00) purges.push_back(state.Requests[i].Value);
        std::sort(purges.begin(), purges.end());
        EXPECT_EQ(purges, (std::vector<std::uint16_t>{1, 2})) << rate.baud;
        EXPECT_EQ(last(0x03).Value, rate.value) << rate.baud;
        EXPECT_EQ(last(0x03).Index, 0) << rate.baud;
        EXPECT_EQ(state.Divisor, rate.value);
        EXPECT_EQ(state.Baud, rate.baud);
        EXPECT_EQ(state.LatencyMs, 2);
        EXPECT_EQ(state.FlowControl, 0);
        EXPECT_TRUE(state.Dtr);
        EXPECT_TRUE(state.Rts);
        // 8N1, DTR and RTS raised.
        EXPECT_EQ(last(0x04).Value, 8);
        std::vector<std::uint16_t> lines;
        for (const ChipRequest& r : state.Requests)
            if (r.Request == 0x01) lines.push_back(r.Value);
        EXPECT_EQ(lines, (std::vector<std::uint16_t>{0x0101, 0x0202}));
        port.CloseDevice();
    }
}

// Every 64-byte packet from the chip leads with two status bytes; a run of bytes longer than
// several packets comes out whole and in order, through reads of a frame's size.
TEST_F(Bridge, StatusBytesAreStrippedAcrossPacketBoundaries) {
    PlugEcho("VL000001");
    CDevices port(bridge_);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 38400));
    // As much as the chip's receive buffer holds: the echo comes back all at once.
    std::vector<std::uint8_t> sent(256);
    std::iota(sent.begin(), sent.end(), 0);
    const FtHandle handle = port.CurrentRow()->Settings.Handle;
    std::uint32_t written = 0;
    ASSERT_EQ(bridge_.Write(handle, sent.data(), 256, &written), kFtOk);
    ASSERT_EQ(written, 256u);
    std::vector<std::uint8_t> got;
    const auto start = Steady::now();
    while (got.size() < sent.size() && MsSince(start) < 5000) {
        const std::int32_t waiting = port.BytesWaiting();
        std::vector<std::uint8_t> piece(static_cast<std::size_t>(waiting));
        if (waiting > 0) {
            const std::int32_t n = port.ReadBytes(piece.data(), waiting);
            ASSERT_EQ(n, waiting);
            got.insert(got.end(), piece.begin(), piece.end());
        }
    }
    EXPECT_EQ(got, sent);
}

// The chip sends its modem lines in front of every packet: a look at the line learns of a
// change without a request of its own, and only a change costs one.
TEST_F(Bridge, ModemLinesArriveWithTheData) {
    const int chip = PlugEcho("VL000001");
    CDevices port(bridge_);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 38400));
    const PortSettings& lines = port.CurrentRow()->Settings;
    EXPECT_EQ(lines.Cts, 1);
    EXPECT_EQ(lines.Dsr, 1);
    chips_->ClearRequests(chip);
    const auto polls = [&] {
        const std::vector<ChipRequest> requests = chips_->State(chip).Requests;
        return std::count_if(requests.begin(), requests.end(),
                             [](const ChipRequest& r) { return r.Request == 0x05; });
    };
    for (int look = 0; look < 3; ++look) EXPECT_EQ(port.BytesWaiting(), 0);
    EXPECT_EQ(polls(), 0);
    chips_->WithDevice(chip, [](SimDevice& d) { d.ModemStatus = 0x20; });  // CTS drops
    for (int look = 0; look < 2; ++look) port.BytesWaiting();
    EXPECT_EQ(lines.Cts, 0);
    EXPECT_EQ(lines.Dsr, 1);
    EXPECT_EQ(polls(), 1);
}

// Bytes wait both in the chip and in the bridge's own queue; a purge of both ways empties
// both, and no later look brings any of them back.
TEST_F(Bridge, PurgeEmptiesTheChipAndTheHostQueue) {
    const int chip = chips_->Plug("VL000001", "LED Lamp", std::make_shared<SilentModel>());
    const FtHandle handle = Open("VL000001");
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(bridge_.SetTimeouts(handle, 50, 50), kFtOk);
    const auto queue = [&](std::size_t count) {
        chips_->WithDevice(chip, [&](SimDevice& d) {
            const std::vector<std::uint8_t> bytes(count, 0x5A);
            d.Queue(bytes.data(), bytes.size());
        });
    };
    const auto inChip = [&] {
        std::size_t n = 0;
        chips_->WithDevice(chip, [&](SimDevice& d) { n = d.Rx.size(); });
        return n;
    };
    queue(100);
    std::uint32_t waiting = 0;
    ASSERT_TRUE(WaitUntil(
        [&] { return bridge_.GetQueueStatus(handle, &waiting) == kFtOk && waiting > 0; }, 5000, 1));
    queue(50);
    ASSERT_GT(inChip(), 0u);
    ASSERT_EQ(bridge_.Purge(handle, kFtPurgeRxTx), kFtOk);
    EXPECT_EQ(inChip(), 0u);
    for (int look = 0; look < 3; ++look) {
        EXPECT_EQ(bridge_.GetQueueStatus(handle, &waiting), kFtOk);
        EXPECT_EQ(waiting, 0u) << "look " << look;
    }
    std::uint8_t buffer[40] = {};
    std::uint32_t read = 99;
    EXPECT_EQ(bridge_.Read(handle, buffer, sizeof buffer, &read), kFtOk);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(bridge_.Close(handle), kFtOk);
}

// A chip that says nothing: a read gives back nothing, with success, once its time-out is up.
TEST_F(Bridge, ReadOnASilentChipEndsAtItsTimeOut) {
    chips_->Plug("VL000001", "LED Lamp", std::make_shared<SilentModel>());
    CDevices port(bridge_);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 38400));
    std::uint8_t buffer[40] = {};
    std::uint32_t read = 99;
    const auto start = Steady::now();
    EXPECT_EQ(bridge_.Read(port.CurrentRow()->Settings.Handle, buffer, 40, &read), kFtOk);
    const double ms = MsSince(start);
    EXPECT_EQ(read, 0u);
    EXPECT_GE(ms, 300.0);
    EXPECT_FALSE(port.DeviceGone);
}

// Pulled out while idle, in the middle of a write and in the middle of a read: the call in
// progress fails as "device gone", every later one too, the close succeeds, and once the chip
// is back the same serial number opens again.
TEST_F(Bridge, UnplugAtAnyMomentEndsThePortAndTheChipOpensAgain) {
    enum class When { Idle, Writing, Reading };
    for (const When when : {When::Idle, When::Writing, When::Reading}) {
        SCOPED_TRACE(static_cast<int>(when));
        const int chip = chips_->Plug("VL00000" + std::to_string(static_cast<int>(when)),
                                      "LED Lamp", std::make_shared<SilentModel>());
        CDevices port(bridge_);
        port.ListDevices();
        ASSERT_TRUE(port.OpenDevice(port.DeviceCount - 1, 19200));
        const FtHandle handle = port.CurrentRow()->Settings.Handle;
        // Long enough to outlast the unplug: 2000 bytes take a second at 19200 baud.
        ASSERT_EQ(bridge_.SetTimeouts(handle, 5000, 5000), kFtOk);
        std::future<FtStatus> call;
        std::vector<std::uint8_t> bytes(2000, 0x55);
        std::uint32_t count = 0;
        if (when == When::Writing) {
            call = std::async(std::launch::async,
                              [&] { return bridge_.Write(handle, bytes.data(), 2000, &count); });
        } else if (when == When::Reading) {
            call = std::async(std::launch::async,
                              [&] { return bridge_.Read(handle, bytes.data(), 40, &count); });
        }
        if (call.valid()) {
            // The call must be under way when the chip goes: its transfer held by the chip.
            const bool reading = when == When::Reading;
            ASSERT_TRUE(WaitUntil([&] { return chips_->BulkInFlight(chip, reading) > 0; }, 5000, 1))
                << "the " << (reading ? "read" : "write") << " never reached the chip";
        }
        const auto pulled = Steady::now();
        chips_->Unplug(chip);
        if (call.valid()) {
            const FtStatus status = call.get();
            EXPECT_TRUE(FtDeviceGone(status)) << status;
            // It ended with the unplug, not at its time-out.
            EXPECT_LT(MsSince(pulled), 2500.0);
        }
        EXPECT_EQ(port.BytesWaiting(), 0);
        EXPECT_TRUE(port.DeviceGone);
        EXPECT_FALSE(port.WriteLinkCommand('M'));
        EXPECT_EQ(bridge_.Close(handle), kFtOk);
        port.IsOpen = false;  // the handle is closed already

        chips_->Replug(chip);
        port.ListDevices();
        EXPECT_TRUE(port.OpenDevice(port.DeviceCount - 1, 19200));
        EXPECT_FALSE(port.DeviceGone);
        port.CloseDevice();
        chips_->Unplug(chip);
    }
}

// A chip pulled out while open: every call on its handle says the device is gone, those that
// never reach the bus as well, and the close lets the handle go.
TEST_F(Bridge, EveryCallOnAnUnpluggedChipSaysItIsGone) {
    const int chip = chips_->Plug("VL000001", "LED Lamp", std::make_shared<SilentModel>());
    const FtHandle handle = Open("VL000001");
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(bridge_.SetTimeouts(handle, 300, 300), kFtOk);
    chips_->Unplug(chip);
    std::uint8_t bytes[8] = {};
    std::uint32_t a = 0, b = 0, c = 0;
    using Call = std::function<FtStatus()>;
    const std::pair<const char*, Call> calls[] = {
        {"GetModemStatus", [&] { return bridge_.GetModemStatus(handle, &a); }},
        {"GetEventStatus", [&] { return bridge_.GetEventStatus(handle, &a); }},
        {"GetQueueStatus", [&] { return bridge_.GetQueueStatus(handle, &a); }},
        {"GetStatus", [&] { return bridge_.GetStatus(handle, &a, &b, &c); }},
        {"Read", [&] { return bridge_.Read(handle, bytes, sizeof bytes, &a); }},
        {"Write", [&] { return bridge_.Write(handle, bytes, sizeof bytes, &a); }},
        {"ResetDevice", [&] { return bridge_.ResetDevice(handle); }},
        {"SetDivisor", [&] { return bridge_.SetDivisor(handle, 0x809C); }},
        {"SetDataCharacteristics", [&] { return bridge_.SetDataCharacteristics(handle, 8, 0, 0); }},
        {"SetFlowControl", [&] { return bridge_.SetFlowControl(handle, 0, 0, 0); }},
        {"SetChars", [&] { return bridge_.SetChars(handle, 0, 0, 0, 0); }},
        {"SetEventNotification", [&] { return bridge_.SetEventNotification(handle, 0); }},
        {"SetDtr", [&] { return bridge_.SetDtr(handle); }},
        {"ClrDtr", [&] { return bridge_.ClrDtr(handle); }},
        {"SetRts", [&] { return bridge_.SetRts(handle); }},
        {"ClrRts", [&] { return bridge_.ClrRts(handle); }},
        {"SetTimeouts", [&] { return bridge_.SetTimeouts(handle, 300, 300); }},
        {"Purge", [&] { return bridge_.Purge(handle, kFtPurgeRxTx); }},
        {"SetBitMode", [&] { return bridge_.SetBitMode(handle, 0, 0); }},
    };
    for (const auto& [name, call] : calls) {
        const FtStatus status = call();
        EXPECT_TRUE(FtDeviceGone(status)) << name << " answered " << status;
    }
    EXPECT_EQ(bridge_.Close(handle), kFtOk);
    EXPECT_EQ(bridge_.Close(handle), kFtInvalidHandle);
}

// Two lamps side by side: each port reaches its own chip, and a second open of a held chip
// is refused.
TEST_F(Bridge, TwoChipsAreTwoPorts) {
    const int first = PlugEcho("VL000001");
    const int second = PlugEcho("VL000002", "LED Lamp 2");
    const FtHandle a = Open("VL000001");
    const FtHandle b = Open("VL000002");
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    FtStatus again = kFtOk;
    EXPECT_EQ(Open("VL000002", &again), 0u);
    EXPECT_EQ(again, kFtDeviceNotOpened);
    std::uint32_t n = 0;
    const std::uint8_t one[2] = {1, 1}, two[3] = {2, 2, 2};
    ASSERT_EQ(bridge_.Write(a, one, 2, &n), kFtOk);
    ASSERT_EQ(bridge_.Write(b, two, 3, &n), kFtOk);
    EXPECT_EQ(chips_->State(first).Written, std::vector<std::uint8_t>(one, one + 2));
    EXPECT_EQ(chips_->State(second).Written, std::vector<std::uint8_t>(two, two + 3));
    std::uint8_t got[8] = {};
    ASSERT_EQ(bridge_.Read(b, got, 3, &n), kFtOk);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(got[0], 2);
    EXPECT_EQ(bridge_.Close(a), kFtOk);
    EXPECT_EQ(bridge_.Close(b), kFtOk);
}

// A chip that refuses one of the set-up requests: the open fails and lets the chip go, the
// refusal is no unplug, and once the chip takes the request again it opens.
TEST_F(Bridge, ARefusedRequestFailsTheOpenButIsNoUnplug) {
    const int chip = PlugEcho("VL000001");
    chips_->FailRequest(chip, 0x04);  // line settings
    CDevices port(bridge_);
    port.ListDevices();
    EXPECT_FALSE(port.OpenDevice(0, 38400));
    EXPECT_FALSE(port.DeviceGone);
    EXPECT_FALSE(chips_->State(chip).Claimed);
    const FtHandle handle = Open("VL000001");
    ASSERT_NE(handle, 0u);
    const FtStatus refused = bridge_.SetDataCharacteristics(handle, 8, 0, 0);
    EXPECT_NE(refused, kFtOk);
    EXPECT_FALSE(FtDeviceGone(refused)) << refused;
    EXPECT_EQ(bridge_.SetDivisor(handle, 0xC04E), kFtOk);
    EXPECT_EQ(bridge_.Close(handle), kFtOk);
    chips_->FailRequest(chip, -1);
    EXPECT_TRUE(port.OpenDevice(0, 38400));
}

// A chip whose transmitter stands still takes what fits its buffer and then no more: the write
// that does not fit fails at its time-out, and the port is not taken for gone. What the chip
// holds is purged, so no part of a frame waits to go out: once the transmitter goes on, the
// next frame reaches the far side whole and first. CTS held off stops it only under handshake
// flow control, which the port never asks for.
TEST_F(Bridge, AWriteThatStallsFailsAndLeavesNoPartOfAFrameOnTheLine) {
    struct Case {
        const char* name;
        std::function<void(int chip, FtHandle handle)> stop;
        std::function<void(int chip)> go;
    };
    const auto cts = [&](int chip, bool on) {
        chips_->WithDevice(chip, [&](SimDevice& d) {
            d.ModemStatus = on ? (d.ModemStatus | 0x10) : (d.ModemStatus & ~0x10u);
        });
    };
    const Case cases[] = {
        {"transmitter held", [&](int chip, FtHandle) { chips_->HoldTransmitter(chip, true); },
         [&](int chip) { chips_->HoldTransmitter(chip, false); }},
        {"CTS held off under RTS/CTS",
         [&](int chip, FtHandle handle) {
             ASSERT_EQ(bridge_.SetFlowControl(handle, 0x0100, 0, 0), kFtOk);
             cts(chip, false);
         },
         [&](int chip) { cts(chip, true); }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int chip = PlugEcho("VL00001" + std::to_string(n++));
        CDevices port(bridge_);
        port.ListDevices();
        ASSERT_TRUE(port.OpenDevice(port.DeviceCount - 1, 38400));
        const FtHandle handle = port.CurrentRow()->Settings.Handle;
        c.stop(chip, handle);
        CFrame frame;
        // Three frames fit the chip's 128-byte buffer, and 8 bytes of a fourth.
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(port.WriteFrame(frame)) << i;
        const std::uint8_t bytes[40] = {};
        std::uint32_t written = 99;
        const auto start = Steady::now();
        const FtStatus status = bridge_.Write(handle, bytes, 40, &written);
        EXPECT_EQ(status, kFtFailedToWriteDevice);
        EXPECT_FALSE(FtDeviceGone(status));
        EXPECT_EQ(written, 8u);
        EXPECT_GE(MsSince(start), 250.0);
        EXPECT_EQ(chips_->State(chip).TxHeld, 0u);
        // The port sees a frame that does not fit as failed, and keeps the device.
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(port.WriteFrame(frame)) << i;
        EXPECT_FALSE(port.WriteFrame(frame));
        EXPECT_FALSE(port.DeviceGone);
        EXPECT_EQ(chips_->State(chip).TxHeld, 0u);
        c.go(chip);
        ASSERT_TRUE(port.WriteFrame(frame));
        // The echo brings back that frame alone, from its first byte.
        EXPECT_TRUE(WaitUntil([&] { return port.BytesWaiting() >= 40; }, 5000, 5));
        std::uint8_t back[40] = {};
        ASSERT_EQ(port.ReadBytes(back, 40), 40);
        EXPECT_TRUE(std::equal(std::begin(back), std::end(back), frame.Raw.begin()));
        EXPECT_EQ(port.BytesWaiting(), 0);
        port.CloseDevice();
        chips_->Unplug(chip);
    }
    // Without flow control, as the port sets it up, CTS held off stops nothing.
    const int chip = PlugEcho("VL000019");
    CDevices port(bridge_);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(port.DeviceCount - 1, 38400));
    cts(chip, false);
    CFrame frame;
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(port.WriteFrame(frame)) << i;
    EXPECT_EQ(chips_->State(chip).TxHeld, 0u);
}

// The emulated chip's own behaviour, where the program could come to depend on it.
using EmulatedChip = Bridge;

// The chip's reset turns handshake flow control off and lowers DTR and RTS.
TEST_F(EmulatedChip, ResetLeavesNoFlowControlAndTheLinesLow) {
    const int chip = PlugEcho("VL000001");
    const FtHandle handle = Open("VL000001");
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(bridge_.SetFlowControl(handle, 0x0100, 0, 0), kFtOk);
    ASSERT_EQ(bridge_.SetDtr(handle), kFtOk);
    ASSERT_EQ(bridge_.SetRts(handle), kFtOk);
    ChipState state = chips_->State(chip);
    EXPECT_EQ(state.FlowControl, 0x0100);
    EXPECT_TRUE(state.Dtr && state.Rts);
    ASSERT_EQ(bridge_.ResetDevice(handle), kFtOk);
    state = chips_->State(chip);
    EXPECT_EQ(state.FlowControl, 0);
    EXPECT_FALSE(state.Dtr);
    EXPECT_FALSE(state.Rts);
    bridge_.Close(handle);
}

// Bytes the chip received before an open stay in it across the claim and the reset; only the
// purge empties a buffer, value 2 the way in and value 1 the way out, as libftdi 1.5 names them.
TEST_F(EmulatedChip, StaleBytesStayUntilTheirWayIsPurged) {
    const int chip = chips_->Plug("VL000001", "LED Lamp", std::make_shared<SilentModel>());
    const auto inChip = [&] {
        std::size_t n = 0;
        chips_->WithDevice(chip, [&](SimDevice& d) { n = d.Rx.size(); });
        return n;
    };
    const std::vector<std::uint8_t> stale(30, 0x33);
    chips_->WithDevice(chip, [&](SimDevice& d) { d.Queue(stale.data(), stale.size()); });
    ftdi_context* ctx = ftdi_new();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(ftdi_usb_open_desc(ctx, 0x0403, 0x6001, nullptr, "VL000001"), 0)
        << ftdi_get_error_string(ctx);
    EXPECT_EQ(inChip(), 30u);
    chips_->HoldTransmitter(chip, true);
    std::uint8_t out[10] = {};
    ASSERT_EQ(ftdi_write_data(ctx, out, 10), 10);
    EXPECT_EQ(chips_->State(chip).TxHeld, 10u);
    ASSERT_EQ(ftdi_tcoflush(ctx), 0);
    EXPECT_EQ(inChip(), 30u);
    EXPECT_EQ(chips_->State(chip).TxHeld, 0u);
    ASSERT_EQ(ftdi_tciflush(ctx), 0);
    EXPECT_EQ(inChip(), 0u);
    chips_->HoldTransmitter(chip, false);
    ftdi_usb_close(ctx);
    ftdi_free(ctx);

    // So an open that purged nothing would hand the program the bytes of a session before.
    chips_->WithDevice(chip, [&](SimDevice& d) { d.Queue(stale.data(), stale.size()); });
    CDevices port(bridge_);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 38400));
    for (int look = 0; look < 3; ++look) EXPECT_EQ(port.BytesWaiting(), 0) << look;
}

// The chip holds 256 received bytes; what comes beyond while the host does not read is lost,
// and the line-status byte reports the overrun once.
TEST_F(EmulatedChip, TheReceiveBufferOverrunsBeyond256Bytes) {
    const int chip = chips_->Plug("VL000001", "LED Lamp", std::make_shared<SilentModel>());
    const FtHandle handle = Open("VL000001");
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(bridge_.SetTimeouts(handle, 100, 100), kFtOk);
    std::vector<std::uint8_t> sent(300);
    std::iota(sent.begin(), sent.end(), 0);
    chips_->WithDevice(chip, [&](SimDevice& d) { d.Queue(sent.data(), sent.size()); });
    std::uint32_t status = 0;
    ASSERT_EQ(bridge_.GetModemStatus(handle, &status), kFtOk);
    EXPECT_EQ((status >> 8) & SimDevice::kOverrun, SimDevice::kOverrun);
    ASSERT_EQ(bridge_.GetModemStatus(handle, &status), kFtOk);
    EXPECT_EQ((status >> 8) & SimDevice::kOverrun, 0u);
    std::vector<std::uint8_t> got(300);
    std::uint32_t read = 0;
    EXPECT_EQ(bridge_.Read(handle, got.data(), 300, &read), kFtOk);
    got.resize(read);
    EXPECT_EQ(got, std::vector<std::uint8_t>(sent.begin(), sent.begin() + 256));
    bridge_.Close(handle);
}

// Bytes sent at a rate the chip's UART cannot follow arrive as noise with a framing error;
// a sender a little off the chip's rate is still understood.
TEST_F(EmulatedChip, BytesAtAnotherRateArriveWithFramingErrors) {
    const int chip = chips_->Plug("VL000001", "LED Lamp", std::make_shared<SilentModel>());
    const FtHandle handle = Open("VL000001");
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(bridge_.SetTimeouts(handle, 100, 100), kFtOk);
    ASSERT_EQ(bridge_.SetDivisor(handle, 0xC04E), kFtOk);  // 38400
    const struct {
        std::int32_t sendBaud;
        bool garbled;
    } cases[] = {{19200, true}, {38400, false}, {39000, false}, {57600, true}};
    const std::vector<std::uint8_t> sent = {0xA0, 0x01, 0x02, 0xAF};
    for (const auto& c : cases) {
        chips_->WithDevice(chip, [&](SimDevice& d) {
            d.SendBaud = c.sendBaud;
            d.Queue(sent.data(), sent.size());
        });
        std::uint32_t status = 0;
        ASSERT_EQ(bridge_.GetModemStatus(handle, &status), kFtOk);
        EXPECT_EQ(((status >> 8) & SimDevice::kFramingError) != 0, c.garbled) << c.sendBaud;
        std::vector<std::uint8_t> got(4);
        std::uint32_t read = 0;
        ASSERT_EQ(bridge_.Read(handle, got.data(), 4, &read), kFtOk);
        EXPECT_EQ(read, 4u);
        EXPECT_EQ(got != sent, c.garbled) << c.sendBaud;
    }
    bridge_.Close(handle);
}

// libftdi's own rate encoding, third fraction bit and special divisors included, comes out of
// the chip as the rate it was asked for.
TEST_F(EmulatedChip, DecodesEveryDivisorAsTheChipDoes) {
    const int chip = PlugEcho("VL000001");
    ftdi_context* ctx = ftdi_new();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(ftdi_usb_open_desc(ctx, 0x0403, 0x6001, nullptr, "VL000001"), 0)
        << ftdi_get_error_string(ctx);
    const struct {
        int baud;
        bool thirdBit;
    } rates[] = {
        {3000000, false}, {2000000, false}, {1500000, false},  // special divisors 0, 1 and 2
        {19200, false},   {38400, false},   {115200, false},  {113744, true},  // 26 3/8
        {112676, true},                                                        // 26 5/8
        {112150, true},                                                        // 26 6/8
        {111628, true},                                                        // 26 7/8
    };
    for (const auto& r : rates) {
        ASSERT_EQ(ftdi_set_baudrate(ctx, r.baud), 0) << r.baud;
        const ChipState state = chips_->State(chip);
        EXPECT_NEAR(state.Baud, r.baud, r.baud * 0.002) << r.baud;
        EXPECT_EQ((state.DivisorIndex & 1) != 0, r.thirdBit) << r.baud;
    }
    ftdi_usb_close(ctx);
    ftdi_free(ctx);
}

// A chip another program holds cannot be opened and the open says it is busy; the failed open
// reserves nothing: once the other program lets go, the chip opens.
TEST_F(Bridge, AChipAnotherProgramHoldsIsBusy) {
    const int chip = PlugEcho("VL000001");
    ftdi_context* other = ftdi_new();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(ftdi_usb_open_desc(other, 0x0403, 0x6001, nullptr, "VL000001"), 0)
        << ftdi_get_error_string(other);
    FtStatus status = kFtOk;
    EXPECT_EQ(Open("VL000001", &status), 0u);
    EXPECT_EQ(status, kFtDeviceBusy);
    ftdi_usb_close(other);
    ftdi_free(other);
    EXPECT_FALSE(chips_->State(chip).Claimed);
    const FtHandle handle = Open("VL000001");
    EXPECT_NE(handle, 0u);
    bridge_.Close(handle);
}

// The kernel's serial driver holds the chip when it is plugged in: the open takes the chip from
// it, and the close gives it back.
TEST_F(Bridge, TheKernelDriverIsDetachedAndGivenBack) {
    const int chip = chips_->Plug("VL000001", "LED Lamp", std::make_shared<EchoModel>(), true);
    EXPECT_TRUE(chips_->State(chip).KernelDriverBound);
    const FtHandle handle = Open("VL000001");
    ASSERT_NE(handle, 0u);
    EXPECT_FALSE(chips_->State(chip).KernelDriverBound);
    EXPECT_TRUE(chips_->State(chip).Claimed);
    EXPECT_EQ(bridge_.Close(handle), kFtOk);
    EXPECT_TRUE(chips_->State(chip).KernelDriverBound);
    EXPECT_FALSE(chips_->State(chip).Claimed);
}

// Without a udev rule the device node is the administrator's alone: the chip is listed (its
// strings cannot be read, so it is no lamp) with the listing saying so, and the open fails
// without reserving anything.
TEST_F(Bridge, ANodeTheUserMayNotOpenIsListedButNotOpened) {
    const int chip = PlugEcho("VL000001");
    chips_->DenyAccess(chip);
    const auto asUser = [](const std::function<void()>& fn) {
        // Root opens any file; the check runs as an ordinary user where the test is root.
        const bool root = geteuid() == 0;
        if (root) {
            ASSERT_EQ(seteuid(65534), 0);
        }
        fn();
        if (root) {
            ASSERT_EQ(seteuid(0), 0);
        }
    };
    // libusb's hot-plug monitor listens inside the test's own mock tree; one context kept from
    // before the switch keeps it running for the contexts made as the other user.
    ftdi_context* keep = ftdi_new();
    std::vector<std::string> descriptions;
    FtStatus listed = kFtOk;
    FtStatus status = kFtOk;
    FtHandle handle = 0;
    asUser([&] {
        listed = bridge_.ListDevices(descriptions, kFtListAllByDescription);
        status = bridge_.OpenEx("VL000001", kFtOpenBySerial, &handle);
    });
    ftdi_free(keep);
    EXPECT_EQ(listed, kFtNoAccess);
    EXPECT_EQ(descriptions, std::vector<std::string>{""});
    EXPECT_NE(status, kFtOk);
    EXPECT_EQ(handle, 0u);
    EXPECT_FALSE(chips_->State(chip).Claimed);
}

// The lamp link over the real bridge: a simulated lamp behind the chip connects, switches to the
// run rate and answers; its faults reach the program as they would from a real lamp.
TEST_F(Bridge, ALampBehindTheChipConnectsAndItsFaultsArrive) {
    SimLampOptions options;
    options.RunBaud = 38400;
    options.StatusIntervalMs = 0;
    options.WireTimed = true;
    auto lamp = std::make_shared<SimLamp>(DefaultClock(), options);
    chips_->Plug("VL000001", "LED Lamp 1", lamp);
    CLightInput light(bridge_, DefaultClock(), "");
    ASSERT_EQ(light.Connect(19200, 38400, 5), CLightInput::kOk);
    EXPECT_EQ(lamp->State().LineBaud, 38400);
    CChannel record(3);
    EXPECT_TRUE(light.ReadChannel(record));
    // A damaged reply crosses the chip as it is and is refused; the next one is taken.
    lamp->SetWrongChecksum(true);
    EXPECT_FALSE(light.ReadChannel(record));
    lamp->SetWrongChecksum(false);
    EXPECT_TRUE(light.ReadChannel(record));
}

}  // namespace
