#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>

#include "link/Clock.h"
#include "match/Readings.h"

class SimLamp;
struct SimLampState;

// How far a simulated lamp's light is from what its stored coefficients say.
struct SimLightOptions {
    // Draws this lamp's own deviations; lamps with different seeds differ as real ones do.
    std::uint32_t Seed = 1;
    // One sigma of each emitter's true x and y off its stored chromaticity.
    double ChromaticityError = 0.004;
    // One sigma of each emitter's true flux off its stored flux, as a fraction.
    double FluxError = 0.04;
    // The flux lost once warm, as a fraction (red loses the most), and how fast it goes.
    double WarmupLoss = 0.03;
    double WarmupSeconds = 600.0;
};

// The light a simulated lamp gives for a target (x, y, lux). Its firmware mixes a white and red,
// green and blue emitters from their stored chromaticities and fluxes: white carries most of
// the light near white, the rest is solved from the three corners, a colour outside them is
// clipped to their triangle, and a lux beyond the emitters' reach is scaled down to it keeping
// the colour. The light that comes out uses the emitters' true chromaticities and fluxes, a few
// percent off the stored ones, and loses a little flux as the lamp warms up.
class SimLight {
  public:
    explicit SimLight(const SimLightOptions& options = {});
    // The light at the meter for a target, after the lamp has been on for this long.
    LightReading Emit(const LightReading& target, double onSeconds) const;
    // What the stored coefficients promise: the same mix seen with the stored emitters.
    LightReading Promised(const LightReading& target) const;

    // Emitters in the order red, green, blue, white.
    struct Emitter {
        double x = 0.0;
        double y = 0.0;
        double MaxLux = 0.0;  // the flux at full drive, as lux at the meter
    };
    static const std::array<Emitter, 4>& Stored();

  private:
    // Each emitter's drive as lux at the meter by the stored coefficients, within its reach.
    std::array<double, 4> Drive(const LightReading& target) const;
    LightReading Light(const std::array<double, 4>& drive, const std::array<Emitter, 4>& emitters,
                       const std::array<double, 4>& flux) const;

    SimLightOptions options_;
    std::array<Emitter, 4> true_;
    std::array<double, 4> flux_{};  // true flux over stored flux
    std::array<double, 4> warmLoss_{};
};

// How a simulated meter reads.
struct SimMeterOptions {
    std::uint32_t Seed = 7;
    // One sigma of the scatter: in x and y, and in lux as a fraction.
    double ScatterXy = 0.00025;
    double ScatterLux = 0.002;
    // The meter averages the light over this long before it answers.
    std::uint32_t IntegrationMs = 200;
    // Now and then a reading repeats the one before (the meter did not trigger) or fails.
    double StaleChance = 0.0;
    double FailChance = 0.0;
    // A meter that gives nothing is given up on after this long.
    std::uint32_t TimeLimitMs = 10000;
};

// A spectrometer pointed at a simulated lamp: it reads the light the lamp gives now, averaged
// over its integration time, with scatter.
class SimMeter : public ReadingSource {
  public:
    // light: the light at the meter at this moment.
    SimMeter(Clock& clock, std::function<LightReading()> light, SimMeterOptions options = {});
    ReadingResult Read(std::stop_token stop) override;
    // On the meter's clock.
    std::chrono::milliseconds ReadLimit() const override;
    ReadingNoise Noise() const override;
    // A silent meter answers nothing; each reading ends at the time limit.
    void SetSilent(bool silent);
    void SetStaleChance(double chance);
    void SetFailChance(double chance);
    int ReadingsTaken() const;

  private:
    Clock& clock_;
    std::function<LightReading()> light_;
    SimMeterOptions options_;
    mutable std::mutex mutex_;
    std::mt19937 random_;
    bool silent_ = false;
    bool haveLast_ = false;
    LightReading last_;
    int taken_ = 0;
};

// The target a simulated lamp is giving light for: its current channel's x, y and lux, with no
// light while it is switched off.
LightReading LampTarget(const SimLampState& state);

// A simulated meter pointed at a simulated lamp of its own miscalibration, measuring the light
// of whatever the lamp is set to; the lamp counts as switched on when the meter is made.
std::unique_ptr<SimMeter> MeterOnLamp(std::shared_ptr<SimLamp> lamp, Clock& clock,
                                      const SimLightOptions& light = {},
                                      const SimMeterOptions& meter = {});
