// The controller's loop: each pass serves the window's requests on every lamp held, polls the
// main lamp's status now and then, and looks after lamps that went.
#include <algorithm>
#include <atomic>
#include <optional>

#include "link/Lamp.h"
#include "link/Light.h"

namespace {
constexpr std::uint32_t kPassSleepMs = 25;
constexpr int kPollEvery = 10;
// While a drag keeps the link busy the status poll waits, but no longer than this many passes
// (twice as many for a record to send).
constexpr int kPollLatest = 40;
// The rest at the end of a pass is taken in slices this long, so a drag's point waits little.
constexpr std::uint32_t kRestSliceMs = 5;
}  // namespace

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
            // The window waits on the main lamp's write of a table alone, so only its frames
            // are told, the commit counted as the last of them.
            const bool told = &lamp == &main_ && coefficients != 0;
            int frames = 0;
            CLightInput::SaveProgress progress;
            if (told) {
                progress = [&](int done, int total) {
                    frames = total + 1;
                    NotifyCoefficientsProgress(coefficients, done, frames);
                };
            }
            const std::int32_t saved = lamp.SaveInfo(progress);
            const bool committed = lamp.CommitInfo();
            if (told && saved == CLightInput::kOk && committed)
                NotifyCoefficientsProgress(coefficients, frames, frames);
            if (&lamp == &main_)
                result = saved == CLightInput::kOk && committed ? CLightInput::kOk
                                                                : CLightInput::kNoReply;
        });
    }
    ledger_.Settle(RequestLedger::WriteInfoRequest, generation,
                   result == CLightInput::kNoLamp ? RequestOutcome::NoLamp
                   : result == CLightInput::kOk   ? RequestOutcome::MainLampAcked
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
