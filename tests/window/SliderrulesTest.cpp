#include <gtest/gtest.h>

#include <climits>

#include "Slidervalues.h"
#include "window/Sliderrules.h"

namespace {

struct PressCase {
    SliderImage image;
    int X;
    int Y;
    int entry;
    int before;
    int after;
    bool drag;  // the press starts a drag (not a step press)
};

TEST(SliderRules, PressPositionsStepsAndEnds) {
    const PressCase cases[] = {
        // The intensity slider: step 5 outside the bar, the position under the pointer inside.
        {SliderImage::Intensity, 27, 5, 7, 500, 495, false},
        {SliderImage::Intensity, 28, 5, 7, 500, 0, true},
        {SliderImage::Intensity, 436, 5, 7, 500, 1000, true},
        {SliderImage::Intensity, 437, 5, 7, 500, 505, false},
        {SliderImage::Intensity, 0, 5, 7, 500, 495, false},
        {SliderImage::Intensity, 536, 5, 7, 500, 505, false},
        {SliderImage::Intensity, 232, 5, 7, 0, 500, true},
        // No change at the ends.
        {SliderImage::Intensity, 27, 5, 7, 0, 0, false},
        {SliderImage::Intensity, 437, 5, 7, 1000, 1000, false},
        // Coefficient rows: BUV, B1B2, WR; step 1.
        {SliderImage::Coefficients, 27, 10, 1, 500, 499, false},
        {SliderImage::Coefficients, 437, 40, 2, 500, 501, false},
        {SliderImage::Coefficients, 437, 95, 0, 1000, 1000, false},
        {SliderImage::Coefficients, 27, 70, 0, 0, 0, false},
        {SliderImage::Coefficients, 132, 70, 0, 500, 250, true},
        // Channel rows in the order W, R, G, B1, B2, UV; step 5.
        {SliderImage::Channels, 27, 0, 15, 100, 95, false},
        {SliderImage::Channels, 437, 32, 10, 100, 105, false},
        {SliderImage::Channels, 28, 64, 12, 100, 0, true},
        {SliderImage::Channels, 436, 96, 13, 100, 1000, true},
        {SliderImage::Channels, 437, 150, 11, 998, 1000, false},
        {SliderImage::Channels, 27, 191, 14, 3, 0, false},
    };
    for (const PressCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "X " << c.X << " Y " << c.Y << " entry " << c.entry);
        SliderValues v = StartValues();
        v[static_cast<std::size_t>(c.entry)] = c.before;
        const SliderValues others = v;
        const SliderPress p = PressSlider(c.image, c.X, c.Y, true, v);
        EXPECT_FALSE(p.ignored);
        EXPECT_EQ(p.entry, c.entry);
        EXPECT_EQ(v[static_cast<std::size_t>(c.entry)], c.after);
        EXPECT_EQ(p.active, c.drag ? c.entry : -1);
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (static_cast<int>(i) != c.entry) {
                EXPECT_EQ(v[i], others[i]) << i;
            }
        }
    }
}

TEST(SliderRules, PressesCheckTheirBoxes) {
    SliderValues v = StartValues();
    const SliderPress b1b2 = PressSlider(SliderImage::Coefficients, 100, 40, false, v);
    EXPECT_TRUE(b1b2.checkUv);
    EXPECT_TRUE(b1b2.checkCoefficients);
    EXPECT_FALSE(b1b2.checkDirect);
    const SliderPress buv = PressSlider(SliderImage::Coefficients, 100, 10, false, v);
    EXPECT_FALSE(buv.checkUv);
    const SliderPress channel = PressSlider(SliderImage::Channels, 100, 10, true, v);
    EXPECT_TRUE(channel.checkDirect);
    EXPECT_FALSE(channel.checkUv);
    const SliderPress intensity = PressSlider(SliderImage::Intensity, 100, 10, true, v);
    EXPECT_FALSE(intensity.checkDirect || intensity.checkCoefficients || intensity.checkUv);

    // Without direct mode a press on the channel sliders changes nothing at all.
    const SliderValues before = v;
    const SliderPress ignored = PressSlider(SliderImage::Channels, 100, 10, false, v);
    EXPECT_TRUE(ignored.ignored);
    EXPECT_EQ(ignored.active, -1);
    EXPECT_FALSE(ignored.checkDirect);
    EXPECT_EQ(v, before);
}

TEST(SliderRules, DragHoldsTheEndsAndNeedsAnActiveEntry) {
    SliderValues v = StartValues();
    MoveSlider(7, -500, v);
    EXPECT_EQ(v[7], 0);
    MoveSlider(7, 5000, v);
    EXPECT_EQ(v[7], 1000);
    MoveSlider(7, 232, v);
    EXPECT_EQ(v[7], 500);
    MoveSlider(7, INT_MAX, v);
    EXPECT_EQ(v[7], 1000);
    const SliderValues before = v;
    MoveSlider(-1, 100, v);
    EXPECT_EQ(v, before);
}

}  // namespace
