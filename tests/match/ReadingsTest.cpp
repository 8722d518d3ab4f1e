#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "match/Readings.h"

namespace {

TEST(Readings, LinesOfInstrumentTools) {
    struct Case {
        std::string line;
        bool usable;
        LightReading reading;
    };
    const std::vector<Case> cases = {
        {"0.3127 0.3290 500", true, {0.3127, 0.3290, 500}},
        {"0,3127 0,3290 500,5\n", true, {0.3127, 0.3290, 500.5}},
        {"0.3127,0.3290,500", true, {0.3127, 0.3290, 500}},
        {"0.3127;0.3290;500 trailing words", true, {0.3127, 0.3290, 500}},
        {"\t0.45  0.41\t300\r\n", true, {0.45, 0.41, 300}},
        // Tristimulus values: Y is the lux.
        {"95.047 100 108.883", true, {0.3127266, 0.3290231, 100}},
        {"", false, {}},
        {"0.31 0.33", false, {}},
        {"0.31 0.33 lux", false, {}},
        {"0.31x 0.33 500", false, {}},
        {"ERROR no light", false, {}},
        {"0.31 0.33 -5", false, {}},
        {"0 0 0", false, {}},
        {"nan 0.33 500", false, {}},
        {"1e999 1 1", false, {}},
    };
    for (const Case& c : cases) {
        const std::optional<LightReading> r = ParseReadingLine(c.line);
        ASSERT_EQ(r.has_value(), c.usable) << c.line;
        if (!r) continue;
        EXPECT_NEAR(r->x, c.reading.x, 1e-6) << c.line;
        EXPECT_NEAR(r->y, c.reading.y, 1e-6) << c.line;
        EXPECT_NEAR(r->lux, c.reading.lux, 1e-9) << c.line;
    }
}

TEST(Readings, UvPrimeRoundTrip) {
    // D65: u' 0.1978, v' 0.4683.
    const UvPrime uv = XyToUvPrime(0.3127, 0.3290);
    EXPECT_NEAR(uv.u, 0.19784, 1e-5);
    EXPECT_NEAR(uv.v, 0.46832, 1e-5);
    double x = 0, y = 0;
    UvPrimeToXy(uv, x, y);
    EXPECT_NEAR(x, 0.3127, 1e-12);
    EXPECT_NEAR(y, 0.3290, 1e-12);
}

}  // namespace
