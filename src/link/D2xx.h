#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The FTDI call set the program uses, one call per library function; status 0 means success.
// Implemented by the real USB bridge and by the simulated bus.
using FtStatus = std::uint32_t;
using FtHandle = std::uint64_t;

constexpr FtStatus kFtOk = 0;
constexpr FtStatus kFtInvalidHandle = 1;
constexpr FtStatus kFtDeviceNotFound = 2;
constexpr FtStatus kFtDeviceNotOpened = 3;
constexpr FtStatus kFtIoError = 4;
// A write the chip did not take whole within its time-out; the device is still there.
constexpr FtStatus kFtFailedToWriteDevice = 10;
constexpr FtStatus kFtOtherError = 18;
// Statuses of this program's own, beyond the library's: a device this user may not open (no
// udev rule grants access), and one another program holds. A listing that could not read some
// devices' texts for want of access answers kFtNoAccess and still lists every device.
constexpr FtStatus kFtNoAccess = 32;
constexpr FtStatus kFtDeviceBusy = 33;

// Listing flags: all devices, by serial number or by description.
constexpr std::uint32_t kFtListAllBySerial = 0x20000000;
constexpr std::uint32_t kFtListAllByDescription = 0x20000002;
constexpr std::uint32_t kFtOpenBySerial = 1;
constexpr std::uint32_t kFtPurgeRxTx = 3;
constexpr std::uint32_t kFtEventModemStatus = 0x02;
constexpr std::uint32_t kFtModemCts = 0x10;
constexpr std::uint32_t kFtModemDsr = 0x20;
// A status from a call on an open handle saying the device has left the bus (unplugged, or its
// USB link failed): the handle is of no further use.
constexpr bool FtDeviceGone(FtStatus status) {
    return status == kFtIoError || status == kFtDeviceNotFound || status == kFtInvalidHandle;
}
// Longest listing text, terminator included.
constexpr std::size_t kFtListTextSize = 64;

class D2xx {
  public:
    virtual ~D2xx() = default;

    // Fills one text per attached device (serial number or description after the flags);
    // the vector grows with the number of devices, so no count can overrun it.
    virtual FtStatus ListDevices(std::vector<std::string>& texts, std::uint32_t flags) = 0;
    virtual FtStatus OpenEx(const std::string& key, std::uint32_t flags, FtHandle* handle) = 0;
    virtual FtStatus ResetDevice(FtHandle handle) = 0;
    virtual FtStatus SetDivisor(FtHandle handle, std::uint16_t divisor) = 0;
    virtual FtStatus SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                            std::uint8_t stopBits, std::uint8_t parity) = 0;
    virtual FtStatus SetFlowControl(FtHandle handle, std::uint16_t mode, std::uint8_t xon,
                                    std::uint8_t xoff) = 0;
    virtual FtStatus SetChars(FtHandle handle, std::uint8_t eventChar, std::uint8_t eventEnabled,
                              std::uint8_t errorChar, std::uint8_t errorEnabled) = 0;
    virtual FtStatus SetEventNotification(FtHandle handle, std::uint32_t mask) = 0;
    virtual FtStatus SetDtr(FtHandle handle) = 0;
    virtual FtStatus ClrDtr(FtHandle handle) = 0;
    virtual FtStatus SetRts(FtHandle handle) = 0;
    virtual FtStatus ClrRts(FtHandle handle) = 0;
    virtual FtStatus SetTimeouts(FtHandle handle, std::uint32_t readMs, std::uint32_t writeMs) = 0;
    virtual FtStatus Purge(FtHandle handle, std::uint32_t mask) = 0;
    virtual FtStatus GetModemStatus(FtHandle handle, std::uint32_t* status) = 0;
    virtual FtStatus GetEventStatus(FtHandle handle, std::uint32_t* events) = 0;
    virtual FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) = 0;
    virtual FtStatus GetStatus(FtHandle handle, std::uint32_t* rxBytes, std::uint32_t* txBytes,
                               std::uint32_t* events) = 0;
    virtual FtStatus Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t toRead,
                          std::uint32_t* read) = 0;
    virtual FtStatus Write(FtHandle handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                           std::uint32_t* written) = 0;
    virtual FtStatus SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) = 0;
    virtual FtStatus Close(FtHandle handle) = 0;
};
