#include "sim/Simbus.h"

#include <algorithm>
#include <cmath>

std::int32_t SimDevice::BaudRate() const {
    // Eighths for each fraction code: the code's two low bits sit in bits 14 and 15.
    static constexpr int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    const int whole = divisor & 0x3FFF;
    if (whole == 0) return 3000000;
    if (whole == 1) return 2000000;
    const int code = (divisor >> 14) | ((divisorIndex & 1) << 2);
    const int eighths = whole * 8 + kEighths[code];
    return static_cast<std::int32_t>(std::lround(24000000.0 / eighths));
}

void SimDevice::Queue(const std::uint8_t* data, std::size_t size) {
    if (RxLimit == 0) {
        Rx.insert(Rx.end(), data, data + size);
        return;
    }
    // A UART follows a sender a few percent off its own rate; further off, bytes come as noise.
    const std::int32_t own = BaudRate();
    const bool noise = SendBaud > 0 && std::abs(SendBaud - own) > 0.03 * SendBaud;
    for (std::size_t i = 0; i < size; ++i) {
        if (Rx.size() >= RxLimit) {
            LineErrors |= kOverrun;
            return;
        }
        Rx.push_back(noise ? static_cast<std::uint8_t>(data[i] ^ 0x5A) : data[i]);
        if (noise) LineErrors |= kFramingError;
    }
}

int SimBus::AddDevice(const std::string& description, const std::string& serial,
                      std::shared_ptr<SimDeviceModel> model) {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::make_unique<SimDevice>(description, serial, std::move(model)));
    return static_cast<int>(devices_.size()) - 1;
}

void SimBus::Unplug(int index) {
    std::lock_guard lock(mutex_);
    devices_.at(static_cast<std::size_t>(index))->Unplugged = true;
}

void SimBus::Replug(int index) {
    std::lock_guard lock(mutex_);
    SimDevice* d = devices_.at(static_cast<std::size_t>(index)).get();
    if (!d->Unplugged) return;
    handles_.erase(std::remove_if(handles_.begin(), handles_.end(),
                                  [&](const auto& h) { return h.second == d; }),
                   handles_.end());
    if (d->Open) {
        d->Open = false;
        d->Rx.clear();
        d->Model->Closed(*d);
    }
    d->Unplugged = false;
}

std::vector<SimCall> SimBus::Calls() const {
    std::lock_guard lock(mutex_);
    return {calls_.begin(), calls_.end()};
}

std::vector<SimCall> SimBus::CallsNamed(const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::vector<SimCall> out;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
                 [&](const SimCall& c) { return c.Name == name; });
    return out;
}

void SimBus::ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    droppedCalls_ = 0;
}

void SimBus::SetCallLimit(std::size_t limit) {
    std::lock_guard lock(mutex_);
    callLimit_ = limit;
    while (calls_.size() > callLimit_) {
        calls_.pop_front();
        ++droppedCalls_;
    }
}

std::uint64_t SimBus::DroppedCalls() const {
    std::lock_guard lock(mutex_);
    return droppedCalls_;
}

void SimBus::Record(SimCall call) {
    if (callLimit_ == 0) {
        ++droppedCalls_;
        return;
    }
    if (calls_.size() >= callLimit_) {
        calls_.pop_front();
        ++droppedCalls_;
    }
    calls_.push_back(std::move(call));
}

bool SimBus::IsOpen(int index) const {
    std::lock_guard lock(mutex_);
    return devices_.at(static_cast<std::size_t>(index))->Open;
}

int SimBus::DeviceCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(devices_.size());
}

SimDevice* SimBus::Enter(const char* name, FtHandle handle, std::vector<std::int64_t> args) {
    auto it = std::find_if(handles_.begin(), handles_.end(),
                           [&](const auto& h) { return h.first == handle; });
    SimDevice* device = it == handles_.end() ? nullptr : it->second;
    Record({name, device ? device->Serial : std::string(), std::move(args)});
    if (!device || device->Unplugged) return nullptr;
    device->Model->Poll(*device);
    return device;
}

FtStatus SimBus::ListDevices(std::vector<std::string>& texts, std::uint32_t flags) {
    std::lock_guard lock(mutex_);
    Record({"ListDevices", {}, {static_cast<std::int64_t>(flags)}});
    texts.clear();
    if (flags != kFtListAllBySerial && flags != kFtListAllByDescription) return kFtOtherError;
    FtStatus status = kFtOk;
    for (const auto& d : devices_) {
        if (d->Unplugged) continue;
        std::string text = flags == kFtListAllBySerial ? d->Serial : d->Description;
        if (text.size() >= kFtListTextSize) text.resize(kFtListTextSize - 1);
        if (d->NoAccess) {
            text.clear();
            status = kFtNoAccess;
        }
        texts.push_back(text);
    }
    return status;
}

FtStatus SimBus::OpenEx(const std::string& key, std::uint32_t flags, FtHandle* handle) {
    std::lock_guard lock(mutex_);
    Record({"OpenEx", key, {static_cast<std::int64_t>(flags)}});
    *handle = 0;
    if (flags != kFtOpenBySerial) return kFtDeviceNotFound;
    for (const auto& d : devices_) {
        if (d->Serial != key || d->Unplugged) continue;
        if (d->NoAccess) return kFtNoAccess;
        if (d->OpenFailure != kFtOk) return d->OpenFailure;
        if (d->Open) return kFtDeviceNotOpened;
        d->Open = true;
        d->Rx.clear();
        *handle = nextHandle_++;
        handles_.emplace_back(*handle, d.get());
        d->Model->Opened(*d);
        return kFtOk;
    }
    return kFtDeviceNotFound;
}

FtStatus SimBus::ResetDevice(FtHandle handle) {
    std::lock_guard lock(mutex_);
    return Enter("ResetDevice", handle, {}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::SetDivisor(FtHandle handle, std::uint16_t divisor) {
    std::lock_guard lock(mutex_);
    SimDevice* d = Enter("SetDivisor", handle, {divisor});
    if (!d) return kFtIoError;
    d->divisor = divisor;
    return kFtOk;
}

FtStatus SimBus::SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                        std::uint8_t stopBits, std::uint8_t parity) {
    std::lock_guard lock(mutex_);
    return Enter("SetDataCharacteristics", handle, {wordLength, stopBits, parity}) ? kFtOk
                                                                                   : kFtIoError;
}

FtStatus SimBus::SetFlowControl(FtHandle handle, std::uint16_t mode, std::uint8_t xon,
                                std::uint8_t xoff) {
    std::lock_guard lock(mutex_);
    return Enter("SetFlowControl", handle, {mode, xon, xoff}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::SetChars(FtHandle handle, std::uint8_t eventChar, std::uint8_t eventEnabled,
                          std::uint8_t errorChar, std::uint8_t errorEnabled) {
    std::lock_guard lock(mutex_);
    return Enter("SetChars", handle, {eventChar, eventEnabled, errorChar, errorEnabled})
               ? kFtOk
               : kFtIoError;
}

FtStatus SimBus::SetEventNotification(FtHandle handle, std::uint32_t mask) {
    std::lock_guard lock(mutex_);
    return Enter("SetEventNotification", handle, {mask}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::SetDtr(FtHandle handle) {
    std::lock_guard lock(mutex_);
    return Enter("SetDtr", handle, {}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::ClrDtr(FtHandle handle) {
    std::lock_guard lock(mutex_);
    return Enter("ClrDtr", handle, {}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::SetRts(FtHandle handle) {
    std::lock_guard lock(mutex_);
    return Enter("SetRts", handle, {}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::ClrRts(FtHandle handle) {
    std::lock_guard lock(mutex_);
    return Enter("ClrRts", handle, {}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::SetTimeouts(FtHandle handle, std::uint32_t readMs, std::uint32_t writeMs) {
    std::lock_guard lock(mutex_);
    return Enter("SetTimeouts", handle, {readMs, writeMs}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::Purge(FtHandle handle, std::uint32_t mask) {
    std::lock_guard lock(mutex_);
    SimDevice* d = Enter("Purge", handle, {mask});
    if (!d) return kFtIoError;
    if (mask & 1) d->Rx.clear();
    return kFtOk;
}

FtStatus SimBus::GetModemStatus(FtHandle handle, std::uint32_t* status) {
    std::lock_guard lock(mutex_);
    SimDevice* d = Enter("GetModemStatus", handle, {});
    *status = d ? d->ModemStatus : 0;
    return d ? kFtOk : kFtIoError;
}

FtStatus SimBus::GetEventStatus(FtHandle handle, std::uint32_t* events) {
    std::lock_guard lock(mutex_);
    SimDevice* d = Enter("GetEventStatus", handle, {});
    *events = 0;
    return d ? kFtOk : kFtIoError;
}

FtStatus SimBus::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
    std::lock_guard lock(mutex_);
    SimDevice* d = Enter("GetQueueStatus", handle, {});
    *rxBytes = d ? static_cast<std::uint32_t>(d->Rx.size()) : 0;
    return d ? kFtOk : kFtIoError;
}

FtStatus SimBus::GetStatus(FtHandle handle, std::uint32_t* rxBytes, std::uint32_t* txBytes,
                           std::uint32_t* events) {
    std::lock_guard lock(mutex_);
    SimDevice* d = Enter("GetStatus", handle, {});
    *rxBytes = d ? static_cast<std::uint32_t>(d->Rx.size()) : 0;
    *txBytes = 0;
    *events = 0;
    return d ? kFtOk : kFtIoError;
}

FtStatus SimBus::Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t toRead,
                      std::uint32_t* read) {
    std::lock_guard lock(mutex_);
    SimDevice* d = Enter("Read", handle, {toRead});
    *read = 0;
    if (!d) return kFtIoError;
    // A simulated time-out is instant: what is queued is delivered, nothing more.
    const auto n = std::min<std::size_t>(toRead, d->Rx.size());
    std::copy_n(d->Rx.begin(), n, buffer);
    d->Rx.erase(d->Rx.begin(), d->Rx.begin() + static_cast<std::ptrdiff_t>(n));
    *read = static_cast<std::uint32_t>(n);
    return kFtOk;
}

FtStatus SimBus::Write(FtHandle handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                       std::uint32_t* written) {
    std::lock_guard lock(mutex_);
    SimDevice* d = Enter("Write", handle, {toWrite});
    *written = 0;
    if (!d) return kFtIoError;
    d->Model->Receive(*d, buffer, toWrite);
    *written = toWrite;
    return kFtOk;
}

FtStatus SimBus::SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) {
    std::lock_guard lock(mutex_);
    return Enter("SetBitMode", handle, {mask, mode}) ? kFtOk : kFtIoError;
}

FtStatus SimBus::Close(FtHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(handles_.begin(), handles_.end(),
                           [&](const auto& h) { return h.first == handle; });
    Record({"Close", it == handles_.end() ? std::string() : it->second->Serial, {}});
    if (it == handles_.end()) return kFtInvalidHandle;
    SimDevice* d = it->second;
    handles_.erase(it);
    d->Open = false;
    d->Rx.clear();
    d->Model->Closed(*d);
    // The handle is let go even when the device has left the bus, so the close succeeded.
    return kFtOk;
}
