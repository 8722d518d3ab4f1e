#include "link/Ledger.h"

#include <algorithm>

namespace {
// Requests and outcomes kept for the callers that ask what became of theirs.
constexpr std::size_t kLedgerMemory = 4096;
}  // namespace

std::uint64_t RequestLedger::NoteRequest(Kind kind, std::int32_t slot) {
    const std::uint64_t generation = ++generation_;
    pending_[kind] = generation;
    if (kind == ResendRequest) resends_[slot] = generation;
    made_.push_back({generation, kind, slot});
    if (made_.size() > kLedgerMemory) {
        forgotten_ = made_.front().generation;
        made_.pop_front();
    }
    return generation;
}

std::uint64_t RequestLedger::LockedLedger::Select(std::int32_t slot, std::uint64_t version) {
    ledger_.selectSlot_ = slot;
    ledger_.selectVersion_ = version;
    return Ask(ChannelRequest);
}

bool RequestLedger::LockedLedger::Unsent(Kind kind) const {
    return kind == ResendRequest ? !ledger_.unsentSlots_.empty() : ledger_.unsent_[kind];
}

std::set<std::int32_t> RequestLedger::LockedLedger::OwedSlots() const {
    std::set<std::int32_t> slots = ledger_.unsentSlots_;
    for (const auto& [slot, generation] : ledger_.resends_) slots.insert(slot);
    return slots;
}

void RequestLedger::LockedLedger::RenewUnsent(std::int32_t currentSlot) {
    if (ledger_.unsent_[ChannelRequest] && ledger_.pending_[ChannelRequest] == 0) {
        ledger_.selectSlot_ = currentSlot;
        Ask(ChannelRequest);
    }
    MainLampBack(-1);
    ledger_.unsent_.fill(false);
}

void RequestLedger::LockedLedger::MainLampBack(std::int32_t givenSlot) {
    for (const std::int32_t slot : ledger_.unsentSlots_)
        if (slot != givenSlot && ledger_.resends_.count(slot) == 0) Resend(slot);
    ledger_.unsentSlots_.clear();
    ledger_.unsent_.fill(false);
}

std::uint64_t RequestLedger::Pending(Kind kind) const {
    std::lock_guard lock(mutex_);
    return pending_[kind];
}

RequestLedger::Selection RequestLedger::PendingSelection() const {
    std::lock_guard lock(mutex_);
    return {pending_[ChannelRequest], selectSlot_, selectVersion_};
}

void RequestLedger::Settle(Kind kind, std::uint64_t generation, RequestOutcome outcome,
                           std::int32_t slot, int othersTook) {
    if (generation == 0) return;
    std::lock_guard lock(mutex_);
    const bool unsent = outcome != RequestOutcome::MainLampAcked;
    if (kind == ResendRequest) {
        const auto it = resends_.find(slot);
        if (it != resends_.end() && it->second == generation) resends_.erase(it);
        std::uint64_t newest = 0;
        for (const auto& [s, g] : resends_) newest = std::max(newest, g);
        pending_[kind] = newest;
        if (unsent) {
            unsentSlots_.insert(slot);
        } else {
            unsentSlots_.erase(slot);
        }
    } else {
        if (pending_[kind] == generation) pending_[kind] = 0;
        unsent_[kind] = unsent;
    }
    served_.push_back({generation, kind, slot, outcome, othersTook});
    if (served_.size() > kLedgerMemory) served_.pop_front();
}

RequestOutcome RequestLedger::OutcomeFor(bool mainHeld, bool mainAnswered, int othersTook) {
    if (!mainHeld) return othersTook > 0 ? RequestOutcome::OthersOnly : RequestOutcome::NoLamp;
    return mainAnswered ? RequestOutcome::MainLampAcked : RequestOutcome::Failed;
}

std::uint64_t RequestLedger::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

std::optional<RequestOutcome> RequestLedger::OutcomeOf(std::uint64_t after, std::uint64_t upTo,
                                                       int* othersTook) const {
    std::lock_guard lock(mutex_);
    // A request no longer remembered cannot be vouched for: it counts as failed rather than
    // as sent.
    if (after < forgotten_ && after < upTo) return RequestOutcome::Failed;
    RequestOutcome worst = RequestOutcome::MainLampAcked;
    auto rank = [](RequestOutcome o) {
        switch (o) {
            case RequestOutcome::Failed:
                return 3;
            case RequestOutcome::NoLamp:
                return 2;
            case RequestOutcome::OthersOnly:
                return 1;
            case RequestOutcome::MainLampAcked:
                break;
        }
        return 0;
    };
    int fewest = -1;
    for (const Made& made : made_) {
        if (made.generation <= after || made.generation > upTo) continue;
        // The first time a request of its kind, this one or a later one, was served.
        const auto served = std::find_if(served_.begin(), served_.end(), [&](const Served& s) {
            return s.kind == made.kind && s.slot == made.slot && s.generation >= made.generation;
        });
        if (served == served_.end()) return std::nullopt;
        if (rank(served->outcome) > rank(worst)) worst = served->outcome;
        if (served->outcome == RequestOutcome::OthersOnly &&
            (fewest < 0 || served->othersTook < fewest))
            fewest = served->othersTook;
    }
    if (othersTook != nullptr) *othersTook = worst == RequestOutcome::OthersOnly ? fewest : 0;
    return worst;
}
