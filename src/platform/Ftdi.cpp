#include "platform/Ftdi.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <set>
#include <thread>

namespace {

// libftdi's own time-out for USB transfers; used where the caller asks for 0, which libusb
// would take as "wait for ever".
constexpr int kDefaultUsbTimeoutMs = 5000;
// A listing pass left for the second call of a pair is not handed out after this long.
constexpr auto kPairAge = std::chrono::seconds(1);
constexpr std::uint32_t kPurgeRx = 1;
constexpr std::uint32_t kPurgeTx = 2;
// The chip holds back a short packet this long (16 ms unless told); every empty look at the
// line costs that much, and the lamp link looks several times per reply.
constexpr unsigned char kLatencyMs = 2;

struct ContextDeleter {
    void operator()(ftdi_context* ctx) const { ftdi_free(ctx); }
};
using ContextPtr = std::unique_ptr<ftdi_context, ContextDeleter>;

struct ListDeleter {
    void operator()(ftdi_device_list* list) const { ftdi_list_free2(list); }
};
using ListPtr = std::unique_ptr<ftdi_device_list, ListDeleter>;

// Serial numbers open anywhere in this process: a second open of the same device must fail
// even through another bridge object, the way successive lamps are told apart.
std::mutex& OpenSetMutex() {
    static std::mutex mutex;
    return mutex;
}

std::set<std::string>& OpenSet() {
    static std::set<std::string> serials;
    return serials;
}

bool Reserve(const std::string& serial) {
    std::lock_guard lock(OpenSetMutex());
    return OpenSet().insert(serial).second;
}

void Release(const std::string& serial) {
    std::lock_guard lock(OpenSetMutex());
    OpenSet().erase(serial);
}

FtHandle NextHandle() {
    static std::atomic<FtHandle> next{1};
    return next++;
}

// Cuts a device string to the listing's text size.
std::string ListText(const char* text) {
    return std::string(text, strnlen(text, kFtListTextSize - 1));
}

// Both strings of a device from one look at it; a string that cannot be read (no permission,
// no such string) is empty, so every device keeps its row.
FtdiDeviceText DeviceTexts(ftdi_context* ctx, libusb_device* dev) {
    char description[kFtListTextSize] = {};
    char serial[kFtListTextSize] = {};
    const int size = static_cast<int>(kFtListTextSize);
    if (ftdi_usb_get_strings(ctx, dev, nullptr, 0, description, size, serial, size) < 0) {
        // The call stops at the first string it cannot read; try each alone.
        std::fill(std::begin(description), std::end(description), '\0');
        std::fill(std::begin(serial), std::end(serial), '\0');
        if (ftdi_usb_get_strings(ctx, dev, nullptr, 0, description, size, nullptr, 0) < 0)
            description[0] = '\0';
        if (ftdi_usb_get_strings(ctx, dev, nullptr, 0, nullptr, 0, serial, size) < 0)
            serial[0] = '\0';
    }
    return {ListText(description), ListText(serial)};
}

std::string DeviceSerial(ftdi_context* ctx, libusb_device* dev) {
    char serial[kFtListTextSize] = {};
    const int size = static_cast<int>(kFtListTextSize);
    if (ftdi_usb_get_strings(ctx, dev, nullptr, 0, nullptr, 0, serial, size) < 0) return {};
    return ListText(serial);
}

// Whether this user may not open the device at all (no udev rule grants access).
bool AccessDenied(libusb_device* dev) {
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(dev, &handle);
    if (result == 0) libusb_close(handle);
    return result == LIBUSB_ERROR_ACCESS;
}

// Why a device whose serial matched could not be opened: no access, or, when it can be opened
// but not taken, another program holds it.
FtStatus OpenFailure(libusb_device* dev) {
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(dev, &handle);
    if (result == 0) {
        libusb_close(handle);
        return kFtDeviceBusy;
    }
    return result == LIBUSB_ERROR_ACCESS ? kFtNoAccess : kFtDeviceNotOpened;
}

// One pass over the bus, each device's two strings read together.
FtStatus ListPass(std::vector<FtdiDeviceText>& devices) {
    devices.clear();
    // A context per pass: no USB state is kept between listings.
    ContextPtr ctx(ftdi_new());
    if (!ctx) return kFtOtherError;  // libusb could not start: there is no bus to list
    ftdi_device_list* raw = nullptr;
    // Vendor and product 0 stand for the FTDI default ids.
    const int count = ftdi_usb_find_all(ctx.get(), &raw, 0, 0);
    ListPtr list(raw);
    if (count < 0) return kFtIoError;
    FtStatus status = kFtOk;
    for (ftdi_device_list* d = list.get(); d != nullptr; d = d->next) {
        devices.push_back(DeviceTexts(ctx.get(), d->dev));
        const FtdiDeviceText& texts = devices.back();
        if (texts.Description.empty() && texts.Serial.empty() && AccessDenied(d->dev))
            status = kFtNoAccess;
    }
    return status;
}

int UsbTimeout(std::uint32_t ms) {
    if (ms == 0) return kDefaultUsbTimeoutMs;
    return static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX));
}

}  // namespace

FtdiBaudRequest BaudRateRequest(std::uint32_t divisor, int chipType, int interfaceIndex) {
    FtdiBaudRequest request;
    request.Value = static_cast<std::uint16_t>(divisor & 0xFFFF);
    if (chipType == TYPE_2232H || chipType == TYPE_4232H || chipType == TYPE_232H) {
        request.Index = static_cast<std::uint16_t>(
            ((divisor >> 8) & 0xFF00) | static_cast<std::uint32_t>(interfaceIndex & 0xFF));
    } else {
        request.Index = static_cast<std::uint16_t>(divisor >> 16);
    }
    return request;
}

FtStatus FtdiListing::List(std::vector<std::string>& texts, std::uint32_t flags) {
    texts.clear();
    const bool bySerial = flags == kFtListAllBySerial;
    if (!bySerial && flags != kFtListAllByDescription) return kFtOtherError;
    const auto now = std::chrono::steady_clock::now();
    std::vector<FtdiDeviceText> devices;
    FtStatus status = kFtOk;
    bool paired = false;
    {
        std::lock_guard lock(mutex_);
        const auto it = pending_.find(std::this_thread::get_id());
        if (it != pending_.end()) {
            if (it->second.Flags == flags && now - it->second.Taken < kPairAge) {
                devices = std::move(it->second.Devices);
                status = it->second.Status;
                paired = true;
            }
            pending_.erase(it);
        }
    }
    if (!paired) {
        status = pass_(devices);
        if (status != kFtOk && status != kFtNoAccess) return status;
        std::lock_guard lock(mutex_);
        pending_[std::this_thread::get_id()] = {
            bySerial ? kFtListAllByDescription : kFtListAllBySerial, now, devices, status};
    }
    for (const FtdiDeviceText& device : devices)
        texts.push_back(bySerial ? device.Serial : device.Description);
    return status;
}

FtStatus FtdiInbox::Transfer() {
    std::uint8_t raw[kTransferSize];
    const int got = transfer_(raw, static_cast<int>(kTransferSize));
    if (got < 0) return kFtIoError;
    const std::size_t size = std::min(static_cast<std::size_t>(got), kTransferSize);
    // Every packet, the last one perhaps short, leads with the chip's status bytes.
    const std::size_t packet = std::max(packetSize_, kStatusBytes + 1);
    for (std::size_t at = 0; at < size; at += packet) {
        const std::size_t end = std::min(at + packet, size);
        modemByte_ = raw[at];
        if (end > at + kStatusBytes)
            queue_.insert(queue_.end(), raw + at + kStatusBytes, raw + end);
    }
    return kFtOk;
}

FtStatus FtdiInbox::Look() {
    if (queue_.size() >= kLimit) return kFtOk;
    return Transfer();
}

FtStatus FtdiInbox::Read(std::uint8_t* buffer, std::uint32_t toRead, std::uint32_t* read,
                         std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint32_t got = 0;
    FtStatus status = kFtOk;
    for (bool first = true;; first = false) {
        const auto n = std::min<std::size_t>(toRead - got, queue_.size());
        std::copy_n(queue_.begin(), n, buffer + got);
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n));
        got += static_cast<std::uint32_t>(n);
        if (got >= toRead || status != kFtOk) break;
        if (!first && std::chrono::steady_clock::now() >= deadline) break;
        // An empty answer normally took the chip's latency time already; this only keeps a
        // chip that answers at once from making the loop spin.
        if (!first && n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        status = Transfer();
    }
    *read = got;
    return status;
}

struct FtdiBridge::Port {
    std::mutex mutex;
    ftdi_context* ctx = nullptr;  // null once closed
    std::string serial;
    // Bytes fetched from the chip ahead of a read, so "bytes waiting" can be answered.
    FtdiInbox inbox{[this](std::uint8_t* raw, int size) { return BulkRead(raw, size); }};
    std::uint32_t readTimeoutMs = kDefaultUsbTimeoutMs;
    std::uint32_t eventMask = 0;
    bool modemKnown = false;
    std::uint8_t modemLines = 0;
    bool modemChanged = false;
    // Calls made on this port, and the one in which GetQueueStatus last read the line (0:
    // none): "bytes waiting" asks for the queue and then the status, and one read serves both.
    std::uint64_t calls = 0;
    std::uint64_t queueReadCall = 0;
    bool gone = false;

    bool LineJustRead() const { return queueReadCall != 0 && queueReadCall + 1 == calls; }

    // Whether the chip has left the bus. The kernel answers this without USB traffic; once
    // gone, a device never comes back under the same handle.
    bool Gone() {
        if (!gone)
            gone =
                libusb_kernel_driver_active(ctx->usb_dev, ctx->interface) == LIBUSB_ERROR_NO_DEVICE;
        return gone;
    }

    // Closes the device (the kernel's serial driver comes back) and frees the serial number.
    // A device that has left the bus is let go all the same: the handle and the serial number
    // are free afterwards, so that close succeeds; only a device still there that will not let
    // go is an error.
    FtStatus Shut() {
        if (!ctx) return kFtInvalidHandle;
        const bool left = Gone();
        const int result = ftdi_usb_close(ctx);
        ftdi_free(ctx);
        ctx = nullptr;
        inbox.Clear();
        Release(serial);
        return result < 0 && !left ? kFtIoError : kFtOk;
    }

    FtStatus PollModem(std::uint32_t* status) {
        unsigned short raw = 0;
        if (ftdi_poll_modem_status(ctx, &raw) < 0) return kFtIoError;
        NoteLines(static_cast<std::uint8_t>(raw));
        if (status) *status = modemLines | (raw & 0xFF00u);
        return kFtOk;
    }

    void NoteLines(std::uint8_t modemByte) {
        // The low nibble of the modem byte is reserved; CTS, DSR, RI and DCD sit above it.
        const auto lines = static_cast<std::uint8_t>(modemByte & 0xF0);
        if (modemKnown && lines != modemLines) modemChanged = true;
        modemLines = lines;
        modemKnown = true;
    }

    // One look at the line; the lines come with the data.
    FtStatus Look() {
        const FtStatus status = inbox.Look();
        NoteLinesFromPackets();
        return status;
    }

    void NoteLinesFromPackets() {
        if (inbox.ModemByte() >= 0) NoteLines(static_cast<std::uint8_t>(inbox.ModemByte()));
    }

    std::uint32_t TakeEvents() {
        const std::uint32_t events = modemChanged ? kFtEventModemStatus : 0;
        modemChanged = false;
        return events;
    }

    // Best effort: the oldest chips have no latency timer and keep their fixed one.
    void LowLatency() { ftdi_set_latency_timer(ctx, kLatencyMs); }

    // One bulk read straight from the chip's endpoint. libftdi's own read goes on reading
    // for as long as data flows, which a device that never stops sending makes endless. The
    // chip answers within its latency time, with only its status bytes when it has no data.
    int BulkRead(std::uint8_t* raw, int size) {
        int actual = 0;
        const int result =
            libusb_bulk_transfer(ctx->usb_dev, static_cast<unsigned char>(ctx->out_ep), raw, size,
                                 &actual, static_cast<unsigned int>(ctx->usb_read_timeout));
        if (result == LIBUSB_ERROR_NO_DEVICE) gone = true;
        // A read that timed out may still have brought bytes; they count.
        if (result < 0 && result != LIBUSB_ERROR_TIMEOUT) return result;
        return actual;
    }

    // Writes in libftdi's chunks straight to the chip's endpoint; libftdi's own write drops the
    // count of what the chip took. A write the chip did not take whole would leave the start of
    // a frame in its transmit buffer, to go out ahead of the next frame and put the lamp out of
    // step with every frame after: what waits to go out is purged, and the write fails with the
    // count the chip took. A time-out leaves the device there; another failure does not.
    FtStatus BulkWrite(const std::uint8_t* buffer, std::uint32_t size, std::uint32_t* written) {
        const std::uint32_t chunk = std::max(1u, ctx->writebuffer_chunksize);
        std::uint32_t done = 0;
        while (done < size) {
            const auto piece = static_cast<int>(std::min(size - done, chunk));
            int actual = 0;
            const int result =
                libusb_bulk_transfer(ctx->usb_dev, static_cast<unsigned char>(ctx->in_ep),
                                     const_cast<std::uint8_t*>(buffer + done), piece, &actual,
                                     static_cast<unsigned int>(ctx->usb_write_timeout));
            const int took = std::clamp(actual, 0, piece);
            done += static_cast<std::uint32_t>(took);
            if (result >= 0 || (result == LIBUSB_ERROR_TIMEOUT && took == piece)) continue;
            *written = done;
            if (result == LIBUSB_ERROR_NO_DEVICE) {
                gone = true;
                return kFtIoError;
            }
            ftdi_tcoflush(ctx);
            return result == LIBUSB_ERROR_TIMEOUT ? kFtFailedToWriteDevice : kFtIoError;
        }
        *written = done;
        return kFtOk;
    }
};

FtdiBridge::FtdiBridge() : listing_(ListPass) {}

FtdiBridge::~FtdiBridge() {
    std::map<FtHandle, std::shared_ptr<Port>> ports;
    {
        std::lock_guard lock(tableMutex_);
        ports.swap(ports_);
    }
    for (auto& [handle, port] : ports) {
        std::lock_guard lock(port->mutex);
        port->Shut();
    }
}

std::shared_ptr<FtdiBridge::Port> FtdiBridge::Find(FtHandle handle) {
    std::lock_guard lock(tableMutex_);
    const auto it = ports_.find(handle);
    return it == ports_.end() ? nullptr : it->second;
}

FtStatus FtdiBridge::ListDevices(std::vector<std::string>& texts, std::uint32_t flags) {
    return listing_.List(texts, flags);
}

FtStatus FtdiBridge::OpenEx(const std::string& key, std::uint32_t flags, FtHandle* handle) {
    if (!handle) return kFtOtherError;
    *handle = 0;
    if (flags != kFtOpenBySerial || key.empty()) return kFtDeviceNotFound;
    if (!Reserve(key)) return kFtDeviceNotOpened;

    ContextPtr ctx(ftdi_new());
    if (!ctx) {
        Release(key);
        return kFtDeviceNotFound;
    }
    // The kernel's serial driver is detached for as long as the device is open.
    ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    if (ftdi_set_interface(ctx.get(), INTERFACE_ANY) < 0) {
        Release(key);
        return kFtOtherError;
    }
    FtStatus status = kFtDeviceNotFound;
    {
        ftdi_device_list* raw = nullptr;
        const int count = ftdi_usb_find_all(ctx.get(), &raw, 0, 0);
        ListPtr list(raw);
        for (ftdi_device_list* d = count > 0 ? list.get() : nullptr; d; d = d->next) {
            if (DeviceSerial(ctx.get(), d->dev) != key) continue;
            status = ftdi_usb_open_dev(ctx.get(), d->dev) < 0 ? OpenFailure(d->dev) : kFtOk;
            break;
        }
    }
    if (status != kFtOk) {
        Release(key);
        return status;
    }

    auto port = std::make_shared<Port>();
    port->ctx = ctx.release();
    port->serial = key;
    port->inbox.SetPacketSize(port->ctx->max_packet_size);
    port->LowLatency();
    port->PollModem(nullptr);
    const FtHandle h = NextHandle();
    {
        std::lock_guard lock(tableMutex_);
        ports_.emplace(h, std::move(port));
    }
    *handle = h;
    return kFtOk;
}

// Runs fn on the open port behind a handle, under that port's lock; unknown or closed
// handles never reach fn.
template <typename Fn>
FtStatus FtdiBridge::WithPort(FtHandle handle, Fn&& fn) {
    const std::shared_ptr<Port> port = Find(handle);
    if (!port) return kFtInvalidHandle;
    std::lock_guard lock(port->mutex);
    if (!port->ctx) return kFtInvalidHandle;
    ++port->calls;
    const FtStatus status = fn(*port);
    // A failed request means "device gone" only when the chip has left the bus; one still
    // there that refused or stalled a request keeps its handle of use.
    if (status == kFtIoError && !port->Gone()) return kFtOtherError;
    return status;
}

FtStatus FtdiBridge::ResetDevice(FtHandle handle) {
    return WithPort(handle, [&](Port& port) {
        port.inbox.Clear();
        if (ftdi_usb_reset(port.ctx) < 0) return kFtIoError;
        port.LowLatency();
        return kFtOk;
    });
}

FtStatus FtdiBridge::SetDivisor(FtHandle handle, std::uint16_t divisor) {
    return WithPort(handle, [&](Port& port) {
        // The divisor is the program's own, so the request goes out raw; libftdi's baud call
        // would compute a divisor of its own.
        const FtdiBaudRequest request = BaudRateRequest(divisor, port.ctx->type, port.ctx->index);
        // libftdi's FTDI_DEVICE_OUT_REQTYPE ors two enumeration types, which C++20 deprecates.
        constexpr auto kVendorOut = static_cast<std::uint8_t>(
            static_cast<int>(LIBUSB_REQUEST_TYPE_VENDOR) |
            static_cast<int>(LIBUSB_RECIPIENT_DEVICE) | static_cast<int>(LIBUSB_ENDPOINT_OUT));
        const int result = libusb_control_transfer(
            port.ctx->usb_dev, kVendorOut, SIO_SET_BAUDRATE_REQUEST, request.Value, request.Index,
            nullptr, 0, static_cast<unsigned int>(port.ctx->usb_write_timeout));
        return result < 0 ? kFtIoError : kFtOk;
    });
}

FtStatus FtdiBridge::SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                            std::uint8_t stopBits, std::uint8_t parity) {
    return WithPort(handle, [&](Port& port) {
        if ((wordLength != 7 && wordLength != 8) || stopBits > STOP_BIT_2 || parity > SPACE)
            return kFtOtherError;
        // The word length, stop-bit and parity codes are numbered alike on both sides.
        const int result = ftdi_set_line_property(port.ctx, static_cast<ftdi_bits_type>(wordLength),
                                                  static_cast<ftdi_stopbits_type>(stopBits),
                                                  static_cast<ftdi_parity_type>(parity));
        return result < 0 ? kFtIoError : kFtOk;
    });
}

FtStatus FtdiBridge::SetFlowControl(FtHandle handle, std::uint16_t mode, std::uint8_t xon,
                                    std::uint8_t xoff) {
    return WithPort(handle, [&](Port& port) {
        int result = 0;
        switch (mode) {
            case SIO_DISABLE_FLOW_CTRL:
            case SIO_RTS_CTS_HS:
            case SIO_DTR_DSR_HS:
                result = ftdi_setflowctrl(port.ctx, mode);
                break;
            case SIO_XON_XOFF_HS:
                result = ftdi_setflowctrl_xonxoff(port.ctx, xon, xoff);
                break;
            default:
                return kFtOtherError;
        }
        return result < 0 ? kFtIoError : kFtOk;
    });
}

FtStatus FtdiBridge::SetChars(FtHandle handle, std::uint8_t eventChar, std::uint8_t eventEnabled,
                              std::uint8_t errorChar, std::uint8_t errorEnabled) {
    return WithPort(handle, [&](Port& port) {
        if (ftdi_set_event_char(port.ctx, eventChar, eventEnabled ? 1 : 0) < 0) return kFtIoError;
        if (ftdi_set_error_char(port.ctx, errorChar, errorEnabled ? 1 : 0) < 0) return kFtIoError;
        return kFtOk;
    });
}

FtStatus FtdiBridge::SetEventNotification(FtHandle handle, std::uint32_t mask) {
    return WithPort(handle, [&](Port& port) {
        // The calls that keep to this side of the bus still say when the chip has gone, as
        // every call on its handle does.
        if (port.Gone()) return kFtIoError;
        // There is no event object to signal; events are reported when asked for.
        port.eventMask = mask;
        return kFtOk;
    });
}

FtStatus FtdiBridge::SetDtr(FtHandle handle) {
    return WithPort(handle,
                    [&](Port& port) { return ftdi_setdtr(port.ctx, 1) < 0 ? kFtIoError : kFtOk; });
}

FtStatus FtdiBridge::ClrDtr(FtHandle handle) {
    return WithPort(handle,
                    [&](Port& port) { return ftdi_setdtr(port.ctx, 0) < 0 ? kFtIoError : kFtOk; });
}

FtStatus FtdiBridge::SetRts(FtHandle handle) {
    return WithPort(handle,
                    [&](Port& port) { return ftdi_setrts(port.ctx, 1) < 0 ? kFtIoError : kFtOk; });
}

FtStatus FtdiBridge::ClrRts(FtHandle handle) {
    return WithPort(handle,
                    [&](Port& port) { return ftdi_setrts(port.ctx, 0) < 0 ? kFtIoError : kFtOk; });
}

FtStatus FtdiBridge::SetTimeouts(FtHandle handle, std::uint32_t readMs, std::uint32_t writeMs) {
    return WithPort(handle, [&](Port& port) {
        if (port.Gone()) return kFtIoError;
        port.readTimeoutMs = readMs;
        port.ctx->usb_read_timeout = UsbTimeout(readMs);
        port.ctx->usb_write_timeout = UsbTimeout(writeMs);
        return kFtOk;
    });
}

FtStatus FtdiBridge::Purge(FtHandle handle, std::uint32_t mask) {
    return WithPort(handle, [&](Port& port) {
        if (mask & ~(kPurgeRx | kPurgeTx)) return kFtOtherError;
        if (mask & kPurgeRx) port.inbox.Clear();
        int result = 0;
        if (mask == (kPurgeRx | kPurgeTx)) {
            result = ftdi_tcioflush(port.ctx);
        } else if (mask == kPurgeRx) {
            result = ftdi_tciflush(port.ctx);
        } else if (mask == kPurgeTx) {
            result = ftdi_tcoflush(port.ctx);
        }
        return result < 0 ? kFtIoError : kFtOk;
    });
}

FtStatus FtdiBridge::GetModemStatus(FtHandle handle, std::uint32_t* status) {
    if (!status) return kFtOtherError;
    *status = 0;
    return WithPort(handle, [&](Port& port) { return port.PollModem(status); });
}

FtStatus FtdiBridge::GetEventStatus(FtHandle handle, std::uint32_t* events) {
    if (!events) return kFtOtherError;
    *events = 0;
    return WithPort(handle, [&](Port& port) {
        if (port.Gone()) return kFtIoError;
        // From the lines the latest packets carried: asking the chip would cost a request on
        // every look at the line.
        *events = port.TakeEvents();
        return kFtOk;
    });
}

FtStatus FtdiBridge::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
    if (!rxBytes) return kFtOtherError;
    *rxBytes = 0;
    return WithPort(handle, [&](Port& port) {
        const FtStatus status = port.Look();
        if (status == kFtOk) port.queueReadCall = port.calls;
        *rxBytes = static_cast<std::uint32_t>(port.inbox.Waiting());
        return status;
    });
}

FtStatus FtdiBridge::GetStatus(FtHandle handle, std::uint32_t* rxBytes, std::uint32_t* txBytes,
                               std::uint32_t* events) {
    if (!rxBytes || !txBytes || !events) return kFtOtherError;
    *rxBytes = 0;
    *txBytes = 0;
    *events = 0;
    return WithPort(handle, [&](Port& port) {
        // Right after GetQueueStatus the line was just read; a second empty read would only
        // cost another latency period.
        const FtStatus status = port.LineJustRead() ? kFtOk : port.Look();
        *rxBytes = static_cast<std::uint32_t>(port.inbox.Waiting());
        // Writes go out synchronously, so nothing ever waits in a transmit queue here.
        *events = port.TakeEvents();
        return status;
    });
}

FtStatus FtdiBridge::Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t toRead,
                          std::uint32_t* read) {
    if (!read) return kFtOtherError;
    *read = 0;
    if (toRead > 0 && !buffer) return kFtOtherError;
    return WithPort(handle, [&](Port& port) {
        const FtStatus status = port.inbox.Read(buffer, toRead, read, port.readTimeoutMs);
        port.NoteLinesFromPackets();
        return status;
    });
}

FtStatus FtdiBridge::Write(FtHandle handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                           std::uint32_t* written) {
    if (!written) return kFtOtherError;
    *written = 0;
    if (toWrite > 0 && !buffer) return kFtOtherError;
    return WithPort(handle, [&](Port& port) {
        if (toWrite == 0) return kFtOk;
        return port.BulkWrite(buffer, toWrite, written);
    });
}

FtStatus FtdiBridge::SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) {
    return WithPort(handle, [&](Port& port) {
        // Mode 0 is BITMODE_RESET: back to the plain serial port.
        return ftdi_set_bitmode(port.ctx, mask, mode) < 0 ? kFtIoError : kFtOk;
    });
}

FtStatus FtdiBridge::Close(FtHandle handle) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard lock(tableMutex_);
        const auto it = ports_.find(handle);
        if (it == ports_.end()) return kFtInvalidHandle;
        port = std::move(it->second);
        ports_.erase(it);
    }
    std::lock_guard lock(port->mutex);
    return port->Shut();
}
