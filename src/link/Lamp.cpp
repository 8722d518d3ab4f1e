#include "link/Lamp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

#include "link/Light.h"

namespace {
constexpr std::uint32_t kPassSleepMs = 25;
constexpr std::uint32_t kWaitSleepMs = 100;
constexpr int kPollEvery = 10;
// Channels the lamp keeps: slots 0 to 10 are read and written back at connect.
constexpr int kLampChannels = 10;
// Channels whose info word is taken from the lamp's block at connect.
constexpr int kInfoWordChannels = 20;

bool ValidSlot(std::int32_t n) {
    return n >= 0 && n < CLampState::kChannelCount;
}
}  // namespace

CLampState::CLampState(CLightInput& mainLamp, D2xx& library, Dispatcher& dispatcher, Clock& clock)
    : main_(mainLamp), library_(library), dispatcher_(dispatcher), clock_(clock) {
    lamps_.push_back(&main_);
    links_.emplace_back();
    for (int n = 0; n < kChannelCount; ++n) channels_[n] = CChannel(n);
}

CLampState::~CLampState() {
    // StopAndWait joins a running thread itself; only one that had already finished is left.
    StopAndWait();
    if (thread_.joinable()) thread_.join();
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
    const std::string text = std::string("error: ") + operation +
                             " called from a controller report, which it would never return to";
    main_.LogText(text);
    std::fprintf(stderr, "%s\n", text.c_str());
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
    TimeoutSeconds.store(std::clamp(seconds, 0, kMaxTimeout));
    PowerRequest.store(true);
}

void CLampState::SetLampOff(bool off) {
    LampOff.store(off);
    PowerRequest.store(true);
}

void CLampState::ToggleBacklight() {
    BacklightFlag.store(!BacklightFlag.load());
    PowerRequest.store(true);
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
    WriteInfoRequest.store(true);
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

void CLampState::StoreCoefficients(const Coefficients::Table& table) {
    {
        // As with the names, the controller thread writes the table into the lamp's area.
        std::lock_guard lock(namesMutex_);
        pendingCoefficients_ = table;
    }
    WriteInfoRequest.store(true);
}

bool CLampState::ApplyPendingCoefficients() {
    std::optional<Coefficients::Table> table;
    {
        std::lock_guard lock(namesMutex_);
        table.swap(pendingCoefficients_);
    }
    if (!table || !Connected.load()) return table.has_value();
    for (int row = 0; row < Coefficients::kRows; ++row) {
        for (int column = 0; column < Coefficients::kColumns; ++column)
            main_.Info.SetCoefficient(row, column, (*table)[row][column]);
    }
    return true;
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

template <typename Exchange>
void CLampState::ExchangeRecord(int n, Exchange&& exchange) {
    CChannel record;
    std::uint64_t version = 0;
    {
        std::lock_guard lock(channelsMutex_);
        record = channels_[n];
        version = versions_[n];
    }
    exchange(record);
    std::lock_guard lock(channelsMutex_);
    if (versions_[n] == version) channels_[n] = record;
}

std::array<float, 6> CLampState::GetGamutTriangle() const {
    std::lock_guard lock(resultsMutex_);
    return gamut_;
}

void CLampState::SetGamutTriangle(const std::array<float, 6>& triangle) {
    std::lock_guard lock(resultsMutex_);
    gamut_ = triangle;
}

std::array<float, CLampState::kTemperatureCount> CLampState::GetTemperatures() const {
    std::lock_guard lock(resultsMutex_);
    return temperatures_;
}

float CLampState::GetTransitionX() const {
    std::lock_guard lock(resultsMutex_);
    return transitionX_;
}

float CLampState::GetTransitionY() const {
    std::lock_guard lock(resultsMutex_);
    return transitionY_;
}

std::int32_t CLampState::GetTransitionTimeLeft() const {
    std::lock_guard lock(resultsMutex_);
    return transitionTimeLeft_;
}

std::string CLampState::DeviceName() const {
    std::lock_guard lock(resultsMutex_);
    return deviceName_;
}

std::vector<CLampState::LampIdentity> CLampState::HeldLampIdentities() const {
    std::lock_guard lock(resultsMutex_);
    return heldIdentities_;
}

void CLampState::Notify(const std::function<void()>& callback) {
    if (StopRequest.load() || !callback) return;
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
    WakeWindow();
    dispatcher_.Synchronize([&] {
        // Marks the report's thread for as long as the report runs, even if it throws.
        struct Mark {
            std::atomic<std::thread::id>& thread;
            explicit Mark(std::atomic<std::thread::id>& t) : thread(t) {
                thread.store(std::this_thread::get_id());
            }
            ~Mark() { thread.store(std::thread::id()); }
        } mark(reportThread_);
        callback();
    });
}

void CLampState::Execute() {
    clock_.Join();
    while (!StopRequest.load()) Pass();
    ShutDown();
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
    ServeChannelRequest();
    ServePowerAndTimer();
    PollStatus();
    NoteLostLamps();
    LookForLamps();
    clock_.Sleep(kPassSleepMs);
}

bool CLampState::HonourPause() {
    if (PauseRequest.load()) {
        // The window may use the main lamp while paused, so no try may be using it.
        JoinAttempts();
        if (!Paused.exchange(true)) WakeWindow();
        clock_.Sleep(kWaitSleepMs);
        return false;
    }
    Paused.store(false);
    return true;
}

void CLampState::ConnectIfRequested() {
    if (!ConnectRequest.load()) return;
    ConnectLamps();
    Notify(OnConnected);
    ConnectRequest.store(false);
    Notify(OnStateChanged);
}

void CLampState::WriteInfoIfRequested() {
    // The main lamp's block is being loaded again: the request waits for that.
    if (Attempting(0) || !WriteInfoRequest.exchange(false)) return;
    ApplyPendingNames();
    const bool coefficients = ApplyPendingCoefficients();
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
    if (coefficients && OnCoefficientsWritten)
        Notify([this, result] { OnCoefficientsWritten(result); });
}

void CLampState::ServeChannelRequest() {
    std::int32_t n = ChannelRequest.load();
    if (n >= kChannelCount) {
        // A slot the lamp does not have is dropped rather than sent.
        ChannelRequest.compare_exchange_strong(n, -1);
        return;
    }
    if (n < 0) return;
    // Lamps that are gone miss the change and get the current record when they come back;
    // while the main lamp is gone, what only it answers waits for it too.
    const std::vector<CLightInput*> held = HeldLamps();
    const bool connected = Connected.load();
    const bool resend = n == CurrentSlot();
    // Every lamp is sent the same copy of the record; only the main lamp's echo goes back
    // into it, so the record the window shows is the main lamp's.
    const std::pair<CChannel, std::uint64_t> snapshot = Snapshot(n);
    const CChannel& record = snapshot.first;
    const std::uint64_t version = snapshot.second;
    if (!resend) current_.store(n);
    if (n > 0) {
        for (std::size_t i = 0; i < lamps_.size(); ++i) {
            if (!Attempting(i)) lamps_[i]->Info.SetLastChannel(static_cast<std::uint32_t>(n));
        }
    }
    const std::int32_t seconds = TimeoutSeconds.load();
    const bool backlight = BacklightFlag.load();
    // Each lamp goes through the whole request at its own pace: one that does not answer holds
    // up no other.
    ForEachLamp(held, [&](CLightInput& lamp) {
        const bool main = &lamp == &main_ && connected;
        if (resend) {
            CChannel sent = record;
            if (lamp.WriteChannel(sent) && main) KeepEcho(n, version, sent);
        } else {
            lamp.SelectChannel(n);
            if (main) ExchangeRecord(n, [this](CChannel& r) { main_.ReadChannel(r); });
        }
        if (main && n > 0) {
            // An unanswered request keeps the triangle the controller had.
            if (const auto gamut = main_.GetGamut(CurrentRecord())) SetGamutTriangle(*gamut);
        }
        lamp.SetPower(seconds, false, backlight);
    });
    TimerStart.store(clock_.TickCount());
    LampOff.store(false);
    {
        // A request the window made while this one ran stays pending, and so does this
        // one when the record was edited meanwhile: a resend of the edit carries the same
        // slot number, and the lamps may have been sent the record from before it.
        std::lock_guard lock(channelsMutex_);
        std::int32_t expected = n;
        if (versions_[n] == version) ChannelRequest.compare_exchange_strong(expected, -1);
    }
    Notify(OnStateChanged);
    clock_.Sleep(1);
}

void CLampState::ServePowerAndTimer() {
    const bool any = !HeldLamps().empty();
    if (PowerRequest.load() && any) {
        PowerRequest.store(false);
        SetPowerOnAll(LampOff.load());
        TimerStart.store(clock_.TickCount());
        Notify(OnStateChanged);
    } else if (TimeoutSeconds.load() > 0 && any && RemainingSeconds() < 0 && !LampOff.load()) {
        SetPowerOnAll(true);
        LampOff.store(true);
        Notify(OnStateChanged);
    }
}

void CLampState::PollStatus() {
    // While not connected the count goes on, so the first connected pass after ten polls at once.
    if (++pollCounter_ < kPollEvery || !Connected.load()) return;
    pollCounter_ = 0;
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
        transitionTimeLeft_ = transition.SecondsLeft;
        transitionX_ = transition.X;
        transitionY_ = transition.Y;
        temperatures_ = temperatures;
    }
    Notify(OnStatus);
}

void CLampState::ConnectLamps() {
    if (!TakeLamps()) {
        ChannelRequest.store(0);
        TimeoutSeconds.store(0);
    }
    TimerStart.store(clock_.TickCount());
}

bool CLampState::TakeLamps() {
    // Opening the devices is quick and goes in listing order, so the main lamp is the first
    // free one; the slow rest of the connect (the baud switch pause and loading each block)
    // then runs on every lamp at once.
    if (!main_.TakeDevice(kConnectBaud, kSendDelayMs)) {
        Connected.store(false);
        noLamp_.store(WhyNoDevice(main_.Devices));
        return false;
    }
    std::vector<std::unique_ptr<CLightInput>> found;
    for (;;) {
        auto lamp = std::make_unique<CLightInput>(library_, clock_, main_.LogPath());
        if (!lamp->TakeDevice(kConnectBaud, kSendDelayMs)) break;
        found.push_back(std::move(lamp));
    }
    std::vector<CLightInput*> taken{&main_};
    for (const auto& lamp : found) taken.push_back(lamp.get());
    std::map<const CLightInput*, std::int32_t> results;
    for (CLightInput* lamp : taken) results[lamp] = CLightInput::kNoLamp;
    const std::int32_t runBaud = LinkBaud.load();
    ForEachLamp(taken, [&](CLightInput& lamp) { results.at(&lamp) = lamp.StartLink(runBaud); });

    Connected.store(results.at(&main_) == CLightInput::kOk);
    // Without the main lamp the others are let go again (their ports close with them).
    if (!Connected.load()) {
        noLamp_.store(NoLamp::NoAnswer);
        return false;
    }
    links_[0] = LampLink{main_.Serial(), true};
    everHeld_ = true;
    mainLost_.store(false);
    // Every lamp that came up is kept, in listing order; one that did not is let go without
    // costing the lamps after it their place.
    for (auto& lamp : found) {
        if (results.at(lamp.get()) != CLightInput::kOk) continue;
        lamps_.push_back(lamp.get());
        links_.push_back(LampLink{lamp->Serial(), true});
        ownedLamps_.push_back(std::move(lamp));
    }
    lampCount_.store(static_cast<int>(lamps_.size()));

    // What the main lamp did not answer keeps the controller's own value, and the lamps are
    // told the power state only when all of it came from the main lamp.
    std::optional<std::int32_t> seconds;
    std::optional<bool> off;
    std::optional<bool> backlight;
    ForEachLamp(lamps_, [&](CLightInput& lamp) {
        lamp.Probe();
        lamp.SetRemote(0);
        if (&lamp != &main_) return;
        seconds = main_.GetPower();
        off = main_.GetPowerOff();
        backlight = main_.GetBacklight();
    });
    if (seconds) TimeoutSeconds.store(std::clamp(*seconds, 0, kMaxTimeout));
    if (off) LampOff.store(*off);
    if (backlight) BacklightFlag.store(*backlight);
    if (seconds && off && backlight) SetPowerOnAll(LampOff.load());

    const auto infoWord = static_cast<std::int32_t>(main_.Info.InfoWord());
    {
        std::lock_guard lock(channelsMutex_);
        for (int n = 0; n < kInfoWordChannels; ++n) channels_[n].Info = infoWord;
    }
    // The other lamps take each record as the main lamp holds it, and the record keeps what
    // the main lamp echoes.
    for (int n = 0; n <= kLampChannels; ++n) {
        ExchangeRecord(n, [this](CChannel& r) { main_.ReadChannel(r); });
        const std::pair<CChannel, std::uint64_t> snapshot = Snapshot(n);
        ForEachLamp(lamps_, [&](CLightInput& lamp) {
            CChannel sent = snapshot.first;
            if (lamp.WriteChannel(sent) && &lamp == &main_) KeepEcho(n, snapshot.second, sent);
        });
    }
    // An unanswered query picks no channel: the current one stays.
    const std::optional<int> state = main_.GetState();
    ChannelRequest.store(-1);
    if (state) current_.store(ValidSlot(*state) ? *state : 0);
    NameChannels();
    std::lock_guard lock(resultsMutex_);
    deviceName_ = main_.Info.DeviceName();
    return true;
}

void CLampState::NameChannels() {
    std::lock_guard lock(channelsMutex_);
    channels_[0].Name = "Turned Off";
    for (int n = 1; n < kChannelCount; ++n) channels_[n].Name = "Channel " + std::to_string(n);
    for (int n = 1; n <= CLightInfo::kChannelNameCount; ++n) {
        const std::string name = main_.Info.ChannelName(n - 1);
        if (!name.empty()) channels_[n].Name = name;
    }
}

void CLampState::ShutDown() {
    // A lamp whose try succeeds is shut down with the others.
    JoinAttempts();
    CollectAttempts();
    ApplyPendingNames();
    ApplyPendingCoefficients();
    std::vector<CLightInput*> answering;
    for (CLightInput* lamp : HeldLamps())
        if (!lamp->NoAnswer.load()) answering.push_back(lamp);
    const auto slot = static_cast<std::uint32_t>(CurrentSlot());
    const std::int32_t seconds = TimeoutSeconds.load();
    const bool off = LampOff.load();
    const bool backlight = BacklightFlag.load();
    ForEachLamp(answering, [&](CLightInput& lamp) {
        if (slot > lamp.Info.StoredChannelCount())
            lamp.SelectChannel(static_cast<int>(lamp.Info.LastChannel()));
        lamp.SetRemote(1);
        lamp.SetPower(seconds, off, backlight);
        lamp.Finish();
        lamp.SaveInfo();
        lamp.SetRemote(1);
        lamp.Devices.CloseDevice();
    });
    // A lamp that stopped answering, or one left open by a failed connect, still gets its
    // port back; closing sends nothing to the lamp.
    for (CLightInput* lamp : lamps_) lamp->Devices.CloseDevice();
}
