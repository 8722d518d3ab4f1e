#include <gtest/gtest.h>

#include "colour/Colorspro.h"
#include "link/Light.h"
#include "match/Match.h"
#include "settings/Channel.h"
#include "sim/Fakeclock.h"
#include "sim/Simlamp.h"
#include "sim/Simlight.h"

namespace {

// The light model promises what the stored coefficients say, delivers something a few
// percent off, clips at the gamut and scales down beyond the lamp's reach.
TEST(Simlight, LightDiffersFromTheTargetAsARealLampsDoes) {
    const SimLight lamp(SimLightOptions{3});
    const LightReading white{0.3127, 0.3290, 500};
    const LightReading promised = lamp.Promised(white);
    EXPECT_NEAR(promised.x, white.x, 1e-9);
    EXPECT_NEAR(promised.lux, white.lux, 1e-6);
    const LightReading cold = lamp.Emit(white, 0.0);
    EXPECT_GT(UvDistance(cold, white), 0.001);
    // Warm, it gives less light than cold.
    EXPECT_LT(lamp.Emit(white, 3600.0).lux, cold.lux);
    // Beyond reach: the colour stays, the lux does not follow.
    const LightReading bright = lamp.Promised({0.3127, 0.3290, 50000});
    EXPECT_NEAR(bright.x, white.x, 1e-9);
    EXPECT_LT(bright.lux, 5000);
    // Outside the triangle: clipped onto it.
    const LightReading outside = lamp.Promised({0.05, 0.85, 200});
    const auto& e = SimLight::Stored();
    auto at = [](double x, double y) {
        return Chromaticity{static_cast<float>(x), static_cast<float>(y)};
    };
    EXPECT_TRUE(InsideTriangle(at(outside.x, outside.y), at(e[0].x, e[0].y), at(e[1].x, e[1].y),
                               at(e[2].x, e[2].y)));
}

TEST(Simlight, LoopMatchesASimulatedLampThroughItsLink) {
    FakeClock clock{0};
    SimBus bus;
    SimLampOptions options;
    options.StatusIntervalMs = 0;
    const std::vector<SimLampEntry> lamps = AddSimLamps(bus, 1, clock, options);
    CLightInput lamp(bus, clock, "");
    ASSERT_EQ(lamp.Connect(19200, 38400, 5), CLightInput::kOk);
    SimMeterOptions meterOptions;
    meterOptions.StaleChance = 0.05;
    const auto meter = MeterOnLamp(lamps[0].Lamp, clock, SimLightOptions{5}, meterOptions);
    // The lamp's current channel is 1: each step rewrites it.
    MatchLoop loop(*meter, [&](const LightReading& t) {
        CChannel record(1);
        record.ColorValues[7] = static_cast<std::int32_t>(t.x * 65535);
        record.ColorValues[8] = static_cast<std::int32_t>(t.y * 65535);
        record.ColorValues[9] = static_cast<std::int32_t>(t.lux);
        record.ColorValues[14] = 65535;
        record.ModeFlags = 1;
        return lamp.WriteChannel(record) ? SendResult{}
                                         : SendResult{SendRefusal::NoAnswer, "no answer"};
    });
    const LightReading target{0.40, 0.39, 700};
    const MatchResult r = loop.Run(target);
    EXPECT_TRUE(r.Outcome == MatchOutcome::Matched || r.Outcome == MatchOutcome::WithinNoise)
        << DescribeMatch(r);
    const LightReading onLamp = LampTarget(lamps[0].Lamp->State());
    EXPECT_NEAR(onLamp.x, r.Sent.x, 2e-5);
    EXPECT_NEAR(onLamp.lux, r.Sent.lux, 0.5);
    const LightReading light =
        SimLight(SimLightOptions{5}).Emit(onLamp, clock.TickCount() / 1000.0);
    EXPECT_LT(UvDistance(light, target), 0.0015);
}

}  // namespace
