#include <gtest/gtest.h>

#include <QImage>

#include "Slidervalues.h"
#include "window/Sliders.h"

namespace {

TEST(SlidersTest, BarColoursAreWholeNumbersBetweenTheEnds) {
    EXPECT_EQ(BarColour(qRgb(0, 0, 255), qRgb(0, 0, 255), 33), qRgb(0, 0, 255));
    EXPECT_EQ(BarColour(qRgb(255, 255, 255), qRgb(255, 0, 0), 25), qRgb(255, 191, 191));
    EXPECT_EQ(BarColour(qRgb(0, 0, 0), qRgb(20, 255, 140), 100), qRgb(20, 255, 140));
    EXPECT_EQ(BarColour(qRgb(0, 0, 0), qRgb(20, 255, 140), 0), qRgb(0, 0, 0));
    EXPECT_EQ(BarColour(qRgb(0, 0, 0), qRgb(120, 0, 255), 99), qRgb(118, 0, 252));
}

TEST(SlidersTest, DrawingShowsBarsThumbsAndButtons) {
    SliderValues v = StartValues();
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
    SliderValues v = StartValues();
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
