#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/D2xx.h"
#include "link/Devices.h"
#include "link/Frame.h"
#include "link/Lightinfo.h"
#include "link/Protolog.h"
#include "link/Receiver.h"

class CChannel;

// What the lamp reports of a running colour transition in its reply to SetRemote.
struct TransitionStatus {
    std::int32_t SecondsLeft = 0;
    float X = 0.0f;
    float Y = 0.0f;
};

// One connected lamp: finds and opens its USB bridge, switches the link to the run baud rate,
// exchanges request and reply frames (framed by CReceiver), offers one operation per lamp
// command, moves the information block in and out of lamp memory, and writes its traffic to
// the protocol log (CProtocolLog).
class CLightInput {
  public:
    // Results of Connect, LoadInfo, SaveInfo, WriteBlock, WriteMemory and ReadMemory.
    static constexpr std::int32_t kOk = 1;
    static constexpr std::int32_t kNoLamp = -2;
    static constexpr std::int32_t kNoReply = -5;
    static constexpr std::int32_t kInvalidInfo = -10;

    // Command codes of the request frames.
    static constexpr std::uint8_t kCmdReadChannel = 0x01;
    static constexpr std::uint8_t kCmdWriteChannel = 0x02;
    static constexpr std::uint8_t kCmdSelectChannel = 0x03;
    static constexpr std::uint8_t kCmdFinish = 0x04;
    static constexpr std::uint8_t kCmdState = 0x05;  // GetState (cd1 0), SetRemote (cd1 1)
    static constexpr std::uint8_t kCmdWriteMemory = 0x06;
    static constexpr std::uint8_t kCmdReadMemory = 0x07;
    static constexpr std::uint8_t kCmdPower = 0x08;  // GetPower (cd1 0), SetPower (cd1 1)
    static constexpr std::uint8_t kCmdProbe = 0x09;
    static constexpr std::uint8_t kCmdCommitInfo = 0x10;
    static constexpr std::uint8_t kCmdSelectPage = 0x12;
    static constexpr std::uint8_t kCmdGetGamut = 0x13;
    static constexpr std::uint8_t kCmdReadTemperatures = 0x23;
    // Frames the lamp sends on its own.
    static constexpr std::uint8_t kCmdStatus = 0xFF;

    // Lamp memory: pages of 512 bytes; the information block and area live here.
    static constexpr int kPageSize = 512;
    static constexpr int kInfoPage = 0;
    static constexpr int kAreaFirstPage = 256;
    static constexpr int kTextFirstPage = 420;
    // The link command that moves the lamp to the run baud rate.
    static constexpr std::uint8_t kLinkCommandSpeed = 'M';

    // A reply wait sleeps while the reply cannot yet be whole (the bytes it lacks still take
    // their wire time), then looks at the line about every kReplyPollMs, so a reply is taken
    // within about a millisecond of its last byte; it gives up after kReplyTimeoutMs (or
    // kReplyTries looks). Once the line has shown that its replies take their wire time, a wait
    // makes no look at all before the reply can be whole.
    static constexpr std::uint32_t kReplyTimeoutMs = 5000;
    static constexpr std::uint32_t kReplyPollMs = 1;
    static constexpr int kReplyTries = static_cast<int>(kReplyTimeoutMs / kReplyPollMs);
    // Unanswered commands in a row after which the lamp is taken for gone: more than the three
    // power queries a lamp without them leaves unanswered at connect.
    static constexpr int kMissesForLost = 4;
    // Pause between closing at the connect rate and reopening at the run rate.
    static constexpr std::uint32_t kBaudSwitchMs = 500;

    using Page = std::array<std::uint8_t, kPageSize>;
    using Piece = CLightInfo::Piece;

    // The log file path is the caller's (the program puts log.txt next to its own file).
    explicit CLightInput(D2xx& library, Clock& clock = DefaultClock(),
                         std::string logPath = "log.txt");
    CLightInput(const CLightInput&) = delete;
    CLightInput& operator=(const CLightInput&) = delete;

    // The last reply wait ran out; cleared when an awaited reply arrives.
    std::atomic<bool> NoAnswer{false};
    // Pause before each frame is written; Connect sets it.
    std::int32_t SendDelayMs = 0;
    CDevices Devices;
    CLightInfo Info;
    // Nothing is logged while this is false; the window sets it on the main lamp.
    std::atomic<bool> LogEnabled{false};

    // Link and exchange.
    // 1 connected, -2 no lamp could be opened, -5 a memory transfer failed, -10 no valid block.
    // serial: only the lamp with this serial number is taken; empty takes the first free one.
    std::int32_t Connect(std::int32_t connectBaud, std::int32_t runBaud, std::int32_t sendDelayMs,
                         const std::string& serial = {});
    // Connect in two halves, so that several lamps go through the slow second one side by
    // side: TakeDevice lists the bus and opens the lamp's device at the connect rate (quick;
    // false when no lamp could be opened), StartLink moves the link to the run rate and loads
    // the information block (1, -5 or -10).
    bool TakeDevice(std::int32_t connectBaud, std::int32_t sendDelayMs,
                    const std::string& serial = {});
    std::int32_t StartLink(std::int32_t runBaud);
    // The lamp is taken for gone: its device left the bus, or kMissesForLost commands in a row
    // went unanswered. Commands then fail at once, unsent, instead of each waiting out the
    // reply time-out, until Connect takes a lamp again.
    bool Lost() const;
    // The serial number of the device this lamp is open on; empty when none is.
    std::string Serial() const;
    // Waits the send delay, logs "OUT" and writes the frame (which stamps its sequence).
    void SendFrame(CFrame& frame);
    // Up to kReplyTries looks, and no longer than kReplyTimeoutMs on the link's clock, for the
    // reply to the last frame sent with this command; the decoded reply, or nothing.
    std::optional<CFrame> WaitReply(std::uint8_t expectedCommand);
    // One sound 40-byte frame (Raw only, not yet decoded) when one has arrived; frames whose
    // checksum fails are logged and skipped (see CReceiver).
    std::optional<CFrame> ReceiveFrame();

    // Information block and area.
    std::int32_t LoadInfo();  // 1, -5 or -10
    // How far a save has come: frames answered of the frames it sends, told first with none
    // done and then after each frame.
    using SaveProgress = std::function<void(int done, int total)>;
    // 1 or -5; sends only the changed pieces, selecting each page on the way.
    std::int32_t SaveInfo(const SaveProgress& progress = {});
    // Writes 512 bytes to one memory page; 1 or -5.
    std::int32_t WriteBlock(int page, const Page& buffer);

    // Commands. Each returns what the lamp answered, or nothing (false) when no reply came;
    // an unanswered command never hands out values from an earlier frame.
    // Decodes the lamp's record into `record`; an unanswered read leaves it as it was.
    bool ReadChannel(CChannel& record);
    // Sent and awaited twice; the second reply's data is decoded back into the record. False,
    // and the record as it was, when the second went unanswered.
    bool WriteChannel(CChannel& record);
    bool SelectChannel(int channel);
    bool Finish();
    // The lamp's current channel, at most the block's StoredChannelCount.
    std::optional<int> GetState();
    // release 0 takes remote control, 1 gives it back; the reply carries the transition.
    std::optional<TransitionStatus> SetRemote(int release);
    std::int32_t WriteMemory(int offset, const Piece& bytes);  // 1 or -5
    std::int32_t ReadMemory(int offset, Piece& bytes);         // 1 or -5; bytes set on 1
    // The three forms of the power query: timer seconds, then the off flag, then the
    // backlight flag. The last two go out without the send delay and without an "OUT" record.
    std::optional<std::int32_t> GetPower();
    std::optional<bool> GetPowerOff();
    std::optional<bool> GetBacklight();
    bool SetPower(std::int32_t seconds, bool off, bool backlight);
    bool Probe();
    bool CommitInfo();
    bool SelectPage(int page, bool forWriting);
    // The gamut corners R.x, R.y, G.x, G.y, B.x, B.y for a channel record.
    std::optional<std::array<float, 6>> GetGamut(const CChannel& record);
    // Sixteen sensor temperatures (degrees Celsius) of page 0 or 1.
    std::optional<std::array<float, 16>> ReadTemperatures(int page);

    // Protocol log. A record with no frame is written as "error".
    void LogFrame(const CFrame* frame, const char* tag);
    // Bytes framed like a reply whose checksum failed, as they arrived.
    void LogChecksumError(const CFrame& raw);
    void LogText(const std::string& text);
    // Milliseconds since local midnight for log time stamps; tests set a fixed source.
    std::function<std::uint32_t()> LogTimeOfDay;
    const std::string& LogPath() const { return log_.Path(); }

  private:
    CFrame Request(std::uint8_t cmd, std::uint8_t cd1, std::uint8_t cd2) const;
    // SendFrame plus WaitReply.
    std::optional<CFrame> Exchange(CFrame& frame);
    // Written straight to the port: no send delay, no "OUT" record.
    std::optional<CFrame> ExchangeQuiet(CFrame& frame);
    // Counts an exchange's outcome towards Lost.
    std::optional<CFrame> Counted(std::optional<CFrame> reply);
    // The answer to a command not sent because the lamp is lost.
    std::optional<CFrame> Refused();
    // Reads and frames until a sound frame is complete, the port is drained (then `drained` is
    // set) or the reply time-out counted from waitStart has passed.
    std::optional<CFrame> ReceiveWithin(std::uint32_t waitStart, bool* drained = nullptr);
    bool WithinReplyTime(std::uint32_t waitStart);
    // Decodes a received frame and logs it; true when it answers the last frame sent.
    bool IsReplyTo(CFrame& frame, std::uint8_t expectedCommand);
    std::uint32_t LogNow() const;
    // How long a byte takes on the wire at the rate the port runs at; 0 when closed.
    double ByteWireMs() const;
    // How long, from now, the reply awaited since waitStart cannot yet be whole, judged from the
    // wire time and the bytes held after the look made at `looked`.
    std::uint32_t QuietMs(std::uint32_t waitStart, std::uint32_t looked);
    // Clears NoAnswer; a reply that came after the wait's first look found the line empty shows
    // that the line is wire timed.
    std::optional<CFrame> Answered(const CFrame& reply, bool firstLookEmpty);

    Clock& clock_;
    CProtocolLog log_;
    // Bytes read but not yet taken as a frame.
    CReceiver receiver_;
    // Commands in a row that went unanswered.
    std::atomic<int> missedReplies_{0};
    // The open device's replies take their wire time (a real line, or a simulated lamp that
    // times its bytes), so a reply wait sleeps before its first look. Set once a reply shows it,
    // cleared when a device is taken: a simulated lamp that answers at once never shows it and
    // is looked at right away.
    std::atomic<bool> wireTimed_{false};
    // The listing row TakeDevice opened, for StartLink to open again at the run rate.
    int taken_ = -1;
};
