#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Usbchip.h"
#include "link/Devices.h"
#include "link/Frame.h"
#include "platform/Ftdi.h"

namespace {

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

}  // namespace
