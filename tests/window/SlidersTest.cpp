#include <gtest/gtest.h>

#include <QImage>
#include <climits>

#include "window/Sliders.h"

namespace {

SliderValues Start() {
    SliderValues v{};
    v[0] = v[1] = v[2] = 500;
    v[7] = 1000;
    return v;
}

struct PressCase {
    SliderImage image;
    int X;
    int Y;
    int entry;
    int before;
    int after;
    bool drag;  // the press starts a drag (not a step press)
};

TEST(SlidersTest, PressPositionsStepsAndEnds) {
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
        SliderValues v = Start();
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

TEST(SlidersTest, PressesCheckTheirBoxes) {
    SliderValues v = Start();
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

TEST(SlidersTest, DragHoldsTheEndsAndNeedsAnActiveEntry) {
    SliderValues v = Start();
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

TEST(SlidersTest, BarColoursAreWholeNumbersBetweenTheEnds) {
    EXPECT_EQ(BarColour(qRgb(0, 0, 255), qRgb(0, 0, 255), 33), qRgb(0, 0, 255));
    EXPECT_EQ(BarColour(qRgb(255, 255, 255), qRgb(255, 0, 0), 25), qRgb(255, 191, 191));
    EXPECT_EQ(BarColour(qRgb(0, 0, 0), qRgb(20, 255, 140), 100), qRgb(20, 255, 140));
    EXPECT_EQ(BarColour(qRgb(0, 0, 0), qRgb(20, 255, 140), 0), qRgb(0, 0, 0));
    EXPECT_EQ(BarColour(qRgb(0, 0, 0), qRgb(120, 0, 255), 99), qRgb(118, 0, 252));
}

TEST(SlidersTest, DrawingShowsBarsThumbsAndButtons) {
    SliderValues v = Start();
    v[1] = 0;     // BUV thumb at the left end
    v[2] = 5000;  // beyond the range: drawn at the right end, inside the image
    v[0] = 500;
    QImage image;
    DrawSliders(image, SliderImage::Coefficients, v, {});
    ASSERT_EQ(image.size(), QSize(489, 96));
    const QRgb grey = qRgb(122, 122, 122);
    const QRgb black = qRgb(0, 0, 0);
    const QRgb white = qRgb(255, 255, 255);
    EXPECT_EQ(image.pixel(0, 0), grey);

    // The B1B2 bar is one colour from end to end, except where its thumb and marks are.
    for (int x = 36; x < 432; ++x) {
        const QRgb c = image.pixel(x, 38 + 10);
        if (c == black || c == white || x >= 429) continue;
        EXPECT_EQ(c, qRgb(0, 0, 255)) << x;
    }
    // Scale marks show above and below the bar.
    EXPECT_EQ(image.pixel(33, 38), black);
    EXPECT_EQ(image.pixel(134, 38 + 20), black);
    EXPECT_EQ(image.pixel(134, 38 + 21), grey);
    // WR bar at a quarter, and the thumbs: black outer frames, white inner frame.
    EXPECT_EQ(image.pixel(133 + 2, 70 + 10), qRgb(255, 191, 191));
    const int p = 200;
    EXPECT_EQ(image.pixel(29 + p, 70 + 10), black);
    EXPECT_EQ(image.pixel(31 + p, 70 + 10), white);
    EXPECT_EQ(image.pixel(36 + p, 70 + 10), white);
    EXPECT_EQ(image.pixel(38 + p, 70 + 10), black);
    EXPECT_EQ(image.pixel(31, 6 + 10), white);  // BUV thumb at p = 0
    EXPECT_EQ(image.pixel(29 + 400, 38 + 10), black);
    EXPECT_EQ(image.pixel(36 + 400, 38 + 10), white);
    // Minus and plus buttons.
    EXPECT_EQ(image.pixel(14, 6 + 3), qRgb(96, 96, 96));
    EXPECT_EQ(image.pixel(20, 6 + 10), qRgb(48, 48, 48));
    EXPECT_EQ(image.pixel(446, 6 + 7), qRgb(48, 48, 48));
    // The value text sits right of the plus button.
    int ink = 0;
    for (int x = 455; x < 489; ++x)
        for (int y = 6; y < 26; ++y) ink += image.pixel(x, y) == black;
    EXPECT_GT(ink, 10);
}

TEST(SlidersTest, StepButtonOutlinesPassThroughBothCornersAroundTheirMarks) {
    const QRgb frame = qRgb(96, 96, 96);
    const QRgb mark = qRgb(48, 48, 48);
    const QRgb grey = qRgb(122, 122, 122);
    QImage image;
    // A row of each image, the thumbs at the ends so they touch no button.
    for (const SliderImage which :
         {SliderImage::Coefficients, SliderImage::Channels, SliderImage::Intensity}) {
        DrawSliders(image, which, SliderValues{}, {});
        for (const SliderRow& row : SliderRows(which)) {
            const int y0 = row.top;
            for (const int left : {14, 439}) {
                const int right = left + 14;
                for (int i = 0; i <= 14; ++i) {
                    EXPECT_EQ(image.pixel(left + i, y0 + 3), frame) << left + i << "," << y0;
                    EXPECT_EQ(image.pixel(left + i, y0 + 17), frame) << left + i << "," << y0;
                    EXPECT_EQ(image.pixel(left, y0 + 3 + i), frame) << left << "," << y0 + 3 + i;
                    EXPECT_EQ(image.pixel(right, y0 + 3 + i), frame) << right << "," << y0 + 3 + i;
                }
                // Nothing of the outline outside it, and the mark's row centred inside.
                EXPECT_EQ(image.pixel(left - 1, y0 + 10), grey) << left;
                EXPECT_EQ(image.pixel(left + 7, y0 + 2), grey) << left;
                EXPECT_EQ(image.pixel(left + 7, y0 + 18), grey) << left;
                EXPECT_EQ(image.pixel(left + 1, y0 + 10), grey) << left;
                EXPECT_EQ(image.pixel(left + 3, y0 + 10), mark) << left;
                EXPECT_EQ(image.pixel(right - 3, y0 + 10), mark) << left;
                EXPECT_EQ(image.pixel(right - 1, y0 + 10), grey) << left;
            }
            // The plus sign's upright stands in the square's middle column.
            EXPECT_EQ(image.pixel(446, y0 + 6), mark);
            EXPECT_EQ(image.pixel(446, y0 + 14), mark);
            EXPECT_EQ(image.pixel(446, y0 + 5), grey);
        }
    }
}

TEST(SlidersTest, ChannelAndIntensityImagesHaveTheirSizes) {
    QImage image(10, 10, QImage::Format_ARGB32);
    SliderValues v = Start();
    v[15] = 1000;
    DrawSliders(image, SliderImage::Channels, v, {});
    EXPECT_EQ(image.size(), QSize(489, 192));
    // W row (top 6) at the right end; UV row (top 166) at 0.
    EXPECT_EQ(image.pixel(36 + 400, 6 + 10), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(31, 166 + 10), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(100, 166 + 10), BarColour(qRgb(0, 0, 0), qRgb(200, 180, 255), 17));
    DrawSliders(image, SliderImage::Intensity, v, {true, false, 100});
    EXPECT_EQ(image.size(), QSize(537, 22));
}

}  // namespace
