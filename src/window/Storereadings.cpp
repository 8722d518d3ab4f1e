#include "window/Storereadings.h"

StoreReadings::StoreReadings(const MeasurementStore& store, Clock& clock, int waitMs,
                             bool userTriggered)
    : store_(store), clock_(clock), waitMs_(waitMs), userTriggered_(userTriggered) {
    seen_ = Look();
}

StoreReadings::Values StoreReadings::Look() const {
    if (!store_.Exists()) return {};
    return {store_.Value("x2"), store_.Value("y2"), store_.Value("yy2")};
}

void StoreReadings::Sent() { seen_ = Look(); }

std::string StoreReadings::Prompt() const { return userTriggered_ ? kPrompt : ""; }

ReadingResult StoreReadings::Read(std::stop_token stop) {
    constexpr std::uint32_t kLookMs = 100;
    for (int waited = 0;; waited += static_cast<int>(kLookMs)) {
        if (stop.stop_requested()) return {ReadingStatus::Cancelled, {}, {}};
        const Values now = Look();
        if (now != seen_) {
            seen_ = now;
            const std::optional<Measurement> m = ReadMeasurement(store_);
            const std::optional<double> lux = now[2] ? MeasuredNumber(*now[2]) : std::nullopt;
            if (!m || !lux || *lux < 0.0)
                return {ReadingStatus::Failed, {},
                        "the new measurement is unusable: " +
                            (m ? std::string("value yy2 is missing or not a number")
                               : MeasurementProblem(store_))};
            return {ReadingStatus::Taken, {m->X, m->Y, *lux}, {}};
        }
        if (waited >= waitMs_)
            return {ReadingStatus::Failed, {},
                    "no new measurement within " + std::to_string(waitMs_ / 1000) + " s"};
        clock_.Sleep(kLookMs);
    }
}
