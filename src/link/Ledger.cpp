#include "link/Ledger.h"

#include <algorithm>

namespace {
// Requests and outcomes kept for the callers that ask what became of theirs.
constexpr std::size_t kLedgerMemory = 4096;
}  // namespace

std::uint64_t RequestLedger::AskLocked(Kind kind) {
    const std::uint64_t generation = ++generation_;
    pending_[kind] = generation;
    made_.push_back({generation, kind});
    if (made_.size() > kLedgerMemory) {
        forgotten_ = made_.front().generation;
        made_.pop_front();
    }
    return generation;
}

std::uint64_t RequestLedger::Hold::Select(std::int32_t slot, std::uint64_t version) {
    ledger_.selectSlot_ = slot;
    ledger_.selectVersion_ = version;
    return Ask(ChannelRequest);
}

void RequestLedger::Hold::RenewUnsent(std::int32_t currentSlot) {
    if (ledger_.unsent_[ChannelRequest] && ledger_.pending_[ChannelRequest] == 0) {
        ledger_.selectSlot_ = currentSlot;
        Ask(ChannelRequest);
    }
    if (ledger_.unsent_[ResendRequest] && ledger_.pending_[ResendRequest] == 0) Ask(ResendRequest);
    ForgetUnsent();
}

std::uint64_t RequestLedger::Pending(Kind kind) const {
    std::lock_guard lock(mutex_);
    return pending_[kind];
}

RequestLedger::Selection RequestLedger::PendingSelection() const {
    std::lock_guard lock(mutex_);
    return {pending_[ChannelRequest], selectSlot_, selectVersion_};
}

void RequestLedger::Settle(Kind kind, std::uint64_t generation, RequestOutcome outcome) {
    if (generation == 0) return;
    std::lock_guard lock(mutex_);
    if (pending_[kind] == generation) pending_[kind] = 0;
    unsent_[kind] = outcome != RequestOutcome::Sent;
    served_.push_back({generation, kind, outcome});
    if (served_.size() > kLedgerMemory) served_.pop_front();
}

RequestOutcome RequestLedger::OutcomeFor(bool mainHeld, bool mainAnswered) {
    if (!mainHeld) return RequestOutcome::NoLamp;
    return mainAnswered ? RequestOutcome::Sent : RequestOutcome::Failed;
}

std::uint64_t RequestLedger::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

std::optional<RequestOutcome> RequestLedger::OutcomeOf(std::uint64_t after,
                                                       std::uint64_t upTo) const {
    std::lock_guard lock(mutex_);
    // A request no longer remembered cannot be vouched for: it counts as failed rather than
    // as sent.
    if (after < forgotten_ && after < upTo) return RequestOutcome::Failed;
    RequestOutcome worst = RequestOutcome::Sent;
    auto rank = [](RequestOutcome o) {
        return o == RequestOutcome::Failed ? 2 : o == RequestOutcome::NoLamp ? 1 : 0;
    };
    for (const Made& made : made_) {
        if (made.generation <= after || made.generation > upTo) continue;
        // The first time a request of its kind, this one or a later one, was served.
        const auto served = std::find_if(served_.begin(), served_.end(), [&](const Served& s) {
            return s.kind == made.kind && s.generation >= made.generation;
        });
        if (served == served_.end()) return std::nullopt;
        if (rank(served->outcome) > rank(worst)) worst = served->outcome;
    }
    return worst;
}
