#include <ftdi.h>
#include <gtest/gtest.h>

#include <functional>

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
