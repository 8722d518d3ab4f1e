#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

// What became of a request the controller served: the main lamp answered it, no lamp was
// there to take it, or the main lamp was sent it and did not answer; OthersOnly: the main lamp
// was gone, and other lamps held took it.
enum class RequestOutcome { MainLampAcked, NoLamp, Failed, OthersOnly };

// The controller's requests from the window, in one place under one lock. Every request is
// numbered as it is made; a request of a kind stays pending under the number of its latest
// making until a pass serves it, so the latest value wins and a pass clears only what it took.
// Each served request keeps its outcome for the window and the bus to ask about.
//
// The lock is taken alone or inside the controller's records lock (never the other way round),
// and never held around lamp traffic.
class RequestLedger {
  public:
    enum Kind : int {
        ChannelRequest,    // select a slot on the lamps
        ResendRequest,     // send a slot's record again, the slot the window edited
        PowerRequest,      // send the power state, sleep timer and backlight flag
        WriteInfoRequest,  // write the main lamp's information block to every lamp
        FollowRequest,     // write a slot's record alone: a point of a drag the lamp follows
        kKinds
    };

    // The slot a pending channel request selects, and that slot's edit count when it was
    // chosen: the lamp's copy of the record replaces the controller's only if the window has
    // not edited it since. Generation 0 when no channel request is pending.
    struct Selection {
        std::uint64_t generation = 0;
        std::int32_t slot = -1;
        std::uint64_t version = 0;
    };

    // What a channel pass has to do: write every slot with an edit not yet sent (slot and the
    // number of its latest resend request), then select the chosen slot when one is pending.
    // `target` is the slot the lamps end the pass on: the chosen one, else the current one.
    struct ChannelWork {
        Selection selection;
        std::vector<std::pair<std::int32_t, std::uint64_t>> resends;
        std::int32_t target = -1;
        bool Empty() const { return selection.generation == 0 && resends.empty(); }
    };

    // The latest point of a drag waiting to be written: its number and the slot it was made
    // in. Generation 0 when none waits.
    struct Follow {
        std::uint64_t generation = 0;
        std::int32_t slot = -1;
    };

    // The ledger's lock, held for as long as this object lives: what the caller changes of its
    // own state while holding it goes together with the requests made through it.
    class LockedLedger {
      public:
        explicit LockedLedger(RequestLedger& ledger) : ledger_(ledger), lock_(ledger.mutex_) {}
        LockedLedger(const LockedLedger&) = delete;
        LockedLedger& operator=(const LockedLedger&) = delete;

        // Notes a request of this kind and returns its number.
        std::uint64_t Ask(Kind kind) { return ledger_.NoteRequest(kind); }
        // A channel request for `slot`, whose record had edit count `version`.
        std::uint64_t Select(std::int32_t slot, std::uint64_t version);
        // A request to send slot's record again; it stays with that slot whatever is chosen
        // after it.
        std::uint64_t Resend(std::int32_t slot) { return ledger_.NoteRequest(ResendRequest, slot); }
        // A drag's point made in `slot`; it replaces one not yet taken.
        std::uint64_t Follow(std::int32_t slot) {
            ledger_.followSlot_ = slot;
            return ledger_.NoteRequest(FollowRequest);
        }
        // The number of the pending request of this kind, 0 when none is.
        std::uint64_t Pending(Kind kind) const { return ledger_.pending_[kind]; }
        // The last request of this kind was served without the main lamp's answer (for
        // resends: that of any slot).
        bool Unsent(Kind kind) const;
        // Slots whose edits the main lamp may not hold: a resend pending, or the last one
        // served without its answer.
        std::set<std::int32_t> OwedSlots() const;
        // After a connect: a channel choice or resend the main lamp did not answer is made
        // again (a choice for `currentSlot`), so the lamp takes it rather than the controller
        // taking the lamp's state.
        void RenewUnsent(std::int32_t currentSlot);
        // The main lamp came back and was given the state and the record of `givenSlot`: it
        // holds what it missed of those, and the other slots' edits it missed are sent again.
        void MainLampBack(std::int32_t givenSlot);

      private:
        RequestLedger& ledger_;
        std::lock_guard<std::mutex> lock_;
    };

    [[nodiscard]] LockedLedger Lock() { return LockedLedger(*this); }

    // The same as through a LockedLedger, each under the lock for itself alone.
    std::uint64_t Ask(Kind kind) { return Lock().Ask(kind); }
    std::uint64_t Pending(Kind kind) const;
    Selection PendingSelection() const;
    Follow PendingFollow() const {
        std::lock_guard lock(mutex_);
        return {pending_[FollowRequest], followSlot_};
    }
    // The channel work pending, taken in one look; `currentSlot()` reads the current slot
    // under the lock.
    template <typename CurrentSlot>
    ChannelWork PendingChannelWork(CurrentSlot&& currentSlot) const {
        std::lock_guard lock(mutex_);
        ChannelWork work;
        work.selection = {pending_[ChannelRequest], selectSlot_, selectVersion_};
        work.resends.assign(resends_.begin(), resends_.end());
        work.target = work.selection.generation != 0 ? selectSlot_ : currentSlot();
        return work;
    }
    // The slot the next channel pass ends on: the one chosen, or the current one when its
    // record is to be sent again, else a slot with an edit to send; -1 when nothing is pending.
    template <typename CurrentSlot>
    std::int32_t PendingSlot(CurrentSlot&& currentSlot) const {
        std::lock_guard lock(mutex_);
        if (pending_[ChannelRequest] != 0) return selectSlot_;
        if (resends_.empty()) return -1;
        const std::int32_t current = currentSlot();
        return resends_.count(current) != 0 ? current : resends_.begin()->first;
    }

    // The pass served the request numbered `generation` (for a resend, of `slot`): it is
    // cleared unless a newer one of its kind came meanwhile, and its outcome is kept for
    // whoever asks.
    // `othersTook`: how many lamps besides the main lamp answered it.
    void Settle(Kind kind, std::uint64_t generation, RequestOutcome outcome, std::int32_t slot = -1,
                int othersTook = 0);
    // The outcome of a lamp operation the main lamp took part in, or, while it is gone, the
    // `othersTook` other lamps.
    static RequestOutcome OutcomeFor(bool mainHeld, bool mainAnswered, int othersTook = 0);

    // The number of the latest request made.
    std::uint64_t Generation() const;
    // What became of the requests numbered after `after` up to `upTo`: nothing while one of
    // them waits for the controller, else the worst outcome among them (Failed before NoLamp
    // before OthersOnly before MainLampAcked). A request overtaken by a later one of its kind
    // shares that one's outcome; one too old to be remembered is Failed. For OthersOnly, othersTook
    // (when given) receives the fewest other lamps that took one of them.
    std::optional<RequestOutcome> OutcomeOf(std::uint64_t after, std::uint64_t upTo,
                                            int* othersTook = nullptr) const;

  private:
    // Numbers and notes a request; the caller holds the lock. `slot` tells resends apart, -1
    // for the other kinds.
    std::uint64_t NoteRequest(Kind kind, std::int32_t slot = -1);

    mutable std::mutex mutex_;
    std::uint64_t generation_ = 0;
    std::array<std::uint64_t, kKinds> pending_{};
    std::int32_t selectSlot_ = -1;
    std::uint64_t selectVersion_ = 0;
    std::int32_t followSlot_ = -1;
    // The resends pending: slot and the number of its latest request. pending_ holds the
    // newest of them for the kind.
    std::map<std::int32_t, std::uint64_t> resends_;
    // Served without the main lamp's answer, so it may not have it yet; for resends, the slots.
    std::array<bool, kKinds> unsent_{};
    std::set<std::int32_t> unsentSlots_;
    struct Made {
        std::uint64_t generation;
        Kind kind;
        std::int32_t slot;
    };
    struct Served {
        std::uint64_t generation;
        Kind kind;
        std::int32_t slot;
        RequestOutcome outcome;
        int othersTook;
    };
    // Recent requests and what became of them, oldest first; old entries are dropped.
    std::deque<Made> made_;
    // The number of the newest request dropped from made_.
    std::uint64_t forgotten_ = 0;
    std::deque<Served> served_;
};
