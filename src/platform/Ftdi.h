#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
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

// The real USB bridge: FTDI devices at their default ids, reached through libftdi1 over libusb.
// Handles are keys into a table of open ports; each handle is used by one thread at a time,
// different handles may be used from different threads.
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
    FtStatus Write(FtHandle handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                   std::uint32_t* written) override;
    FtStatus SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override;
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
};
