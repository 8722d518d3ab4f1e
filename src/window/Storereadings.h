#pragma once
#include <array>
#include <optional>
#include <string>

#include "link/Clock.h"
#include "match/Readings.h"
#include "window/Measurement.h"

// Readings from the spectrometer application's store, the one "Load measurement" reads: after
// each target sent, the next reading is the first measurement written after the target went
// out. A write is seen by the store's write mark, so a steady light measured twice, which leaves
// the same values, is still a new reading; a store without a mark is seen by its values alone.
class StoreReadings : public ReadingSource {
  public:
    // waitMs: how long to wait for a new measurement. userTriggered: the application measures
    // only when the user asks it to, so the user is told to.
    StoreReadings(const MeasurementStore& store, Clock& clock, int waitMs, bool userTriggered);
    void Sent() override;
    ReadingResult Read(std::stop_token stop) override;
    std::chrono::milliseconds ReadLimit() const override;
    std::string Prompt() const override;

    static constexpr const char* kPrompt = "take a reading now";

  private:
    // How often the store is looked at while waiting.
    static constexpr std::uint32_t kLookMs = 100;

    // What tells one measurement from the next: the write mark and the values.
    struct Seen {
        std::string mark;
        std::array<std::optional<std::string>, 3> values;
        bool operator==(const Seen&) const = default;
    };
    Seen Look() const;

    const MeasurementStore& store_;
    Clock& clock_;
    int waitMs_;
    bool userTriggered_;
    Seen seen_;
};
