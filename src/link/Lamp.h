#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "colour/Colorspro.h"
#include "link/Absence.h"
#include "link/Clock.h"
#include "link/D2xx.h"
#include "link/Dispatch.h"
#include "link/Ledger.h"
#include "link/Replug.h"
#include "link/Session.h"
#include "link/Workers.h"
#include "settings/Channel.h"
#include "settings/Channelvalues.h"
#include "settings/Coefficients.h"

class CLightInput;

// The lamp controller: the one thread that talks to the lamps. The window sets requests and
// edits the current record; the controller carries the requests out on its next pass and
// reports back on the window's thread. Each lamp has its own device, so a request goes to every
// lamp at once (each on a worker thread of the controller's, the main lamp on the controller's
// own) and the pass goes on when every lamp has answered or given up; each lamp still takes its
// frames in order. A lamp that leaves the bus or stops answering is let go and the others go
// on; it is taken back, by its serial number, once it is plugged in again. Started without a
// lamp, the controller connects to the first one plugged in.
class CLampState : public CCurrentChannelAccess {
  public:
    static constexpr int kChannelCount = 21;
    // A slot number of one of the channel records.
    static bool ValidSlot(std::int32_t n) { return n >= 0 && n < kChannelCount; }
    static constexpr int kTemperatureCount = 64;
    static constexpr std::int32_t kMaxTimeout = 600;
    // While a lamp is missing, the bus is looked at this often (lamp time).
    static constexpr std::uint32_t kLookEveryMs = 2000;
    // A lamp that failed to come back is tried again after a wait that doubles up to this.
    static constexpr std::uint32_t kLongestRetryMs = 60000;
    // Every connect starts at this rate, and a frame waits this long after the one before.
    static constexpr std::int32_t kConnectBaud = 19200;
    static constexpr std::int32_t kSendDelayMs = 5;

    // The main lamp stays the caller's; lamps found later are created on `library` and owned here.
    CLampState(CLightInput& mainLamp, D2xx& library, Dispatcher& dispatcher,
               Clock& clock = DefaultClock());
    ~CLampState() override;
    CLampState(const CLampState&) = delete;
    CLampState& operator=(const CLampState&) = delete;

    // Set before Start; each runs on the window's thread, posted there by the controller, which
    // never waits for it. Reports not yet run are merged: a report reads the controller as it
    // stands when it runs, so the latest state wins.
    std::function<void()> OnConnected;
    std::function<void()> OnStateChanged;
    std::function<void()> OnStatus;
    // After a table handed over with StoreCoefficients was written (or could not be): the
    // table's number and the main lamp's result, kOk, kNoLamp when no lamp is connected, or
    // kNoReply.
    std::function<void(std::uint64_t table, std::int32_t result)> OnCoefficientsWritten;
    // How far the main lamp's write of that table has come: frames answered of the frames the
    // write sends (its memory pieces, page selections and commit). Reports not yet run are
    // merged, the latest wins; they come before the table's OnCoefficientsWritten.
    std::function<void(std::uint64_t table, int done, int total)> OnCoefficientsProgress;

    // The controller held idle for as long as this object lives: the window's only way to use
    // a lamp directly. Pauses overlap; the controller goes on when the last one ends. A pause
    // ends before its controller is destroyed.
    class PauseScope {
      public:
        PauseScope(PauseScope&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
        PauseScope& operator=(PauseScope&&) = delete;
        PauseScope(const PauseScope&) = delete;
        PauseScope& operator=(const PauseScope&) = delete;
        ~PauseScope();
        // False when the pause was refused (asked for inside a report); nothing is held then.
        bool Held() const { return owner_ != nullptr; }
        // The main lamp, for the window's own lamp traffic; null when nothing is held.
        CLightInput* MainLamp() const;

      private:
        friend class CLampState;
        explicit PauseScope(CLampState* owner) : owner_(owner) {}
        CLampState* owner_;
    };

    void Start(std::int32_t baud);
    // The waits below pump the window's events until the controller answers. Asked for inside
    // one of the controller's reports they would run further reports inside the one still
    // running: there they write an error to the protocol log and return at once, having done
    // nothing (StopAndWait false, the pause not held).
    bool StopAndWait();
    // Returns once the controller is idle (at once when it has finished for good).
    [[nodiscard]] PauseScope Pause();
    bool IsConnected() const { return Connected.load(); }
    // The main lamp was connected and has gone; the controller looks for it.
    bool MainLampLost() const { return mainLost_.load(); }
    // Why no lamp is connected, as far as the bridge could tell; None while one is.
    NoLamp WhyNoLamp() const {
        if (IsConnected()) return NoLamp::None;
        return MainLampLost() ? NoLamp::Lost : noLamp_.load();
    }
    bool IsFinished() const { return Finished.load(); }
    bool IsPaused() const { return Paused.load(); }
    // Selects slot n on the lamps. The slot becomes the current one at once, so that an edit
    // made before the controller serves the choice lands in it; the current slot asked for
    // again resends its record (and is selected again when the main lamp never took the
    // choice), and a slot the lamp does not have is ignored.
    void RequestChannel(std::int32_t n);
    // Sends the current slot's record: the slot it is now, even if another is chosen before
    // the controller serves it. A pass writes every slot with an edit not yet sent, then
    // selects the slot chosen.
    void ResendCurrentChannel() override;
    // Writes the current record to every lamp and nothing else, for a drag the lamp follows:
    // at most one write is under way, and the record as it stands when the controller takes
    // it goes out, so the newest point replaces any not yet taken. Lamps that are off are
    // switched on with it.
    void FollowCurrentChannel();
    std::int32_t RemainingSeconds() const;
    // The lamp-clock tick at which the sleep timer last started over, and the lamp time since
    // a tick, so the window can tell when the timer ends.
    std::uint32_t TimerStarted() const { return TimerStart.load(); }
    std::uint32_t MsSince(std::uint32_t tick) const { return clock_.TickCount() - tick; }
    std::int32_t GetTimeout() const { return TimeoutSeconds.load(); }
    void SetTimeout(std::int32_t seconds);
    bool IsLampOff() const { return LampOff.load(); }
    void SetLampOff(bool off);
    bool GetBacklightFlag() const { return BacklightFlag.load(); }
    void ToggleBacklight();
    // Names of channels 1 to 10 go into the main lamp's block, then the block is written.
    void StoreChannelNames();
    void RequestInfoWrite();
    // The main lamp's coefficient table becomes this one and the block and area are written on
    // the next pass, which reports through OnCoefficientsWritten. Without a connected lamp the
    // table is dropped, so nothing stale is written later. A newer table replaces one not yet
    // taken, and is never reported on. Returns the table's number, which its report carries.
    std::uint64_t StoreCoefficients(const Coefficients::Table& table);
    // Drops the table numbered `table` if the controller has not taken it yet; true when it
    // was dropped, so it never reaches the lamp.
    bool WithdrawCoefficients(std::uint64_t table);

    // Channel records: copies taken under the records' lock, never a reference into them.
    CChannel Channel(int n) const;
    int CurrentSlot() const { return current_.load(); }
    CChannel CurrentRecord() const override;
    void CopyIntoCurrent(const CChannel& stored) override;
    void ResetCurrent() override;
    // Replaces the current record's contents; its slot number stays.
    void SetCurrentRecord(const CChannel& record) {
        EditCurrentRecord([&](CChannel& r) { r = record; });
    }
    // Edits the current record in place under the records' lock; its slot number stays.
    template <typename Edit>
    void EditCurrentRecord(Edit&& edit) {
        std::lock_guard lock(channelsMutex_);
        const int n = current_.load();
        const std::int32_t slot = channels_[n].SlotNumber;
        edit(channels_[n]);
        channels_[n].SlotNumber = slot;
        ++versions_[n];
    }

    // Results of the lamp, copied under the results' lock.
    GamutTriangle GetGamutTriangle() const;
    // The corners as the lamp and the options give them: red x, y, green x, y, blue x, y.
    void SetGamutTriangle(const std::array<float, 6>& triangle);
    std::array<float, kTemperatureCount> GetTemperatures() const;
    float GetTransitionX() const;
    float GetTransitionY() const;
    std::int32_t GetTransitionTimeLeft() const;
    // The main lamp's device name as read at connect; empty when not connected.
    std::string DeviceName() const;
    int LampCount() const { return lampCount_.load(); }
    struct LampIdentity {
        std::string Serial;
        std::string Description;
    };
    // The lamps held at the latest report, the main lamp first while it is held.
    std::vector<LampIdentity> HeldLampIdentities() const;

    // The channel to select or resend on the next pass; -1 when none is pending.
    std::int32_t PendingChannel() const;
    // A power, timer or backlight change waits for the next pass.
    bool PowerPending() const;
    // The power state, timer and backlight flag the controller holds may not be the lamp's: a
    // change of them is pending, or the last one sent went unanswered.
    bool PowerUnconfirmed() const;

    // Every request is numbered as it is made; this is the number of the latest one.
    std::uint64_t Generation() const;
    // What became of the requests numbered after `after` up to `upTo`: nothing while one of
    // them waits for the controller, else the worst outcome among them (Failed before NoLamp
    // before MainLampAcked). A request overtaken by a later one of its kind shares that one's
    // outcome.
    std::optional<RequestOutcome> OutcomeOf(std::uint64_t after, std::uint64_t upTo,
                                            int* othersTook = nullptr) const;

  private:
    // The connect and shut-down, and the taking back of lamps that went, work on the
    // controller's lamps and state from classes of their own.
    friend class CLampSession;
    friend class CLampReplug;

    // Both the window's waits and a paused controller check again this often.
    static constexpr std::uint32_t kWaitSleepMs = 100;

    void Execute();
    // One pass of the loop: its steps, in order. The first tells whether the pass goes on.
    void Pass();
    bool HonourPause();
    void ConnectIfRequested();
    void WriteInfoIfRequested();
    // Writes every slot with an edit not yet sent, then selects the chosen slot (or, for the
    // current slot's own edit, switches the lamps on with it).
    void ServeChannelWork();
    // Writes the record of a drag's latest point, unless the channel work took it already.
    void ServeFollow();
    // The pass's rest at its end, cut short when a point of a drag comes to be sent.
    void RestAfterPass();
    // Ends a pass that switched the lamps on with a channel request numbered `generation`.
    void FinishChannelPass(std::uint64_t generation);
    void ServePowerAndTimer();
    void PollStatus();
    std::vector<CLightInput*> HeldLamps() const;
    void ApplyPendingNames();
    // The number of the table that was waiting (0 when none); it goes into the main lamp's
    // area only while connected.
    std::uint64_t ApplyPendingCoefficients();
    void SetPowerOnAll(bool off);
    // Serves every lamp in `lamps` at once and returns when all are served; the first (the
    // main lamp whenever it is held) is served on the controller's own thread.
    void ForEachLamp(const std::vector<CLightInput*>& lamps,
                     const std::function<void(CLightInput&)>& serve);
    // A record and its edit count, taken together under the records' lock.
    std::pair<CChannel, std::uint64_t> Snapshot(int n) const;
    // What a lamp echoed of record n goes back into it, unless the window edited it since
    // the snapshot of that version was taken.
    void KeepEcho(int n, std::uint64_t version, const CChannel& echoed);
    // Kinds of report; each is posted to the window's thread and merged with one not yet run.
    enum class Report { Connected, StateChanged, Status };
    void Notify(Report report);
    void NotifyCoefficients(std::uint64_t table, std::int32_t result);
    void NotifyCoefficientsProgress(std::uint64_t table, int done, int total);
    // Posts a delivery of the reports noted, unless one is already on its way.
    void PostReports();
    // True, after logging the error, when the calling thread is running one of the reports.
    bool CalledFromReport(const char* operation);
    // Waits on the window's thread until done() holds, letting it handle its events.
    template <typename Done>
    void WaitWhilePumping(Done&& done);
    // Wakes a window thread that waits in StopAndWait or Pause.
    void WakeWindow();
    // Called as a pause ends; the last one lets the controller go on.
    void EndPause();

    CLightInput& main_;
    D2xx& library_;
    Dispatcher& dispatcher_;
    Clock& clock_;
    // The threads that serve the other lamps while the controller serves the main lamp.
    CWorkers workers_{clock_};
    std::thread thread_;
    // The thread running the controller's reports while they run; none otherwise.
    std::atomic<std::thread::id> reportThread_{};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    // Passes since the last status poll; the controller thread's alone.
    std::int32_t PollCounter = 0;

    // State fields shared by the two threads. The power state, timer and backlight flag are
    // written under the ledger's lock, with the request that sends them.
    std::atomic<bool> Connected{false};
    std::atomic<bool> ConnectRequest{false};
    std::atomic<bool> StopRequest{false};
    std::atomic<bool> Finished{false};
    std::atomic<std::int32_t> TimeoutSeconds{0};
    std::atomic<bool> LampOff{false};
    std::atomic<bool> BacklightFlag{true};
    std::atomic<std::int32_t> LinkBaud{0};
    std::atomic<std::uint32_t> TimerStart{0};
    std::atomic<bool> PauseRequest{false};
    std::atomic<bool> Paused{false};
    // Pauses held now; the last one to end lets the controller go on.
    std::atomic<int> pauseHolders_{0};

    // Touched by the controller thread only (and by the window while the controller is paused).
    std::vector<CLightInput*> lamps_;
    std::vector<std::unique_ptr<CLightInput>> ownedLamps_;
    // What the controller knows of each lamp in lamps_, at the same index.
    struct LampLink {
        std::string serial;         // the device it was connected on
        bool held = false;          // connected, and not found gone since
        bool lost = false;          // was held and has gone: looked for by its serial
        std::uint32_t nextTry = 0;  // lamp time of the next attempt to take it back
        std::uint32_t retryMs = 0;  // the wait after a failed attempt
    };
    std::vector<LampLink> links_;
    // A lamp was held at some time; until then any lamp plugged in is taken as the main lamp.
    bool everHeld_ = false;
    // The main lamp's records and state were read in full; until then a main lamp that comes
    // back is loaded again rather than given the controller's blank records.
    bool loaded_ = false;
    std::atomic<bool> mainLost_{false};
    // Why the last connect or look at the bus took no lamp.
    std::atomic<NoLamp> noLamp_{NoLamp::None};
    std::atomic<int> lampCount_{1};

    // The window's requests: a channel to select, a resend, a power change, an information
    // write. Its lock is taken alone or inside channelsMutex_ (records first, then the ledger),
    // and neither is held around lamp traffic.
    RequestLedger ledger_;

    // Reports on their way to the window; shared with the posted deliveries, which may run
    // after the controller is gone and then do nothing.
    struct Mailbox {
        std::mutex mutex;
        CLampState* owner = nullptr;
        bool posted = false;
        bool connected = false;
        bool changed = false;
        bool status = false;
        std::vector<std::pair<std::uint64_t, std::int32_t>> coefficients;
        struct Progress {
            std::uint64_t table;
            int done;
            int total;
        };
        std::optional<Progress> coefficientsProgress;
    };
    std::shared_ptr<Mailbox> mailbox_ = std::make_shared<Mailbox>();
    // Runs the reports noted in the mailbox, on the window's thread.
    static void Deliver(const std::shared_ptr<Mailbox>& mailbox);

    // Taken before the ledger's lock where both are needed, as a channel choice sets the
    // current slot and makes its request in one step.
    mutable std::mutex channelsMutex_;
    std::array<CChannel, kChannelCount> channels_;
    std::array<std::uint64_t, kChannelCount> versions_{};
    std::atomic<int> current_{0};

    // What the controller writes into the main lamp's block on its next info write: the names,
    // the coefficient table and the table numbers.
    mutable std::mutex pendingInfoMutex_;
    std::vector<std::string> pendingNames_;
    std::optional<Coefficients::Table> pendingCoefficients_;
    // The number of the pending table, and of the latest handed over.
    std::uint64_t pendingTable_ = 0;
    std::uint64_t lastTable_ = 0;

    mutable std::mutex resultsMutex_;
    GamutTriangle gamut_;
    std::array<float, kTemperatureCount> temperatures_{};
    // The main lamp's running transition as its last poll told: its point and the seconds it
    // has left, 0 when none runs.
    float TransitionX = 0;
    float TransitionY = 0;
    std::int32_t TransitionTimeLeft = 0;
    std::string deviceName_;
    std::vector<LampIdentity> heldIdentities_;

    // Declared last: they reach into the members above.
    CLampSession session_{*this};
    CLampReplug replug_{*this};
};
