#include <ftdi.h>
#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <thread>

#include "link/Devices.h"
#include "platform/Ftdi.h"

namespace {

// These tests expect a machine without FTDI hardware; with a bridge plugged in they step aside.
bool HardwareAttached() {
    FtdiBridge bridge;
    std::vector<std::string> texts;
    return bridge.ListDevices(texts, kFtListAllByDescription) == kFtOk && !texts.empty();
}

}  // namespace

TEST(FtdiBridge, ListingWithoutDevicesIsEmptyAndSucceeds) {
    if (HardwareAttached()) GTEST_SKIP() << "an FTDI device is attached";
    FtdiBridge bridge;
    for (const std::uint32_t flags : {kFtListAllBySerial, kFtListAllByDescription}) {
        std::vector<std::string> texts = {"stale"};
        EXPECT_EQ(bridge.ListDevices(texts, flags), kFtOk) << flags;
        EXPECT_TRUE(texts.empty()) << flags;
    }
    std::vector<std::string> texts = {"stale"};
    EXPECT_NE(bridge.ListDevices(texts, 0x1234), kFtOk);
    EXPECT_TRUE(texts.empty());
}

TEST(FtdiBridge, OpeningAnAbsentDeviceFailsAndReservesNothing) {
    if (HardwareAttached()) GTEST_SKIP() << "an FTDI device is attached";
    FtdiBridge bridge;
    FtHandle handle = 77;
    EXPECT_EQ(bridge.OpenEx("NOSUCH01", kFtOpenBySerial, &handle), kFtDeviceNotFound);
    EXPECT_EQ(handle, 0u);
    // A failed open must not leave the serial number marked as taken.
    handle = 77;
    EXPECT_EQ(bridge.OpenEx("NOSUCH01", kFtOpenBySerial, &handle), kFtDeviceNotFound);
    EXPECT_EQ(handle, 0u);
    EXPECT_NE(bridge.OpenEx("", kFtOpenBySerial, &handle), kFtOk);
    EXPECT_NE(bridge.OpenEx("NOSUCH01", 2, &handle), kFtOk);
    EXPECT_NE(bridge.OpenEx("NOSUCH01", kFtOpenBySerial, nullptr), kFtOk);
}

TEST(FtdiBridge, PortWithoutDevicesFindsNoLampAndStaysClosed) {
    if (HardwareAttached()) GTEST_SKIP() << "an FTDI device is attached";
    FtdiBridge bridge;
    CDevices devices(bridge);
    devices.ListDevices();
    EXPECT_EQ(devices.DeviceCount, 0);
    EXPECT_FALSE(devices.OpenDevice(0, 19200));
    EXPECT_FALSE(devices.IsOpen);
    EXPECT_EQ(devices.BytesWaiting(), 0);
}

TEST(FtdiBridge, EveryCallOnAnUnknownHandleFails) {
    FtdiBridge bridge;
    std::uint8_t bytes[8] = {};
    using Call = std::function<FtStatus(FtHandle)>;
    const std::pair<const char*, Call> calls[] = {
        {"ResetDevice", [&](FtHandle h) { return bridge.ResetDevice(h); }},
        {"SetDivisor", [&](FtHandle h) { return bridge.SetDivisor(h, 0x809C); }},
        {"SetDataCharacteristics",
         [&](FtHandle h) { return bridge.SetDataCharacteristics(h, 8, 0, 0); }},
        {"SetFlowControl", [&](FtHandle h) { return bridge.SetFlowControl(h, 0, 0, 0); }},
        {"SetChars", [&](FtHandle h) { return bridge.SetChars(h, 0, 0, 0, 0); }},
        {"SetEventNotification", [&](FtHandle h) { return bridge.SetEventNotification(h, 0); }},
        {"SetDtr", [&](FtHandle h) { return bridge.SetDtr(h); }},
        {"ClrDtr", [&](FtHandle h) { return bridge.ClrDtr(h); }},
        {"SetRts", [&](FtHandle h) { return bridge.SetRts(h); }},
        {"ClrRts", [&](FtHandle h) { return bridge.ClrRts(h); }},
        {"SetTimeouts", [&](FtHandle h) { return bridge.SetTimeouts(h, 300, 300); }},
        {"Purge", [&](FtHandle h) { return bridge.Purge(h, kFtPurgeRxTx); }},
        {"GetModemStatus",
         [&](FtHandle h) {
             std::uint32_t status = 99;
             const FtStatus s = bridge.GetModemStatus(h, &status);
             EXPECT_EQ(status, 0u);
             return s;
         }},
        {"GetEventStatus",
         [&](FtHandle h) {
             std::uint32_t events = 99;
             const FtStatus s = bridge.GetEventStatus(h, &events);
             EXPECT_EQ(events, 0u);
             return s;
         }},
        {"GetQueueStatus",
         [&](FtHandle h) {
             std::uint32_t rx = 99;
             const FtStatus s = bridge.GetQueueStatus(h, &rx);
             EXPECT_EQ(rx, 0u);
             return s;
         }},
        {"GetStatus",
         [&](FtHandle h) {
             std::uint32_t rx = 99, tx = 99, events = 99;
             const FtStatus s = bridge.GetStatus(h, &rx, &tx, &events);
             EXPECT_EQ(rx + tx + events, 0u);
             return s;
         }},
        {"Read",
         [&](FtHandle h) {
             std::uint32_t read = 99;
             const FtStatus s = bridge.Read(h, bytes, sizeof bytes, &read);
             EXPECT_EQ(read, 0u);
             return s;
         }},
        {"Write",
         [&](FtHandle h) {
             std::uint32_t written = 99;
             const FtStatus s = bridge.Write(h, bytes, sizeof bytes, &written);
             EXPECT_EQ(written, 0u);
             return s;
         }},
        {"SetBitMode", [&](FtHandle h) { return bridge.SetBitMode(h, 0, 0); }},
        {"Close", [&](FtHandle h) { return bridge.Close(h); }},
    };
    for (const FtHandle handle : {FtHandle{0}, FtHandle{1}, ~FtHandle{0}}) {
        for (const auto& [name, call] : calls)
            EXPECT_NE(call(handle), kFtOk) << name << " on handle " << handle;
    }
}

TEST(FtdiBridge, BaudRequestCarriesTheDivisorAsTheChipFamilyReadsIt) {
    const struct {
        std::uint32_t divisor;
        int chip;
        int interfaceIndex;
        std::uint16_t value;
        std::uint16_t index;
    } cases[] = {
        // Single-port chips: the divisor's bits above 15 alone make the index.
        {0x809C, TYPE_R, 0, 0x809C, 0x0000},
        {0xC04E, TYPE_BM, 0, 0xC04E, 0x0000},
        {0x4138, TYPE_AM, 0, 0x4138, 0x0000},
        {0x001A, TYPE_230X, 0, 0x001A, 0x0000},
        {0x1ABCD, TYPE_R, 0, 0xABCD, 0x0001},
        // libftdi leaves the interface out for the older dual-port chip as well.
        {0x809C, TYPE_2232C, 2, 0x809C, 0x0000},
        // High-speed chips: interface in the low byte, bits 16 and up in the high byte.
        {0x809C, TYPE_2232H, 1, 0x809C, 0x0001},
        {0x809C, TYPE_4232H, 4, 0x809C, 0x0004},
        {0x0034, TYPE_232H, 0, 0x0034, 0x0000},
        {0x3ABCD, TYPE_2232H, 2, 0xABCD, 0x0302},
    };
    for (const auto& c : cases) {
        const FtdiBaudRequest r = BaudRateRequest(c.divisor, c.chip, c.interfaceIndex);
        EXPECT_EQ(r.Value, c.value) << std::hex << c.divisor << " chip " << c.chip;
        EXPECT_EQ(r.Index, c.index) << std::hex << c.divisor << " chip " << c.chip;
    }
}

namespace {

// A bus on which the device set changes from one pass to the next.
struct ChangingBus {
    std::vector<std::vector<FtdiDeviceText>> passes;
    std::size_t taken = 0;
    FtStatus operator()(std::vector<FtdiDeviceText>& devices) {
        devices = passes.at(std::min(taken++, passes.size() - 1));
        return kFtOk;
    }
};

}  // namespace

// A device plugged in between the two listings must not pair a lamp's description with
// another device's serial number.
TEST(FtdiListing, BothListingsOfAPairComeFromOnePass) {
    const FtdiDeviceText lamp{"LED Lamp", "VL000001"};
    const FtdiDeviceText other{"USB Serial", "FT000009"};
    const struct {
        std::uint32_t first;
        std::uint32_t second;
    } orders[] = {{kFtListAllBySerial, kFtListAllByDescription},
                  {kFtListAllByDescription, kFtListAllBySerial}};
    for (const auto& order : orders) {
        auto bus = std::make_shared<ChangingBus>();
        bus->passes = {{lamp}, {other, lamp}, {other}};
        FtdiListing listing([bus](std::vector<FtdiDeviceText>& d) { return (*bus)(d); });
        std::vector<std::string> first, second;
        ASSERT_EQ(listing.List(first, order.first), kFtOk);
        ASSERT_EQ(listing.List(second, order.second), kFtOk);
        const bool serialFirst = order.first == kFtListAllBySerial;
        EXPECT_EQ(serialFirst ? first : second, std::vector<std::string>{"VL000001"});
        EXPECT_EQ(serialFirst ? second : first, std::vector<std::string>{"LED Lamp"});
        EXPECT_EQ(bus->taken, 1u);
        // The pair is used up: the next listing looks at the bus again.
        ASSERT_EQ(listing.List(first, order.second), kFtOk);
        EXPECT_EQ(first.size(), 2u);
        EXPECT_EQ(bus->taken, 2u);
        // A listing of the same kind again takes a fresh pass.
        ASSERT_EQ(listing.List(first, order.second), kFtOk);
        EXPECT_EQ(first.size(), 1u);
        EXPECT_EQ(bus->taken, 3u);
    }
}

TEST(FtdiListing, PairsAreKeptPerThreadAndFailuresLeaveNone) {
    auto bus = std::make_shared<ChangingBus>();
    bus->passes = {{{"LED Lamp 1", "VL000001"}}, {{"LED Lamp 2", "VL000002"}}};
    FtdiListing listing([bus](std::vector<FtdiDeviceText>& d) { return (*bus)(d); });
    std::vector<std::string> serials, descriptions, otherSerials;
    ASSERT_EQ(listing.List(serials, kFtListAllBySerial), kFtOk);
    // Another thread's listing in between neither takes nor replaces this thread's pass.
    std::thread([&] { listing.List(otherSerials, kFtListAllBySerial); }).join();
    ASSERT_EQ(listing.List(descriptions, kFtListAllByDescription), kFtOk);
    EXPECT_EQ(serials, std::vector<std::string>{"VL000001"});
    EXPECT_EQ(descriptions, std::vector<std::string>{"LED Lamp 1"});
    EXPECT_EQ(otherSerials, std::vector<std::string>{"VL000002"});

    bool fail = true;
    FtdiListing failing([&](std::vector<FtdiDeviceText>& d) {
        d = {{"LED Lamp", "VL000001"}};
        return fail ? kFtIoError : kFtOk;
    });
    std::vector<std::string> texts = {"stale"};
    EXPECT_EQ(failing.List(texts, kFtListAllBySerial), kFtIoError);
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(failing.List(texts, 0x1234), kFtOtherError);
    fail = false;
    EXPECT_EQ(failing.List(texts, kFtListAllByDescription), kFtOk);
    EXPECT_EQ(texts, std::vector<std::string>{"LED Lamp"});
}

// A device this user may not read is listed without texts; the listing says why, in both
// listings of its pair, and keeps the devices it could read.
TEST(FtdiListing, DevicesWithoutAccessAreListedAndSaidSo) {
    FtdiListing listing([](std::vector<FtdiDeviceText>& d) {
        d = {{"LED Lamp", "VL000001"}, {"", ""}};
        return kFtNoAccess;
    });
    std::vector<std::string> serials, descriptions;
    EXPECT_EQ(listing.List(serials, kFtListAllBySerial), kFtNoAccess);
    EXPECT_EQ(listing.List(descriptions, kFtListAllByDescription), kFtNoAccess);
    EXPECT_EQ(serials, (std::vector<std::string>{"VL000001", ""}));
    EXPECT_EQ(descriptions, (std::vector<std::string>{"LED Lamp", ""}));
}

namespace {

// The chip's side of the bulk reads: each read brings the packets of one entry of a script
// (a packet is two status bytes and its data), or, past the script, the last entry again.
struct Chip {
    std::size_t packetSize = 64;
    std::vector<std::vector<std::vector<std::uint8_t>>> reads;  // per read, its packets' data
    int fail = -1;                                              // the read that reports a USB error
    int count = 0;
    int Transfer(std::uint8_t* raw, int size) {
        const int n = count++;
        if (n == fail) return -1;
        const auto& packets =
            reads.at(std::min<std::size_t>(static_cast<std::size_t>(n), reads.size() - 1));
        int at = 0;
        for (const auto& data : packets) {
            EXPECT_LE(data.size() + 2, packetSize);
            EXPECT_LE(at + static_cast<int>(data.size()) + 2, size);
            raw[at++] = 0x01;  // modem status
            raw[at++] = 0x60;  // line status
            std::copy(data.begin(), data.end(), raw + at);
            at += static_cast<int>(data.size());
        }
        return at;
    }
    FtdiInbox Inbox() {
        return FtdiInbox([this](std::uint8_t* raw, int size) { return Transfer(raw, size); },
                         packetSize);
    }
};

std::vector<std::uint8_t> Bytes(std::uint8_t first, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

}  // namespace

// A device that never stops sending fills every packet of every read; each look at the line is
// still one USB read, so the lamp thread gets control back after every look.
TEST(FtdiInbox, EachLookIsOneUsbReadEvenWhileDataFlows) {
    for (const std::size_t packetSize : {std::size_t{64}, std::size_t{512}}) {
        Chip chip;
        chip.packetSize = packetSize;
        const std::size_t perPacket = packetSize - FtdiInbox::kStatusBytes;
        const std::size_t packets = FtdiInbox::kTransferSize / packetSize;
        chip.reads = {std::vector<std::vector<std::uint8_t>>(packets, Bytes(0, perPacket))};
        FtdiInbox inbox = chip.Inbox();
        for (int look = 1; look <= 3; ++look) {
            EXPECT_EQ(inbox.Look(), kFtOk);
            EXPECT_EQ(chip.count, look);
            EXPECT_EQ(inbox.Waiting(), static_cast<std::size_t>(look) * packets * perPacket);
        }
        // A full queue leaves further bytes in the chip and reads nothing.
        while (inbox.Waiting() < FtdiInbox::kLimit) inbox.Look();
        const int reads = chip.count;
        EXPECT_EQ(inbox.Look(), kFtOk);
        EXPECT_EQ(chip.count, reads);
        // A read of one frame is served from the queue without touching the line.
        std::uint8_t frame[40] = {};
        std::uint32_t read = 0;
        EXPECT_EQ(inbox.Read(frame, 40, &read, 300), kFtOk);
        EXPECT_EQ(read, 40u);
        EXPECT_EQ(chip.count, reads);
    }
}

// Status bytes lead every packet, the last one perhaps short; only data reaches the queue, in
// arrival order, and bytes a read brought beyond what was asked wait for the next read.
TEST(FtdiInbox, DataComesOutInOrderWithoutStatusBytes) {
    Chip chip;
    chip.reads = {
        {},                                             // status only: nothing waiting
        {Bytes(0, 62), Bytes(62, 62), Bytes(124, 10)},  // two full packets and a short one
        {Bytes(134, 30)},
        {},
    };
    FtdiInbox inbox = chip.Inbox();
    EXPECT_EQ(inbox.Look(), kFtOk);
    EXPECT_EQ(inbox.Waiting(), 0u);
    EXPECT_EQ(inbox.Look(), kFtOk);
    EXPECT_EQ(inbox.Waiting(), 134u);
    std::vector<std::uint8_t> got(164);
    std::uint32_t read = 0;
    EXPECT_EQ(inbox.Read(got.data(), 100, &read, 300), kFtOk);
    EXPECT_EQ(read, 100u);
    EXPECT_EQ(chip.count, 2);
    // 34 wait; the read for 40 takes one more USB read, which brings 30, and keeps 24.
    EXPECT_EQ(inbox.Read(got.data() + 100, 40, &read, 300), kFtOk);
    EXPECT_EQ(read, 40u);
    EXPECT_EQ(chip.count, 3);
    EXPECT_EQ(inbox.Waiting(), 24u);
    EXPECT_EQ(inbox.Read(got.data() + 140, 24, &read, 300), kFtOk);
    EXPECT_EQ(got, Bytes(0, 164));
    inbox.Look();
    inbox.Clear();
    EXPECT_EQ(inbox.Waiting(), 0u);
}

TEST(FtdiInbox, ReadsEndAtTheTimeOutOrAnErrorWithWhatCame) {
    // A silent device: with no time left, one USB read and what came (nothing) with success.
    Chip silent;
    silent.reads = {{}};
    FtdiInbox quiet = silent.Inbox();
    std::uint8_t buffer[40] = {};
    std::uint32_t read = 99;
    EXPECT_EQ(quiet.Read(buffer, 40, &read, 0), kFtOk);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(silent.count, 1);
    // Asking for nothing reads nothing.
    EXPECT_EQ(quiet.Read(nullptr, 0, &read, 300), kFtOk);
    EXPECT_EQ(silent.count, 1);
    // A device that trickles: the read waits for the rest within its time-out.
    Chip trickle;
    trickle.reads = {{Bytes(0, 10)}, {Bytes(10, 10)}, {Bytes(20, 20)}};
    FtdiInbox slow = trickle.Inbox();
    EXPECT_EQ(slow.Read(buffer, 40, &read, 5000), kFtOk);
    EXPECT_EQ(read, 40u);
    EXPECT_EQ(trickle.count, 3);
    // A USB error ends the read and reports it, with the bytes that came before it.
    Chip broken;
    broken.reads = {{Bytes(0, 10)}};
    broken.fail = 1;
    FtdiInbox failing = broken.Inbox();
    EXPECT_EQ(failing.Read(buffer, 40, &read, 5000), kFtIoError);
    EXPECT_EQ(read, 10u);
    EXPECT_EQ(failing.Look(), kFtOk);
    broken.fail = 3;
    EXPECT_EQ(failing.Look(), kFtIoError);
}
