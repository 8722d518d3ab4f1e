#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/D2xx.h"

class CFrame;

// Line settings of one device, filled by OpenDevice.
struct PortSettings {
    std::int32_t BaudRate = 0;
    std::int32_t DataBits = 0;  // word length = code + 7
    std::int32_t StopBits = 0;  // 1 = two stop bits
    std::int32_t Parity = 0;
    std::int32_t FlowControl = 0;  // 0 none, 1 RTS/CTS, 2 DTR/DSR, 3 XON/XOFF
    std::uint8_t XonChar = 0;
    std::uint8_t XoffChar = 0;
    std::uint8_t EventChar = 0;
    std::uint8_t ErrorChar = 0;
    std::int32_t EventCharEnabled = 0;
    std::int32_t ErrorCharEnabled = 0;
    std::int32_t RtsOn = 0;
    std::int32_t DtrOn = 0;
    std::int32_t Cts = 0;
    std::int32_t Dsr = 0;
    std::int32_t ReadTimeoutMs = 0;
    std::int32_t WriteTimeoutMs = 0;
    std::int32_t EventMask = 0;
    FtHandle Handle = 0;
};

struct DeviceEntry {
    PortSettings Settings;
    std::string Description;
    std::string SerialNumber;
};

// The USB serial port of one lamp: the program's whole use of the FTDI library.
class CDevices {
  public:
    explicit CDevices(D2xx& library);
    ~CDevices();
    CDevices(const CDevices&) = delete;
    CDevices& operator=(const CDevices&) = delete;

    void ListDevices();
    bool OpenDevice(int row, std::int32_t baudRate);
    bool ConfigurePort(FtHandle handle, const PortSettings& settings);
    void CloseDevice();
    std::int32_t BytesWaiting();
    std::int32_t ReadBytes(std::uint8_t* buffer, std::int32_t count);
    bool WriteFrame(CFrame& frame);
    bool WriteLinkCommand(std::uint8_t letter);

    // The program's own divisor for a baud rate against the bridge's 3 MHz base.
    static std::uint16_t BaudDivisor(std::int32_t baudRate);

    // Listed devices; grows with the number attached.
    std::vector<DeviceEntry> Devices;
    bool IsOpen = false;
    // A call on the open device said it has left the bus; cleared by the next successful open.
    bool DeviceGone = false;
    std::int32_t DeviceCount = 0;
    std::uint8_t SequenceCounter = 0;
    // The last listing's status, and the last open's: why no lamp could be taken.
    FtStatus ListStatus = kFtOk;
    FtStatus OpenStatus = kFtOk;

    const DeviceEntry* CurrentRow() const { return current_ < 0 ? nullptr : &Devices[current_]; }

  private:
    void RefreshModemLines(PortSettings& settings);
    bool WriteAll(const std::uint8_t* bytes, std::uint32_t count);

    D2xx& library_;
    int current_ = -1;
};
