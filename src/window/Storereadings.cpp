#include "window/Storereadings.h"

StoreReadings::StoreReadings(const MeasurementStore& store, Clock& clock, int waitMs,
                             bool userTriggered)
    : store_(store), clock_(clock), waitMs_(waitMs), userTriggered_(userTriggered) {
    seen_ = Look();
}

StoreReadings::Seen StoreReadings::Look() const {
    // A write that leaves no measurement is no reading.
    if (!store_.Exists()) return {};
    // The values are the ones of the mark only when no write came between: a write seen half
    // would be taken for a second measurement at the next look.
    Seen seen;
    for (int tries = 0; tries < 3; ++tries) {
        seen.mark = store_.WriteMark();
        seen.values = {store_.Value("x2"), store_.Value("y2"), store_.Value("yy2")};
        if (store_.WriteMark() == seen.mark) break;
    }
    return seen;
}

void StoreReadings::Sent() {
    seen_ = Look();
}

std::chrono::milliseconds StoreReadings::ReadLimit() const {
    return std::chrono::milliseconds(waitMs_ + kLookMs);
}

std::string StoreReadings::Prompt() const {
    return userTriggered_ ? kPrompt : "";
}

ReadingResult StoreReadings::Read(std::stop_token stop) {
    for (int waited = 0;; waited += static_cast<int>(kLookMs)) {
        if (stop.stop_requested()) return {ReadingStatus::Cancelled, {}, {}};
        const Seen now = Look();
        if (now != seen_) {
            seen_ = now;
            const std::optional<Measurement> m = ReadMeasurement(store_);
            const std::optional<std::string>& luxText = now.values[2];
            const std::optional<double> lux = luxText ? MeasuredNumber(*luxText) : std::nullopt;
            if (!m || !lux || *lux < 0.0)
                return {ReadingStatus::Failed,
                        {},
                        "the new measurement is unusable: " +
                            (m ? std::string("value yy2 is missing or not a number")
                               : MeasurementProblem(store_))};
            return {ReadingStatus::Taken, {m->X, m->Y, *lux}, {}};
        }
        if (waited >= waitMs_)
            return {ReadingStatus::Failed,
                    {},
                    "no new measurement within " + std::to_string(waitMs_ / 1000) + " s"};
        clock_.Sleep(kLookMs);
    }
}
