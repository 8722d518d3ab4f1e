#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/D2xx.h"

class SimDevice;

// The far side of a simulated FTDI device: a lamp's firmware, an echo, a script.
// Its calls come under the bus lock, so a model needs no lock for what only the bus calls.
class SimDeviceModel {
  public:
    virtual ~SimDeviceModel() = default;
    // Bytes the program wrote; the device tells the divisor the line runs at.
    virtual void Receive(SimDevice& device, const std::uint8_t* data, std::size_t size) = 0;
    // Called whenever the program looks at the line, so a model can release timed output.
    virtual void Poll(SimDevice& /*device*/) {}
    virtual void Opened(SimDevice& /*device*/) {}
    virtual void Closed(SimDevice& /*device*/) {}
};

// One simulated FTDI device as its model sees it.
class SimDevice {
  public:
    SimDevice(std::string description, std::string serial, std::shared_ptr<SimDeviceModel> model)
        : Description(std::move(description)), Serial(std::move(serial)), Model(std::move(model)) {}

    // Line-status bits a chip reports: overrun and framing error.
    static constexpr std::uint8_t kOverrun = 0x02;
    static constexpr std::uint8_t kFramingError = 0x08;

    // Bytes for the program to read, arriving from the far side of the line. Where the device
    // is strict as a chip is (RxLimit set), bytes beyond its receive buffer are lost with an
    // overrun, and bytes sent at a rate its UART cannot follow arrive as noise with a framing
    // error.
    void Queue(const std::uint8_t* data, std::size_t size);
    std::uint16_t Divisor() const { return divisor; }
    // The baud rate the divisor stands for as the chip reads it, rounded to whole bits per
    // second: a 14-bit integer part and a fraction in eighths coded in bits 14 and 15 and, on
    // chips that take it, bit 0 of divisorIndex; integer parts 0 and 1 stand for 3 and 2 Mbaud.
    std::int32_t BaudRate() const;

    std::string Description;
    std::string Serial;
    std::shared_ptr<SimDeviceModel> Model;
    std::deque<std::uint8_t> Rx;
    std::uint32_t ModemStatus = 0x30;  // CTS and DSR raised
    bool Open = false;
    bool Unplugged = false;
    // Faults of a device the user may not use: an open answers OpenFailure when it is not
    // kFtOk (kFtNoAccess, kFtDeviceBusy); a NoAccess device is listed without its texts and
    // the listing answers kFtNoAccess, as the bridge does without a udev rule.
    FtStatus OpenFailure = kFtOk;
    bool NoAccess = false;
    std::uint16_t divisor = 0;
    std::uint16_t divisorIndex = 0;
    // Set by a model whose bytes go out at a rate of their own (a lamp switching its rate);
    // 0: at whatever rate the device runs.
    std::int32_t SendBaud = 0;
    // The receive buffer's size, 0 for none.
    std::size_t RxLimit = 0;
    // Line-status error bits not yet reported.
    std::uint8_t LineErrors = 0;
};

// One recorded library call: its name, the device's serial number and its numeric arguments.
struct SimCall {
    std::string Name;
    std::string Serial;
    std::vector<std::int64_t> Args;
};

// A simulated FTDI bus with any number of devices, behind the same call set as the real bridge.
// It records the calls it receives, the latest kDefaultCallLimit of them unless told otherwise,
// so a program left running on it for days holds a bounded record.
class SimBus : public D2xx {
  public:
    // Far above what one test makes (a few thousand calls); about 6 MB of records.
    static constexpr std::size_t kDefaultCallLimit = 50000;

    // Adds a device; returns its index for later fault switches.
    int AddDevice(const std::string& description, const std::string& serial,
                  std::shared_ptr<SimDeviceModel> model);
    // From now on every call on the device fails and listings leave it out.
    void Unplug(int index);
    // Plugs an unplugged device in again: it is listed and can be opened as a new device, while
    // a handle the program kept from before stays dead.
    void Replug(int index);
    std::vector<SimCall> Calls() const;
    // Calls of one name, in order.
    std::vector<SimCall> CallsNamed(const std::string& name) const;
    void ClearCalls();
    // Keeps at most the latest limit calls from now on, 0 none; older ones are dropped at once.
    void SetCallLimit(std::size_t limit);
    // Calls dropped to stay within the limit since the last ClearCalls.
    std::uint64_t DroppedCalls() const;
    bool IsOpen(int index) const;
    int DeviceCount() const;
    // Runs fn on a device under the bus lock, for tests that look at or change it.
    template <typename Fn>
    void WithDevice(int index, Fn&& fn) {
        std::lock_guard lock(mutex_);
        fn(*devices_.at(static_cast<std::size_t>(index)));
    }

    FtStatus ListDevices(std::vector<std::string>& texts, std::uint32_t flags) override;
    FtStatus OpenEx(const std::string& key, std::uint32_t flags, FtHandle* handle) override;
    FtStatus ResetDevice(FtHandle handle) override;
    FtStatus SetDivisor(FtHandle handle, std::uint16_t divisor) override;
    FtStatus SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                    std::uint8_t parity) override;
    FtStatus SetFlowControl(FtHandle handle, std::uint16_t mode, std::uint8_t xon,
                            std::uint8_t xoff) override;
    FtStatus SetChars(FtHandle handle, std::uint8_t eventChar, std::uint8_t eventEnabled,
                      std::uint8_t errorChar, std::uint8_t errorEnabled) override;
    FtStatus SetEventNotification(FtHandle handle, std::uint32_t mask) override;
    FtStatus SetDtr(FtHandle handle) override;
    FtStatus ClrDtr(FtHandle handle) override;
    FtStatus SetRts(FtHandle handle) override;
    FtStatus ClrRts(FtHandle handle) override;
    FtStatus SetTimeouts(FtHandle handle, std::uint32_t readMs, std::uint32_t writeMs) override;
    FtStatus Purge(FtHandle handle, std::uint32_t mask) override;
    FtStatus GetModemStatus(FtHandle handle, std::uint32_t* status) override;
    FtStatus GetEventStatus(FtHandle handle, std::uint32_t* events) override;
    FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override;
    FtStatus GetStatus(FtHandle handle, std::uint32_t* rxBytes, std::uint32_t* txBytes,
                       std::uint32_t* events) override;
    FtStatus Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t toRead,
                  std::uint32_t* read) override;
    FtStatus Write(FtHandle handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                   std::uint32_t* written) override;
    FtStatus SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override;
    FtStatus Close(FtHandle handle) override;

  private:
    // The open, plugged-in device behind a handle, or null; records the call either way.
    SimDevice* Enter(const char* name, FtHandle handle, std::vector<std::int64_t> args);

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<SimDevice>> devices_;
    std::vector<std::pair<FtHandle, SimDevice*>> handles_;
    // Appends a call record and drops the oldest beyond the limit; under the bus lock.
    void Record(SimCall call);

    FtHandle nextHandle_ = 1;
    std::deque<SimCall> calls_;
    std::size_t callLimit_ = kDefaultCallLimit;
    std::uint64_t droppedCalls_ = 0;
};

// A device model that sends every byte it receives straight back.
class EchoModel : public SimDeviceModel {
  public:
    void Receive(SimDevice& device, const std::uint8_t* data, std::size_t size) override {
        device.Queue(data, size);
    }
};
