#include "link/Lamp.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>

#include "link/Diagnostics.h"
#include "link/Light.h"

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
        std::lock_guard lock(pendingInfoMutex_);
        pendingNames_ = std::move(names);
    }
    RequestInfoWrite();
}

void CLampState::ApplyPendingNames() {
    std::vector<std::string> names;
    {
        std::lock_guard lock(pendingInfoMutex_);
        names.swap(pendingNames_);
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        main_.Info.SetChannelName(static_cast<int>(i), names[i]);
}

std::uint64_t CLampState::StoreCoefficients(const Coefficients::Table& table) {
    std::uint64_t number = 0;
    {
        // As with the names, the controller thread writes the table into the lamp's area.
        std::lock_guard lock(pendingInfoMutex_);
        pendingCoefficients_ = table;
        number = pendingTable_ = ++lastTable_;
    }
    RequestInfoWrite();
    return number;
}

bool CLampState::WithdrawCoefficients(std::uint64_t table) {
    std::lock_guard lock(pendingInfoMutex_);
    if (!pendingCoefficients_ || pendingTable_ != table) return false;
    pendingCoefficients_.reset();
    pendingTable_ = 0;
    return true;
}

std::uint64_t CLampState::ApplyPendingCoefficients() {
    std::optional<Coefficients::Table> table;
    std::uint64_t number = 0;
    {
        std::lock_guard lock(pendingInfoMutex_);
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

void CLampState::NotifyCoefficientsProgress(std::uint64_t table, int done, int total) {
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->coefficientsProgress = Mailbox::Progress{table, done, total};
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
    std::optional<Mailbox::Progress> progress;
    CLampState* owner = nullptr;
    {
        std::lock_guard lock(mailbox->mutex);
        mailbox->posted = false;
        owner = mailbox->owner;
        connected = std::exchange(mailbox->connected, false);
        changed = std::exchange(mailbox->changed, false);
        status = std::exchange(mailbox->status, false);
        coefficients.swap(mailbox->coefficients);
        progress = std::exchange(mailbox->coefficientsProgress, std::nullopt);
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
    if (progress && owner->OnCoefficientsProgress)
        owner->OnCoefficientsProgress(progress->table, progress->done, progress->total);
    for (const auto& [table, result] : coefficients)
        if (owner->OnCoefficientsWritten) owner->OnCoefficientsWritten(table, result);
}
