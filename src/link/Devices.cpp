#include "link/Devices.h"

#include <algorithm>

#include "link/Frame.h"

CDevices::CDevices(D2xx& library) : library_(library) {}

CDevices::~CDevices() {
    CloseDevice();
}

void CDevices::ListDevices() {
    std::vector<std::string> serials;
    std::vector<std::string> descriptions;
    // Only the description listing's status counts; the serial listing fills its column.
    library_.ListDevices(serials, kFtListAllBySerial);
    ListStatus = library_.ListDevices(descriptions, kFtListAllByDescription);
    // A listing without access to some devices still lists the others.
    if (ListStatus != kFtOk && ListStatus != kFtNoAccess) {
        DeviceCount = 0;
        return;
    }
    // The open row must stay where it is, so rows are overwritten, never removed before it.
    const std::size_t count = descriptions.size();
    if (Devices.size() < count) Devices.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        Devices[i].Description = descriptions[i];
        Devices[i].SerialNumber = i < serials.size() ? serials[i] : std::string();
    }
    DeviceCount = static_cast<std::int32_t>(count);
}

std::uint16_t CDevices::BaudDivisor(std::int32_t baudRate) {
    if (baudRate <= 0) return 0;
    const float q = 3000000.0f / static_cast<float>(baudRate);
    const auto n = static_cast<std::uint32_t>(q);
    const auto e = static_cast<std::uint32_t>(8.0f * q) % 8;
    std::uint32_t s = 0;
    if (e == 1) {
        s = 3;
    } else if (e == 2 || e == 3) {
        s = 2;
    } else if (e >= 4) {
        s = 1;
    }
    return static_cast<std::uint16_t>(n + s * 0x4000);
}

bool CDevices::OpenDevice(int row, std::int32_t baudRate) {
    // A device this port still holds is let go first: dropping its handle would keep it busy
    // for every later open.
    CloseDevice();
    if (row < 0 || row >= DeviceCount || row >= static_cast<int>(Devices.size())) return false;
    current_ = row;
    DeviceEntry& entry = Devices[row];
    FtHandle handle = 0;
    OpenStatus = library_.OpenEx(entry.SerialNumber, kFtOpenBySerial, &handle);
    if (OpenStatus != kFtOk) {
        current_ = -1;
        return false;
    }
    PortSettings& s = entry.Settings;
    s = PortSettings{};
    s.BaudRate = baudRate;
    s.DataBits = 1;
    s.StopBits = 0;
    s.Parity = 0;
    s.FlowControl = 0;
    s.XonChar = 0x11;
    s.XoffChar = 0x13;
    s.RtsOn = 1;
    s.DtrOn = 1;
    s.ReadTimeoutMs = 300;
    s.WriteTimeoutMs = 300;
    s.EventMask = 0;
    std::uint32_t modem = 0;
    if (!ConfigurePort(handle, s) || library_.GetModemStatus(handle, &modem) != kFtOk) {
        library_.Close(handle);
        current_ = -1;
        return false;
    }
    s.Cts = (modem & kFtModemCts) ? 1 : 0;
    s.Dsr = (modem & kFtModemDsr) ? 1 : 0;
    s.Handle = handle;
    IsOpen = true;
    DeviceGone = false;
    SequenceCounter = 0;
    return true;
}

bool CDevices::ConfigurePort(FtHandle handle, const PortSettings& s) {
    if (library_.ResetDevice(handle) != kFtOk) return false;
    if (library_.SetDivisor(handle, BaudDivisor(s.BaudRate)) != kFtOk) return false;
    const auto wordLength = static_cast<std::uint8_t>(s.DataBits + 7);
    const std::uint8_t stopBits = s.StopBits == 1 ? 2 : 0;
    if (library_.SetDataCharacteristics(handle, wordLength, stopBits,
                                        static_cast<std::uint8_t>(s.Parity)) != kFtOk)
        return false;
    std::uint16_t flow = 0x0000;
    switch (s.FlowControl) {
        case 1:
            flow = 0x0100;
            break;
        case 2:
            flow = 0x0200;
            break;
        case 3:
            flow = 0x0400;
            break;
        default:
            break;
    }
    const bool xonXoff = s.FlowControl == 3;
    if (library_.SetFlowControl(handle, flow, xonXoff ? s.XonChar : 0, xonXoff ? s.XoffChar : 0) !=
        kFtOk)
        return false;
    if (library_.SetChars(handle, s.EventChar, s.EventCharEnabled != 0 ? 1 : 0, s.ErrorChar,
                          s.ErrorCharEnabled != 0 ? 1 : 0) != kFtOk)
        return false;
    // The remaining set-up calls are best effort: their results do not decide the open.
    library_.SetEventNotification(handle, static_cast<std::uint32_t>(s.EventMask));
    if (s.DtrOn != 0) {
        library_.SetDtr(handle);
    } else {
        library_.ClrDtr(handle);
    }
    if (s.RtsOn != 0) {
        library_.SetRts(handle);
    } else {
        library_.ClrRts(handle);
    }
    library_.SetTimeouts(handle, static_cast<std::uint32_t>(s.ReadTimeoutMs),
                         static_cast<std::uint32_t>(s.WriteTimeoutMs));
    library_.Purge(handle, kFtPurgeRxTx);
    return true;
}

void CDevices::CloseDevice() {
    if (current_ >= 0) {
        const FtHandle handle = Devices[current_].Settings.Handle;
        if (IsOpen) {
            library_.SetBitMode(handle, 0, 0);
            library_.Close(handle);
        }
        Devices[current_].Settings.Handle = 0;
    }
    current_ = -1;
    IsOpen = false;
}

void CDevices::RefreshModemLines(PortSettings& settings) {
    std::uint32_t modem = 0;
    if (library_.GetModemStatus(settings.Handle, &modem) == kFtOk) {
        settings.Cts = (modem & kFtModemCts) ? 1 : 0;
        settings.Dsr = (modem & kFtModemDsr) ? 1 : 0;
    }
}

std::int32_t CDevices::BytesWaiting() {
    if (current_ < 0 || !IsOpen) return 0;
    PortSettings& s = Devices[current_].Settings;
    std::uint32_t events = 0;
    if (library_.GetEventStatus(s.Handle, &events) == kFtOk && (events & kFtEventModemStatus))
        RefreshModemLines(s);
    std::uint32_t queued = 0;
    library_.GetQueueStatus(s.Handle, &queued);
    std::uint32_t rx = 0;
    std::uint32_t tx = 0;
    events = 0;
    if (const FtStatus status = library_.GetStatus(s.Handle, &rx, &tx, &events); status != kFtOk) {
        if (FtDeviceGone(status)) DeviceGone = true;
        return 0;
    }
    if (events & kFtEventModemStatus) RefreshModemLines(s);
    return static_cast<std::int32_t>(std::min<std::uint32_t>(rx, 0x7FFFFFFF));
}

std::int32_t CDevices::ReadBytes(std::uint8_t* buffer, std::int32_t count) {
    if (current_ < 0 || !IsOpen) return -1;
    const FtHandle handle = Devices[current_].Settings.Handle;
    std::int32_t total = 0;
    while (total < count) {
        const auto piece = static_cast<std::uint32_t>(std::min(count - total, CFrame::kSize));
        std::uint32_t got = 0;
        const FtStatus status = library_.Read(handle, buffer + total, piece, &got);
        got = std::min(got, piece);
        total += static_cast<std::int32_t>(got);
        if (FtDeviceGone(status)) DeviceGone = true;
        // A time-out or an error delivers short: give back what arrived instead of spinning.
        if (status != kFtOk || got < piece) break;
    }
    return total;
}

bool CDevices::WriteAll(const std::uint8_t* bytes, std::uint32_t count) {
    if (current_ < 0 || !IsOpen) return false;
    std::uint32_t written = 0;
    const FtStatus status =
        library_.Write(Devices[current_].Settings.Handle, bytes, count, &written);
    if (FtDeviceGone(status)) DeviceGone = true;
    return status == kFtOk && written == count;
}

bool CDevices::WriteFrame(CFrame& frame) {
    if (current_ < 0 || !IsOpen) return false;
    ++SequenceCounter;
    frame.Encode(SequenceCounter);
    return WriteAll(frame.Raw.data(), CFrame::kSize);
}

bool CDevices::WriteLinkCommand(std::uint8_t letter) {
    const std::uint8_t bytes[3] = {0x3C, letter, 0x3E};
    return WriteAll(bytes, 3);
}
