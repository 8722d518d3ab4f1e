#include <gtest/gtest.h>

#include <memory>

#include "link/Devices.h"
#include "link/Frame.h"
#include "sim/Simbus.h"

namespace {

// Receives and keeps what the program writes, and can be given bytes to answer with.
class RecordingModel : public SimDeviceModel {
  public:
    void Receive(SimDevice&, const std::uint8_t* data, std::size_t size) override {
        written.insert(written.end(), data, data + size);
    }
    std::vector<std::uint8_t> written;
};

struct Bus {
    SimBus bus;
    std::shared_ptr<RecordingModel> model = std::make_shared<RecordingModel>();
    Bus() { bus.AddDevice("LED Lamp 1", "SER001", model); }
};

std::vector<std::string> Names(const std::vector<SimCall>& calls) {
    std::vector<std::string> out;
    for (const auto& c : calls) out.push_back(c.Name);
    return out;
}

}  // namespace

TEST(Devices, DivisorsForCommonRates) {
    const struct {
        std::int32_t baud;
        std::uint16_t divisor;
    } cases[] = {
        {9600, 0x4138}, {19200, 0x809C}, {38400, 0xC04E}, {57600, 0x0034}, {115200, 0x001A}};
    for (const auto& c : cases) EXPECT_EQ(CDevices::BaudDivisor(c.baud), c.divisor) << c.baud;
}

TEST(Devices, NoDeviceAttachedListsNothing) {
    SimBus bus;
    CDevices port(bus);
    port.ListDevices();
    EXPECT_EQ(port.DeviceCount, 0);
    EXPECT_FALSE(port.OpenDevice(0, 19200));
}

TEST(Devices, ListingKeepsEveryDeviceBeyondFour) {
    SimBus bus;
    for (int i = 0; i < 6; ++i)
        bus.AddDevice("LED Lamp " + std::to_string(i), "S" + std::to_string(i),
                      std::make_shared<EchoModel>());
    CDevices port(bus);
    port.ListDevices();
    ASSERT_EQ(port.DeviceCount, 6);
    EXPECT_EQ(port.Devices[5].Description, "LED Lamp 5");
    EXPECT_EQ(port.Devices[5].SerialNumber, "S5");
    EXPECT_TRUE(port.OpenDevice(5, 19200));
}

TEST(Devices, OpenIssuesTheLineSetUpInOrder) {
    Bus b;
    CDevices port(b.bus);
    port.ListDevices();
    b.bus.ClearCalls();
    ASSERT_TRUE(port.OpenDevice(0, 19200));
    const std::vector<std::string> order = {"OpenEx",
                                            "ResetDevice",
                                            "SetDivisor",
                                            "SetDataCharacteristics",
                                            "SetFlowControl",
                                            "SetChars",
                                            "SetEventNotification",
                                            "SetDtr",
                                            "SetRts",
                                            "SetTimeouts",
                                            "Purge",
                                            "GetModemStatus"};
    EXPECT_EQ(Names(b.bus.Calls()), order);
    const auto calls = b.bus.Calls();
    EXPECT_EQ(calls[0].Serial, "SER001");
    EXPECT_EQ(calls[2].Args, (std::vector<std::int64_t>{0x809C}));
    EXPECT_EQ(calls[3].Args, (std::vector<std::int64_t>{8, 0, 0}));
    EXPECT_EQ(calls[4].Args, (std::vector<std::int64_t>{0, 0, 0}));
    EXPECT_EQ(calls[5].Args, (std::vector<std::int64_t>{0, 0, 0, 0}));
    EXPECT_EQ(calls[9].Args, (std::vector<std::int64_t>{300, 300}));
    EXPECT_EQ(calls[10].Args, (std::vector<std::int64_t>{3}));
    EXPECT_TRUE(port.IsOpen);
    EXPECT_EQ(port.CurrentRow()->Settings.Cts, 1);
    EXPECT_EQ(port.CurrentRow()->Settings.Dsr, 1);

    b.bus.ClearCalls();
    port.CloseDevice();
    EXPECT_EQ(Names(b.bus.Calls()), (std::vector<std::string>{"SetBitMode", "Close"}));
    EXPECT_EQ(b.bus.Calls()[0].Args, (std::vector<std::int64_t>{0, 0}));
    EXPECT_FALSE(port.IsOpen);
    EXPECT_EQ(port.CurrentRow(), nullptr);
}

TEST(Devices, SecondOpenOfTheSameDeviceFails) {
    Bus b;
    CDevices first(b.bus);
    CDevices second(b.bus);
    first.ListDevices();
    second.ListDevices();
    ASSERT_TRUE(first.OpenDevice(0, 19200));
    EXPECT_FALSE(second.OpenDevice(0, 19200));
    EXPECT_FALSE(second.IsOpen);
    EXPECT_EQ(second.CurrentRow(), nullptr);
    first.CloseDevice();
    EXPECT_TRUE(second.OpenDevice(0, 19200));
}

TEST(Devices, OpeningAgainWhileOpenLetsTheHeldDeviceGoFirst) {
    Bus b;
    CDevices port(b.bus);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 19200));
    b.bus.ClearCalls();
    // Reopening at another rate must not strand the first handle and keep the device busy.
    ASSERT_TRUE(port.OpenDevice(0, 38400));
    const auto names = Names(b.bus.Calls());
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ((std::vector<std::string>(names.begin(), names.begin() + 3)),
              (std::vector<std::string>{"SetBitMode", "Close", "OpenEx"}));
    EXPECT_EQ(b.bus.CallsNamed("SetDivisor").back().Args[0], 0xC04E);
    port.CloseDevice();
    EXPECT_FALSE(b.bus.IsOpen(0));
}

TEST(Devices, SequenceNumbersStartAtOneAfterOpenAndWrap) {
    Bus b;
    CDevices port(b.bus);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 38400));
    CFrame f;
    for (int i = 1; i <= 256; ++i) {
        ASSERT_TRUE(port.WriteFrame(f));
        EXPECT_EQ(f.Raw[1], static_cast<std::uint8_t>(i));
    }
    EXPECT_EQ(f.Raw[1], 0);
    EXPECT_EQ(b.model->written.size(), 256u * 40u);
    port.CloseDevice();
    ASSERT_TRUE(port.OpenDevice(0, 38400));
    port.WriteFrame(f);
    EXPECT_EQ(f.Raw[1], 1);
}

TEST(Devices, LinkCommandAndReadsInPiecesOfAFrame) {
    SimBus bus;
    bus.AddDevice("LED Lamp", "E1", std::make_shared<EchoModel>());
    CDevices port(bus);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 19200));
    ASSERT_TRUE(port.WriteLinkCommand('M'));
    CFrame f;
    ASSERT_TRUE(port.WriteFrame(f));
    ASSERT_TRUE(port.WriteFrame(f));
    EXPECT_EQ(port.BytesWaiting(), 83);
    bus.ClearCalls();
    std::uint8_t buf[100] = {};
    // Asking for more than arrived returns what arrived instead of waiting forever.
    EXPECT_EQ(port.ReadBytes(buf, 100), 83);
    EXPECT_EQ(buf[0], 0x3C);
    EXPECT_EQ(buf[1], 'M');
    EXPECT_EQ(buf[2], 0x3E);
    EXPECT_EQ(buf[3], 0xA0);
    const auto reads = bus.CallsNamed("Read");
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].Args[0], 40);
    EXPECT_EQ(reads[1].Args[0], 40);
    EXPECT_EQ(reads[2].Args[0], 20);
}

TEST(Devices, EveryOperationOnAClosedPort) {
    Bus b;
    CDevices port(b.bus);
    CFrame f;
    std::uint8_t buf[40];
    EXPECT_EQ(port.BytesWaiting(), 0);
    EXPECT_EQ(port.ReadBytes(buf, 40), -1);
    EXPECT_FALSE(port.WriteFrame(f));
    EXPECT_FALSE(port.WriteLinkCommand('M'));
    port.CloseDevice();
    EXPECT_TRUE(b.bus.Calls().empty());
    EXPECT_EQ(port.SequenceCounter, 0);
}

TEST(Devices, UnpluggedDeviceFailsEveryCall) {
    Bus b;
    CDevices port(b.bus);
    port.ListDevices();
    ASSERT_TRUE(port.OpenDevice(0, 19200));
    b.bus.Unplug(0);
    CFrame f;
    std::uint8_t buf[40];
    EXPECT_FALSE(port.WriteFrame(f));
    EXPECT_EQ(port.BytesWaiting(), 0);
    EXPECT_EQ(port.ReadBytes(buf, 40), 0);
    port.CloseDevice();
    port.ListDevices();
    EXPECT_EQ(port.DeviceCount, 0);
}
