#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "sim/Simbus.h"

// How a simulated lamp is built.
struct SimLampOptions {
    // The rate the link command M switches to; the lamp starts at 19200.
    std::int32_t RunBaud = 38400;
    // Unsolicited status frames this often on the lamp's clock; 0 sends none.
    std::uint32_t StatusIntervalMs = 2500;
    // The device name kept in the lamp's information block (at most 9 characters);
    // empty gives "VDL".
    std::string DeviceName;
    // The lamp keeps the latest this many commands it took (0: none), so a lamp that serves a
    // program for days holds a bounded record; far above what one test sends.
    std::size_t CommandLimit = 10000;
    // The corners the lamp reports as the gamut of any setting (R.x, R.y, G.x, G.y, B.x, B.y);
    // empty for the lamp's own. Its mixing keeps its own corners either way.
    std::optional<std::array<float, 6>> ReportedGamut;
    // Bytes take their time on the wire: 10 bits each at the rate the line runs at, both ways.
    // The lamp sees a frame once its last byte has arrived, and its reply becomes readable byte
    // by byte. Off, a frame is taken the moment it is written and answered at once.
    bool WireTimed = false;
    // With wire time: how long the lamp works on a frame before its reply starts out.
    double ProcessingMs = 1.0;
};

// One frame the lamp took, in the order it arrived.
struct SimLampCommand {
    std::uint8_t Sequence = 0;
    std::uint8_t Cmd = 0;
    std::uint8_t Cd1 = 0;
    std::uint8_t Cd2 = 0;
    std::array<std::uint8_t, 32> Data{};
};

// A copy of what the lamp holds, for tests to look at.
struct SimLampState {
    static constexpr int kSlotCount = 21;
    int CurrentChannel = 1;
    bool Off = false;
    std::int32_t TimerSeconds = 0;
    bool Backlight = true;
    bool Remote = false;
    // The rate the lamp listens at now.
    std::int32_t LineBaud = 19200;
    // The memory page selected for reading and writing.
    int SelectedPage = 0;
    int TransitionSecondsLeft = 0;
    float TransitionX = 0.0f;
    float TransitionY = 0.0f;
    int CommitCount = 0;
    int StatusFramesSent = 0;
    // Bytes that arrived at a rate the lamp was not listening at.
    std::size_t GarbledBytes = 0;
    std::array<std::array<std::uint8_t, 32>, kSlotCount> Slots{};
};

// The lamp's firmware side as the program relies on it: it answers every lamp command,
// keeps memory pages 0, 256, 257 and the display text pages from 420 up, 21 channel slots,
// power state, sleep timer and backlight flag, switches from 19200 baud to its run rate on the
// link command M, runs colour transitions, reports temperatures, sends status frames now and
// then, and mixes its six channels from the target it is given. Faults can be switched on from
// any thread while another talks to it.
class SimLamp : public SimDeviceModel {
  public:
    static constexpr int kSlotCount = SimLampState::kSlotCount;
    static constexpr std::int32_t kConnectBaud = 19200;
    static constexpr int kPageSize = 512;
    static constexpr int kTextFirstPage = 420;
    static constexpr int kTextPageCount = 80;
    // Error bytes the lamp puts in its replies.
    static constexpr std::uint8_t kErrUnknownCommand = 0x01;
    static constexpr std::uint8_t kErrBadPage = 0x02;
    static constexpr std::uint8_t kErrBadOffset = 0x03;
    static constexpr std::uint8_t kErrBadSlot = 0x04;

    using Page = std::array<std::uint8_t, kPageSize>;
    using Block = std::array<std::uint8_t, 32>;

    explicit SimLamp(Clock& clock, SimLampOptions options = {});

    // The bus side; these run under the bus lock.
    void Receive(SimDevice& device, const std::uint8_t* data, std::size_t size) override;
    void Poll(SimDevice& device) override;
    void Opened(SimDevice& device) override;
    void Closed(SimDevice& device) override;

    // Fault switches. Unplugging is the bus's: SimBus::Unplug.
    // Frames are taken and acted on but never answered.
    void SetNoReply(bool on);
    // Only frames with this command (and this cd1, unless it is -1) go unanswered.
    void SetNoReplyTo(std::uint8_t cmd, int cd1, bool on);
    // From the first frame for which `trigger` holds on, that frame included, nothing is
    // answered, as with SetNoReply(true); a test can so cut a lamp off at an exact point.
    void FallSilentAt(std::function<bool(const SimLampCommand&)> trigger);
    // The cable is pulled just as the first frame for which `trigger` holds arrives: that frame
    // is lost and the device leaves the bus (SimBus::Replug puts it back). The link command M
    // reaches the trigger too, as a command 'M' with no data.
    void UnplugAt(std::function<bool(const SimLampCommand&)> trigger);
    // Every frame for which `trigger` holds is lost on the wire before the lamp takes it: the
    // lamp neither acts on it nor answers, and takes the frames after it as usual. Null ends it.
    void LoseFrames(std::function<bool(const SimLampCommand&)> trigger);
    // Each reply leaves this many milliseconds of the lamp's clock after its request.
    void SetLateReplyMs(std::uint32_t ms);
    // Replies carry the request's sequence number plus one.
    void SetWrongSequence(bool on);
    // Replies carry a checksum one off.
    void SetWrongChecksum(bool on);
    // The next reply is preceded by this many stray bytes, which put the stream out of step.
    void InjectStrayBytes(std::size_t count);
    // The information block in page 0 loses its magic value.
    void ClearMagic();
    // Runs for every frame the lamp takes, before the lamp acts on it, so a test can do
    // something in the middle of an exchange. It runs with the bus and this lamp locked, so it
    // must not call either; null removes it.
    void SetCommandHook(std::function<void(const SimLampCommand&)> hook);

    // Looking at and setting the lamp's state.
    SimLampState State() const;
    // A memory page's 512 bytes; zeros for a page the lamp does not have.
    Page ReadPage(int page) const;
    void WritePage(int page, const Page& bytes);
    void SetSlot(int slot, const Block& block);
    // The latest commands the lamp took, at most SimLampOptions::CommandLimit of them.
    std::vector<SimLampCommand> Commands() const;
    void ClearCommands();
    // Commands dropped to stay within the limit since the last ClearCommands.
    std::uint64_t DroppedCommands() const;

    // The lamp's gamut corners R.x, R.y, G.x, G.y, B.x, B.y, as the 16-bit fractions it
    // reports, so that what the program reads back compares equal.
    static constexpr std::array<float, 6> kGamut = {45219 / 65535.0f, 19661 / 65535.0f,
                                                    11141 / 65535.0f, 45875 / 65535.0f,
                                                    9175 / 65535.0f,  3277 / 65535.0f};

  private:
    struct Output {
        std::uint32_t Due = 0;
        std::vector<std::uint8_t> Bytes;
        // With wire time: when the first byte starts out (ms since the line opened), how long
        // each byte takes, and how many have reached the program's side.
        double Start = 0.0;
        double ByteMs = 0.0;
        std::size_t Sent = 0;
        // The rate the lamp sends it at.
        std::int32_t Baud = 0;
    };
    // A byte on its way to the lamp: when its last bit arrives and the rate it was sent at.
    struct Arrival {
        double At = 0.0;
        std::uint8_t Byte = 0;
        std::int32_t Rate = 0;
    };

    bool ListeningAt(std::int32_t rate) const;
    // The lamp's clock in ms since the line opened, with room for fractions of a millisecond.
    double LineNow() const;
    // Takes every byte that has arrived by `until` (ms since the line opened), in order.
    void Arrive(double until);
    // Where a new frame from the lamp starts out: after the frame before it has left.
    void Schedule(Output& out, double earliest);
    static double ByteMs(std::int32_t rate);
    void Take(std::uint8_t byte, std::int32_t rate);
    void Parse();
    // True, and the cut noted, when the cable is to be pulled as this frame arrives.
    bool CutAt(const SimLampCommand& command);
    // Takes the device off the bus when a cut was noted; under the bus lock.
    void PullCable(SimDevice& device);
    void Handle(const std::array<std::uint8_t, 40>& raw);
    void Reply(const std::array<std::uint8_t, 40>& request, std::uint8_t err, const Block& data);
    void Flush(SimDevice& device);
    void SendStatus();
    bool HasPage(int page) const;
    // Stores a channel block with the lamp's own channel mix.
    Block Mix(const Block& target) const;
    void StartTransition(int slot);
    void TransitionAt(std::uint32_t now, int& secondsLeft, float& x, float& y) const;
    void FillTransition(Block& data) const;
    void FillTemperatures(int page, Block& data) const;

    Clock& clock_;
    SimLampOptions options_;
    mutable std::mutex mutex_;

    std::map<int, Page> pages_;
    std::array<Block, kSlotCount> slots_{};
    int current_ = 1;
    bool off_ = false;
    std::int32_t timerSeconds_ = 0;
    bool backlight_ = true;
    bool remote_ = false;
    int page_ = 0;
    int commits_ = 0;
    int statusSent_ = 0;
    std::size_t garbled_ = 0;

    std::int32_t lineBaud_ = kConnectBaud;
    bool switchedThisOpen_ = false;
    bool open_ = false;
    std::vector<std::uint8_t> input_;
    std::deque<Output> output_;
    std::uint32_t lastStatus_ = 0;
    // Wire time: the clock when the line opened, bytes still travelling to the lamp, when each
    // direction's line is next free, and when the byte being acted on arrived.
    std::uint32_t lineBase_ = 0;
    std::deque<Arrival> arriving_;
    double inFree_ = 0.0;
    double outFree_ = 0.0;
    double eventAt_ = 0.0;

    // Transition from (fromX, fromY) to (toX, toY), from start over durationMs.
    float fromX_ = 0.0f, fromY_ = 0.0f, toX_ = 0.0f, toY_ = 0.0f;
    std::uint32_t transitionStart_ = 0;
    std::uint32_t transitionMs_ = 0;

    bool noReply_ = false;
    // (cmd, cd1) pairs left unanswered; cd1 -1 stands for any.
    std::set<std::pair<int, int>> silent_;
    std::uint32_t lateMs_ = 0;
    bool wrongSequence_ = false;
    bool wrongChecksum_ = false;
    std::size_t stray_ = 0;

    std::deque<SimLampCommand> commands_;
    std::uint64_t droppedCommands_ = 0;
    std::function<void(const SimLampCommand&)> hook_;
    std::function<bool(const SimLampCommand&)> silenceTrigger_;
    std::function<bool(const SimLampCommand&)> cutTrigger_;
    std::function<bool(const SimLampCommand&)> loseTrigger_;
    // The trigger fired: the device leaves the bus once the bus call that brought the frame ends.
    bool cut_ = false;
};

// One simulated lamp on a bus: its device index (for SimBus::Unplug) and its model.
struct SimLampEntry {
    int Index = -1;
    std::string Description;
    std::string Serial;
    std::shared_ptr<SimLamp> Lamp;
};

// Puts count simulated lamps on the bus, described "LED Lamp 1", "LED Lamp 2", ..., with
// serial numbers "VL000001", ... and device names "VDL 1", ... unless the options name them.
std::vector<SimLampEntry> AddSimLamps(SimBus& bus, int count, Clock& clock,
                                      const SimLampOptions& options = {});
