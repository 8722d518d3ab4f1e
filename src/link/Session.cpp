// The controller's session with the lamps at its two ends: at the start it takes the lamps,
// reads the main lamp's records and state and brings the others into line; at the end it leaves
// every lamp in a defined channel and power state and lets it go.
#include <map>
#include <optional>
#include <set>

#include "link/Lamp.h"
#include "link/Light.h"

namespace {
// Channels the lamp keeps: slots 0 to 10 are read and written back at connect.
constexpr int kLampChannels = 10;
// Channels whose info word is taken from the lamp's block at connect.
constexpr int kInfoWordChannels = 20;
}  // namespace

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

void CLampState::ConnectLamps() {
    if (!TakeLamps()) {
        // Without a lamp the controller starts from channel 0 and no timer, unless the window
        // has already asked for something else.
        std::lock_guard records(channelsMutex_);
        const auto ledger = ledger_.Lock();
        if (ledger.Pending(RequestLedger::ChannelRequest) == 0 &&
            !ledger.Unsent(RequestLedger::ChannelRequest))
            current_.store(0);
        if (ledger.Pending(RequestLedger::PowerRequest) == 0) TimeoutSeconds.store(0);
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

    // Without the main lamp the others are let go again (their ports close with them).
    if (results.at(&main_) != CLightInput::kOk) {
        Connected.store(false);
        noLamp_.store(NoLamp::NoAnswer);
        return false;
    }
    links_[0] = LampLink{main_.Serial(), true};
    everHeld_ = true;
    // Every lamp that came up is kept, in listing order; one that did not is let go without
    // costing the lamps after it their place.
    for (auto& lamp : found) {
        if (results.at(lamp.get()) != CLightInput::kOk) continue;
        lamps_.push_back(lamp.get());
        links_.push_back(LampLink{lamp->Serial(), true});
        ownedLamps_.push_back(std::move(lamp));
    }
    lampCount_.store(static_cast<int>(lamps_.size()));
    loaded_ = LoadLamps();
    // Connected only now: until the lamp's channel and records are read, the current record is
    // a placeholder, and a change made to it would go to a slot the lamp is not on.
    mainLost_.store(false);
    Connected.store(true);
    return true;
}

bool CLampState::LoadLamps() {
    const std::vector<CLightInput*> held = HeldLamps();
    // What the main lamp did not answer keeps the controller's own value, and the lamps are
    // told the power state only when all of it came from the main lamp.
    std::optional<std::int32_t> seconds;
    std::optional<bool> off;
    std::optional<bool> backlight;
    ForEachLamp(held, [&](CLightInput& lamp) {
        lamp.Probe();
        lamp.SetRemote(0);
        if (&lamp != &main_) return;
        seconds = main_.GetPower();
        off = main_.GetPowerOff();
        backlight = main_.GetBacklight();
    });
    bool tellLamps = false;
    {
        // A power change the window asked for before the lamp was there wins over the lamp's
        // state, and goes out on this pass.
        const auto ledger = ledger_.Lock();
        if (ledger.Pending(RequestLedger::PowerRequest) == 0) {
            if (seconds) TimeoutSeconds.store(std::clamp(*seconds, 0, kMaxTimeout));
            if (off) LampOff.store(*off);
            if (backlight) BacklightFlag.store(*backlight);
            tellLamps = seconds && off && backlight;
        }
    }
    if (tellLamps) SetPowerOnAll(LampOff.load());

    const auto infoWord = static_cast<std::int32_t>(main_.Info.InfoWord());
    {
        std::lock_guard lock(channelsMutex_);
        for (int n = 0; n < kInfoWordChannels; ++n) channels_[n].Info = infoWord;
    }
    // A record the window changed while no lamp held it is the window's, not the lamp's.
    const std::set<std::int32_t> windowsRecords = ledger_.Lock().OwedSlots();
    // The other lamps take each record as the main lamp holds it, and the record keeps what
    // the main lamp echoes.
    for (int n = 0; n <= kLampChannels; ++n) {
        if (windowsRecords.count(n) == 0) ExchangeRecord(n, [this](CChannel& r) { main_.ReadChannel(r); });
        const std::pair<CChannel, std::uint64_t> snapshot = Snapshot(n);
        ForEachLamp(held, [&](CLightInput& lamp) {
            CChannel sent = snapshot.first;
            if (lamp.WriteChannel(sent) && &lamp == &main_) KeepEcho(n, snapshot.second, sent);
        });
    }
    // An unanswered query picks no channel: the current one stays.
    const std::optional<int> state = main_.GetState();
    {
        // A channel the window chose stands: it goes to the lamp next.
        std::lock_guard records(channelsMutex_);
        const auto ledger = ledger_.Lock();
        if (state && ledger.Pending(RequestLedger::ChannelRequest) == 0 &&
            !ledger.Unsent(RequestLedger::ChannelRequest))
            current_.store(ValidSlot(*state) ? *state : 0);
    }
    {
        // Requests the main lamp did not answer are made again, so the lamp takes them rather
        // than the controller taking the lamp's state.
        auto ledger = ledger_.Lock();
        ledger.RenewUnsent(current_.load());
    }
    NameChannels();
    std::lock_guard lock(resultsMutex_);
    deviceName_ = main_.Info.DeviceName();
    // A lamp lost part way leaves the controller without its records and channel.
    return state.has_value() && !main_.Lost();
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
