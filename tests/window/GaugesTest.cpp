#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <limits>

#include "window/Gauges.h"

namespace {

constexpr QRgb kGrey = qRgb(122, 122, 122);
constexpr QRgb kLight = qRgb(160, 160, 160);

TEST(GaugesTest, SleepTimerTexts) {
    EXPECT_EQ(SleepTimerText(125), "02:05");
    EXPECT_EQ(SleepTimerText(600), "10:00");
    EXPECT_EQ(SleepTimerText(59), "00:59");
    EXPECT_EQ(SleepTimerText(0), "off");

    QImage image;
    DrawSleepTimer(image, 125);
    ASSERT_EQ(image.size(), QSize(160, 50));
    int ink = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 160; ++x) ink += image.pixel(x, y) == qRgb(0, 0, 0);
    EXPECT_GT(ink, 200);
}

// Whether the gauge's pixel lies in the pie (not merely on the ring).
bool Filled(const QImage& gauge, int x, int y) {
    return gauge.pixel(x, y) == kLight;
}

TEST(GaugesTest, GaugeShowsTheElapsedShare) {
    QImage gauge;
    struct Case {
        int timeout;
        int remaining;
        bool lampOff;
        bool centre;  // the centre is filled (some pie drawn)
        bool right;   // the right half (3 o'clock) is filled
        bool left;    // the lower left quarter is filled
    };
    const Case cases[] = {
        {0, 0, false, false, false, false},    // off: the ring only
        {60, 30, true, false, false, false},   // lamp off: the ring only
        {60, 60, false, false, false, false},  // nothing has run yet
        {60, 90, false, false, false, false},  // more left than set: nothing has run
        {60, 30, false, true, true, false},    // half run: twelve to six, clockwise
        {60, 15, false, true, true, true},     // three quarters run
        {60, 0, false, true, true, true},      // time up: the whole disc
        {60, -5, false, true, true, true},     // waiting for the lamp to switch off
        {60, std::numeric_limits<int>::min(), false, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.timeout << " " << c.remaining << " " << c.lampOff);
        DrawSleepGauge(gauge, c.timeout, c.remaining, c.lampOff);
        ASSERT_EQ(gauge.size(), QSize(80, 80));
        EXPECT_EQ(gauge.pixel(0, 0), kGrey);
        EXPECT_EQ(gauge.pixel(40, 8), kLight);  // the ring
        EXPECT_EQ(Filled(gauge, 40, 40), c.centre);
        EXPECT_EQ(Filled(gauge, 60, 40), c.right);
        EXPECT_EQ(Filled(gauge, 20, 52), c.left);
        // The whole disc includes the sliver just left of twelve o'clock.
        if (c.remaining <= 0 && c.timeout > 0 && !c.lampOff) {
            EXPECT_TRUE(Filled(gauge, 38, 14));
        }
    }
}

TEST(GaugesTest, ChannelListWithTheLampOff) {
    ChannelListState s;
    for (int i = 0; i <= 10; ++i) s.names[static_cast<std::size_t>(i)] = "Ch" + std::to_string(i);
    s.lampOff = true;
    s.slot = 3;
    QImage list;
    DrawChannelList(list, s);
    ASSERT_EQ(list.size(), QSize(150, 319));
    // Row 0 "Turned off" is marked: light fill with white text.
    EXPECT_EQ(list.pixel(3, 3), kLight);
    int white = 0;
    for (int y = 2; y < 27; ++y)
        for (int x = 2; x < 148; ++x) white += list.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_GT(white, 30);
    // Row 3 is the current slot: framed, but not marked while the lamp is off.
    EXPECT_EQ(list.pixel(0, 3 * 29), kLight);
    EXPECT_EQ(list.pixel(149, 3 * 29 + 28), kLight);
    EXPECT_EQ(list.pixel(3, 3 * 29 + 3), kGrey);
    EXPECT_EQ(list.pixel(0, 0), kGrey);  // row 0's frame: not the current slot

    s.lampOff = false;
    DrawChannelList(list, s);
    EXPECT_EQ(list.pixel(3, 3), kGrey);
    EXPECT_EQ(list.pixel(3, 3 * 29 + 3), kLight);

    EXPECT_EQ(ChannelListText(s, 0), "Turned off");
    EXPECT_EQ(ChannelListText(s, 1), "UV");
    EXPECT_EQ(ChannelListText(s, 2), "Ch2");
    s.firstChannelEditable = true;
    EXPECT_EQ(ChannelListText(s, 1), "Ch1");
}

}  // namespace
