#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/Simbus.h"

// One vendor request a chip received on its control endpoint.
struct ChipRequest {
    std::uint8_t Request = 0;
    std::uint16_t Value = 0;
    std::uint16_t Index = 0;
};

// What a chip has seen and how it stands, for tests to look at.
struct ChipState {
    std::vector<ChipRequest> Requests;
    // The bytes the program wrote to the chip, in order.
    std::vector<std::uint8_t> Written;
    std::uint16_t Divisor = 0;
    // The baud request's index (bit 0: the divisor's third fraction bit) and the rate the
    // chip runs its line at from both.
    std::uint16_t DivisorIndex = 0;
    std::int32_t Baud = 0;
    // Flow control as the chip holds it (the request index's high byte), and its DTR and RTS.
    std::uint16_t FlowControl = 0;
    bool Dtr = false;
    bool Rts = false;
    // Bytes the program wrote that wait in the chip's transmit buffer.
    std::size_t TxHeld = 0;
    // Line-status bytes that reported an overrun or a framing error to the host.
    std::uint64_t LineErrorReports = 0;
    int LatencyMs = 16;
    bool Claimed = false;
    bool KernelDriverBound = false;
    bool Plugged = false;
    // libusb clients (opens of the device node) that are still connected.
    int Clients = 0;
};

// FT232R chips emulated at the USB level under umockdev: each is a device in a mock sysfs and
// /dev tree whose usbdevfs requests are answered here, so the unmodified libftdi1 and libusb
// talk to it as to a real chip. Its serial side is a SimDeviceModel (a simulated lamp, an
// echo); the model sees the divisor the program set, and its output is handed to the program
// in 64-byte packets behind the chip's two status bytes, as the chip's latency timer allows.
// Only one testbed exists per process: it is made on first use and kept, and every Usbchips
// unplugs its chips when it goes.
class Usbchips {
  public:
    // True when the program runs under umockdev's preload (umockdev-wrapper); otherwise
    // nothing here may be used.
    static bool Available();
    // Set by the test registration where the emulator must run: then a missing one fails
    // instead of skipping.
    static bool Required();

    Usbchips();
    ~Usbchips();
    Usbchips(const Usbchips&) = delete;
    Usbchips& operator=(const Usbchips&) = delete;

    // Plugs in a chip; returns its index. kernelDriver: the kernel's serial driver is bound to
    // it, as on a machine where the module loads for every such chip.
    int Plug(const std::string& serial, const std::string& description,
             std::shared_ptr<SimDeviceModel> model, bool kernelDriver = false);
    // Pulls the chip out at once: transfers in flight end with "no device", every later
    // request fails, and listings leave it out.
    void Unplug(int chip);
    // Plugs the chip in again at a new address with the same strings and model.
    void Replug(int chip);
    // The chip's device node refuses to be opened, as without a udev rule for it.
    void DenyAccess(int chip);
    // The chip stalls every vendor request of this number from now on; -1 for none.
    void FailRequest(int chip, int request);
    // Stops the chip's transmitter, or lets it go on, as a held line would: its buffer takes
    // what fits, then the chip takes no more bytes and writes stall until it goes on.
    void HoldTransmitter(int chip, bool hold);
    // The chip's model answers through SimDevice; fn runs on it under the chips' lock.
    template <typename Fn>
    void WithDevice(int chip, Fn&& fn) {
        std::lock_guard lock(Mutex());
        fn(DeviceOf(chip));
    }
    ChipState State(int chip) const;
    void ClearRequests(int chip);
    // How many bulk IN transfers the chip has answered (reads of the line).
    std::uint64_t InTransfers(int chip) const;
    // How many bulk transfers in from the chip (in) or out to it the chip holds submitted and
    // not yet reaped: a write holds one until the chip has taken its bytes, a read while it
    // waits for the chip's answer.
    int BulkInFlight(int chip, bool in) const;

    // The lock every chip's state is under; the ioctl handler runs on umockdev's own thread.
    static std::mutex& Mutex();

    struct Chip;

  private:
    SimDevice& DeviceOf(int chip);
    void Attach(Chip& chip);

    std::vector<std::shared_ptr<Chip>> chips_;
};
