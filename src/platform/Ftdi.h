#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/D2xx.h"

// The set-baud-rate vendor request for a divisor: wValue and wIndex as the bridge expects them.
struct FtdiBaudRequest {
    std::uint16_t Value = 0;
    std::uint16_t Index = 0;
};

// Splits a divisor into the request's value and index the way the chip family reads them:
// high-speed chips (2232H, 4232H, 232H) take the divisor's bits 16 and up in the index's high
// byte and the interface number in its low byte; the others take bits 16 and up alone.
// chipType is libftdi's chip type number, interfaceIndex its interface index (0, or 1 to 4).
FtdiBaudRequest BaudRateRequest(std::uint32_t divisor, int chipType, int interfaceIndex);

// The description and serial number of one device, read together.
struct FtdiDeviceText {
    std::string Description;
    std::string Serial;
};

// Answers the two listings a caller asks for one after the other (serial numbers, then
// descriptions, or the other way round) from one pass over the bus, so that row i of both is
// the same device even when a device is plugged in or out between the two calls. The second
// call of a pair takes the pass the first one made; any other call makes a pass of its own.
// Pairs are kept per calling thread.
class FtdiListing {
  public:
    // One pass over the bus: every device's texts, in bus order. kFtNoAccess (texts this user
    // may not read) still lists every device, and both listings of the pair say so.
    using Pass = std::function<FtStatus(std::vector<FtdiDeviceText>& devices)>;

    explicit FtdiListing(Pass pass) : pass_(std::move(pass)) {}
    FtStatus List(std::vector<std::string>& texts, std::uint32_t flags);

  private:
    struct Pending {
        std::uint32_t Flags = 0;  // the listing that may still take this pass
        std::chrono::steady_clock::time_point Taken;
        std::vector<FtdiDeviceText> Devices;
        FtStatus Status = kFtOk;  // the pass's: kFtOk or kFtNoAccess
    };

    Pass pass_;
    std::mutex mutex_;
    std::map<std::thread::id, Pending> pending_;
};

// One bulk read from the chip into raw (size bytes at most, a whole number of packets).
// Returns the bytes that came, or a negative error.
using FtdiTransfer = std::function<int(std::uint8_t* raw, int size)>;

// The receive side of one open port. Every look at the line is a single USB read, so a device
// that never stops sending cannot keep a look going; what the read brought waits in a queue,
// which answers "bytes waiting" and feeds the reads in arrival order.
class FtdiInbox {
  public:
    // Each packet from the chip begins with two modem-status bytes.
    static constexpr std::size_t kStatusBytes = 2;
    // One USB read asks for this much: a whole number of packets of every chip family.
    static constexpr std::size_t kTransferSize = 4096;
    // The queue stops growing here; the chip then holds further bytes itself.
    static constexpr std::size_t kLimit = 64 * 1024;

    explicit FtdiInbox(FtdiTransfer transfer, std::size_t packetSize = 64)
        : transfer_(std::move(transfer)), packetSize_(packetSize) {}

    // One USB read unless the queue is full.
    FtStatus Look();
    std::size_t Waiting() const { return queue_.size(); }
    // Up to toRead bytes: from the queue first, then one USB read at a time until enough came
    // or timeoutMs passed (at least one read). A time-out is not an error: what came in time is
    // delivered with success.
    FtStatus Read(std::uint8_t* buffer, std::uint32_t toRead, std::uint32_t* read,
                  std::uint32_t timeoutMs);
    void Clear() { queue_.clear(); }
    void SetPacketSize(std::size_t packetSize) { packetSize_ = packetSize; }
    // The modem-status byte the chip put in front of the latest packet, or -1 before any; the
    // chip sends its lines with every packet, so reading them costs no request of its own.
    int ModemByte() const { return modemByte_; }

  private:
    // One USB read; appends its data bytes to the queue.
    FtStatus Transfer();

    FtdiTransfer transfer_;
    std::size_t packetSize_;
    std::deque<std::uint8_t> queue_;
    int modemByte_ = -1;
};

// The real USB bridge: FTDI devices at their default ids, reached through libftdi1 over libusb.
// Handles are keys into a table of open ports; each handle is used by one thread at a time,
// different handles may be used from different threads. kFtIoError means the device has left
// the bus; a chip still there that refuses a request answers kFtOtherError.
class FtdiBridge : public D2xx {
  public:
    FtdiBridge();
    ~FtdiBridge() override;
    FtdiBridge(const FtdiBridge&) = delete;
    FtdiBridge& operator=(const FtdiBridge&) = delete;

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
    // A write the chip stops taking ends at the write time-out with success and the count of
    // the bytes it took; only a chip that has left the bus makes it fail.
    FtStatus Write(FtHandle handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                   std::uint32_t* written) override;
    FtStatus SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override;
    // Lets the device go and frees the handle. Succeeds after an unplug as well: nothing is
    // left to release then, and the serial number may be opened again once it is back.
    FtStatus Close(FtHandle handle) override;

    // One open device; defined with the implementation.
    struct Port;

  private:
    // The port behind a handle, or null when the handle is unknown or closed.
    std::shared_ptr<Port> Find(FtHandle handle);
    template <typename Fn>
    FtStatus WithPort(FtHandle handle, Fn&& fn);

    std::mutex tableMutex_;
    std::map<FtHandle, std::shared_ptr<Port>> ports_;
    FtdiListing listing_;
};
