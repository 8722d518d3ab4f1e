#include "link/Light.h"

#include <algorithm>

#include "settings/Channel.h"

namespace {

std::uint16_t Be16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

void PutBe16(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value);
}

// Longest run the receiver takes from the port in one go, and how many runs one look takes.
constexpr std::int32_t kReadChunk = 4096;
constexpr int kReadsPerFrame = 8;

}  // namespace

CLightInput::CLightInput(D2xx& library, Clock& clock, std::string logPath)
    : Devices(library), clock_(clock), log_(std::move(logPath)) {}

// ---------------------------------------------------------------------------------------------
// Link and exchange

std::int32_t CLightInput::Connect(std::int32_t connectBaud, std::int32_t runBaud,
                                  std::int32_t sendDelayMs, const std::string& serial) {
    return TakeDevice(connectBaud, sendDelayMs, serial) ? StartLink(runBaud) : kNoLamp;
}

bool CLightInput::TakeDevice(std::int32_t connectBaud, std::int32_t sendDelayMs,
                             const std::string& serial) {
    SendDelayMs = sendDelayMs;
    // A lamp already held by this object is let go first, so a reconnect cannot leak a handle.
    Devices.CloseDevice();
    receiver_.Clear();
    missedReplies_ = 0;
    wireTimed_ = false;
    Devices.ListDevices();
    const int count = Devices.DeviceCount;
    LogText("devices found: " + std::to_string(count));
    for (int i = 0; i < count; ++i) {
        LogText("device: " + std::to_string(i + 1) + "/" + std::to_string(count));
        const DeviceEntry& row = Devices.Devices[static_cast<std::size_t>(i)];
        const std::string name = row.Description.substr(0, 8);
        LogText("name: " + name);
        if (name == "LED Lamp" && (serial.empty() || row.SerialNumber == serial) &&
            Devices.OpenDevice(i, connectBaud)) {
            taken_ = i;
            return true;
        }
        LogText("failed");
    }
    return false;
}

std::int32_t CLightInput::StartLink(std::int32_t runBaud) {
    LogText("set speed");
    Devices.WriteLinkCommand(kLinkCommandSpeed);
    Devices.CloseDevice();
    clock_.Sleep(kBaudSwitchMs);
    // A failed reopen shows as the first transfer running out of time.
    Devices.OpenDevice(taken_, runBaud);
    receiver_.Clear();
    LogText("loading");
    NoAnswer = false;
    return LoadInfo();
}

void CLightInput::SendFrame(CFrame& frame) {
    if (SendDelayMs > 0) clock_.Sleep(static_cast<std::uint32_t>(SendDelayMs));
    LogFrame(&frame, "OUT");
    Devices.WriteFrame(frame);
}

std::optional<CFrame> CLightInput::ReceiveFrame() {
    return ReceiveWithin(clock_.TickCount());
}

std::optional<CFrame> CLightInput::ReceiveWithin(std::uint32_t waitStart, bool* drained) {
    if (drained) *drained = false;
    for (int reads = 0;;) {
        const CReceiver::Event event = receiver_.Next();
        if (event.kind == CReceiver::Kind::kFrame) return event.frame;
        if (event.kind == CReceiver::Kind::kBadChecksum) {
            LogChecksumError(event.frame);
            continue;
        }
        // A device that never stops sending must not hold the caller here; the reply wait's
        // next try reads on.
        if (reads++ == kReadsPerFrame || !WithinReplyTime(waitStart)) return std::nullopt;
        const std::int32_t waiting = Devices.BytesWaiting();
        if (waiting <= 0) {
            if (drained) *drained = true;
            return std::nullopt;
        }
        const std::int32_t want = std::min(waiting, kReadChunk);
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(want));
        const std::int32_t got = Devices.ReadBytes(buffer.data(), want);
        if (got <= 0) return std::nullopt;
        receiver_.Feed(buffer.data(), static_cast<std::size_t>(got));
    }
}

double CLightInput::ByteWireMs() const {
    const DeviceEntry* row = Devices.CurrentRow();
    if (!row || row->Settings.BaudRate <= 0) return 0.0;
    // Ten bits a byte: start, eight data, stop.
    return 10.0 * 1000.0 / row->Settings.BaudRate;
}

std::uint32_t CLightInput::QuietMs(std::uint32_t waitStart, std::uint32_t looked) {
    const double byteMs = ByteWireMs();
    if (byteMs <= 0.0) return 0;
    // The reply cannot be whole before the request and then the reply have crossed the wire;
    // the write may have begun a little before the wait, hence the margin.
    const double replyAt = 2.0 * CFrame::kSize * byteMs - kReplyPollMs;
    // Nor before the bytes a frame still lacks have come, the first of them perhaps nearly in.
    const std::size_t held = std::min<std::size_t>(receiver_.Pending(), CFrame::kSize - 1);
    const double restAt = static_cast<double>(looked - waitStart) +
                          static_cast<double>(CFrame::kSize - 1 - held) * byteMs;
    const auto until = static_cast<std::uint32_t>(std::max(replyAt, restAt));
    const std::uint32_t spent = clock_.TickCount() - waitStart;
    return until > spent ? until - spent : 0;
}

bool CLightInput::WithinReplyTime(std::uint32_t waitStart) {
    // A device gone from the bus has no reply left to wait for.
    return !Devices.DeviceGone && clock_.TickCount() - waitStart < kReplyTimeoutMs;
}

bool CLightInput::IsReplyTo(CFrame& frame, std::uint8_t expectedCommand) {
    const bool sameSequence = frame.Decode(Devices.SequenceCounter);
    if (frame.cmd == kCmdStatus) {
        LogFrame(&frame, "ST");
        return false;
    }
    if (!sameSequence) return false;
    LogFrame(&frame, "IN");
    return frame.cmd == expectedCommand;
}

std::optional<CFrame> CLightInput::WaitReply(std::uint8_t expectedCommand) {
    // Bounded by tries and by the clock both, so a line that keeps the reads busy cannot
    // stretch the wait.
    const std::uint32_t start = clock_.TickCount();
    // On a wire-timed line a look before the reply can be whole never finds it, and each look is
    // a USB transfer: the wait sleeps through that time first. Bytes held from before are no
    // part of this reply, and a device gone is seen at the first look after the sleep.
    if (wireTimed_ && WithinReplyTime(start)) {
        const std::uint32_t quiet = QuietMs(start, start);
        if (quiet > 0) clock_.Sleep(std::min(quiet, kReplyTimeoutMs));
    }
    // The first look emptied the line without a frame: a reply that comes after it took its
    // wire time.
    bool firstLookEmpty = false;
    for (int attempt = 0; attempt < kReplyTries && WithinReplyTime(start); ++attempt) {
        const std::uint32_t looked = clock_.TickCount();
        bool drained = false;
        std::optional<CFrame> reply = ReceiveWithin(start, &drained);
        if (attempt == 0) firstLookEmpty = drained && !reply;
        if (reply && IsReplyTo(*reply, expectedCommand)) return Answered(*reply, firstLookEmpty);
        // Looking again before the reply can be whole would only cost a wake-up, so a look that
        // emptied the line sleeps until then; bytes that come meanwhile wait in the port.
        std::uint32_t pause = drained && !reply ? QuietMs(start, looked) : 0;
        // The USB bridge's look at the line already waits out the chip's latency time; only a
        // look that cost nothing (a simulated bus) needs a pause before the next.
        if (pause == 0 && clock_.TickCount() == looked) pause = kReplyPollMs;
        // However long the pause would be, the wait ends on time.
        const std::uint32_t spent = clock_.TickCount() - start;
        if (pause > 0 && spent < kReplyTimeoutMs)
            clock_.Sleep(std::min(pause, kReplyTimeoutMs - spent));
    }
    // The tail some framed bytes waited for did not come: judge them with what is here.
    for (CReceiver::Event event = receiver_.Next(true); event.kind != CReceiver::Kind::kNothing;
         event = receiver_.Next(true)) {
        if (event.kind == CReceiver::Kind::kBadChecksum) {
            LogChecksumError(event.frame);
        } else if (IsReplyTo(event.frame, expectedCommand)) {
            return Answered(event.frame, firstLookEmpty);
        }
    }
    LogFrame(nullptr, "IN");
    NoAnswer = true;
    return std::nullopt;
}

std::optional<CFrame> CLightInput::Answered(const CFrame& reply, bool firstLookEmpty) {
    NoAnswer = false;
    // A lamp that answers at once (a simulated one) has its reply on the line by the first look,
    // however slow the machine, and goes on being looked at right away.
    if (firstLookEmpty) wireTimed_ = true;
    return reply;
}

CFrame CLightInput::Request(std::uint8_t cmd, std::uint8_t cd1, std::uint8_t cd2) const {
    CFrame frame;
    frame.cmd = cmd;
    frame.cd1 = cd1;
    frame.cd2 = cd2;
    return frame;
}

std::optional<CFrame> CLightInput::Exchange(CFrame& frame) {
    if (Lost()) return Refused();
    SendFrame(frame);
    return Counted(WaitReply(frame.cmd));
}

std::optional<CFrame> CLightInput::ExchangeQuiet(CFrame& frame) {
    if (Lost()) return Refused();
    Devices.WriteFrame(frame);
    return Counted(WaitReply(frame.cmd));
}

std::optional<CFrame> CLightInput::Counted(std::optional<CFrame> reply) {
    if (reply) {
        missedReplies_ = 0;
    } else {
        ++missedReplies_;
    }
    return reply;
}

std::optional<CFrame> CLightInput::Refused() {
    NoAnswer = true;
    return std::nullopt;
}

bool CLightInput::Lost() const {
    return Devices.DeviceGone || missedReplies_.load() >= kMissesForLost;
}

std::string CLightInput::Serial() const {
    const DeviceEntry* row = Devices.CurrentRow();
    return row != nullptr && Devices.IsOpen ? row->SerialNumber : std::string();
}

// ---------------------------------------------------------------------------------------------
// Information block and area

std::int32_t CLightInput::LoadInfo() {
    Info.Reset();
    if (!SelectPage(kInfoPage, false)) return kNoReply;
    Piece piece{};
    for (int offset = 0; offset < Info.BlockSize(); offset += CLightInfo::kPieceSize) {
        if (ReadMemory(offset, piece) != kOk) return kNoReply;
        Info.LoadBlockPiece(offset, piece);
    }
    int selected = -1;
    for (int offset = 0; offset < Info.AreaSize(); offset += CLightInfo::kPieceSize) {
        const int page = kAreaFirstPage + offset / kPageSize;
        if (page != selected) {
            if (!SelectPage(page, false)) return kNoReply;
            selected = page;
        }
        if (ReadMemory(offset % kPageSize, piece) != kOk) return kNoReply;
        Info.LoadAreaPiece(offset, piece);
    }
    return Info.Accept() ? kOk : kInvalidInfo;
}

std::int32_t CLightInput::SaveInfo(const SaveProgress& progress) {
    Info.PrepareWrite();
    // The frames are counted before the first goes out, so the total holds from the start:
    // the block's page and every area page are selected, changed or not, and the block's
    // page again at the end.
    int total = 2 + (Info.AreaSize() + kPageSize - 1) / kPageSize;
    for (int offset = 0; offset < Info.BlockSize(); offset += CLightInfo::kPieceSize)
        total += Info.BlockPieceChanged(offset) ? 1 : 0;
    for (int offset = 0; offset < Info.AreaSize(); offset += CLightInfo::kPieceSize)
        total += Info.AreaPieceChanged(offset) ? 1 : 0;
    int done = 0;
    const auto sent = [&] {
        if (progress) progress(++done, total);
    };
    if (progress) progress(0, total);
    if (!SelectPage(kInfoPage, true)) return kNoReply;
    sent();
    for (int offset = 0; offset < Info.BlockSize(); offset += CLightInfo::kPieceSize) {
        if (!Info.BlockPieceChanged(offset)) continue;
        if (WriteMemory(offset, Info.StagedBlockPiece(offset)) != kOk) return kNoReply;
        sent();
    }
    int selected = -1;
    for (int offset = 0; offset < Info.AreaSize(); offset += CLightInfo::kPieceSize) {
        const int page = kAreaFirstPage + offset / kPageSize;
        if (page != selected) {
            if (!SelectPage(page, true)) return kNoReply;
            sent();
            selected = page;
        }
        if (!Info.AreaPieceChanged(offset)) continue;
        if (WriteMemory(offset % kPageSize, Info.StagedAreaPiece(offset)) != kOk) return kNoReply;
        sent();
    }
    SelectPage(kInfoPage, true);
    sent();
    Info.CommitWrite();
    return kOk;
}

std::int32_t CLightInput::WriteBlock(int page, const Page& buffer) {
    if (!SelectPage(page, true)) return kNoReply;
    for (int offset = 0; offset < kPageSize; offset += CLightInfo::kPieceSize) {
        Piece piece{};
        std::copy_n(buffer.begin() + offset, CLightInfo::kPieceSize, piece.begin());
        if (WriteMemory(offset, piece) != kOk) return kNoReply;
    }
    return SelectPage(kInfoPage, true) ? kOk : kNoReply;
}

// ---------------------------------------------------------------------------------------------
// Commands

bool CLightInput::ReadChannel(CChannel& record) {
    CFrame frame = Request(kCmdReadChannel, static_cast<std::uint8_t>(record.SlotNumber), 0);
    const std::optional<CFrame> reply = Exchange(frame);
    if (!reply) return false;
    CChannel::Block block{};
    std::copy(reply->Data.begin(), reply->Data.end(), block.begin());
    record.DecodeBlock(block);
    return true;
}

bool CLightInput::WriteChannel(CChannel& record) {
    const CChannel::Block block = record.EncodeBlock();
    std::optional<CFrame> reply;
    for (int i = 0; i < 2; ++i) {
        CFrame frame = Request(kCmdWriteChannel, static_cast<std::uint8_t>(record.SlotNumber), 0);
        std::copy(block.begin(), block.end(), frame.Data.begin());
        reply = Exchange(frame);
    }
    // The second reply carries what the lamp keeps.
    if (!reply) return false;
    CChannel::Block echoed{};
    std::copy(reply->Data.begin(), reply->Data.end(), echoed.begin());
    record.DecodeBlock(echoed);
    return true;
}

bool CLightInput::SelectChannel(int channel) {
    CFrame frame = Request(kCmdSelectChannel, static_cast<std::uint8_t>(channel), 0);
    return Exchange(frame).has_value();
}

bool CLightInput::Finish() {
    CFrame frame = Request(kCmdFinish, 0, 0);
    return Exchange(frame).has_value();
}

std::optional<int> CLightInput::GetState() {
    CFrame frame = Request(kCmdState, 0, 0);
    const std::optional<CFrame> reply = Exchange(frame);
    if (!reply) return std::nullopt;
    const std::uint32_t current = reply->Data[2];
    return static_cast<int>(std::min(current, Info.StoredChannelCount()));
}

std::optional<TransitionStatus> CLightInput::SetRemote(int release) {
    CFrame frame = Request(kCmdState, 1, 0);
    const auto flag = static_cast<std::uint8_t>(release != 0 ? 1 : 0);
    frame.Data[0] = flag;
    frame.Data[1] = flag;
    // The two parameter bytes (data 2 and 3) are always 0.
    const std::optional<CFrame> reply = Exchange(frame);
    if (!reply) return std::nullopt;
    TransitionStatus status;
    status.SecondsLeft = reply->Data[6];
    status.X = static_cast<float>(Be16(&reply->Data[7])) / 65535.0f;
    status.Y = static_cast<float>(Be16(&reply->Data[9])) / 65535.0f;
    return status;
}

std::int32_t CLightInput::WriteMemory(int offset, const Piece& bytes) {
    CFrame frame = Request(kCmdWriteMemory, static_cast<std::uint8_t>(offset >> 8),
                           static_cast<std::uint8_t>(offset & 0xFF));
    std::copy(bytes.begin(), bytes.end(), frame.Data.begin());
    return Exchange(frame) ? kOk : kNoReply;
}

std::int32_t CLightInput::ReadMemory(int offset, Piece& bytes) {
    CFrame frame = Request(kCmdReadMemory, static_cast<std::uint8_t>(offset >> 8),
                           static_cast<std::uint8_t>(offset & 0xFF));
    const std::optional<CFrame> reply = Exchange(frame);
    if (!reply) return kNoReply;
    std::copy(reply->Data.begin(), reply->Data.end(), bytes.begin());
    return kOk;
}

std::optional<std::int32_t> CLightInput::GetPower() {
    CFrame frame = Request(kCmdPower, 0, 0);
    const std::optional<CFrame> reply = Exchange(frame);
    if (!reply) return std::nullopt;
    return Be16(&reply->Data[0]);
}

std::optional<bool> CLightInput::GetPowerOff() {
    CFrame frame = Request(kCmdPower, 0, 0);
    const std::optional<CFrame> reply = ExchangeQuiet(frame);
    if (!reply) return std::nullopt;
    return reply->Data[2] != 0;
}

std::optional<bool> CLightInput::GetBacklight() {
    CFrame frame = Request(kCmdPower, 0, 0);
    const std::optional<CFrame> reply = ExchangeQuiet(frame);
    if (!reply) return std::nullopt;
    return reply->Data[3] != 0;
}

bool CLightInput::SetPower(std::int32_t seconds, bool off, bool backlight) {
    CFrame frame = Request(kCmdPower, 1, 0);
    PutBe16(&frame.Data[0], static_cast<std::uint32_t>(std::clamp(seconds, 0, 0xFFFF)));
    frame.Data[2] = off ? 1 : 0;
    frame.Data[3] = backlight ? 1 : 0;
    return Exchange(frame).has_value();
}

bool CLightInput::Probe() {
    CFrame frame = Request(kCmdProbe, 0, 0);
    return Exchange(frame).has_value();
}

bool CLightInput::CommitInfo() {
    CFrame frame = Request(kCmdCommitInfo, 0, 0);
    return Exchange(frame).has_value();
}

bool CLightInput::SelectPage(int page, bool forWriting) {
    CFrame frame = Request(kCmdSelectPage, forWriting ? 1 : 0, 0);
    PutBe16(&frame.Data[0], static_cast<std::uint32_t>(page));
    return Exchange(frame).has_value();
}

std::optional<std::array<float, 6>> CLightInput::GetGamut(const CChannel& record) {
    CFrame frame = Request(kCmdGetGamut, 0, 0);
    const CChannel::Block summary = record.EncodeSummary();
    std::copy(summary.begin(), summary.end(), frame.Data.begin());
    const std::optional<CFrame> reply = Exchange(frame);
    if (!reply) return std::nullopt;
    std::array<float, 6> gamut{};
    for (std::size_t i = 0; i < gamut.size(); ++i)
        gamut[i] = static_cast<float>(Be16(&reply->Data[9 + 2 * i])) / 65535.0f;
    return gamut;
}

std::optional<std::array<float, 16>> CLightInput::ReadTemperatures(int page) {
    CFrame frame = Request(kCmdReadTemperatures, static_cast<std::uint8_t>(page), 0);
    const std::optional<CFrame> reply = Exchange(frame);
    if (!reply) return std::nullopt;
    std::array<float, 16> temperatures{};
    for (std::size_t j = 0; j < temperatures.size(); ++j)
        temperatures[j] = static_cast<float>(Be16(&reply->Data[2 * j])) * 0.0625f;
    return temperatures;
}

// ---------------------------------------------------------------------------------------------
// Protocol log

std::uint32_t CLightInput::LogNow() const {
    return LogTimeOfDay ? LogTimeOfDay() : CProtocolLog::LocalTimeOfDayMs();
}

void CLightInput::LogText(const std::string& text) {
    if (LogEnabled) log_.Append(CProtocolLog::TextRecord(LogNow(), text));
}

void CLightInput::LogFrame(const CFrame* frame, const char* tag) {
    if (LogEnabled) log_.Append(CProtocolLog::FrameRecord(LogNow(), frame, tag));
}

void CLightInput::LogChecksumError(const CFrame& raw) {
    if (LogEnabled) log_.Append(CProtocolLog::ChecksumRecord(LogNow(), raw));
}
