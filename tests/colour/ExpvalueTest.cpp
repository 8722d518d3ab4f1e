#include <gtest/gtest.h>

#include <cmath>

#include "colour/Expvalue.h"

namespace {

TEST(Exposure, TableFollowsTheFormula) {
    EXPECT_EQ(ExposureTable[0], 0);
    for (int p = 1; p <= 100; ++p) {
        const int expected =
            p == 97 ? 60305 : static_cast<int>(std::lround(65535.0 * std::exp2((p - 100) / 25.0)));
        EXPECT_EQ(ExposureTable[static_cast<std::size_t>(p)], expected) << p;
    }
    EXPECT_EQ(ExposureTable[25], 8192);
    EXPECT_EQ(ExposureTable[50], 16384);
    EXPECT_EQ(ExposureTable[75], 32768);
}

TEST(Exposure, ConversionExamples) {
    struct Case {
        const char* what;
        int got;
        int expected;
    };
    const Case cases[] = {
        {"PositionToLevel(0)", PositionToLevel(0), 0},
        {"PositionToLevel(10)", PositionToLevel(10), 4211},
        {"PositionToLevel(1000)", PositionToLevel(1000), 65535},
        {"PositionToLevel(505)", PositionToLevel(505), 16614},
        {"PositionToLevel(999)", PositionToLevel(999), 65356},
        {"LevelToPosition(4126)", LevelToPosition(4126), 10},
        {"LevelToPosition(8192)", LevelToPosition(8192), 250},
        {"LevelToPosition(32767)", LevelToPosition(32767), 750},
        {"LevelToPosition(0)", LevelToPosition(0), 0},
        {"LevelToPosition(65535)", LevelToPosition(65535), 1000},
        {"LogOffset", LogOffset(), 10},
        {"SliderToLevel(0, log)", SliderToLevel(0, true), 4211},
        {"SliderToLevel(1000, log)", SliderToLevel(1000, true), 65535},
        {"SliderToLevel(1000, linear)", SliderToLevel(1000, false), 65500},
        {"SliderToLevel(0, linear)", SliderToLevel(0, false), 0},
        {"SliderToLevel(1, linear)", SliderToLevel(1, false), 66},
        {"SliderToLevel(3, linear)", SliderToLevel(3, false), 196},
        {"LevelToSlider(65535, log)", LevelToSlider(65535, true), 1000},
        {"LevelToSlider(4211, log)", LevelToSlider(4211, true), 0},
        {"LevelToSlider(2000, log)", LevelToSlider(2000, true), 0},
        {"LevelToSlider(65535, linear)", LevelToSlider(65535, false), 1001},
        {"LevelToSlider(65500, linear)", LevelToSlider(65500, false), 1000},
        {"PositionToLevel(-5) clamps", PositionToLevel(-5), 0},
        {"PositionToLevel(1200) clamps", PositionToLevel(1200), 65535},
        {"LevelToPosition(70000) clamps", LevelToPosition(70000), 1000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.got, c.expected) << c.what;
    }
}

TEST(Exposure, TableEntriesRoundTrip) {
    for (int p = 1; p <= 100; ++p) {
        const int level = ExposureTable[static_cast<std::size_t>(p)];
        EXPECT_EQ(PositionToLevel(10 * p), level) << p;
        EXPECT_EQ(LevelToPosition(level), 10 * p) << p;
    }
}

TEST(Exposure, ExtendedPrecisionScalings) {
    struct Case {
        int slider;
        int coefficient;
    };
    // Exact products ending in .5 round as the extended-format 0.001 makes them.
    const Case cases[] = {{0, 0},       {100, 6553},  {300, 19661}, {500, 32767},
                          {700, 45874}, {900, 58981}, {1000, 65535}};
    for (const Case& c : cases) {
        EXPECT_EQ(CoefficientFromSlider(c.slider), c.coefficient) << c.slider;
    }
    EXPECT_EQ(ChromaticityToFixed(0.33f, 0.0), 21626);
    // The offset as read from the options: 822.0000035 with 0.0025, 821.9999998 with 0.0025f.
    EXPECT_EQ(ChromaticityToFixed(0.0100429161f, 0.0025), 822);
    // Offsets that carry the sum outside 0..1 hold the 16-bit slot at its ends.
    EXPECT_EQ(ChromaticityToFixed(0.7f, 0.5), 65535);
    EXPECT_EQ(ChromaticityToFixed(0.01f, -0.5), 0);
    EXPECT_EQ(ChromaticityToFixed(0.5f, 1e300), 65535);
    EXPECT_EQ(ChromaticityToFixed(0.5f, -1e300), 0);
    EXPECT_EQ(ChromaticityToFixed(std::nanf(""), 0.0), 0);
}

TEST(Exposure, ChromaticityToFixedStaysASixteenBitValue) {
    const struct {
        float c;
        long double offset;
        int fixed;
    } cases[] = {
        {0.3f, 1e6L, 65535},     {0.3f, -1e6L, 0},  {1.0f, 0.0L, 65535},    {1.5f, 0.0L, 65535},
        {-0.2f, 0.0L, 0},        {0.0f, -1e-9L, 0}, {0.3f, 2.0L, 65535},    {NAN, 0.0L, 0},
        {INFINITY, 0.0L, 65535}, {0.3f, -1.0L, 0},  {0.9999f, 0.0L, 65528}, {-INFINITY, 0.0L, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChromaticityToFixed(c.c, c.offset), c.fixed) << c.c << " + " << c.offset;
}

// A percentage is the same light on either scale: the log scale's nearest position comes
// within half a step of the linear level, and its lower end holds what lies below it.
TEST(Exposure, PercentagesMeanTheSameLightOnBothScales) {
    for (const double percent : {100.0, 75.0, 50.0, 25.0, 12.5, 6.5}) {
        const int linear = SliderToLevel(SliderForPercent(percent, false), false);
        const int log = SliderToLevel(SliderForPercent(percent, true), true);
        EXPECT_NEAR(linear, percent * 655, 1) << percent;
        EXPECT_NEAR(log, linear, linear * 0.004 + 36) << percent;
        EXPECT_EQ(LevelPercent(linear), percent) << percent;
        EXPECT_NEAR(LevelPercent(log), percent, 0.25) << percent;
    }
    EXPECT_EQ(SliderForPercent(50, false), 500);
    EXPECT_EQ(SliderForPercent(1, true), 0);
    EXPECT_EQ(SliderForPercent(-5, false), 0);
    EXPECT_EQ(SliderForPercent(150, true), 1000);
    EXPECT_EQ(LevelPercent(65535), 100);
    EXPECT_EQ(LevelPercent(0), 0);
}

TEST(Exposure, IntensityLabels) {
    struct Case {
        int slider;
        bool log, lux;
        int luxValue;
        const char* text;
    };
    const Case cases[] = {
        {500, false, false, 0, "50 %"},
        {1000, false, false, 0, "100 %"},
        {9, false, false, 0, "0 %"},
        {0, true, false, 0, "-4.00EV"},
        {994, true, false, 0, "-0.02EV"},
        {995, true, false, 0, "-0.02EV"},
        {998, true, false, 0, "-0.01EV"},
        {999, true, false, 0, "0.00EV"},
        {1000, true, false, 0, "0.00EV"},
        {700, true, false, 0, "-1.20EV"},
        {500, false, true, 100, "50 lx"},
        {1000, false, true, 3000, "3000 lx"},
        // Level 65535 is a hair above the linear top of 65500, so the full log slider reads 3003.
        {1000, true, true, 3000, "3003 lx"},
        // Log slider 0 is level 4211: w = trunc(4211·1000/65500 + 0.5) = 64.
        {0, true, true, 1000, "64 lx"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IntensityLabel(c.slider, c.log, c.lux, c.luxValue), c.text)
            << c.slider << " log " << c.log << " lux " << c.lux;
    }
}

}  // namespace
