#include <gtest/gtest.h>

#include <QImage>
#include <climits>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "window/Canvas.h"

namespace {

constexpr QRgb kBack = 0xff7a7a7a;
constexpr QRgb kInk = 0xff000000;
constexpr QRgb kFill = 0xffffffff;

QImage Blank(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kBack);
    return image;
}

using Pixels = std::set<std::pair<int, int>>;

// Every pixel that is not the background.
Pixels Drawn(const QImage& image) {
    Pixels p;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != kBack) p.insert({x, y});
    return p;
}

// The image as rows of '.' (background), '#' (ink) and 'o' (fill).
std::string Art(const QImage& image, const PixelRect& r) {
    std::string s;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            const QRgb c = image.pixel(x, y);
            s += c == kBack ? '.' : c == kInk ? '#' : c == kFill ? 'o' : '?';
        }
        s += '\n';
    }
    return s;
}

}  // namespace

TEST(Canvas, RectanglesAreHalfOpenAndClipped) {
    const struct {
        PixelRect r;
        Pixels pixels;
    } cases[] = {
        {{2, 3, 3, 4}, {{2, 3}}},                            // 1 x 1
        {{1, 1, 3, 2}, {{1, 1}, {2, 1}}},                    // 2 x 1
        {{2, 2, 2, 5}, {}},                                  // no width
        {{3, 3, 1, 1}, {}},                                  // reversed
        {{-5, -5, 1, 1}, {{0, 0}}},                          // clipped at the top left
        {{5, 5, INT_MAX, INT_MAX}, {{5, 5}}},                // clipped at the bottom right
        {{INT_MIN, INT_MIN, INT_MIN + 1, INT_MIN + 1}, {}},  // far outside
    };
    for (const auto& c : cases) {
        QImage image = Blank(6, 6);
        Canvas canvas(image);
        canvas.FillRect(c.r, kInk);
        EXPECT_EQ(Drawn(image), c.pixels)
            << c.r.left << "," << c.r.top << "-" << c.r.right << "," << c.r.bottom;
    }
}

TEST(Canvas, LineColoursEveryPixelButItsEnd) {
    const struct {
        int x0, y0, x1, y1;
        Pixels pixels;
    } cases[] = {
        {1, 1, 4, 1, {{1, 1}, {2, 1}, {3, 1}}},                  // horizontal
        {4, 1, 1, 1, {{4, 1}, {3, 1}, {2, 1}}},                  // horizontal, right to left
        {2, 0, 2, 3, {{2, 0}, {2, 1}, {2, 2}}},                  // vertical
        {2, 3, 2, 0, {{2, 3}, {2, 2}, {2, 1}}},                  // vertical, upwards
        {0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}}},                  // steep
        {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}}},                  // diagonal
        {5, 0, 0, 2, {{5, 0}, {4, 0}, {3, 1}, {2, 1}, {1, 2}}},  // shallow, halves away from start
        {3, 3, 3, 3, {}},                                        // no length
        {-3, 2, 2, 2, {{0, 2}, {1, 2}}},                         // starts outside
        {INT_MIN, 4, INT_MAX, 4, {{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4}}},
    };
    for (const auto& c : cases) {
        QImage image = Blank(6, 6);
        Canvas canvas(image);
        canvas.Line(c.x0, c.y0, c.x1, c.y1, kInk);
        EXPECT_EQ(Drawn(image), c.pixels) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    }
}

TEST(Canvas, CircleStaysInsideItsHalfOpenRectangle) {
    QImage outline = Blank(20, 20);
    Canvas(outline).Ellipse({2, 8, 10, 16}, kInk);
    QImage filled = Blank(20, 20);
    Canvas(filled).FillEllipse({2, 8, 10, 16}, kInk, kFill);

    // Columns 2..9 and rows 8..15, shown with one pixel of background around.
    EXPECT_EQ(Art(outline, {1, 7, 11, 17}),
              "..........\n"
              "...####...\n"
              "..#....#..\n"
              ".#......#.\n"
              ".#......#.\n"
              ".#......#.\n"
              ".#......#.\n"
              "..#....#..\n"
              "...####...\n"
              "..........\n");
    EXPECT_EQ(Art(filled, {1, 7, 11, 17}),
              "..........\n"
              "...####...\n"
              "..#oooo#..\n"
              ".#oooooo#.\n"
              ".#oooooo#.\n"
              ".#oooooo#.\n"
              ".#oooooo#.\n"
              "..#oooo#..\n"
              "...####...\n"
              "..........\n");
    // Nothing outside the rectangle anywhere in the image.
    for (const auto& [x, y] : Drawn(filled)) {
        EXPECT_TRUE(x >= 2 && x <= 9 && y >= 8 && y <= 15) << x << "," << y;
    }
}

TEST(Canvas, SmallAndClippedEllipses) {
    QImage image = Blank(6, 6);
    Canvas canvas(image);
    canvas.Ellipse({1, 1, 2, 2}, kInk);  // 1 x 1: one pixel
    canvas.Ellipse({3, 3, 3, 6}, kInk);  // no width: nothing
    EXPECT_EQ(Drawn(image), (Pixels{{1, 1}}));

    // An ellipse cut by the image keeps the outline it has uncut: the same pixels as the part
    // of the whole one that lies inside.
    QImage big = Blank(20, 20);
    Canvas(big).Ellipse({2, 8, 10, 16}, kInk);
    QImage cut = Blank(6, 20);
    Canvas(cut).Ellipse({-2, 8, 6, 16}, kInk);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(cut.pixel(x, y), big.pixel(x + 4, y)) << x << "," << y;
}

TEST(Canvas, PieSweepsCounterClockwiseFromTheFirstRadial) {
    // A disc of 20 pixels centred on (10, 10); the radials point left, up, right.
    const struct {
        PixelPoint from, to;
        bool upperLeft, upperRight, lowerLeft, lowerRight;
    } cases[] = {
        {{0, 10}, {10, 0}, false, true, true, true},    // left to up: three quarters
        {{10, 0}, {0, 10}, true, false, false, false},  // up to left: one quarter
        {{20, 10}, {0, 10}, true, true, false, false},  // right to left: upper half
        {{10, 0}, {10, -50}, true, true, true, true},   // same direction: whole disc
    };
    for (const auto& c : cases) {
        QImage image = Blank(20, 20);
        Canvas(image).Pie({0, 0, 20, 20}, c.from, c.to, kInk, kFill);
        const auto filled = [&](int x, int y) { return image.pixel(x, y) == kFill; };
        EXPECT_EQ(filled(5, 5), c.upperLeft) << c.from.x << "," << c.from.y;
        EXPECT_EQ(filled(14, 5), c.upperRight) << c.from.x << "," << c.from.y;
        EXPECT_EQ(filled(5, 14), c.lowerLeft) << c.from.x << "," << c.from.y;
        EXPECT_EQ(filled(14, 14), c.lowerRight) << c.from.x << "," << c.from.y;
        // The outline stays in the bounding rectangle's disc: the corners are never touched.
        EXPECT_EQ(image.pixel(0, 0), kBack);
        EXPECT_EQ(image.pixel(19, 19), kBack);
    }
    // The quarter's straight edges are outlined: the pixels along the radials are ink.
    QImage quarter = Blank(20, 20);
    Canvas(quarter).Pie({0, 0, 20, 20}, {10, 0}, {0, 10}, kInk, kFill);
    EXPECT_EQ(quarter.pixel(9, 4), kInk);
    EXPECT_EQ(quarter.pixel(4, 9), kInk);
    EXPECT_EQ(quarter.pixel(10, 4), kBack);
    EXPECT_EQ(quarter.pixel(4, 10), kBack);
}

TEST(Canvas, CopyRectTakesOnlyWhatBothImagesHave) {
    QImage source = Blank(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) source.setPixel(x, y, qRgb(x * 10, y * 10, 1));
    const struct {
        int left, top;
        PixelRect from;
        Pixels copied;  // target pixels expected to change
    } cases[] = {
        {0, 0, {1, 1, 3, 2}, {{0, 0}, {1, 0}}},
        {4, 4, {0, 0, 4, 4}, {{4, 4}, {5, 4}, {4, 5}, {5, 5}}},  // cut by the target
        {0, 0, {-1, -1, 1, 1}, {{1, 1}}},                        // cut by the source
        {-1, 0, {0, 0, 2, 1}, {{0, 0}}},                         // starts left of the target
        {0, 0, {3, 3, 1, 1}, {}},                                // reversed
    };
    for (const auto& c : cases) {
        QImage target = Blank(6, 6);
        Canvas(target).CopyRect(c.left, c.top, source, c.from);
        EXPECT_EQ(Drawn(target), c.copied) << c.left << "," << c.top;
        for (const auto& [x, y] : Drawn(target)) {
            const int sx = x - c.left + c.from.left;
            const int sy = y - c.top + c.from.top;
            EXPECT_EQ(target.pixel(x, y), source.pixel(sx, sy)) << x << "," << y;
        }
    }
}

TEST(Canvas, TextStaysInItsCellAndOpaqueTextFillsIt) {
    const struct {
        int points;
        int pixels;
    } sizes[] = {{8, 11}, {10, 13}, {12, 16}, {16, 21}, {36, 48}};
    for (const auto& s : sizes) EXPECT_EQ(ArialFont(s.points).pixelSize(), s.pixels) << s.points;

    const QFont font = ArialFont(12, true);
    const QSize extent = Canvas::TextExtent(QStringLiteral("120"), font);
    ASSERT_GT(extent.width(), 0);
    ASSERT_GT(extent.height(), 0);

    QImage image = Blank(80, 40);
    Canvas(image).Text(10, 5, QStringLiteral("120"), font, kInk);
    const Pixels drawn = Drawn(image);
    EXPECT_FALSE(drawn.empty());
    for (const auto& [x, y] : drawn) {
        EXPECT_TRUE(x >= 10 && x < 10 + extent.width() && y >= 5 && y < 5 + extent.height())
            << x << "," << y;
    }

    QImage opaque = Blank(80, 40);
    Canvas(opaque).Text(10, 5, QStringLiteral("120"), font, kInk, kFill);
    EXPECT_EQ(opaque.pixel(10, 5), kFill);
    EXPECT_EQ(opaque.pixel(10 + extent.width() - 1, 5 + extent.height() - 1), kFill);
    EXPECT_EQ(opaque.pixel(9, 5), kBack);
    EXPECT_EQ(opaque.pixel(10 + extent.width(), 5), kBack);
    EXPECT_EQ(opaque.pixel(10, 5 + extent.height()), kBack);
}

namespace {

// A blank picture of logical size w x h at a device pixel ratio.
QImage BlankAt(int w, int h, qreal ratio) {
    QImage image = ScaledImage({w, h}, ratio);
    image.fill(kBack);
    return image;
}

// The image pixels whose centres lie inside a logical rectangle, and those outside it; a centre
// right on an edge may go either way.
struct Centres {
    Pixels inside;
    Pixels outside;
};
Centres CentresOf(const QImage& image, double left, double top, double right, double bottom) {
    const double s = image.devicePixelRatio();
    constexpr double e = 1e-9;
    Centres c;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const double u = (x + 0.5) / s;
            const double v = (y + 0.5) / s;
            if (u > left + e && u < right - e && v > top + e && v < bottom - e) {
                c.inside.insert({x, y});
            } else if (u < left - e || u > right + e || v < top - e || v > bottom + e) {
                c.outside.insert({x, y});
            }
        }
    }
    return c;
}

}  // namespace

// At a ratio above 1 a logical pixel is the block of image pixels whose centres it holds:
// rectangles, single pixels and straight lines cover exactly their logical pixels, clipped as
// on the logical grid, whatever the ratio's fraction.
TEST(Canvas, AtARatioShapesCoverTheirLogicalPixelsOnTheImagesGrid) {
    for (const qreal ratio : {2.0, 1.5, 3.0}) {
        SCOPED_TRACE(ratio);
        QImage image = BlankAt(8, 6, ratio);
        Canvas canvas(image);
        EXPECT_EQ(canvas.Width(), 8);
        EXPECT_EQ(canvas.Height(), 6);
        EXPECT_EQ(image.size(), QSize(static_cast<int>(std::ceil(8 * ratio)),
                                      static_cast<int>(std::ceil(6 * ratio))));
        const auto covers = [&](const QImage& drawn, const Centres& c) {
            const Pixels ink = Drawn(drawn);
            for (const auto& p : c.inside) EXPECT_TRUE(ink.count(p)) << p.first << "," << p.second;
            for (const auto& p : c.outside)
                EXPECT_FALSE(ink.count(p)) << p.first << "," << p.second;
        };

        QImage rect = BlankAt(8, 6, ratio);
        Canvas(rect).FillRect({1, 1, 3, 2}, kInk);
        covers(rect, CentresOf(rect, 1, 1, 3, 2));

        QImage pixel = BlankAt(8, 6, ratio);
        Canvas(pixel).SetPixel(5, 4, kInk);
        covers(pixel, CentresOf(pixel, 5, 4, 6, 5));
        EXPECT_EQ(Canvas(pixel).Pixel(5, 4), kInk);
        EXPECT_EQ(Canvas(pixel).Pixel(4, 4), kBack);

        // Start included, end not, as on the logical grid; from far outside it is clipped.
        QImage line = BlankAt(8, 6, ratio);
        Canvas(line).Line(6, 2, 1, 2, kInk);
        covers(line, CentresOf(line, 2, 2, 7, 3));
        QImage far = BlankAt(8, 6, ratio);
        Canvas(far).Line(INT_MIN, 4, INT_MAX, 4, kInk);
        Canvas(far).FillRect({INT_MIN, INT_MIN, INT_MIN + 1, INT_MIN + 1}, kFill);
        covers(far, CentresOf(far, 0, 4, 8, 5));
    }
}

// A sloping line keeps one logical pixel of width but follows its path in image pixels, where
// a doubled drawing would step in blocks of two.
TEST(Canvas, AtARatioASlopingLineStepsInImagePixels) {
    QImage image = BlankAt(4, 3, 2.0);
    Canvas(image).Line(0, 0, 4, 2, kInk);
    EXPECT_EQ(Art(image, {0, 0, 8, 6}),
              "##......\n"
              "####....\n"
              "..####..\n"
              "....####\n"
              "......##\n"
              "........\n");

    // An outline is one logical pixel thick: two image pixels where the circle is upright.
    QImage ring = BlankAt(10, 10, 2.0);
    Canvas(ring).Ellipse({0, 0, 10, 10}, kInk);
    EXPECT_EQ(Art(ring, {0, 9, 20, 10}), "##................##\n");
    EXPECT_EQ(Art(ring, {9, 0, 10, 20}).substr(0, 6), "#\n#\n.\n");
}

// A path of many short segments that turn (a locus, a circle) joins up at any ratio: each
// segment's ends overlap the next one's, so no gap opens where the major axis changes.
TEST(Canvas, AtARatioAPathOfShortTurningSegmentsHasNoGap) {
    for (const qreal ratio : {1.5, 2.0, 3.0}) {
        SCOPED_TRACE(ratio);
        QImage image = BlankAt(20, 20, ratio);
        Canvas canvas(image);
        const auto at = [](int degree) {
            const double a = degree * 3.14159265358979 / 180.0;
            return QPointF(10.0 + 6.3 * std::cos(a), 10.0 + 6.3 * std::sin(a));
        };
        for (int d = 0; d < 360; ++d) canvas.Line(at(d), at(d + 1), kInk);
        for (int d = 0; d < 3600; ++d) {
            const double a = d * 3.14159265358979 / 1800.0;
            const int x = static_cast<int>(std::floor((10.0 + 6.3 * std::cos(a)) * ratio));
            const int y = static_cast<int>(std::floor((10.0 + 6.3 * std::sin(a)) * ratio));
            ASSERT_EQ(image.pixel(x, y), kInk) << d / 10.0 << " degrees";
        }
    }
}
