#pragma once
#include <array>
#include <optional>
#include <string>

#include "link/Clock.h"
#include "match/Readings.h"
#include "window/Measurement.h"

// Readings from the spectrometer application's store, the one "Load measurement" reads: after
// each target sent, the next reading is the first measurement that differs from what the store
// held when the target went out.
class StoreReadings : public ReadingSource {
  public:
    // waitMs: how long to wait for a new measurement. userTriggered: the application measures
    // only when the user asks it to, so the user is told to.
    StoreReadings(const MeasurementStore& store, Clock& clock, int waitMs, bool userTriggered);
    void Sent() override;
    ReadingResult Read(std::stop_token stop) override;
    std::string Prompt() const override;

    static constexpr const char* kPrompt = "take a reading now";

  private:
    using Values = std::array<std::optional<std::string>, 3>;
    Values Look() const;

    const MeasurementStore& store_;
    Clock& clock_;
    int waitMs_;
    bool userTriggered_;
    Values seen_;
};
