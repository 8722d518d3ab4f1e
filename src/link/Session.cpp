// The controller's session with the lamps at its two ends: at the start it takes the lamps,
// reads the main lamp's records and state and brings the others into line; at the end it leaves
// every lamp in a defined channel and power state and lets it go.
#include "link/Session.h"

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
void CLampSession::ExchangeRecord(int n, Exchange&& exchange) {
    CChannel record;
    std::uint64_t version = 0;
    {
        std::lock_guard lock(s_.channelsMutex_);
        record = s_.channels_[n];
        version = s_.versions_[n];
    }
    exchange(record);
    std::lock_guard lock(s_.channelsMutex_);
    if (s_.versions_[n] == version) s_.channels_[n] = record;
}

void CLampSession::ConnectLamps() {
    if (!TakeLamps()) {
        // Without a lamp the controller starts from channel 0 and no timer, unless the window
        // has already asked for something else.
        std::lock_guard records(s_.channelsMutex_);
        const auto ledger = s_.ledger_.Lock();
        if (ledger.Pending(RequestLedger::ChannelRequest) == 0 &&
            !ledger.Unsent(RequestLedger::ChannelRequest))
            s_.current_.store(0);
        if (ledger.Pending(RequestLedger::PowerRequest) == 0) s_.TimeoutSeconds.store(0);
    }
    s_.TimerStart.store(s_.clock_.TickCount());
}

bool CLampSession::TakeLamps() {
    // Opening the devices is quick and goes in listing order, so the main lamp is the first
    // free one; the slow rest of the connect (the baud switch pause and loading each block)
    // then runs on every lamp at once.
    if (!s_.main_.TakeDevice(CLampState::kConnectBaud, CLampState::kSendDelayMs)) {
        s_.Connected.store(false);
        s_.noLamp_.store(WhyNoDevice(s_.main_.Devices));
        return false;
    }
    std::vector<std::unique_ptr<CLightInput>> found;
    for (;;) {
        auto lamp = std::make_unique<CLightInput>(s_.library_, s_.clock_, s_.main_.LogPath());
        if (!lamp->TakeDevice(CLampState::kConnectBaud, CLampState::kSendDelayMs)) break;
        found.push_back(std::move(lamp));
    }
    std::vector<CLightInput*> taken{&s_.main_};
    for (const auto& lamp : found) taken.push_back(lamp.get());
    std::map<const CLightInput*, std::int32_t> results;
    for (CLightInput* lamp : taken) results[lamp] = CLightInput::kNoLamp;
    const std::int32_t runBaud = s_.LinkBaud.load();
    s_.ForEachLamp(taken, [&](CLightInput& lamp) { results.at(&lamp) = lamp.StartLink(runBaud); });

    // Without the main lamp the others are let go again (their ports close with them).
    if (results.at(&s_.main_) != CLightInput::kOk) {
        s_.Connected.store(false);
        s_.noLamp_.store(NoLamp::NoAnswer);
        return false;
    }
    s_.links_[0] = CLampState::LampLink{s_.main_.Serial(), true};
    s_.everHeld_ = true;
    // Every lamp that came up is kept, in listing order; one that did not is let go without
    // costing the lamps after it their place.
    for (auto& lamp : found) {
        if (results.at(lamp.get()) != CLightInput::kOk) continue;
        s_.lamps_.push_back(lamp.get());
        s_.links_.push_back(CLampState::LampLink{lamp->Serial(), true});
        s_.ownedLamps_.push_back(std::move(lamp));
    }
    s_.lampCount_.store(static_cast<int>(s_.lamps_.size()));
    s_.loaded_ = LoadLamps();
    // Connected only now: until the lamp's channel and records are read, the current record is
    // a placeholder, and a change made to it would go to a slot the lamp is not on.
    s_.mainLost_.store(false);
    s_.Connected.store(true);
    return true;
}

bool CLampSession::LoadLamps() {
    const std::vector<CLightInput*> held = s_.HeldLamps();
    // What the main lamp did not answer keeps the controller's own value, and the lamps are
    // told the power state only when all of it came from the main lamp.
    std::optional<std::int32_t> seconds;
    std::optional<bool> off;
    std::optional<bool> backlight;
    s_.ForEachLamp(held, [&](CLightInput& lamp) {
        lamp.Probe();
        lamp.SetRemote(0);
        if (&lamp != &s_.main_) return;
        seconds = s_.main_.GetPower();
        off = s_.main_.GetPowerOff();
        backlight = s_.main_.GetBacklight();
    });
    bool tellLamps = false;
    {
        // A power change the window asked for before the lamp was there wins over the lamp's
        // state, and goes out on this pass.
        const auto ledger = s_.ledger_.Lock();
        if (ledger.Pending(RequestLedger::PowerRequest) == 0) {
            if (seconds) s_.TimeoutSeconds.store(std::clamp(*seconds, 0, CLampState::kMaxTimeout));
            if (off) s_.LampOff.store(*off);
            if (backlight) s_.BacklightFlag.store(*backlight);
            tellLamps = seconds && off && backlight;
        }
    }
    if (tellLamps) s_.SetPowerOnAll(s_.LampOff.load());

    const auto infoWord = static_cast<std::int32_t>(s_.main_.Info.InfoWord());
    {
        std::lock_guard lock(s_.channelsMutex_);
        for (int n = 0; n < kInfoWordChannels; ++n) s_.channels_[n].Info = infoWord;
    }
    // A record the window changed while no lamp held it is the window's, not the lamp's.
    const std::set<std::int32_t> windowsRecords = s_.ledger_.Lock().OwedSlots();
    // The other lamps take each record as the main lamp holds it, and the record keeps what
    // the main lamp echoes.
    for (int n = 0; n <= kLampChannels; ++n) {
        if (windowsRecords.count(n) == 0)
            ExchangeRecord(n, [this](CChannel& r) { s_.main_.ReadChannel(r); });
        const std::pair<CChannel, std::uint64_t> snapshot = s_.Snapshot(n);
        s_.ForEachLamp(held, [&](CLightInput& lamp) {
            CChannel sent = snapshot.first;
            if (lamp.WriteChannel(sent) && &lamp == &s_.main_)
                s_.KeepEcho(n, snapshot.second, sent);
        });
    }
    // An unanswered query picks no channel: the current one stays.
    const std::optional<int> state = s_.main_.GetState();
    {
        // A channel the window chose stands: it goes to the lamp next.
        std::lock_guard records(s_.channelsMutex_);
        const auto ledger = s_.ledger_.Lock();
        if (state && ledger.Pending(RequestLedger::ChannelRequest) == 0 &&
            !ledger.Unsent(RequestLedger::ChannelRequest))
            s_.current_.store(CLampState::ValidSlot(*state) ? *state : 0);
    }
    {
        // Requests the main lamp did not answer are made again, so the lamp takes them rather
        // than the controller taking the lamp's state.
        auto ledger = s_.ledger_.Lock();
        ledger.RenewUnsent(s_.current_.load());
    }
    NameChannels();
    std::lock_guard lock(s_.resultsMutex_);
    s_.deviceName_ = s_.main_.Info.DeviceName();
    // A lamp lost part way leaves the controller without its records and channel.
    return state.has_value() && !s_.main_.Lost();
}

void CLampSession::NameChannels() {
    std::lock_guard lock(s_.channelsMutex_);
    s_.channels_[0].Name = "Turned Off";
    for (int n = 1; n < CLampState::kChannelCount; ++n)
        s_.channels_[n].Name = "Channel " + std::to_string(n);
    for (int n = 1; n <= CLightInfo::kChannelNameCount; ++n) {
        const std::string name = s_.main_.Info.ChannelName(n - 1);
        if (!name.empty()) s_.channels_[n].Name = name;
    }
}

void CLampSession::ShutDown() {
    // A lamp whose try succeeds is shut down with the others.
    s_.replug_.JoinAttempts();
    s_.replug_.CollectAttempts();
    s_.ApplyPendingNames();
    s_.ApplyPendingCoefficients();
    std::vector<CLightInput*> answering;
    for (CLightInput* lamp : s_.HeldLamps())
        if (!lamp->NoAnswer.load()) answering.push_back(lamp);
    const auto slot = static_cast<std::uint32_t>(s_.CurrentSlot());
    const std::int32_t seconds = s_.TimeoutSeconds.load();
    const bool off = s_.LampOff.load();
    const bool backlight = s_.BacklightFlag.load();
    s_.ForEachLamp(answering, [&](CLightInput& lamp) {
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
    for (CLightInput* lamp : s_.lamps_) lamp->Devices.CloseDevice();
}
