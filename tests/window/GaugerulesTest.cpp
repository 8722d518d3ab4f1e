#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "window/Gaugerules.h"

namespace {

TEST(GaugeRules, SleepTimerPresses) {
    EXPECT_EQ(SleepTimerStep(0, false), 60);
    EXPECT_EQ(SleepTimerStep(79, true), -60);
    EXPECT_EQ(SleepTimerStep(80, false), 10);
    EXPECT_EQ(SleepTimerStep(159, true), -10);
}

TEST(GaugeRules, ChannelListPressRows) {
    const std::pair<int, ChannelListPress> cases[] = {
        {0, {true, 0}},   {28, {true, 0}},    {29, {false, 1}},   {57, {false, 1}},
        {58, {false, 2}}, {318, {false, 10}}, {400, {false, 10}}, {-3, {true, 0}},
    };
    for (const auto& [y, expected] : cases) {
        const ChannelListPress p = PressChannelList(y);
        EXPECT_EQ(p.turnOff, expected.turnOff) << y;
        EXPECT_EQ(p.channel, expected.channel) << y;
    }
}

TEST(GaugeRules, MemoLinesForARecord) {
    std::array<std::int32_t, 16> values{};
    for (int i = 0; i < 16; ++i) values[static_cast<std::size_t>(i)] = 100 + i;
    const GamutTriangle gamut{0.7f, 0.3f, 0.17f, 0.7f, 0.15f, 0.02f};
    std::array<float, 64> temps{};
    temps[3] = -5.0f;  // a sensor that is not there
    std::vector<std::string> lines = MemoLines(values, gamut, temps);
    const std::vector<std::string> expected{
        "W : 105",    "R : 100",    "G : 102",    "B1: 103",    "B2: 101",    "v : 104",
        "T : 106",    "x : 107",    "y : 108",    "Y : 109",    "1 : 110",    "2 : 111",
        "- : 112",    "3 : 113",    "- : 114",    "- : 115",    "x1: 0.7000", "y1: 0.3000",
        "x2: 0.1700", "y2: 0.7000", "x3: 0.1500", "y3: 0.0200", "T : ---"};
    EXPECT_EQ(lines, expected);

    temps[0] = 30.0f;
    temps[7] = 41.0f;
    lines = MemoLines(values, gamut, temps);
    EXPECT_EQ(lines.back(), "T : 35.5");
}

}  // namespace
