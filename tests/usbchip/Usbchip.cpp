#include "Usbchip.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace {

using Steady = std::chrono::steady_clock;

constexpr std::uint16_t kVendor = 0x0403;
constexpr std::uint16_t kProduct = 0x6001;
// bcdDevice 6.00 makes libftdi take the chip for an FT232R.
constexpr std::uint16_t kRelease = 0x0600;
constexpr int kBus = 1;
constexpr std::size_t kPacket = 64;
constexpr std::size_t kStatusBytes = 2;
constexpr std::size_t kPacketData = kPacket - kStatusBytes;
constexpr std::uint8_t kEndpointIn = 0x81;
// The chip's transmit buffer: a write waits only for what does not fit.
constexpr std::size_t kTxBuffer = 128;
// The chip's receive buffer: what the host does not fetch in time beyond it is lost.
constexpr std::size_t kRxBuffer = 256;
constexpr std::uint8_t kEndpointOut = 0x02;
// The second status byte: transmitter empty and holding register empty, no errors.
constexpr std::uint8_t kLineStatus = 0x60;
// Values of the reset request as libftdi 1.5 names them: the chip's reset, the purge of what
// waits to go out on the line (its tcoflush) and of what waits for the host (its tciflush).
constexpr std::uint16_t kResetSio = 0;
constexpr std::uint16_t kPurgeOut = 1;
constexpr std::uint16_t kPurgeIn = 2;
// Flow-control modes in the request index's high byte.
constexpr std::uint16_t kFlowRtsCts = 0x0100;
constexpr std::uint16_t kFlowDtrDsr = 0x0200;
constexpr const char* kKernelDriver = "ftdi_sio";
constexpr const char* kManufacturer = "Veltra";
// The node is a plain file, so poll() always says it is ready and libusb asks again at once;
// an empty answer is held back this long so that it does not spin.
constexpr auto kEmptyReapHold = std::chrono::milliseconds(1);

// Vendor requests of the chip family.
enum : std::uint8_t {
    kReset = 0x00,
    kModemCtrl = 0x01,
    kSetFlowCtrl = 0x02,
    kSetBaudRate = 0x03,
    kSetData = 0x04,
    kPollModemStatus = 0x05,
    kSetLatencyTimer = 0x09,
    kGetLatencyTimer = 0x0A,
};

// The device descriptor, then one configuration with one vendor-class interface and its two
// bulk endpoints of 64 bytes, as libusb reads them from sysfs.
std::vector<std::uint8_t> Descriptors() {
    return {// Device: USB 2.0, ep0 8 bytes, vendor, product, release, strings 1 to 3, one config.
            18, 1, 0x00, 0x02, 0, 0, 0, 8, kVendor & 0xFF, kVendor >> 8, kProduct & 0xFF,
            kProduct >> 8, kRelease & 0xFF, kRelease >> 8, 1, 2, 3, 1,
            // Configuration 1: 32 bytes in all, one interface, bus powered, 90 mA.
            9, 2, 32, 0, 1, 1, 0, 0x80, 45,
            // Interface 0: two endpoints, vendor class, product string.
            9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2,
            // Bulk IN 0x81 and bulk OUT 0x02, 64 bytes.
            7, 5, kEndpointIn, 2, 64, 0, 0, 7, 5, kEndpointOut, 2, 64, 0, 0};
}

// A string descriptor: length, type 3, the text as UTF-16LE (the texts here are ASCII).
std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (const char c : text) {
        d.push_back(static_cast<std::uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

UMockdevTestbed* Testbed() {
    // Made once and kept: libusb's hot-plug thread stays with the testbed it first saw. Its
    // tree goes when the process ends; the testbed itself is not undone under running threads.
    static UMockdevTestbed* testbed = [] {
        UMockdevTestbed* made = umockdev_testbed_new();
        static gchar* root = umockdev_testbed_get_root_dir(made);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        });
        return made;
    }();
    return testbed;
}

std::string RootDir() {
    static const std::string root = [] {
        gchar* dir = umockdev_testbed_get_root_dir(Testbed());
        std::string path = dir;
        g_free(dir);
        return path;
    }();
    return root;
}

int NextDevnum() {
    // Addresses are never reused in one run, as a bus hands out new ones.
    static int next = 2;
    return next++;
}

}  // namespace

// One URB a client submitted and has not reaped yet.
struct PendingUrb {
    UMockdevIoctlClient* Client = nullptr;
    UMockdevIoctlData* Urb = nullptr;     // the struct, a reference held here
    UMockdevIoctlData* Buffer = nullptr;  // its buffer, resolved into this process
    bool In = false;
    bool Done = false;
    Steady::time_point Submitted;
    // Bulk OUT: when the chip has taken the last byte into its transmit buffer, and how many
    // of the transfer's bytes it has taken so far.
    Steady::time_point Taken;
    std::size_t Accepted = 0;
};

// The handler of one plugging of a chip; a handler left from before an unplug answers
// "no device" for ever.
struct Plugging {
    Usbchips::Chip* ChipOf = nullptr;
    int Generation = 0;
};

struct Usbchips::Chip {
    Chip(std::string serial, std::string description, std::shared_ptr<SimDeviceModel> model)
        : Device(description, serial, std::move(model)) {
        Device.RxLimit = kRxBuffer;
    }

    SimDevice Device;
    int Devnum = 0;
    std::string Syspath;
    std::string Devnode;
    int Generation = 0;
    bool Plugged = false;
    bool DriverPresent = false;
    bool DriverBound = false;
    UMockdevIoctlClient* ClaimedBy = nullptr;
    std::set<UMockdevIoctlClient*> Clients;
    std::deque<PendingUrb> Urbs;
    int LatencyMs = 16;
    // When the transmitter has sent everything it was given.
    Steady::time_point TxFree;
    std::vector<ChipRequest> Requests;
    std::vector<std::uint8_t> Written;
    std::uint64_t InTransfers = 0;
    std::uint64_t LineErrorReports = 0;
    std::uint16_t Flow = 0;
    bool Dtr = false;
    bool Rts = false;
    int FailedRequest = -1;
    bool TxHeldByTest = false;
    // Bytes taken from the program while the transmitter stood still.
    std::deque<std::uint8_t> TxHeld;
    std::vector<std::unique_ptr<Plugging>> Pluggings;
    std::vector<UMockdevIoctlBase*> Handlers;

    bool Current(const Plugging& p) const { return Plugged && p.Generation == Generation; }

    // Handshake flow control stops the transmitter while the far side holds its line low.
    bool TxStopped() const {
        return TxHeldByTest || ((Flow & kFlowRtsCts) && !(Device.ModemStatus & 0x10)) ||
               ((Flow & kFlowDtrDsr) && !(Device.ModemStatus & 0x20));
    }

    // Bytes the program wrote, taken by the chip and sent on to the far side.
    void Send(const std::uint8_t* data, std::size_t size) {
        Written.insert(Written.end(), data, data + size);
        if (ClaimedBy) Device.Model->Receive(Device, data, size);
    }

    // Once the transmitter runs again, what waited in its buffer goes out, then the rest of
    // every write it had stopped.
    void Resume() {
        if (TxStopped()) return;
        if (!TxHeld.empty()) {
            const std::vector<std::uint8_t> held(TxHeld.begin(), TxHeld.end());
            TxHeld.clear();
            if (ClaimedBy) Device.Model->Receive(Device, held.data(), held.size());
        }
        for (PendingUrb& urb : Urbs) {
            if (urb.In || urb.Done) continue;
            auto* u = reinterpret_cast<usbdevfs_urb*>(urb.Urb->data);
            const auto size = static_cast<std::size_t>(std::max(u->buffer_length, 0));
            if (urb.Accepted >= size) continue;
            Send(urb.Buffer->data + urb.Accepted, size - urb.Accepted);
            urb.Accepted = size;
            u->actual_length = static_cast<int>(size);
            urb.Taken = Steady::now();
        }
    }

    // The second status byte: the transmitter's state, and errors once each.
    std::uint8_t LineStatus() {
        const auto status =
            static_cast<std::uint8_t>((TxHeld.empty() ? kLineStatus : 0) | Device.LineErrors);
        if (Device.LineErrors != 0) ++LineErrorReports;
        Device.LineErrors = 0;
        return status;
    }

    void ReleaseClaim() {
        if (!ClaimedBy) return;
        ClaimedBy = nullptr;
        Device.Open = false;
        Device.Model->Closed(Device);
        if (DriverPresent) DriverBound = false;
    }

    void DropUrbs(UMockdevIoctlClient* client) {
        for (auto it = Urbs.begin(); it != Urbs.end();) {
            if (it->Client == client) {
                umockdev_ioctl_data_unref(it->Buffer);
                umockdev_ioctl_data_unref(it->Urb);
                it = Urbs.erase(it);
            } else {
                ++it;
            }
        }
    }

    // A control transfer: the setup packet and the data stage behind it. Returns the length
    // of the data stage, or a negative errno for a stall.
    int Control(std::uint8_t* setup, int dataLength) {
        const std::uint8_t type = setup[0];
        const std::uint8_t request = setup[1];
        const auto value = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
        const auto index = static_cast<std::uint16_t>(setup[4] | setup[5] << 8);
        const int length = std::min<int>(setup[6] | setup[7] << 8, dataLength);
        std::uint8_t* data = setup + 8;
        if (type == 0x80 && request == 6) {
            // GET_DESCRIPTOR: strings only; libusb reads the others from sysfs.
            std::vector<std::uint8_t> d;
            const int kind = value >> 8;
            const int which = value & 0xFF;
            if (kind == 1 || kind == 2) {
                const std::vector<std::uint8_t> all = Descriptors();
                d = kind == 1 ? std::vector<std::uint8_t>(all.begin(), all.begin() + 18)
                              : std::vector<std::uint8_t>(all.begin() + 18, all.end());
            } else if (kind == 3 && which == 0) {
                d = {4, 3, 0x09, 0x04};
            } else if (kind == 3 && which == 1) {
                d = StringDescriptor(kManufacturer);
            } else if (kind == 3 && which == 2) {
                d = StringDescriptor(Device.Description);
            } else if (kind == 3 && which == 3) {
                d = StringDescriptor(Device.Serial);
            } else {
                return -EPIPE;
            }
            const int n = std::min<int>(length, static_cast<int>(d.size()));
            std::copy_n(d.begin(), n, data);
            return n;
        }
        if ((type & 0x60) != 0x40) return -EPIPE;  // only the chip's vendor requests remain
        Requests.push_back({request, value, index});
        if (request == FailedRequest) return -EPIPE;
        switch (request) {
            case kReset:
                // The reset leaves the line's handshake off and lowered, and both buffers as
                // they are: only a purge empties them.
                if (value == kResetSio) {
                    Flow = 0;
                    Dtr = false;
                    Rts = false;
                } else if (value == kPurgeOut) {
                    TxHeld.clear();
                } else if (value == kPurgeIn) {
                    Device.Rx.clear();
                }
                return 0;
            case kModemCtrl:
                // The high byte says which lines the low byte sets.
                if (value & 0x0100) Dtr = (value & 0x01) != 0;
                if (value & 0x0200) Rts = (value & 0x02) != 0;
                return 0;
            case kSetFlowCtrl:
                Flow = index & 0xFF00;
                return 0;
            case kSetBaudRate:
                Device.divisor = value;
                Device.divisorIndex = index;
                return 0;
            case kPollModemStatus:
                if (length < 2) return -EPIPE;
                data[0] = static_cast<std::uint8_t>(0x01 | (Device.ModemStatus & 0xF0));
                data[1] = LineStatus();
                return 2;
            case kSetLatencyTimer:
                LatencyMs = std::max(1, value & 0xFF);
                return 0;
            case kGetLatencyTimer:
                if (length < 1) return -EPIPE;
                data[0] = static_cast<std::uint8_t>(LatencyMs);
                return 1;
            default:
                // Line settings, flow control, special characters, bit mode: noted only.
                if (type & 0x80) {
                    std::fill_n(data, length, 0);
                    return length;
                }
                return 0;
        }
    }

    // Fills a bulk IN transfer once the chip would send: at once when a full packet's data
    // waits, else when the latency timer runs out, then with whatever waits (perhaps nothing
    // but the status bytes).
    bool FillIn(PendingUrb& urb, Steady::time_point now) {
        if (ClaimedBy) Device.Model->Poll(Device);
        const bool full = Device.Rx.size() >= kPacketData;
        const bool timedOut = now - urb.Submitted >= std::chrono::milliseconds(LatencyMs);
        if (!full && !timedOut) return false;
        auto* u = reinterpret_cast<usbdevfs_urb*>(urb.Urb->data);
        std::uint8_t* out = urb.Buffer->data;
        const auto capacity = static_cast<std::size_t>(std::max(u->buffer_length, 0));
        std::size_t at = 0;
        const std::uint8_t modem = static_cast<std::uint8_t>(0x01 | (Device.ModemStatus & 0xF0));
        do {
            if (at + kStatusBytes > capacity) break;
            // Short packets wait for the timer; full ones go at once.
            const std::size_t n = std::min({kPacketData, Device.Rx.size(), capacity - at - 2});
            if (n < kPacketData && !timedOut && at > 0) break;
            out[at++] = modem;
            out[at++] = LineStatus();
            std::copy_n(Device.Rx.begin(), n, out + at);
            Device.Rx.erase(Device.Rx.begin(), Device.Rx.begin() + static_cast<std::ptrdiff_t>(n));
            at += n;
            if (n < kPacketData) break;
        } while (!Device.Rx.empty());
        u->actual_length = static_cast<int>(at);
        u->status = 0;
        ++InTransfers;
        return true;
    }
};

namespace {

// Gives back one finished URB through the reap request's argument.
void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, PendingUrb& urb) {
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(slot, 0, urb.Urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    umockdev_ioctl_data_unref(slot);
    umockdev_ioctl_data_unref(urb.Buffer);
    umockdev_ioctl_data_unref(urb.Urb);
}

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* plugging = static_cast<Plugging*>(user);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock lock(Usbchips::Mutex());
    Usbchips::Chip& chip = *plugging->ChipOf;
    const bool present = chip.Current(*plugging);
    if (present) chip.Resume();

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        const auto now = Steady::now();
        for (auto it = chip.Urbs.begin(); it != chip.Urbs.end(); ++it) {
            if (it->Client != client) continue;
            auto* u = reinterpret_cast<usbdevfs_urb*>(it->Urb->data);
            if (!present && !it->Done) {
                // Pulled out: what was in flight comes back as "no device".
                u->status = -ENODEV;
                u->actual_length = 0;
                it->Done = true;
            }
            if (!it->Done && it->In && chip.FillIn(*it, now)) it->Done = true;
            if (!it->Done && !it->In && now >= it->Taken) it->Done = true;
            if (!it->Done) continue;
            PendingUrb done = *it;
            chip.Urbs.erase(it);
            Reap(client, arg, done);
            return TRUE;
        }
        lock.unlock();
        if (!present) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        std::this_thread::sleep_for(kEmptyReapHold);
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    if (!present) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }

    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
            *reinterpret_cast<guint32*>(d->data) =
                USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            umockdev_ioctl_data_unref(d);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_GETDRIVER: {
            UMockdevIoctlData* d =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
            auto* get = reinterpret_cast<usbdevfs_getdriver*>(d->data);
            int error = 0;
            if (chip.DriverBound) {
                std::snprintf(get->driver, sizeof get->driver, "%s", kKernelDriver);
            } else if (chip.ClaimedBy) {
                std::snprintf(get->driver, sizeof get->driver, "usbfs");
            } else {
                error = ENODATA;
            }
            umockdev_ioctl_data_unref(d);
            umockdev_ioctl_client_complete(client, error ? -1 : 0, error);
            return TRUE;
        }
        case USBDEVFS_IOCTL: {
            UMockdevIoctlData* d =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
            const int code = reinterpret_cast<usbdevfs_ioctl*>(d->data)->ioctl_code;
            umockdev_ioctl_data_unref(d);
            int error = 0;
            if (code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                if (chip.DriverBound) {
                    chip.DriverBound = false;
                } else {
                    error = ENODATA;
                }
            } else if (code == static_cast<int>(USBDEVFS_CONNECT)) {
                if (chip.ClaimedBy) {
                    error = EBUSY;
                } else {
                    chip.DriverBound = chip.DriverPresent;
                }
            } else {
                error = ENOTTY;
            }
            umockdev_ioctl_client_complete(client, error ? -1 : 0, error);
            return TRUE;
        }
        case USBDEVFS_CLAIMINTERFACE: {
            // Another program's claim, or the kernel's driver, keeps the chip busy.
            if (chip.DriverBound || (chip.ClaimedBy && chip.ClaimedBy != client)) {
                umockdev_ioctl_client_complete(client, -1, EBUSY);
                return TRUE;
            }
            if (!chip.ClaimedBy) {
                chip.ClaimedBy = client;
                chip.Device.Open = true;
                // What the chip received before stays in its buffer for the new owner.
                chip.Device.Model->Opened(chip.Device);
            }
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_RELEASEINTERFACE:
            if (chip.ClaimedBy == client) chip.ReleaseClaim();
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET:
        case USBDEVFS_RESETEP:
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        case USBDEVFS_SUBMITURB: {
            PendingUrb urb;
            urb.Client = client;
            urb.Urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
            auto* u = reinterpret_cast<usbdevfs_urb*>(urb.Urb->data);
            urb.Buffer = umockdev_ioctl_data_resolve(urb.Urb, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                                     static_cast<gsize>(u->buffer_length), nullptr);
            urb.Submitted = Steady::now();
            u->status = 0;
            u->actual_length = 0;
            if (u->type == USBDEVFS_URB_TYPE_CONTROL && u->buffer_length >= 8) {
                const int n = chip.Control(urb.Buffer->data, u->buffer_length - 8);
                if (n < 0) {
                    u->status = n;
                } else {
                    u->actual_length = n;
                }
                urb.Done = true;
            } else if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == kEndpointOut) {
                const auto size = static_cast<std::size_t>(std::max(u->buffer_length, 0));
                if (chip.TxStopped()) {
                    // The buffer takes what fits; the rest waits for the transmitter.
                    const std::size_t room = kTxBuffer - std::min(kTxBuffer, chip.TxHeld.size());
                    const std::size_t take = std::min(size, room);
                    chip.Written.insert(chip.Written.end(), urb.Buffer->data,
                                        urb.Buffer->data + take);
                    chip.TxHeld.insert(chip.TxHeld.end(), urb.Buffer->data,
                                       urb.Buffer->data + take);
                    urb.Accepted = take;
                    u->actual_length = static_cast<int>(take);
                    urb.Taken = take == size ? urb.Submitted : Steady::time_point::max();
                    chip.Urbs.push_back(urb);
                    umockdev_ioctl_client_complete(client, 0, 0);
                    return TRUE;
                }
                chip.Send(urb.Buffer->data, size);
                urb.Accepted = size;
                u->actual_length = static_cast<int>(size);
                // The transfer ends once what does not fit the transmit buffer has gone out
                // at the line's rate: a long write takes its wire time, a frame none.
                const std::int32_t rate = chip.Device.BaudRate();
                const auto byte = std::chrono::duration_cast<Steady::duration>(
                    std::chrono::duration<double>(rate > 0 ? 10.0 / rate : 0.0));
                chip.TxFree =
                    std::max(chip.TxFree, urb.Submitted) + byte * static_cast<std::int64_t>(size);
                urb.Taken = chip.TxFree - byte * static_cast<std::int64_t>(kTxBuffer);
            } else if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == kEndpointIn) {
                urb.In = true;
            } else {
                umockdev_ioctl_data_unref(urb.Buffer);
                umockdev_ioctl_data_unref(urb.Urb);
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                return TRUE;
            }
            chip.Urbs.push_back(urb);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_DISCARDURB: {
            // The argument is the URB's address itself.
            const gulong address = *reinterpret_cast<gulong*>(arg->data);
            for (PendingUrb& urb : chip.Urbs) {
                if (urb.Client != client || urb.Urb->client_addr != address) continue;
                if (!urb.Done) {
                    // A write keeps what the chip took of it before it was given up.
                    auto* u = reinterpret_cast<usbdevfs_urb*>(urb.Urb->data);
                    u->status = -ENOENT;
                    u->actual_length = urb.In ? 0 : static_cast<int>(urb.Accepted);
                    urb.Done = true;
                }
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        }
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return TRUE;
    }
}

void ClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* plugging = static_cast<Plugging*>(user);
    std::lock_guard lock(Usbchips::Mutex());
    plugging->ChipOf->Clients.insert(client);
}

void ClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* plugging = static_cast<Plugging*>(user);
    std::lock_guard lock(Usbchips::Mutex());
    Usbchips::Chip& chip = *plugging->ChipOf;
    chip.Clients.erase(client);
    chip.DropUrbs(client);
    // A program that ends without letting go still frees the chip.
    if (chip.ClaimedBy == client) chip.ReleaseClaim();
}

// Chips outlive their Usbchips: a handler may still be called for a client of an old plugging.
std::vector<std::shared_ptr<Usbchips::Chip>>& Kept() {
    static auto* kept = new std::vector<std::shared_ptr<Usbchips::Chip>>();
    return *kept;
}

}  // namespace

std::mutex& Usbchips::Mutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

bool Usbchips::Available() {
    // The testbed must exist before the preload can tell it is there.
    Testbed();
    return umockdev_in_mock_environment();
}

bool Usbchips::Required() {
    const char* required = std::getenv("VELTRA_USB_EMULATION");
    return required != nullptr && std::strcmp(required, "required") == 0;
}

Usbchips::Usbchips() {
    Testbed();
}

Usbchips::~Usbchips() {
    for (std::size_t i = 0; i < chips_.size(); ++i)
        if (chips_[i]->Plugged) Unplug(static_cast<int>(i));
}

int Usbchips::Plug(const std::string& serial, const std::string& description,
                   std::shared_ptr<SimDeviceModel> model, bool kernelDriver) {
    auto chip = std::make_shared<Chip>(serial, description, std::move(model));
    chip->DriverPresent = kernelDriver;
    chip->DriverBound = kernelDriver;
    Kept().push_back(chip);
    chips_.push_back(chip);
    Attach(*chip);
    return static_cast<int>(chips_.size()) - 1;
}

void Usbchips::Attach(Chip& chip) {
    char node[64];
    {
        std::lock_guard lock(Mutex());
        chip.Devnum = NextDevnum();
        ++chip.Generation;
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", kBus, chip.Devnum);
        chip.Devnode = node;
        chip.Pluggings.push_back(std::make_unique<Plugging>(Plugging{&chip, chip.Generation}));
        chip.Plugged = true;
        chip.ClaimedBy = nullptr;
        chip.Device.Unplugged = false;
    }
    Plugging* plugging = chip.Pluggings.back().get();
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(HandleIoctl), plugging);
    g_signal_connect(handler, "client-connected", G_CALLBACK(ClientConnected), plugging);
    g_signal_connect(handler, "client-vanished", G_CALLBACK(ClientVanished), plugging);
    chip.Handlers.push_back(handler);
    umockdev_testbed_attach_ioctl(Testbed(), node, handler, nullptr);

    // The testbed makes no device node; libusb opens one.
    const std::filesystem::path file = RootDir() + node;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file).close();

    const std::string name = std::to_string(kBus) + "-" + std::to_string(chip.Devnum);
    const std::string devnum = std::to_string(chip.Devnum);
    char vendor[8], product[8], release[8];
    std::snprintf(vendor, sizeof vendor, "%04x", kVendor);
    std::snprintf(product, sizeof product, "%04x", kProduct);
    std::snprintf(release, sizeof release, "%04x", kRelease);
    const std::string attrs[][2] = {
        {"idVendor", std::string(vendor) + "\n"},
        {"idProduct", std::string(product) + "\n"},
        {"bcdDevice", std::string(release) + "\n"},
        {"busnum", std::to_string(kBus) + "\n"},
        {"devnum", devnum + "\n"},
        {"speed", "12\n"},
        {"bConfigurationValue", "1\n"},
        {"bNumConfigurations", "1\n"},
        {"manufacturer", std::string(kManufacturer) + "\n"},
        {"product", chip.Device.Description + "\n"},
        {"serial", chip.Device.Serial + "\n"},
    };
    char busText[8];
    std::snprintf(busText, sizeof busText, "%03d", kBus);
    const std::string props[][2] = {
        {"DEVNAME", node},
        {"DEVTYPE", "usb_device"},
        {"BUSNUM", busText},
        {"DEVNUM", std::string(node).substr(std::string(node).size() - 3)},
        {"ID_VENDOR_ID", vendor},
        {"ID_MODEL_ID", product},
    };
    std::vector<gchar*> a, p;
    for (const auto& kv : attrs) {
        a.push_back(const_cast<gchar*>(kv[0].c_str()));
        a.push_back(const_cast<gchar*>(kv[1].c_str()));
    }
    a.push_back(nullptr);
    for (const auto& kv : props) {
        p.push_back(const_cast<gchar*>(kv[0].c_str()));
        p.push_back(const_cast<gchar*>(kv[1].c_str()));
    }
    p.push_back(nullptr);
    gchar* syspath =
        umockdev_testbed_add_devicev(Testbed(), "usb", name.c_str(), nullptr, a.data(), p.data());
    std::vector<std::uint8_t> descriptors = Descriptors();
    umockdev_testbed_set_attribute_binary(Testbed(), syspath, "descriptors", descriptors.data(),
                                          static_cast<gint>(descriptors.size()));
    chip.Syspath = syspath;
    g_free(syspath);
    umockdev_testbed_uevent(Testbed(), chip.Syspath.c_str(), "add");
}

void Usbchips::Unplug(int index) {
    Chip& chip = *chips_.at(static_cast<std::size_t>(index));
    {
        std::lock_guard lock(Mutex());
        if (!chip.Plugged) return;
        chip.Plugged = false;
        chip.Device.Unplugged = true;
    }
    umockdev_testbed_uevent(Testbed(), chip.Syspath.c_str(), "remove");
    umockdev_testbed_remove_device(Testbed(), chip.Syspath.c_str());
    std::error_code ignored;
    std::filesystem::remove(RootDir() + chip.Devnode, ignored);
}

void Usbchips::Replug(int index) {
    Chip& chip = *chips_.at(static_cast<std::size_t>(index));
    {
        std::lock_guard lock(Mutex());
        if (chip.Plugged) return;
        // The program never let go of the old address; the lamp behind it sees the line drop.
        chip.ReleaseClaim();
        // Power comes back: both buffers empty, the line as after a reset.
        chip.Device.Rx.clear();
        chip.Device.LineErrors = 0;
        chip.TxHeld.clear();
        chip.Flow = 0;
        chip.Dtr = false;
        chip.Rts = false;
        chip.DriverBound = chip.DriverPresent;
    }
    Attach(chip);
}

void Usbchips::DenyAccess(int index) {
    std::lock_guard lock(Mutex());
    // The tree is the test's own (0700); another user may read it as anyone may read /sys,
    // but not open the node.
    chmod(RootDir().c_str(), 0755);
    // umockdev's own sockets are no part of the check: everyone may reach them.
    std::error_code ignored;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(RootDir() + "/ioctl", ignored))
        chmod(entry.path().c_str(), 0777);
    chmod((RootDir() + "/ioctl").c_str(), 0777);
    chmod((RootDir() + chips_.at(static_cast<std::size_t>(index))->Devnode).c_str(), 0);
}

SimDevice& Usbchips::DeviceOf(int chip) {
    return chips_.at(static_cast<std::size_t>(chip))->Device;
}

ChipState Usbchips::State(int index) const {
    std::lock_guard lock(Mutex());
    const Chip& chip = *chips_.at(static_cast<std::size_t>(index));
    ChipState s;
    s.Requests = chip.Requests;
    s.Written = chip.Written;
    s.Divisor = chip.Device.divisor;
    s.DivisorIndex = chip.Device.divisorIndex;
    s.Baud = chip.Device.BaudRate();
    s.FlowControl = chip.Flow;
    s.Dtr = chip.Dtr;
    s.Rts = chip.Rts;
    s.TxHeld = chip.TxHeld.size();
    s.LineErrorReports = chip.LineErrorReports;
    s.LatencyMs = chip.LatencyMs;
    s.Claimed = chip.ClaimedBy != nullptr;
    s.KernelDriverBound = chip.DriverBound;
    s.Plugged = chip.Plugged;
    s.Clients = static_cast<int>(chip.Clients.size());
    return s;
}

void Usbchips::FailRequest(int index, int request) {
    std::lock_guard lock(Mutex());
    chips_.at(static_cast<std::size_t>(index))->FailedRequest = request;
}

void Usbchips::HoldTransmitter(int index, bool hold) {
    std::lock_guard lock(Mutex());
    Chip& chip = *chips_.at(static_cast<std::size_t>(index));
    chip.TxHeldByTest = hold;
    chip.Resume();
}

void Usbchips::ClearRequests(int index) {
    std::lock_guard lock(Mutex());
    Chip& chip = *chips_.at(static_cast<std::size_t>(index));
    chip.Requests.clear();
    chip.Written.clear();
}

std::uint64_t Usbchips::InTransfers(int index) const {
    std::lock_guard lock(Mutex());
    return chips_.at(static_cast<std::size_t>(index))->InTransfers;
}

int Usbchips::BulkInFlight(int index, bool in) const {
    std::lock_guard lock(Mutex());
    const Chip& chip = *chips_.at(static_cast<std::size_t>(index));
    return static_cast<int>(
        std::count_if(chip.Urbs.begin(), chip.Urbs.end(), [&](const PendingUrb& urb) {
            return reinterpret_cast<const usbdevfs_urb*>(urb.Urb->data)->type ==
                       USBDEVFS_URB_TYPE_BULK &&
                   urb.In == in;
        }));
}
