#include "sim/Simlamp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "link/Lightinfo.h"

namespace {

constexpr int kFrameSize = 40;
constexpr std::uint8_t kStart = 0xA0;
constexpr std::uint8_t kEnd = 0xAF;
constexpr std::uint8_t kStatusCmd = 0xFF;

// Seconds a transition takes for the speed index carried in the display flags.
constexpr std::uint32_t kSpeedSeconds[5] = {0, 2, 5, 10, 30};

std::uint16_t Be16(const std::uint8_t* b) {
    return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
}

void PutBe16(std::uint8_t* b, std::uint32_t v) {
    b[0] = static_cast<std::uint8_t>(v >> 8);
    b[1] = static_cast<std::uint8_t>(v);
}

void PutBe32(std::uint8_t* b, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    b[0] = static_cast<std::uint8_t>(v >> 24);
    b[1] = static_cast<std::uint8_t>(v >> 16);
    b[2] = static_cast<std::uint8_t>(v >> 8);
    b[3] = static_cast<std::uint8_t>(v);
}

std::uint8_t Checksum(const std::array<std::uint8_t, kFrameSize>& raw) {
    unsigned sum = 0;
    for (int i = 1; i <= 37; ++i) sum += raw[static_cast<std::size_t>(i)];
    return static_cast<std::uint8_t>(sum);
}

bool Due(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

// A few sensible settings for a fresh lamp: colour temperature, x, y.
struct Preset {
    int Kelvin;
    float X;
    float Y;
};
constexpr Preset kPresets[] = {{2700, 0.4599f, 0.4106f}, {3000, 0.4369f, 0.4041f},
                               {4000, 0.3805f, 0.3768f}, {5000, 0.3451f, 0.3516f},
                               {6500, 0.3135f, 0.3237f}, {1800, 0.5500f, 0.3300f},
                               {6500, 0.2500f, 0.5500f}, {10000, 0.2000f, 0.1500f}};

}  // namespace

SimLamp::SimLamp(Clock& clock, SimLampOptions options)
    : clock_(clock), options_(std::move(options)) {
    if (options_.DeviceName.empty()) options_.DeviceName = "VDL";
    // A fresh information block: magic, count 10, a device name, empty channel names.
    CLightInfo info;
    CLightInfo::WriteLe32(&info.Block[CLightInfo::kMagicOffset], CLightInfo::InfoMagic);
    info.SetStoredChannelCount(10);
    info.SetDeviceName(options_.DeviceName);
    info.SetLastChannel(1);
    std::fill_n(info.Block.begin() + CLightInfo::kChannelNamesOffset,
                CLightInfo::kChannelNameSize * CLightInfo::kChannelNameCount, 0xFF);
    CLightInfo::WriteLe32(&info.Block[CLightInfo::kChecksumOffset],
                          CLightInfo::InfoChecksum(info.Block));
    std::copy(info.Block.begin(), info.Block.end(), pages_[0].begin());
    pages_[256] = Page{};
    pages_[257] = Page{};
    for (int p = 0; p < kTextPageCount; ++p) pages_[kTextFirstPage + p] = Page{};

    // Channel 0 is dark; the others cycle through a few white points and colours.
    for (int slot = 1; slot < kSlotCount; ++slot) {
        const Preset& preset = kPresets[(slot - 1) % std::size(kPresets)];
        Block target{};
        PutBe16(&target[12], static_cast<std::uint32_t>(preset.Kelvin));
        PutBe16(&target[14], static_cast<std::uint32_t>(preset.X * 65535.0f));
        PutBe16(&target[16], static_cast<std::uint32_t>(preset.Y * 65535.0f));
        PutBe16(&target[18], 500);    // lux
        PutBe16(&target[20], 32768);  // WR coefficient
        PutBe16(&target[22], 32768);  // BUV coefficient
        target[24] = 0;               // option bits
        target[25] = 1;               // mode: target
        PutBe16(&target[26], 32768);  // B1B2 coefficient
        PutBe16(&target[28], 40000);  // intensity level
        target[31] = 0;               // speed index 1
        slots_[static_cast<std::size_t>(slot)] = Mix(target);
    }
    const Block& first = slots_[1];
    fromX_ = toX_ = Be16(&first[14]) / 65535.0f;
    fromY_ = toY_ = Be16(&first[16]) / 65535.0f;
    lastStatus_ = clock_.TickCount();
}

// ---------------------------------------------------------------------------------------------
// Bus side

bool SimLamp::ListeningAt(std::int32_t rate) const {
    // A UART tolerates a few percent; further off, every byte arrives as garbage.
    return std::abs(static_cast<double>(rate) - lineBaud_) <= 0.03 * lineBaud_;
}

double SimLamp::LineNow() const {
    return static_cast<double>(clock_.TickCount() - lineBase_);
}

double SimLamp::ByteMs(std::int32_t rate) {
    // Start bit, 8 data bits, stop bit.
    return 10.0 * 1000.0 / rate;
}

void SimLamp::Receive(SimDevice& device, const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    const std::int32_t rate = device.BaudRate();
    if (options_.WireTimed && rate > 0) {
        const double byteMs = ByteMs(rate);
        double at = std::max(LineNow(), inFree_);
        for (std::size_t i = 0; i < size; ++i) {
            at += byteMs;
            arriving_.push_back({at, data[i], rate});
        }
        inFree_ = at;
        Arrive(LineNow());
        Flush(device);
        PullCable(device);
        return;
    }
    eventAt_ = LineNow();
    if (!ListeningAt(rate)) {
        // Framing errors: what arrives is noise, and whatever was half-received is lost too.
        garbled_ += size;
        input_.clear();
        return;
    }
    input_.insert(input_.end(), data, data + size);
    Parse();
    Flush(device);
    PullCable(device);
}

void SimLamp::Arrive(double until) {
    while (!arriving_.empty() && arriving_.front().At <= until) {
        const Arrival arrival = arriving_.front();
        arriving_.pop_front();
        eventAt_ = arrival.At;
        Take(arrival.Byte, arrival.Rate);
    }
}

void SimLamp::Take(std::uint8_t byte, std::int32_t rate) {
    if (!ListeningAt(rate)) {
        ++garbled_;
        input_.clear();
        return;
    }
    input_.push_back(byte);
    Parse();
}

void SimLamp::Poll(SimDevice& device) {
    std::lock_guard lock(mutex_);
    if (options_.WireTimed) Arrive(LineNow());
    const std::uint32_t now = clock_.TickCount();
    eventAt_ = LineNow();
    if (options_.StatusIntervalMs > 0 && open_ && lineBaud_ == options_.RunBaud &&
        ListeningAt(device.BaudRate()) && Due(now, lastStatus_ + options_.StatusIntervalMs)) {
        lastStatus_ = now;
        SendStatus();
    }
    Flush(device);
    PullCable(device);
}

void SimLamp::Opened(SimDevice& /*device*/) {
    std::lock_guard lock(mutex_);
    open_ = true;
    switchedThisOpen_ = false;
    input_.clear();
    output_.clear();
    lastStatus_ = clock_.TickCount();
    lineBase_ = clock_.TickCount();
    arriving_.clear();
    inFree_ = outFree_ = eventAt_ = 0.0;
}

void SimLamp::Closed(SimDevice& /*device*/) {
    std::lock_guard lock(mutex_);
    // What the program wrote before letting go still leaves the chip and reaches the lamp.
    Arrive(std::numeric_limits<double>::infinity());
    open_ = false;
    input_.clear();
    output_.clear();
    // The switch holds across the close that follows it; when the program lets go after a
    // session, the lamp returns to the connect rate for the next one.
    if (!switchedThisOpen_) lineBaud_ = kConnectBaud;
}

void SimLamp::Parse() {
    for (;;) {
        const auto start = std::find_if(input_.begin(), input_.end(),
                                        [](std::uint8_t b) { return b == kStart || b == '<'; });
        input_.erase(input_.begin(), start);
        if (input_.empty()) return;
        if (input_[0] == '<') {
            if (input_.size() < 3) return;
            if (input_[1] == 'M' && input_[2] == '>') {
                SimLampCommand link;
                link.Cmd = 'M';
                if (CutAt(link)) return;
                lineBaud_ = options_.RunBaud;
                switchedThisOpen_ = true;
                input_.erase(input_.begin(), input_.begin() + 3);
            } else {
                input_.erase(input_.begin());
            }
            continue;
        }
        if (input_.size() < static_cast<std::size_t>(kFrameSize)) return;
        std::array<std::uint8_t, kFrameSize> raw{};
        std::copy_n(input_.begin(), kFrameSize, raw.begin());
        if (raw[39] != kEnd || raw[38] != Checksum(raw)) {
            input_.erase(input_.begin());
            continue;
        }
        input_.erase(input_.begin(), input_.begin() + kFrameSize);
        Handle(raw);
    }
}

bool SimLamp::CutAt(const SimLampCommand& command) {
    if (!cutTrigger_ || !cutTrigger_(command)) return false;
    cutTrigger_ = nullptr;
    cut_ = true;
    input_.clear();
    arriving_.clear();
    return true;
}

void SimLamp::PullCable(SimDevice& device) {
    if (!cut_) return;
    cut_ = false;
    output_.clear();
    device.Rx.clear();
    device.Unplugged = true;
}

void SimLamp::Flush(SimDevice& device) {
    const std::uint32_t now = clock_.TickCount();
    const double line = LineNow();
    while (!output_.empty()) {
        Output& out = output_.front();
        device.SendBaud = out.Baud;
        if (!options_.WireTimed) {
            if (!Due(now, out.Due)) return;
            device.Queue(out.Bytes.data(), out.Bytes.size());
        } else {
            while (out.Sent < out.Bytes.size() &&
                   out.Start + static_cast<double>(out.Sent + 1) * out.ByteMs <= line) {
                device.Queue(&out.Bytes[out.Sent], 1);
                ++out.Sent;
            }
            if (out.Sent < out.Bytes.size()) return;
        }
        output_.pop_front();
    }
}

void SimLamp::Schedule(Output& out, double earliest) {
    out.ByteMs = ByteMs(lineBaud_);
    out.Start = std::max(earliest, outFree_);
    outFree_ = out.Start + static_cast<double>(out.Bytes.size()) * out.ByteMs;
}

void SimLamp::Reply(const std::array<std::uint8_t, kFrameSize>& request, std::uint8_t err,
                    const Block& data) {
    std::array<std::uint8_t, kFrameSize> raw{};
    raw[0] = kStart;
    raw[1] = static_cast<std::uint8_t>(request[1] + (wrongSequence_ ? 1 : 0));
    raw[2] = err;
    raw[3] = request[3];
    raw[4] = request[4];
    raw[5] = request[5];
    std::copy(data.begin(), data.end(), raw.begin() + 6);
    raw[38] = static_cast<std::uint8_t>(Checksum(raw) + (wrongChecksum_ ? 1 : 0));
    raw[39] = kEnd;
    Output out;
    out.Due = clock_.TickCount() + lateMs_;
    out.Baud = lineBaud_;
    if (stray_ > 0) {
        // Noise with a false start byte in it, so that a receiver has to look past it.
        for (std::size_t i = 0; i < stray_; ++i)
            out.Bytes.push_back(i == 1 ? kStart : static_cast<std::uint8_t>(0x31 + i));
        stray_ = 0;
    }
    out.Bytes.insert(out.Bytes.end(), raw.begin(), raw.end());
    if (options_.WireTimed) Schedule(out, eventAt_ + options_.ProcessingMs + lateMs_);
    output_.push_back(std::move(out));
}

void SimLamp::SendStatus() {
    int secondsLeft = 0;
    float x = 0.0f;
    float y = 0.0f;
    TransitionAt(clock_.TickCount(), secondsLeft, x, y);
    Block temps{};
    FillTemperatures(0, temps);
    Block data{};
    // Eight signed values, each times 256: LED and driver temperature, channel, transition
    // seconds, x and y in thousandths, timer seconds, off flag.
    const std::int32_t values[8] = {static_cast<std::int32_t>(Be16(&temps[0])) * 16,
                                    static_cast<std::int32_t>(Be16(&temps[2])) * 16,
                                    current_ * 256,
                                    secondsLeft * 256,
                                    static_cast<std::int32_t>(x * 1000.0f * 256.0f),
                                    static_cast<std::int32_t>(y * 1000.0f * 256.0f),
                                    timerSeconds_ * 256,
                                    (off_ ? 1 : 0) * 256};
    for (int i = 0; i < 8; ++i) PutBe32(&data[static_cast<std::size_t>(i * 4)], values[i]);
    std::array<std::uint8_t, kFrameSize> raw{};
    raw[0] = kStart;
    raw[3] = kStatusCmd;
    std::copy(data.begin(), data.end(), raw.begin() + 6);
    raw[38] = Checksum(raw);
    raw[39] = kEnd;
    Output out;
    out.Due = clock_.TickCount();
    out.Baud = lineBaud_;
    out.Bytes.assign(raw.begin(), raw.end());
    if (options_.WireTimed) Schedule(out, eventAt_);
    output_.push_back(std::move(out));
    ++statusSent_;
}

// ---------------------------------------------------------------------------------------------
// Firmware

bool SimLamp::HasPage(int page) const {
    return pages_.count(page) != 0;
}

void SimLamp::Handle(const std::array<std::uint8_t, kFrameSize>& raw) {
    SimLampCommand command;
    command.Sequence = raw[1];
    command.Cmd = raw[3];
    command.Cd1 = raw[4];
    command.Cd2 = raw[5];
    std::copy(raw.begin() + 6, raw.begin() + 38, command.Data.begin());
    if (CutAt(command)) return;
    if (loseTrigger_ && loseTrigger_(command)) return;
    if (options_.CommandLimit == 0) {
        ++droppedCommands_;
    } else {
        if (commands_.size() >= options_.CommandLimit) {
            commands_.pop_front();
            ++droppedCommands_;
        }
        commands_.push_back(command);
    }
    if (hook_) hook_(command);
    if (silenceTrigger_ && silenceTrigger_(command)) {
        noReply_ = true;
        silenceTrigger_ = nullptr;
    }

    const std::uint8_t cd1 = command.Cd1;
    const Block& in = command.Data;
    const int offset = command.Cd1 << 8 | command.Cd2;
    Block out{};
    std::uint8_t err = 0;
    switch (command.Cmd) {
        case 0x01:  // read channel
            if (cd1 < kSlotCount) {
                out = slots_[cd1];
            } else {
                err = kErrBadSlot;
            }
            break;
        case 0x02:  // write channel
            if (cd1 < kSlotCount) {
                slots_[cd1] = Mix(in);
                out = slots_[cd1];
                if (cd1 == current_) StartTransition(cd1);
            } else {
                err = kErrBadSlot;
            }
            break;
        case 0x03:  // select channel
            if (cd1 < kSlotCount) {
                current_ = cd1;
                StartTransition(cd1);
            } else {
                err = kErrBadSlot;
            }
            break;
        case 0x04:  // finish: the lamp runs on its own again
            remote_ = false;
            break;
        case 0x05:  // state, or remote control taken (0) or given back (1)
            if (cd1 == 1) remote_ = in[0] == 0;
            out[0] = remote_ ? 1 : 0;
            out[1] = off_ ? 1 : 0;
            out[2] = static_cast<std::uint8_t>(current_);
            FillTransition(out);
            break;
        case 0x06:  // write memory
            if (!HasPage(page_)) {
                err = kErrBadPage;
            } else if (offset + 32 > kPageSize) {
                err = kErrBadOffset;
            } else {
                std::copy(in.begin(), in.end(), pages_[page_].begin() + offset);
                out = in;
            }
            break;
        case 0x07:  // read memory
            if (!HasPage(page_)) {
                err = kErrBadPage;
            } else if (offset + 32 > kPageSize) {
                err = kErrBadOffset;
            } else {
                std::copy_n(pages_[page_].begin() + offset, 32, out.begin());
            }
            break;
        case 0x08:  // power: query (0) or set (1)
            if (cd1 == 1) {
                timerSeconds_ = Be16(&in[0]);
                off_ = in[2] != 0;
                backlight_ = in[3] != 0;
            }
            PutBe16(&out[0], static_cast<std::uint32_t>(timerSeconds_));
            out[2] = off_ ? 1 : 0;
            out[3] = backlight_ ? 1 : 0;
            break;
        case 0x09:  // probe: firmware version
            out[0] = 1;
            out[1] = 4;
            out[2] = 2;
            break;
        case 0x10:  // commit the information block
            ++commits_;
            break;
        case 0x12:  // select a memory page
            page_ = Be16(&in[0]);
            if (!HasPage(page_)) err = kErrBadPage;
            PutBe16(&out[0], static_cast<std::uint32_t>(page_));
            break;
        case 0x13: {  // gamut of a setting
            std::copy_n(in.begin(), 9, out.begin());
            const std::array<float, 6> gamut = options_.ReportedGamut.value_or(kGamut);
            for (int i = 0; i < 6; ++i)
                PutBe16(&out[static_cast<std::size_t>(9 + 2 * i)],
                        static_cast<std::uint32_t>(
                            std::lround(gamut[static_cast<std::size_t>(i)] * 65535.0f)));
            break;
        }
        case 0x23:  // temperatures
            FillTemperatures(cd1, out);
            break;
        default:
            err = kErrUnknownCommand;
            out = in;
            break;
    }
    const bool silent =
        silent_.count({command.Cmd, -1}) != 0 || silent_.count({command.Cmd, command.Cd1}) != 0;
    if (!noReply_ && !silent) Reply(raw, err, out);
}

SimLamp::Block SimLamp::Mix(const Block& target) const {
    Block block = target;
    const int mode = target[25];
    // Only a target (mode 1) or direct values (mode 5) are mixed; any other mode keeps the
    // levels as they were sent.
    if (mode != 1 && mode != 5) return block;
    std::array<float, 6> levels{};  // R, B2, G, B1, UV, W
    if (mode == 5) {
        // Direct mode: the values sent are the levels, within the lamp's range.
        for (std::size_t i = 0; i < 6; ++i)
            levels[i] = std::min<float>(Be16(&target[2 * i]), 4000.0f) / 4000.0f;
    } else {
        const float x = Be16(&target[14]) / 65535.0f;
        const float y = Be16(&target[16]) / 65535.0f;
        // Barycentric weights of the target in the red, green and blue corners.
        const float rx = kGamut[0], ry = kGamut[1], gx = kGamut[2], gy = kGamut[3], bx = kGamut[4],
                    by = kGamut[5];
        const float det = (gy - by) * (rx - bx) + (bx - gx) * (ry - by);
        float r = ((gy - by) * (x - bx) + (bx - gx) * (y - by)) / det;
        float g = ((by - ry) * (x - bx) + (rx - bx) * (y - by)) / det;
        float b = 1.0f - r - g;
        r = std::max(r, 0.0f);
        g = std::max(g, 0.0f);
        b = std::max(b, 0.0f);
        // Near the white point most of the light comes from the white LEDs.
        const float distance = std::hypot(x - 0.33f, y - 0.34f);
        const float white = std::clamp(1.0f - distance / 0.2f, 0.0f, 1.0f);
        const bool uv = (target[24] & 0x02) != 0;
        levels = {(1 - white) * r,        (1 - white) * b * 0.4f, (1 - white) * g,
                  (1 - white) * b * 0.6f, uv ? 0.1f * b : 0.0f,   white};
        const float peak = *std::max_element(levels.begin(), levels.end());
        const float intensity = Be16(&target[28]) / 65535.0f;
        for (float& level : levels) level = peak > 0 ? level / peak * intensity : 0.0f;
    }
    for (std::size_t i = 0; i < 6; ++i)
        PutBe16(&block[2 * i], static_cast<std::uint32_t>(std::lround(levels[i] * 4000.0f)));
    return block;
}

void SimLamp::StartTransition(int slot) {
    const std::uint32_t now = clock_.TickCount();
    int secondsLeft = 0;
    TransitionAt(now, secondsLeft, fromX_, fromY_);
    const Block& target = slots_[static_cast<std::size_t>(slot)];
    toX_ = Be16(&target[14]) / 65535.0f;
    toY_ = Be16(&target[16]) / 65535.0f;
    const std::uint8_t flags = target[31];
    const int speed = (flags & 0x04) ? 0 : ((flags >> 3) & 0x03) + 1;
    transitionStart_ = now;
    transitionMs_ = kSpeedSeconds[speed] * 1000;
}

void SimLamp::TransitionAt(std::uint32_t now, int& secondsLeft, float& x, float& y) const {
    const std::uint32_t elapsed = now - transitionStart_;
    if (transitionMs_ == 0 || elapsed >= transitionMs_) {
        secondsLeft = 0;
        x = toX_;
        y = toY_;
        return;
    }
    const float t = static_cast<float>(elapsed) / static_cast<float>(transitionMs_);
    x = fromX_ + (toX_ - fromX_) * t;
    y = fromY_ + (toY_ - fromY_) * t;
    secondsLeft = static_cast<int>((transitionMs_ - elapsed + 999) / 1000);
}

void SimLamp::FillTransition(Block& data) const {
    int secondsLeft = 0;
    float x = 0.0f;
    float y = 0.0f;
    TransitionAt(clock_.TickCount(), secondsLeft, x, y);
    data[6] = static_cast<std::uint8_t>(std::min(secondsLeft, 255));
    PutBe16(&data[7], static_cast<std::uint32_t>(std::lround(x * 65535.0f)));
    PutBe16(&data[9], static_cast<std::uint32_t>(std::lround(y * 65535.0f)));
}

void SimLamp::FillTemperatures(int page, Block& data) const {
    // Warmer the more light the current channel gives; the drivers run a little hotter.
    const Block& slot = slots_[static_cast<std::size_t>(current_)];
    float load = 0.0f;
    for (std::size_t i = 0; i < 6; ++i) load += Be16(&slot[2 * i]) / 4000.0f;
    load = off_ ? 0.0f : load / 6.0f;
    const float base = 25.0f + 30.0f * load + (page == 1 ? 5.0f : 0.0f);
    for (std::size_t j = 0; j < 16; ++j) {
        const float celsius = base + 0.25f * static_cast<float>(j % 4);
        PutBe16(&data[2 * j], static_cast<std::uint32_t>(std::lround(celsius / 0.0625f)));
    }
}

// ---------------------------------------------------------------------------------------------
// Faults and views

void SimLamp::SetNoReply(bool on) {
    std::lock_guard lock(mutex_);
    noReply_ = on;
}

void SimLamp::FallSilentAt(std::function<bool(const SimLampCommand&)> trigger) {
    std::lock_guard lock(mutex_);
    silenceTrigger_ = std::move(trigger);
}

void SimLamp::UnplugAt(std::function<bool(const SimLampCommand&)> trigger) {
    std::lock_guard lock(mutex_);
    cutTrigger_ = std::move(trigger);
}

void SimLamp::LoseFrames(std::function<bool(const SimLampCommand&)> trigger) {
    std::lock_guard lock(mutex_);
    loseTrigger_ = std::move(trigger);
}

void SimLamp::SetNoReplyTo(std::uint8_t cmd, int cd1, bool on) {
    std::lock_guard lock(mutex_);
    if (on) {
        silent_.insert({cmd, cd1});
    } else {
        silent_.erase({cmd, cd1});
    }
}

void SimLamp::SetLateReplyMs(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    lateMs_ = ms;
}

void SimLamp::SetWrongSequence(bool on) {
    std::lock_guard lock(mutex_);
    wrongSequence_ = on;
}

void SimLamp::SetWrongChecksum(bool on) {
    std::lock_guard lock(mutex_);
    wrongChecksum_ = on;
}

void SimLamp::InjectStrayBytes(std::size_t count) {
    std::lock_guard lock(mutex_);
    stray_ = count;
}

void SimLamp::ClearMagic() {
    std::lock_guard lock(mutex_);
    std::fill_n(pages_[0].begin() + CLightInfo::kMagicOffset, 4, 0);
}

void SimLamp::SetCommandHook(std::function<void(const SimLampCommand&)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

SimLampState SimLamp::State() const {
    std::lock_guard lock(mutex_);
    SimLampState state;
    state.CurrentChannel = current_;
    state.Off = off_;
    state.TimerSeconds = timerSeconds_;
    state.Backlight = backlight_;
    state.Remote = remote_;
    state.LineBaud = lineBaud_;
    state.SelectedPage = page_;
    TransitionAt(clock_.TickCount(), state.TransitionSecondsLeft, state.TransitionX,
                 state.TransitionY);
    state.CommitCount = commits_;
    state.StatusFramesSent = statusSent_;
    state.GarbledBytes = garbled_;
    state.Slots = slots_;
    return state;
}

SimLamp::Page SimLamp::ReadPage(int page) const {
    std::lock_guard lock(mutex_);
    const auto it = pages_.find(page);
    return it == pages_.end() ? Page{} : it->second;
}

void SimLamp::WritePage(int page, const Page& bytes) {
    std::lock_guard lock(mutex_);
    pages_[page] = bytes;
}

void SimLamp::SetSlot(int slot, const Block& block) {
    std::lock_guard lock(mutex_);
    if (slot >= 0 && slot < kSlotCount) slots_[static_cast<std::size_t>(slot)] = block;
}

std::vector<SimLampCommand> SimLamp::Commands() const {
    std::lock_guard lock(mutex_);
    return {commands_.begin(), commands_.end()};
}

void SimLamp::ClearCommands() {
    std::lock_guard lock(mutex_);
    commands_.clear();
    droppedCommands_ = 0;
}

std::uint64_t SimLamp::DroppedCommands() const {
    std::lock_guard lock(mutex_);
    return droppedCommands_;
}

std::vector<SimLampEntry> AddSimLamps(SimBus& bus, int count, Clock& clock,
                                      const SimLampOptions& options) {
    std::vector<SimLampEntry> lamps;
    for (int n = 1; n <= count; ++n) {
        SimLampOptions own = options;
        if (own.DeviceName.empty()) own.DeviceName = "VDL " + std::to_string(n);
        SimLampEntry entry;
        entry.Description = "LED Lamp " + std::to_string(n);
        char serial[16];
        std::snprintf(serial, sizeof serial, "VL%06d", n);
        entry.Serial = serial;
        entry.Lamp = std::make_shared<SimLamp>(clock, own);
        entry.Index = bus.AddDevice(entry.Description, entry.Serial, entry.Lamp);
        lamps.push_back(std::move(entry));
    }
    return lamps;
}
