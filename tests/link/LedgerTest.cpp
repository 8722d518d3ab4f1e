#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "link/Ledger.h"

namespace {

using Outcome = std::optional<RequestOutcome>;

// The controller's tests see one request at a time; the bus asks about a run of requests of
// several kinds, made while passes serve earlier ones.
TEST(Ledger, ARunOfRequestsIsAnsweredOnceAllAreServedWithTheWorstOutcomeAmongThem) {
    RequestLedger ledger;
    const std::uint64_t power = ledger.Ask(RequestLedger::PowerRequest);
    const std::uint64_t select = ledger.Lock().Select(3, 7);
    // Made while a pass serves the first: that pass's outcome is not this one's.
    const std::uint64_t power2 = ledger.Ask(RequestLedger::PowerRequest);
    ledger.Settle(RequestLedger::PowerRequest, power, RequestOutcome::Failed);
    EXPECT_EQ(ledger.Pending(RequestLedger::PowerRequest), power2);
    EXPECT_EQ(ledger.OutcomeOf(0, power), Outcome(RequestOutcome::Failed));
    EXPECT_EQ(ledger.OutcomeOf(select, power2), std::nullopt);

    ledger.Settle(RequestLedger::PowerRequest, power2, RequestOutcome::MainLampAcked);
    EXPECT_EQ(ledger.Pending(RequestLedger::PowerRequest), 0u);
    // The channel choice still waits.
    EXPECT_EQ(ledger.OutcomeOf(0, power2), std::nullopt);
    ledger.Settle(RequestLedger::ChannelRequest, select, RequestOutcome::NoLamp);

    // Two writes before a pass: the first, overtaken, shares the second's outcome.
    const std::uint64_t info = ledger.Ask(RequestLedger::WriteInfoRequest);
    const std::uint64_t info2 = ledger.Ask(RequestLedger::WriteInfoRequest);
    ledger.Settle(RequestLedger::WriteInfoRequest, info2, RequestOutcome::MainLampAcked);

    struct Case {
        std::uint64_t after;
        std::uint64_t upTo;
        Outcome expected;
    };
    const Case cases[] = {
        {0, power2, RequestOutcome::Failed},      // Failed ranks above NoLamp
        {power, power2, RequestOutcome::NoLamp},  // NoLamp ranks above MainLampAcked
        {select, power2, RequestOutcome::MainLampAcked},
        {power2, info, RequestOutcome::MainLampAcked},
        {0, info2, RequestOutcome::Failed},
        {info2, info2, RequestOutcome::MainLampAcked},  // nothing asked about
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.after) + ".." + std::to_string(c.upTo));
        EXPECT_EQ(ledger.OutcomeOf(c.after, c.upTo), c.expected);
    }
    EXPECT_EQ(ledger.Generation(), info2);
}

// Edits of two slots are two requests: serving one slot's says nothing of the other's, and a
// slot whose edit the main lamp missed is owed until it is sent again.
TEST(Ledger, EachSlotsResendIsServedAndOwedOnItsOwn) {
    RequestLedger ledger;
    const std::uint64_t one = ledger.Lock().Resend(1);
    const std::uint64_t seven = ledger.Lock().Resend(7);
    const std::uint64_t sevenAgain = ledger.Lock().Resend(7);
    EXPECT_EQ(ledger.Pending(RequestLedger::ResendRequest), sevenAgain);
    ledger.Settle(RequestLedger::ResendRequest, sevenAgain, RequestOutcome::MainLampAcked, 7);
    EXPECT_EQ(ledger.OutcomeOf(0, one), std::nullopt);
    EXPECT_EQ(ledger.OutcomeOf(one, sevenAgain), Outcome(RequestOutcome::MainLampAcked));
    EXPECT_EQ(ledger.OutcomeOf(one, seven), Outcome(RequestOutcome::MainLampAcked));
    EXPECT_EQ(ledger.Pending(RequestLedger::ResendRequest), one);

    ledger.Settle(RequestLedger::ResendRequest, one, RequestOutcome::Failed, 1);
    EXPECT_EQ(ledger.Pending(RequestLedger::ResendRequest), 0u);
    EXPECT_EQ(ledger.OutcomeOf(0, sevenAgain), Outcome(RequestOutcome::Failed));
    EXPECT_EQ(ledger.Lock().OwedSlots(), std::set<std::int32_t>{1});
    // The main lamp came back holding slot 7: slot 1's edit is asked for again.
    ledger.Lock().MainLampBack(7);
    const RequestLedger::ChannelWork work = ledger.PendingChannelWork([] { return 7; });
    ASSERT_EQ(work.resends.size(), 1u);
    EXPECT_EQ(work.resends[0].first, 1);
    EXPECT_EQ(work.target, 7);
}

// A caller that waited through thousands of other requests cannot be told its own was sent:
// the ledger no longer knows.
TEST(Ledger, ARequestTooOldToBeRememberedIsNotAnsweredAsSent) {
    RequestLedger ledger;
    const std::uint64_t first = ledger.Ask(RequestLedger::PowerRequest);
    // Served and answered: only the ledger's forgetting can make it Failed below.
    ledger.Settle(RequestLedger::PowerRequest, first, RequestOutcome::MainLampAcked);
    std::uint64_t last = first;
    for (int i = 0; i < 5000; ++i) {
        last = ledger.Ask(RequestLedger::ResendRequest);
        ledger.Settle(RequestLedger::ResendRequest, last, RequestOutcome::MainLampAcked);
    }
    EXPECT_EQ(ledger.OutcomeOf(0, first), Outcome(RequestOutcome::Failed));
    EXPECT_EQ(ledger.OutcomeOf(0, last), Outcome(RequestOutcome::Failed));
    // Recent ones are still known.
    EXPECT_EQ(ledger.OutcomeOf(last - 1, last), Outcome(RequestOutcome::MainLampAcked));
}

}  // namespace
