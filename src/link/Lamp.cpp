#include "link/Lamp.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>

#include "link/Diagnostics.h"
#include "link/Light.h"

namespace {
constexpr std::uint32_t kPassSleepMs = 25;
constexpr std::uint32_t kWaitSleepMs = 100;
constexpr int kPollEvery = 10;
// While a drag keeps the link busy the status poll waits, but no longer than this many passes
// (twice as many for a record to send).
constexpr int kPollLatest = 40;
// The rest at the end of a pass is taken in slices this long, so a drag's point waits little.
constexpr std::uint32_t kRestSliceMs = 5;
}  // namespace

CLampState::CLampState(CLightInput& mainLamp, D2xx& library, Dispatcher& dispatcher, Clock& clock)
    : main_(mainLamp), library_(library), dispatcher_(dispatcher), clock_(clock) {
    lamps_.push_back(&main_);
    links_.emplace_back();
    for (int n = 0; n < kChannelCount; ++n) channels_[n] = CChannel(n);
    mailbox_->owner = this;
}

CLampState::~CLampState() {
    // StopAndWait joins a running thread itself; only one that had already finished is left.
    StopAndWait();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->owner = nullptr;
}

void CLampState::Start(std::int32_t baud) {
    LinkBaud.store(baud);
    ConnectRequest.store(true);
    StopRequest.store(false);
    Finished.store(false);
    if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

template <typename Done>
void CLampState::WaitWhilePumping(Done&& done) {
    // Real time, not the lamp clock: the window's wait must not move the lamps' timers on.
    // The controller wakes the wait as soon as it has news, so the pump rarely idles.
    while (!done()) {
        dispatcher_.ProcessMessages();
        std::unique_lock lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(kWaitSleepMs));
    }
}

void CLampState::WakeWindow() {
    { std::lock_guard lock(wakeMutex_); }
    wake_.notify_all();
}

bool CLampState::CalledFromReport(const char* operation) {
    if (reportThread_.load() != std::this_thread::get_id()) return false;
    const std::string text =
        std::string("error: ") + operation +
        " called from a controller report, which would run further reports inside it";
    main_.LogText(text);
    LinkWarning(text);
    return true;
}

bool CLampState::StopAndWait() {
    if (CalledFromReport("StopAndWait")) return false;
    // A controller that never started has nothing to stop.
    if (Finished.load() || !thread_.joinable()) {
        Finished.store(true);
        return true;
    }
    StopRequest.store(true);
    WaitWhilePumping([this] { return Finished.load(); });
    thread_.join();
    Connected.store(false);
    return true;
}

CLampState::PauseScope CLampState::Pause() {
    // A controller that has finished for good needs no waiting for.
    const bool finished = Finished.load();
    if (!finished && CalledFromReport("Pause")) return PauseScope(nullptr);
    ++pauseHolders_;
    if (finished) return PauseScope(this);
    // A Paused left over from an earlier pause is no acknowledgement: the controller may have
    // just seen that pause end and be about to talk to the lamps again.
    if (!PauseRequest.load()) Paused.store(false);
    PauseRequest.store(true);
    if (thread_.joinable()) WaitWhilePumping([this] { return Paused.load() || Finished.load(); });
    return PauseScope(this);
}

void CLampState::EndPause() {
    if (--pauseHolders_ == 0) PauseRequest.store(false);
}

CLampState::PauseScope::~PauseScope() {
    if (owner_ != nullptr) owner_->EndPause();
}

CLightInput* CLampState::PauseScope::MainLamp() const {
    return owner_ != nullptr ? &owner_->main_ : nullptr;
}

std::int32_t CLampState::RemainingSeconds() const {
    const std::uint32_t elapsed = clock_.TickCount() - TimerStart.load();
    return TimeoutSeconds.load() - static_cast<std::int32_t>(elapsed / 1000);
}

void CLampState::SetTimeout(std::int32_t seconds) {
    auto ledger = ledger_.Lock();
    TimeoutSeconds.store(std::clamp(seconds, 0, kMaxTimeout));
    ledger.Ask(RequestLedger::PowerRequest);
}

void CLampState::SetLampOff(bool off) {
    auto ledger = ledger_.Lock();
    LampOff.store(off);
    ledger.Ask(RequestLedger::PowerRequest);
}

void CLampState::ToggleBacklight() {
    auto ledger = ledger_.Lock();
    BacklightFlag.store(!BacklightFlag.load());
    ledger.Ask(RequestLedger::PowerRequest);
}

void CLampState::RequestChannel(std::int32_t n) {
    if (!ValidSlot(n)) return;
    std::lock_guard records(channelsMutex_);
    auto ledger = ledger_.Lock();
    // A choice the main lamp did not take is owed: the lamps may still be on another slot.
    if (n == current_.load() && ledger.Pending(RequestLedger::ChannelRequest) == 0 &&
        !ledger.Unsent(RequestLedger::ChannelRequest)) {
        // The slot the lamps are on already: its record is sent again, nothing is selected.
        ledger.Resend(n);
        return;
    }
    current_.store(n);
    ledger.Select(n, versions_[n]);
}

void CLampState::ResendCurrentChannel() {
    // The slot is read under the records' lock, so the request names the slot the edit was
    // made in even when a channel is chosen just after.
    std::lock_guard records(channelsMutex_);
    auto ledger = ledger_.Lock();
    const int n = current_.load();
    ledger.Resend(n);
    // An edit of a slot the main lamp was never switched to would not show: the choice the
    // lamp did not take is made again with it.
    if (ledger.Unsent(RequestLedger::ChannelRequest) &&
        ledger.Pending(RequestLedger::ChannelRequest) == 0)
        ledger.Select(n, versions_[n]);
}

void CLampState::FollowCurrentChannel() {
    // As with a resend, the point belongs to the slot it was edited in.
    std::lock_guard records(channelsMutex_);
    ledger_.Lock().Follow(current_.load());
}

void CLampState::RequestInfoWrite() {
    ledger_.Ask(RequestLedger::WriteInfoRequest);
}

std::int32_t CLampState::PendingChannel() const {
    // The current slot is read under the ledger's lock, which a channel choice holds while it
    // moves the slot and makes its request.
    return ledger_.PendingSlot([this] { return current_.load(); });
}

bool CLampState::PowerPending() const {
    return ledger_.Pending(RequestLedger::PowerRequest) != 0;
}

bool CLampState::PowerUnconfirmed() const {
    auto ledger = const_cast<RequestLedger&>(ledger_).Lock();
    return ledger.Pending(RequestLedger::PowerRequest) != 0 ||
           ledger.Unsent(RequestLedger::PowerRequest);
}

std::uint64_t CLampState::Generation() const {
    return ledger_.Generation();
}

std::optional<RequestOutcome> CLampState::OutcomeOf(std::uint64_t after, std::uint64_t upTo,
                                                    int* othersTook) const {
    return ledger_.OutcomeOf(after, upTo, othersTook);
}

void CLampState::StoreChannelNames() {
    std::vector<std::string> names;
    {
        std::lock_guard lock(channelsMutex_);
        for (int n = 1; n <= CLightInfo::kChannelNameCount; ++n) names.push_back(channels_[n].Name);
    }
    {
        // The controller thread alone touches the lamp's block, so it writes the names in.
        std::lock_guard lock(namesMutex_);
        pendingNames_ = std::move(names);
    }
    RequestInfoWrite();
}

void CLampState::ApplyPendingNames() {
    std::vector<std::string> names;
    {
        std::lock_guard lock(namesMutex_);
        names.swap(pendingNames_);
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        main_.Info.SetChannelName(static_cast<int>(i), names[i]);
}

std::uint64_t CLampState::StoreCoefficients(const Coefficients::Table& table) {
    std::uint64_t number = 0;
    {
        // As with the names, the controller thread writes the table into the lamp's area.
        std::lock_guard lock(namesMutex_);
        pendingCoefficients_ = table;
        number = pendingTable_ = ++lastTable_;
    }
    RequestInfoWrite();
    return number;
}

bool CLampState::WithdrawCoefficients(std::uint64_t table) {
    std::lock_guard lock(namesMutex_);
    if (!pendingCoefficients_ || pendingTable_ != table) return false;
    pendingCoefficients_.reset();
    pendingTable_ = 0;
    return true;
}

std::uint64_t CLampState::ApplyPendingCoefficients() {
    std::optional<Coefficients::Table> table;
    std::uint64_t number = 0;
    {
        std::lock_guard lock(namesMutex_);
        table.swap(pendingCoefficients_);
        number = std::exchange(pendingTable_, 0);
    }
    if (!table || !Connected.load()) return table ? number : 0;
    for (int row = 0; row < Coefficients::kRows; ++row) {
        for (int column = 0; column < Coefficients::kColumns; ++column)
            main_.Info.SetCoefficient(row, column, (*table)[row][column]);
    }
    return number;
}

CChannel CLampState::Channel(int n) const {
    std::lock_guard lock(channelsMutex_);
    return ValidSlot(n) ? channels_[n] : CChannel();
}

CChannel CLampState::CurrentRecord() const {
    std::lock_guard lock(channelsMutex_);
    return channels_[current_.load()];
}

void CLampState::CopyIntoCurrent(const CChannel& stored) {
    EditCurrentRecord([&](CChannel& record) { record.CopyFrom(stored); });
}

void CLampState::ResetCurrent() {
    EditCurrentRecord([](CChannel& record) { record.ResetToDefault(); });
}

GamutTriangle CLampState::GetGamutTriangle() const {
    std::lock_guard lock(resultsMutex_);
    return gamut_;
}

void CLampState::SetGamutTriangle(const std::array<float, 6>& triangle) {
    std::lock_guard lock(resultsMutex_);
    const auto& t = triangle;
    gamut_ = GamutTriangle{t[0], t[1], t[2], t[3], t[4], t[5]};
}

std::array<float, CLampState::kTemperatureCount> CLampState::GetTemperatures() const {
    std::lock_guard lock(resultsMutex_);
    return temperatures_;
}

float CLampState::GetTransitionX() const {
    std::lock_guard lock(resultsMutex_);
    return TransitionX;
}

float CLampState::GetTransitionY() const {
    std::lock_guard lock(resultsMutex_);
    return TransitionY;
}

std::int32_t CLampState::GetTransitionTimeLeft() const {
    std::lock_guard lock(resultsMutex_);
    return TransitionTimeLeft;
}

std::string CLampState::DeviceName() const {
    std::lock_guard lock(resultsMutex_);
    return deviceName_;
}

std::vector<CLampState::LampIdentity> CLampState::HeldLampIdentities() const {
    std::lock_guard lock(resultsMutex_);
    return heldIdentities_;
}

void CLampState::Notify(Report report) {
    if (StopRequest.load()) return;
    {
        // Taken afresh for every report, so the window never reads the lamp list itself.
        std::vector<LampIdentity> held;
        for (std::size_t i = 0; i < lamps_.size(); ++i) {
            // A lamp not held may be in a try on its own thread: its device is not ours to read.
            if (!links_[i].held) continue;
            const DeviceEntry* row = lamps_[i]->Devices.CurrentRow();
            held.push_back({links_[i].serial, row ? row->Description : ""});
        }
        std::lock_guard lock(resultsMutex_);
        heldIdentities_ = std::move(held);
    }
    {
        std::lock_guard lock(mailbox_->mutex);
        switch (report) {
            case Report::Connected:
                mailbox_->connected = true;
                break;
            case Report::StateChanged:
                mailbox_->changed = true;
                break;
            case Report::Status:
                mailbox_->status = true;
                break;
        }
    }
    PostReports();
}

void CLampState::NotifyCoefficients(std::uint64_t table, std::int32_t result) {
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->coefficients.emplace_back(table, result);
    }
    PostReports();
}

void CLampState::PostReports() {
    {
        std::lock_guard lock(mailbox_->mutex);
        if (mailbox_->posted) return;
        mailbox_->posted = true;
    }
    dispatcher_.Post([mailbox = mailbox_] { Deliver(mailbox); });
    WakeWindow();
}

void CLampState::Deliver(const std::shared_ptr<Mailbox>& mailbox) {
    bool connected = false;
    bool changed = false;
    bool status = false;
    std::vector<std::pair<std::uint64_t, std::int32_t>> coefficients;
    CLampState* owner = nullptr;
    {
        std::lock_guard lock(mailbox->mutex);
        mailbox->posted = false;
        owner = mailbox->owner;
        connected = std::exchange(mailbox->connected, false);
        changed = std::exchange(mailbox->changed, false);
        status = std::exchange(mailbox->status, false);
        coefficients.swap(mailbox->coefficients);
    }
    // The controller went with its window; its reports have no one left to tell.
    if (owner == nullptr) return;
    // Marks the report's thread for as long as the reports run, even if one throws.
    struct Mark {
        std::atomic<std::thread::id>& thread;
        explicit Mark(std::atomic<std::thread::id>& t) : thread(t) {
            thread.store(std::this_thread::get_id());
        }
        ~Mark() { thread.store(std::thread::id()); }
    } mark(owner->reportThread_);
    if (connected && owner->OnConnected) owner->OnConnected();
    if (changed && owner->OnStateChanged) owner->OnStateChanged();
    if (status && owner->OnStatus) owner->OnStatus();
    for (const auto& [table, result] : coefficients)
        if (owner->OnCoefficientsWritten) owner->OnCoefficientsWritten(table, result);
}

void CLampState::Execute() {
    clock_.Join();
    while (!StopRequest.load()) Pass();
    session_.ShutDown();
    workers_.Stop();
    clock_.Leave();
    Finished.store(true);
    WakeWindow();
}

std::vector<CLightInput*> CLampState::HeldLamps() const {
    std::vector<CLightInput*> held;
    for (std::size_t i = 0; i < lamps_.size(); ++i)
        if (links_[i].held) held.push_back(lamps_[i]);
    return held;
}

void CLampState::SetPowerOnAll(bool off) {
    const std::int32_t seconds = TimeoutSeconds.load();
    const bool backlight = BacklightFlag.load();
    ForEachLamp(HeldLamps(), [&](CLightInput& lamp) { lamp.SetPower(seconds, off, backlight); });
}

void CLampState::ForEachLamp(const std::vector<CLightInput*>& lamps,
                             const std::function<void(CLightInput&)>& serve) {
    std::vector<std::function<void()>> jobs;
    jobs.reserve(lamps.size());
    for (CLightInput* lamp : lamps) jobs.emplace_back([&serve, lamp] { serve(*lamp); });
    workers_.RunAll(jobs);
}

std::pair<CChannel, std::uint64_t> CLampState::Snapshot(int n) const {
    std::lock_guard lock(channelsMutex_);
    return {channels_[n], versions_[n]};
}

void CLampState::KeepEcho(int n, std::uint64_t version, const CChannel& echoed) {
    std::lock_guard lock(channelsMutex_);
    if (versions_[n] == version) channels_[n] = echoed;
}

void CLampState::Pass() {
    if (!HonourPause()) return;
    ConnectIfRequested();
    WriteInfoIfRequested();
    ServeChannelWork();
    ServeFollow();
    ServePowerAndTimer();
    PollStatus();
    replug_.NoteLostLamps();
    replug_.LookForLamps();
    RestAfterPass();
}

void CLampState::RestAfterPass() {
    for (std::uint32_t rested = 0; rested < kPassSleepMs; rested += kRestSliceMs) {
        if (ledger_.Pending(RequestLedger::FollowRequest) != 0) return;
        clock_.Sleep(std::min(kRestSliceMs, kPassSleepMs - rested));
    }
}

bool CLampState::HonourPause() {
    if (PauseRequest.load()) {
        // The window may use the main lamp while paused, so no try may be using it.
        replug_.JoinAttempts();
        if (!Paused.exchange(true)) WakeWindow();
        clock_.Sleep(kWaitSleepMs);
        return false;
    }
    Paused.store(false);
    return true;
}

void CLampState::ConnectIfRequested() {
    if (!ConnectRequest.load()) return;
    session_.ConnectLamps();
    Notify(Report::Connected);
    ConnectRequest.store(false);
    Notify(Report::StateChanged);
}

void CLampState::WriteInfoIfRequested() {
    // The main lamp's block is being loaded again: the request waits for that.
    if (replug_.Attempting(0)) return;
    const std::uint64_t generation = ledger_.Pending(RequestLedger::WriteInfoRequest);
    if (generation == 0) return;
    ApplyPendingNames();
    const std::uint64_t coefficients = ApplyPendingCoefficients();
    std::int32_t result = CLightInput::kNoLamp;
    if (Connected.load()) {
        const std::vector<CLightInput*> held = HeldLamps();
        for (CLightInput* lamp : held) main_.Info.CopyBlockTo(lamp->Info);
        ForEachLamp(held, [&](CLightInput& lamp) {
            const std::int32_t saved = lamp.SaveInfo();
            const bool committed = lamp.CommitInfo();
            if (&lamp == &main_)
                result = saved == CLightInput::kOk && committed ? CLightInput::kOk
                                                                : CLightInput::kNoReply;
        });
    }
    ledger_.Settle(RequestLedger::WriteInfoRequest, generation,
                   result == CLightInput::kNoLamp ? RequestOutcome::NoLamp
                   : result == CLightInput::kOk   ? RequestOutcome::Sent
                                                  : RequestOutcome::Failed);
    if (coefficients != 0) NotifyCoefficients(coefficients, result);
}

void CLampState::ServeChannelWork() {
    // A drag's point asked for before the records are taken goes out with its slot's write.
    const RequestLedger::Follow follow = ledger_.PendingFollow();
    const RequestLedger::ChannelWork work =
        ledger_.PendingChannelWork([this] { return current_.load(); });
    if (work.Empty()) return;
    const RequestLedger::Selection& selection = work.selection;
    const bool selecting = selection.generation != 0;
    const std::int32_t n = work.target;
    // Lamps that are gone miss the change and get the current record when they come back;
    // while the main lamp is gone, what only it answers waits for it too.
    const std::vector<CLightInput*> held = HeldLamps();
    const bool connected = Connected.load();
    if (selecting && n > 0) {
        for (std::size_t i = 0; i < lamps_.size(); ++i) {
            if (!replug_.Attempting(i))
                lamps_[i]->Info.SetLastChannel(static_cast<std::uint32_t>(n));
        }
    }
    // Every edited slot is written as it stands now, each lamp sent the same copy; only the
    // main lamp's echo goes back into the record, so the record the window shows is the main
    // lamp's.
    struct Write {
        std::int32_t slot;
        std::uint64_t generation;
        std::pair<CChannel, std::uint64_t> snapshot;
        bool answered = false;  // by the main lamp; written by its job alone
    };
    std::vector<Write> writes;
    std::uint64_t targetGeneration = selection.generation;
    for (const auto& [slot, generation] : work.resends) {
        writes.push_back({slot, generation, Snapshot(slot)});
        if (slot == n) targetGeneration = std::max(targetGeneration, generation);
    }
    // The lamps end on the target: selected when one was chosen, switched on and asked for
    // its gamut when it was chosen or its record was sent.
    const bool touchesTarget = targetGeneration != 0;
    const std::int32_t seconds = TimeoutSeconds.load();
    const bool backlight = BacklightFlag.load();
    bool targetAnswered = false;
    // Lamps other than the main lamp that answered all of the pass, for when it is gone.
    std::atomic<int> othersTook{0};
    // Each lamp goes through the whole pass at its own pace: one that does not answer holds up
    // no other.
    ForEachLamp(held, [&](CLightInput& lamp) {
        const bool main = &lamp == &main_ && connected;
        bool all = true;
        for (Write& write : writes) {
            CChannel sent = write.snapshot.first;
            const bool ok = lamp.WriteChannel(sent);
            if (ok && main) KeepEcho(write.slot, write.snapshot.second, sent);
            if (main) write.answered = ok;
            all = all && ok;
        }
        const auto tally = [&](bool ok) {
            if (&lamp != &main_ && ok) ++othersTook;
        };
        if (!touchesTarget) {
            tally(all);
            return;
        }
        bool ok = true;
        if (selecting) {
            ok = lamp.SelectChannel(n);
            if (main) {
                // The lamp's copy of the record is the one the window sees, unless the window
                // edited the record since it chose the slot: then its edit is sent instead.
                CChannel read = Channel(n);
                ok = main_.ReadChannel(read) && ok;
                KeepEcho(n, selection.version, read);
            }
        }
        if (main && n > 0) {
            // An unanswered request keeps the triangle the controller had.
            if (const auto gamut = main_.GetGamut(Channel(n))) SetGamutTriangle(*gamut);
        }
        ok = lamp.SetPower(seconds, false, backlight) && ok;
        if (main) targetAnswered = ok;
        tally(all && ok);
    });
    if (touchesTarget) FinishChannelPass(targetGeneration);
    for (const Write& write : writes) {
        const bool answered = write.answered && (write.slot != n || targetAnswered);
        ledger_.Settle(RequestLedger::ResendRequest, write.generation,
                       RequestLedger::OutcomeFor(connected, answered, othersTook), write.slot,
                       othersTook);
        if (write.slot == follow.slot) {
            ledger_.Settle(RequestLedger::FollowRequest, follow.generation,
                           RequestLedger::OutcomeFor(connected, write.answered, othersTook), -1,
                           othersTook);
        }
    }
    ledger_.Settle(RequestLedger::ChannelRequest, selection.generation,
                   RequestLedger::OutcomeFor(connected, targetAnswered, othersTook), -1,
                   othersTook);
    Notify(Report::StateChanged);
    clock_.Sleep(1);
}

void CLampState::ServeFollow() {
    const RequestLedger::Follow follow = ledger_.PendingFollow();
    const std::uint64_t generation = follow.generation;
    if (generation == 0) return;
    const std::vector<CLightInput*> held = HeldLamps();
    const bool connected = Connected.load();
    const int n = follow.slot;
    const std::pair<CChannel, std::uint64_t> snapshot = Snapshot(n);
    // Lamps switched off come on with the first point, as they would with the release.
    bool off = false;
    {
        const auto ledger = ledger_.Lock();
        off = LampOff.load() && ledger.Pending(RequestLedger::PowerRequest) == 0;
    }
    const std::int32_t seconds = TimeoutSeconds.load();
    const bool backlight = BacklightFlag.load();
    bool answered = false;
    std::atomic<int> othersTook{0};
    ForEachLamp(held, [&](CLightInput& lamp) {
        const bool main = &lamp == &main_ && connected;
        CChannel sent = snapshot.first;
        bool ok = lamp.WriteChannel(sent);
        if (ok && main) KeepEcho(n, snapshot.second, sent);
        if (off) ok = lamp.SetPower(seconds, false, backlight) && ok;
        if (main) answered = ok;
        if (&lamp != &main_ && ok) ++othersTook;
    });
    if (off) FinishChannelPass(generation);
    ledger_.Settle(RequestLedger::FollowRequest, generation,
                   RequestLedger::OutcomeFor(connected, answered, othersTook), -1, othersTook);
    if (off) Notify(Report::StateChanged);
}

void CLampState::FinishChannelPass(std::uint64_t generation) {
    TimerStart.store(clock_.TickCount());
    // The lamps were switched on with the request; a power change asked for after it stays
    // pending and is served next, rather than being overwritten here.
    const auto ledger = ledger_.Lock();
    if (ledger.Pending(RequestLedger::PowerRequest) < generation) LampOff.store(false);
}

void CLampState::ServePowerAndTimer() {
    const bool any = !HeldLamps().empty();
    if (!any) return;
    std::uint64_t generation = 0;
    std::int32_t seconds = 0;
    bool off = false;
    bool backlight = false;
    {
        const auto ledger = ledger_.Lock();
        generation = ledger.Pending(RequestLedger::PowerRequest);
        seconds = TimeoutSeconds.load();
        off = LampOff.load();
        backlight = BacklightFlag.load();
    }
    if (generation != 0) {
        bool answered = false;
        std::atomic<int> othersTook{0};
        ForEachLamp(HeldLamps(), [&](CLightInput& lamp) {
            const bool ok = lamp.SetPower(seconds, off, backlight);
            if (&lamp == &main_) {
                answered = ok;
            } else if (ok) {
                ++othersTook;
            }
        });
        TimerStart.store(clock_.TickCount());
        ledger_.Settle(RequestLedger::PowerRequest, generation,
                       RequestLedger::OutcomeFor(Connected.load(), answered, othersTook), -1,
                       othersTook);
        Notify(Report::StateChanged);
    } else if (seconds > 0 && RemainingSeconds() < 0 && !off) {
        SetPowerOnAll(true);
        {
            // A power change the window asked for while the lamps were being switched off is
            // its own to send on the next pass; the timer does not overwrite it.
            const auto ledger = ledger_.Lock();
            if (ledger.Pending(RequestLedger::PowerRequest) == 0) LampOff.store(true);
        }
        Notify(Report::StateChanged);
    }
}

void CLampState::PollStatus() {
    // While not connected the count goes on, so the first connected pass after ten polls at once.
    if (++PollCounter < kPollEvery || !Connected.load()) return;
    // A drag's points go first, and the record its release sends before them: the poll comes
    // between them only when it has waited long, and later still before a record.
    if (PollCounter < kPollLatest && ledger_.Pending(RequestLedger::FollowRequest) != 0) return;
    if (PollCounter < 2 * kPollLatest && ledger_.Pending(RequestLedger::ResendRequest) != 0) return;
    PollCounter = 0;
    // No transition is reported from a reply that did not come.
    TransitionStatus transition;
    std::array<float, kTemperatureCount> temperatures{};
    ForEachLamp(HeldLamps(), [&](CLightInput& lamp) {
        const std::optional<TransitionStatus> status = lamp.SetRemote(0);
        if (&lamp != &main_) return;
        if (status) transition = *status;
        for (int page = 0; page < 2; ++page) {
            if (const auto values = main_.ReadTemperatures(page))
                std::copy(values->begin(), values->end(), temperatures.begin() + page * 16);
        }
    });
    {
        std::lock_guard lock(resultsMutex_);
        TransitionTimeLeft = transition.SecondsLeft;
        TransitionX = transition.X;
        TransitionY = transition.Y;
        temperatures_ = temperatures;
    }
    Notify(Report::Status);
}
