#include "sim/Simlight.h"

#include <algorithm>
#include <cmath>

#include "sim/Simlamp.h"

namespace {

using Triple = std::array<double, 3>;

// The tristimulus values of one lux of light of chromaticity (x, y).
Triple PerLux(double x, double y) {
    return {x / y, 1.0, (1.0 - x - y) / y};
}

// Solves [a b c]·w = t for w (columns a, b, c); false when they are collinear.
bool Solve(const Triple& a, const Triple& b, const Triple& c, const Triple& t, Triple& w) {
    auto det = [](const Triple& p, const Triple& q, const Triple& r) {
        return p[0] * (q[1] * r[2] - q[2] * r[1]) - q[0] * (p[1] * r[2] - p[2] * r[1]) +
               r[0] * (p[1] * q[2] - p[2] * q[1]);
    };
    const double d = det(a, b, c);
    if (d == 0.0) return false;
    w = {det(t, b, c) / d, det(a, t, c) / d, det(a, b, t) / d};
    return true;
}

}  // namespace

const std::array<SimLight::Emitter, 4>& SimLight::Stored() {
    // The corners the simulated lamp reports as its gamut, and a white near 5000 K.
    static const std::array<Emitter, 4> stored = {{{45219 / 65535.0, 19661 / 65535.0, 700.0},
                                                   {11141 / 65535.0, 45875 / 65535.0, 1400.0},
                                                   {9175 / 65535.0, 3277 / 65535.0, 200.0},
                                                   {0.3451, 0.3516, 1500.0}}};
    return stored;
}

SimLight::SimLight(const SimLightOptions& options) : options_(options), true_(Stored()) {
    std::mt19937 random(options.Seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    // Red dims most as it warms, blue least.
    constexpr std::array<double, 4> warmShare = {1.5, 1.0, 0.5, 0.8};
    for (std::size_t i = 0; i < 4; ++i) {
        true_[i].x += options.ChromaticityError * normal(random);
        true_[i].y += options.ChromaticityError * normal(random);
        flux_[i] = std::max(0.5, 1.0 + options.FluxError * normal(random));
        warmLoss_[i] = options.WarmupLoss * warmShare[i];
    }
}

std::array<double, 4> SimLight::Drive(const LightReading& target) const {
    const auto& e = Stored();
    std::array<double, 4> drive{};
    if (target.y <= 0.0 || target.lux <= 0.0) return drive;
    const Triple t = PerLux(target.x, target.y);
    const Triple want = {t[0] * target.lux, t[1] * target.lux, t[2] * target.lux};
    const Triple r = PerLux(e[0].x, e[0].y), g = PerLux(e[1].x, e[1].y), b = PerLux(e[2].x, e[2].y);
    const Triple w = PerLux(e[3].x, e[3].y);
    Triple forTarget{}, forWhite{};
    if (!Solve(r, g, b, want, forTarget) || !Solve(r, g, b, w, forWhite)) return drive;
    // White carries up to 80 % of the light at the white point, none from 0.2 away; never so
    // much that the rest would need a negative corner.
    const double away = std::hypot(target.x - e[3].x, target.y - e[3].y);
    double white = 0.8 * std::clamp(1.0 - away / 0.2, 0.0, 1.0) * target.lux;
    for (std::size_t i = 0; i < 3; ++i)
        if (forWhite[i] > 0.0) white = std::min(white, std::max(0.0, forTarget[i] / forWhite[i]));
    for (std::size_t i = 0; i < 3; ++i)
        drive[i] = std::max(0.0, forTarget[i] - white * forWhite[i]);
    drive[3] = white;
    // Beyond an emitter's reach every drive is scaled down alike, so the colour stays.
    double scale = 1.0;
    for (std::size_t i = 0; i < 4; ++i)
        if (drive[i] > e[i].MaxLux) scale = std::min(scale, e[i].MaxLux / drive[i]);
    for (double& d : drive) d *= scale;
    return drive;
}

LightReading SimLight::Light(const std::array<double, 4>& drive,
                             const std::array<Emitter, 4>& emitters,
                             const std::array<double, 4>& flux) const {
    Triple sum{};
    for (std::size_t i = 0; i < 4; ++i) {
        const Triple unit = PerLux(emitters[i].x, emitters[i].y);
        for (std::size_t c = 0; c < 3; ++c) sum[c] += drive[i] * flux[i] * unit[c];
    }
    const double total = sum[0] + sum[1] + sum[2];
    if (total <= 0.0) return {};
    return {sum[0] / total, sum[1] / total, sum[1]};
}

LightReading SimLight::Emit(const LightReading& target, double onSeconds) const {
    std::array<double, 4> flux = flux_;
    const double warm = 1.0 - std::exp(-std::max(0.0, onSeconds) / options_.WarmupSeconds);
    for (std::size_t i = 0; i < 4; ++i) flux[i] *= 1.0 - warmLoss_[i] * warm;
    return Light(Drive(target), true_, flux);
}

LightReading SimLight::Promised(const LightReading& target) const {
    return Light(Drive(target), Stored(), {1.0, 1.0, 1.0, 1.0});
}

SimMeter::SimMeter(Clock& clock, std::function<LightReading()> light, SimMeterOptions options)
    : clock_(clock), light_(std::move(light)), options_(options), random_(options.Seed) {}

ReadingNoise SimMeter::Noise() const {
    return {options_.ScatterXy, options_.ScatterLux};
}

void SimMeter::SetSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void SimMeter::SetStaleChance(double chance) {
    std::lock_guard lock(mutex_);
    options_.StaleChance = chance;
}

void SimMeter::SetFailChance(double chance) {
    std::lock_guard lock(mutex_);
    options_.FailChance = chance;
}

int SimMeter::ReadingsTaken() const {
    std::lock_guard lock(mutex_);
    return taken_;
}

std::chrono::milliseconds SimMeter::ReadLimit() const {
    return std::chrono::milliseconds(std::max(options_.TimeLimitMs, options_.IntegrationMs));
}

ReadingResult SimMeter::Read(std::stop_token stop) {
    constexpr std::uint32_t kSampleMs = 50;
    bool silent = false;
    {
        std::lock_guard lock(mutex_);
        silent = silent_;
        ++taken_;
    }
    if (silent) {
        for (std::uint32_t waited = 0; waited < options_.TimeLimitMs; waited += kSampleMs) {
            if (stop.stop_requested()) return {ReadingStatus::Cancelled, {}, {}};
            clock_.Sleep(kSampleMs);
        }
        return {ReadingStatus::Failed,
                {},
                "no reading within " + std::to_string(options_.TimeLimitMs / 1000) + " s"};
    }
    // The light averaged over the integration time, as tristimulus values.
    Triple sum{};
    int samples = 0;
    for (std::uint32_t at = 0;; at += kSampleMs) {
        if (stop.stop_requested()) return {ReadingStatus::Cancelled, {}, {}};
        const LightReading l = light_();
        if (l.y > 0.0) {
            const Triple t = PerLux(l.x, l.y);
            for (std::size_t c = 0; c < 3; ++c) sum[c] += t[c] * l.lux;
        }
        ++samples;
        if (at >= options_.IntegrationMs) break;
        clock_.Sleep(std::min(kSampleMs, options_.IntegrationMs - at));
    }
    const double total = sum[0] + sum[1] + sum[2];
    LightReading mean;
    if (total > 0.0) mean = {sum[0] / total, sum[1] / total, sum[1] / samples};

    std::lock_guard lock(mutex_);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    if (chance(random_) < options_.FailChance)
        return {ReadingStatus::Failed, {}, "the meter failed"};
    if (haveLast_ && chance(random_) < options_.StaleChance)
        return {ReadingStatus::Taken, last_, {}};
    LightReading reading = mean;
    reading.x += options_.ScatterXy * normal(random_);
    reading.y += options_.ScatterXy * normal(random_);
    reading.lux *= 1.0 + options_.ScatterLux * normal(random_);
    last_ = reading;
    haveLast_ = true;
    return {ReadingStatus::Taken, reading, {}};
}

LightReading LampTarget(const SimLampState& state) {
    const int current = std::clamp(state.CurrentChannel, 0, SimLampState::kSlotCount - 1);
    const auto& slot = state.Slots[static_cast<std::size_t>(current)];
    auto be16 = [&](std::size_t at) { return static_cast<double>(slot[at] << 8 | slot[at + 1]); };
    return {be16(14) / 65535.0, be16(16) / 65535.0, state.Off ? 0.0 : be16(18)};
}

std::unique_ptr<SimMeter> MeterOnLamp(std::shared_ptr<SimLamp> lamp, Clock& clock,
                                      const SimLightOptions& light, const SimMeterOptions& meter) {
    const std::uint32_t start = clock.TickCount();
    auto model = std::make_shared<SimLight>(light);
    return std::make_unique<SimMeter>(
        clock,
        [lamp = std::move(lamp), model, start, &clock] {
            const double on = static_cast<std::uint32_t>(clock.TickCount() - start) / 1000.0;
            return model->Emit(LampTarget(lamp->State()), on);
        },
        meter);
}
