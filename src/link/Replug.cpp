// The lamps that leave the bus or stop answering, and how they are taken back: the bus is looked
// at now and then, and a lamp seen again is tried on a thread of its own so that a silent one
// costs the passes nothing.
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

void CLampState::NoteLostLamps() {
    bool mainGone = false;
    for (std::size_t i = 0; i < lamps_.size(); ++i) {
        LampLink& link = links_[i];
        if (!link.held || !lamps_[i]->Lost()) continue;
        main_.LogText("lamp lost: " + link.serial);
        lamps_[i]->Devices.CloseDevice();
        link.held = false;
        link.lost = true;
        link.retryMs = 0;
        link.nextTry = clock_.TickCount() + kLookEveryMs;
        if (i == 0) mainGone = true;
    }
    if (!mainGone) return;
    Connected.store(false);
    mainLost_.store(true);
    Notify(Report::StateChanged);
}

void CLampState::LookForLamps() {
    CollectAttempts();
    const bool anyLost =
        std::any_of(links_.begin(), links_.end(), [](const LampLink& link) { return link.lost; });
    if ((everHeld_ && !anyLost) || ConnectRequest.load()) return;
    const std::uint32_t now = clock_.TickCount();
    if (!Reached(now, nextLook_)) return;
    nextLook_ = now + kLookEveryMs;

    // A listing of its own leaves the ports of the lamps held alone.
    CDevices bus(library_);
    bus.ListDevices();
    const auto rows = bus.Devices.begin();
    const auto end =
        rows + std::min<std::size_t>(bus.Devices.size(), static_cast<std::size_t>(bus.DeviceCount));
    if (!everHeld_) {
        // No lamp was found at start: the first one plugged in becomes the main lamp, as at a
        // connect, so the window refreshes as after one.
        const bool lampListed = std::any_of(rows, end, [](const DeviceEntry& row) {
            return row.Description.compare(0, 8, "LED Lamp") == 0;
        });
        if (!lampListed) {
            // A device plugged in that this user may not open is said so at once.
            noLamp_.store(WhyNoDevice(bus));
            startRetryMs_ = 0;
            return;
        }
        if (!Reached(now, nextStartTry_)) return;
        if (TakeLamps()) {
            TimerStart.store(clock_.TickCount());
            Notify(Report::Connected);
            Notify(Report::StateChanged);
            return;
        }
        main_.Devices.CloseDevice();
        startRetryMs_ = NextRetry(startRetryMs_);
        nextStartTry_ = clock_.TickCount() + startRetryMs_;
        return;
    }
    for (std::size_t i = 0; i < lamps_.size(); ++i) {
        LampLink& link = links_[i];
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

void CLampState::StartAttempt(std::size_t index) {
    auto attempt = std::make_unique<Attempt>();
    Attempt* running = attempt.get();
    CLightInput* lamp = lamps_[index];
    const std::string serial = links_[index].serial;
    const std::int32_t runBaud = LinkBaud.load();
    std::promise<void> joined;
    std::future<void> started = joined.get_future();
    running->thread =
        std::thread([this, running, lamp, serial, runBaud, joined = std::move(joined)]() mutable {
            clock_.Join();
            joined.set_value();
            running->result = lamp->Connect(kConnectBaud, runBaud, kSendDelayMs, serial);
            if (running->result != CLightInput::kOk) lamp->Devices.CloseDevice();
            clock_.Leave();
            running->done.store(true);
        });
    // The try keeps lamp time with the controller from its first moment.
    started.wait();
    attempts_[index] = std::move(attempt);
}

void CLampState::CollectAttempts() {
    std::vector<std::size_t> back;
    for (auto it = attempts_.begin(); it != attempts_.end();) {
        if (!it->second->done.load()) {
            ++it;
            continue;
        }
        if (it->second->thread.joinable()) it->second->thread.join();
        LampLink& link = links_[it->first];
        if (it->second->result == CLightInput::kOk) {
            back.push_back(it->first);
        } else {
            link.retryMs = NextRetry(link.retryMs);
            link.nextTry = clock_.TickCount() + link.retryMs;
        }
        it = attempts_.erase(it);
    }
    Welcome(back);
}

void CLampState::JoinAttempts() {
    if (attempts_.empty()) return;
    // Waiting for a try is no sleep: the clock must not wait for this thread meanwhile.
    clock_.Leave();
    for (auto& [index, attempt] : attempts_) {
        if (attempt->thread.joinable()) attempt->thread.join();
    }
    clock_.Join();
}

void CLampState::Welcome(const std::vector<std::size_t>& indexes) {
    if (indexes.empty()) return;
    if (!loaded_ && std::find(indexes.begin(), indexes.end(), 0) != indexes.end()) {
        // The main lamp went before the connect had read it: it is read now, as at a connect,
        // and what the window asked for meanwhile goes to it after.
        for (std::size_t i : indexes) {
            main_.LogText("lamp back: " + links_[i].serial);
            links_[i].held = true;
            links_[i].lost = false;
        }
        loaded_ = LoadLamps();
        // As at a connect, the lamp counts as connected once its records are read.
        mainLost_.store(false);
        Connected.store(true);
        Notify(Report::StateChanged);
        return;
    }
    std::vector<CLightInput*> back;
    for (std::size_t i : indexes) back.push_back(lamps_[i]);
    // The controller's state is what the window shows: a lamp that comes back takes it, and
    // the current record, rather than the other way round.
    const std::int32_t seconds = TimeoutSeconds.load();
    const bool off = LampOff.load();
    const bool backlight = BacklightFlag.load();
    const int n = CurrentSlot();
    const std::pair<CChannel, std::uint64_t> snapshot = Snapshot(n);
    // The lamp's block still holds the channel it had when it went; the shut-down stores the
    // one it is on now.
    if (n > 0) {
        for (CLightInput* lamp : back) lamp->Info.SetLastChannel(static_cast<std::uint32_t>(n));
    }
    ForEachLamp(back, [&](CLightInput& lamp) {
        lamp.Probe();
        lamp.SetRemote(0);
        lamp.SetPower(seconds, off, backlight);
        lamp.SelectChannel(n);
        CChannel sent = snapshot.first;
        const bool main = &lamp == &main_;
        if (lamp.WriteChannel(sent) && main) KeepEcho(n, snapshot.second, sent);
        if (main && n > 0) {
            if (const auto gamut = main_.GetGamut(CurrentRecord())) SetGamutTriangle(*gamut);
        }
    });
    for (std::size_t i : indexes) {
        main_.LogText("lamp back: " + links_[i].serial);
        links_[i].held = true;
        links_[i].lost = false;
        if (i != 0) continue;
        {
            std::lock_guard lock(resultsMutex_);
            deviceName_ = main_.Info.DeviceName();
        }
        Connected.store(true);
        mainLost_.store(false);
        // The main lamp now holds what was asked for while it was gone, but for edits of other
        // slots, which go out again.
        ledger_.Lock().MainLampBack(n);
    }
    Notify(Report::StateChanged);
}
