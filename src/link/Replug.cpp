// Taking back the lamps that leave the bus or stop answering.
#include "link/Replug.h"

#include <algorithm>
#include <future>
#include <string>
#include <vector>

#include "link/Lamp.h"
#include "link/Light.h"

namespace {
// Whether the lamp time `now` has reached `due`, across the tick count's wrap.
bool Reached(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

std::uint32_t NextRetry(std::uint32_t retryMs) {
    return retryMs == 0 ? CLampState::kLookEveryMs
                        : std::min(retryMs * 2, CLampState::kLongestRetryMs);
}
}  // namespace

void CLampReplug::NoteLostLamps() {
    bool mainGone = false;
    for (std::size_t i = 0; i < s_.lamps_.size(); ++i) {
        CLampState::LampLink& link = s_.links_[i];
        if (!link.held || !s_.lamps_[i]->Lost()) continue;
        s_.main_.LogText("lamp lost: " + link.serial);
        s_.lamps_[i]->Devices.CloseDevice();
        link.held = false;
        link.lost = true;
        link.retryMs = 0;
        link.nextTry = s_.clock_.TickCount() + CLampState::kLookEveryMs;
        if (i == 0) mainGone = true;
    }
    if (!mainGone) return;
    s_.Connected.store(false);
    s_.mainLost_.store(true);
    s_.Notify(CLampState::Report::StateChanged);
}

void CLampReplug::LookForLamps() {
    CollectAttempts();
    const bool anyLost = std::any_of(s_.links_.begin(), s_.links_.end(),
                                     [](const CLampState::LampLink& link) { return link.lost; });
    if ((s_.everHeld_ && !anyLost) || s_.ConnectRequest.load()) return;
    const std::uint32_t now = s_.clock_.TickCount();
    if (!Reached(now, nextLook_)) return;
    nextLook_ = now + CLampState::kLookEveryMs;

    // A listing of its own leaves the ports of the lamps held alone.
    CDevices bus(s_.library_);
    bus.ListDevices();
    const auto rows = bus.Devices.begin();
    const auto end =
        rows + std::min<std::size_t>(bus.Devices.size(), static_cast<std::size_t>(bus.DeviceCount));
    if (!s_.everHeld_) {
        // No lamp was found at start: the first one plugged in becomes the main lamp, as at a
        // connect, so the window refreshes as after one.
        const bool lampListed = std::any_of(rows, end, [](const DeviceEntry& row) {
            return row.Description.compare(0, 8, "LED Lamp") == 0;
        });
        if (!lampListed) {
            // A device plugged in that this user may not open is said so at once.
            s_.noLamp_.store(WhyNoDevice(bus));
            startRetryMs_ = 0;
            return;
        }
        if (!Reached(now, nextStartTry_)) return;
        if (s_.session_.TakeLamps()) {
            s_.TimerStart.store(s_.clock_.TickCount());
            s_.Notify(CLampState::Report::Connected);
            s_.Notify(CLampState::Report::StateChanged);
            return;
        }
        s_.main_.Devices.CloseDevice();
        startRetryMs_ = NextRetry(startRetryMs_);
        nextStartTry_ = s_.clock_.TickCount() + startRetryMs_;
        return;
    }
    for (std::size_t i = 0; i < s_.lamps_.size(); ++i) {
        CLampState::LampLink& link = s_.links_[i];
        if (!link.lost || Attempting(i)) continue;
        const bool listed = std::any_of(
            rows, end, [&](const DeviceEntry& row) { return row.SerialNumber == link.serial; });
        if (!listed) {
            // Plugged in again, it is tried at once.
            link.retryMs = 0;
            link.nextTry = now;
            continue;
        }
        if (Reached(now, link.nextTry)) StartAttempt(i);
    }
}

void CLampReplug::StartAttempt(std::size_t index) {
    auto attempt = std::make_unique<Attempt>();
    Attempt* running = attempt.get();
    CLightInput* lamp = s_.lamps_[index];
    const std::string serial = s_.links_[index].serial;
    const std::int32_t runBaud = s_.LinkBaud.load();
    std::promise<void> joined;
    std::future<void> started = joined.get_future();
    running->thread =
        std::thread([this, running, lamp, serial, runBaud, joined = std::move(joined)]() mutable {
            s_.clock_.Join();
            joined.set_value();
            running->result =
                lamp->Connect(CLampState::kConnectBaud, runBaud, CLampState::kSendDelayMs, serial);
            if (running->result != CLightInput::kOk) lamp->Devices.CloseDevice();
            s_.clock_.Leave();
            running->done.store(true);
        });
    // The try keeps lamp time with the controller from its first moment.
    started.wait();
    attempts_[index] = std::move(attempt);
}

void CLampReplug::CollectAttempts() {
    std::vector<std::size_t> back;
    for (auto it = attempts_.begin(); it != attempts_.end();) {
        if (!it->second->done.load()) {
            ++it;
            continue;
        }
        if (it->second->thread.joinable()) it->second->thread.join();
        CLampState::LampLink& link = s_.links_[it->first];
        if (it->second->result == CLightInput::kOk) {
            back.push_back(it->first);
        } else {
            link.retryMs = NextRetry(link.retryMs);
            link.nextTry = s_.clock_.TickCount() + link.retryMs;
        }
        it = attempts_.erase(it);
    }
    Welcome(back);
}

void CLampReplug::JoinAttempts() {
    if (attempts_.empty()) return;
    // Waiting for a try is no sleep: the clock must not wait for this thread meanwhile.
    s_.clock_.Leave();
    for (auto& [index, attempt] : attempts_) {
        if (attempt->thread.joinable()) attempt->thread.join();
    }
    s_.clock_.Join();
}

void CLampReplug::Welcome(const std::vector<std::size_t>& indexes) {
    if (indexes.empty()) return;
    if (!s_.loaded_ && std::find(indexes.begin(), indexes.end(), 0) != indexes.end()) {
        // The main lamp went before the connect had read it: it is read now, as at a connect,
        // and what the window asked for meanwhile goes to it after.
        for (std::size_t i : indexes) {
            s_.main_.LogText("lamp back: " + s_.links_[i].serial);
            s_.links_[i].held = true;
            s_.links_[i].lost = false;
        }
        s_.loaded_ = s_.session_.LoadLamps();
        // As at a connect, the lamp counts as connected once its records are read.
        s_.mainLost_.store(false);
        s_.Connected.store(true);
        s_.Notify(CLampState::Report::StateChanged);
        return;
    }
    std::vector<CLightInput*> back;
    for (std::size_t i : indexes) back.push_back(s_.lamps_[i]);
    // The controller's state is what the window shows: a lamp that comes back takes it, and
    // the current record, rather than the other way round.
    const std::int32_t seconds = s_.TimeoutSeconds.load();
    const bool off = s_.LampOff.load();
    const bool backlight = s_.BacklightFlag.load();
    const int n = s_.CurrentSlot();
    const std::pair<CChannel, std::uint64_t> snapshot = s_.Snapshot(n);
    // The lamp's block still holds the channel it had when it went; the shut-down stores the
    // one it is on now.
    if (n > 0) {
        for (CLightInput* lamp : back) lamp->Info.SetLastChannel(static_cast<std::uint32_t>(n));
    }
    s_.ForEachLamp(back, [&](CLightInput& lamp) {
        lamp.Probe();
        lamp.SetRemote(0);
        lamp.SetPower(seconds, off, backlight);
        lamp.SelectChannel(n);
        CChannel sent = snapshot.first;
        const bool main = &lamp == &s_.main_;
        if (lamp.WriteChannel(sent) && main) s_.KeepEcho(n, snapshot.second, sent);
        if (main && n > 0) {
            if (const auto gamut = s_.main_.GetGamut(s_.CurrentRecord()))
                s_.SetGamutTriangle(*gamut);
        }
    });
    for (std::size_t i : indexes) {
        s_.main_.LogText("lamp back: " + s_.links_[i].serial);
        s_.links_[i].held = true;
        s_.links_[i].lost = false;
        if (i != 0) continue;
        {
            std::lock_guard lock(s_.resultsMutex_);
            s_.deviceName_ = s_.main_.Info.DeviceName();
        }
        s_.Connected.store(true);
        s_.mainLost_.store(false);
        // The main lamp now holds what was asked for while it was gone, but for edits of other
        // slots, which go out again.
        s_.ledger_.Lock().MainLampBack(n);
    }
    s_.Notify(CLampState::Report::StateChanged);
}
