#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <functional>
#include <memory>

#include "Examplegamut.h"
#include "Tempdir.h"
#include "window/Diagram.h"

namespace {

constexpr QRgb kBlack = 0xff000000;
constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kGrey = Diagram::kBackground;
constexpr QRgb kButton = Diagram::kButtonGrey;
constexpr QRgb kLocus = 0xff505050;
constexpr QRgb kSilver = 0xffc0c0c0;

// The window model's 5000 K white.
constexpr Chromaticity kWhitePoint{0.345741f, 0.358666f};

// A triangle of zero size at (0, 0): maps to one pixel and draws nothing.
const DiagramLamp kNoTriangle{};

// Building the views runs the colour fill twice, so the tests share one diagram.
Diagram& Shared() {
    static Diagram diagram(kExampleCorners, QString());
    return diagram;
}

QRgb At(const QImage& image, int x, int y) {
    return image.pixel(x, y);
}

// Redraw in the normal or zoomed view, leaving the shared diagram in the normal view.
QImage Drawn(bool zoomed, float x, float y, const DiagramLamp& lamp, int speed = 1,
             DiagramLabels* labels = nullptr) {
    Diagram& d = Shared();
    if (d.Zoomed() != zoomed) d.Press(451, 47, false);
    QImage image;
    const DiagramLabels l = d.Redraw(image, x, y, lamp, speed);
    if (labels != nullptr) *labels = l;
    if (d.Zoomed()) d.Press(451, 47, false);
    return image;
}

}  // namespace

TEST(DiagramPress, TheFirstMatchingRuleDecides) {
    const struct {
        int X, Y;
        DiagramHit hit;
        int speed;
    } cases[] = {
        {451, 47, DiagramHit::Zoom, 0},     {451, 0, DiagramHit::Zoom, 0},
        {451, 46, DiagramHit::Zoom, 0},     {451, 50, DiagramHit::Speed, 0},
        {460, 94, DiagramHit::Speed, 0},    {460, 95, DiagramHit::Speed, 1},
        {460, 194, DiagramHit::Speed, 2},   {460, 244, DiagramHit::Speed, 3},
        {499, 294, DiagramHit::Speed, 4},   {451, 295, DiagramHit::Nothing, 0},
        {451, 329, DiagramHit::Nothing, 0}, {450, 47, DiagramHit::Nothing, 0},
        {450, 100, DiagramHit::Nothing, 0}, {426, 100, DiagramHit::Nothing, 0},
        {425, 100, DiagramHit::Plot, 0},    {25, 304, DiagramHit::Plot, 0},
        {0, 329, DiagramHit::Plot, 0},
    };
    for (const auto& c : cases) {
        Diagram d(kExampleCorners, QString());
        const DiagramPress press = d.Press(c.X, c.Y, false);
        EXPECT_EQ(press.hit, c.hit) << c.X << "," << c.Y;
        if (c.hit == DiagramHit::Speed) {
            EXPECT_EQ(press.speedIndex, c.speed) << c.X << "," << c.Y;
        }
        EXPECT_EQ(d.Zoomed(), c.hit == DiagramHit::Zoom) << c.X << "," << c.Y;
        EXPECT_EQ(d.Picking(), c.hit == DiagramHit::Plot) << c.X << "," << c.Y;

        // A protected first channel ignores every press, zoom and speed buttons included.
        Diagram locked(kExampleCorners, QString());
        EXPECT_EQ(locked.Press(c.X, c.Y, true).hit, DiagramHit::Nothing) << c.X << "," << c.Y;
        EXPECT_FALSE(locked.Zoomed());
        EXPECT_FALSE(locked.Picking());
    }

    Diagram d(kExampleCorners, QString());
    d.Press(451, 47, false);
    d.Press(451, 47, false);
    EXPECT_FALSE(d.Zoomed());
    EXPECT_FALSE(d.Release());  // not picking: nothing to apply
    d.Press(200, 100, false);
    EXPECT_TRUE(d.Release());
    EXPECT_FALSE(d.Picking());
}

TEST(DiagramPick, ClampsToTheRangeAndPullsIntoTheGamut) {
    const GamutTriangle everywhere{};  // zero area: every point counts as inside
    const struct {
        bool zoomed;
        int X, Y;
        float x, y;
    } cases[] = {
        {false, 25, 305, 0.01f, 0.01f},   // the origin clamps up
        {false, 275, 55, 0.7f, 0.7f},     // 250 pixels in is 0.7
        {false, 276, 0, 0.7f, 0.7f},      // beyond clamps down
        {false, 2000, -900, 0.7f, 0.7f},  // dragged far outside the view
        {false, -50, 900, 0.01f, 0.01f},  {false, 135, 195, 0.308f, 0.308f},
        {true, 25, 305, 0.26f, 0.28f},  // the zoomed origin, exactly as the fill holds it
        {true, 0, 329, 0.246f, 0.26656f}, {true, 424, 0, 0.48344f, 0.4508f},
    };
    for (const auto& c : cases) {
        Diagram d(kExampleCorners, QString());
        if (c.zoomed) d.Press(451, 47, false);
        const DiagramPick pick = d.Pick(c.X, c.Y, everywhere, kWhitePoint);
        EXPECT_NEAR(pick.x, c.x, 1e-6) << c.X << "," << c.Y;
        EXPECT_NEAR(pick.y, c.y, 1e-6) << c.X << "," << c.Y;
        EXPECT_FALSE(pick.outside);
    }

    Diagram d(kExampleCorners, QString());
    const PixelPoint far = Diagram::ToPixel(kNormalView, 0.6f, 0.6f);
    const DiagramPick pulled = d.Pick(far.x, far.y, kExampleGamut, kWhitePoint);
    EXPECT_TRUE(pulled.outside);
    EXPECT_NEAR(pulled.x, 0.4657, 2e-3);  // onto the red-green edge
    EXPECT_NEAR(pulled.y, 0.4725, 2e-3);
    const PixelPoint near = Diagram::ToPixel(kNormalView, 0.33f, 0.33f);
    EXPECT_FALSE(d.Pick(near.x, near.y, kExampleGamut, kWhitePoint).outside);
}

TEST(DiagramKeys, AnArrowMovesOnePixelOfTheViewAndClampsAsADragDoes) {
    const GamutTriangle everywhere{};
    const struct {
        bool zoomed;
        float x, y;
        int dx, dy;
        float wantX, wantY;
    } cases[] = {
        {false, 0.308f, 0.308f, 1, 0, 0.3108f, 0.308f},
        {false, 0.308f, 0.308f, 0, -1, 0.308f, 0.3108f},  // up the screen is up in y
        {false, 0.308f, 0.308f, -10, 10, 0.28f, 0.28f},   // ten pixels with Shift
        {true, 0.2992f, 0.308f, 1, 0, 0.29976f, 0.308f},  // a zoomed pixel is a fifth
        {true, 0.2992f, 0.308f, 0, 10, 0.2992f, 0.3024f},
        {false, 0.7f, 0.7f, 1, -1, 0.7f, 0.7f},        // held at 0.7
        {false, 0.01f, 0.01f, -10, 10, 0.01f, 0.01f},  // and at 0.01
    };
    Diagram& d = Shared();
    for (const auto& c : cases) {
        if (d.Zoomed() != c.zoomed) d.Press(451, 47, false);
        QImage image;
        d.Redraw(image, c.x, c.y, kNoTriangle, 1);
        const auto step = d.KeyStep(c.dx, c.dy, false, {-100.0f, -100.0f});
        ASSERT_TRUE(step.has_value());
        const DiagramPick pick = d.Pick(step->x, step->y, everywhere, kWhitePoint);
        EXPECT_NEAR(pick.x, c.wantX, 1e-6) << c.x << "," << c.y << " by " << c.dx << "," << c.dy;
        EXPECT_NEAR(pick.y, c.wantY, 1e-6) << c.x << "," << c.y << " by " << c.dx << "," << c.dy;
        EXPECT_TRUE(d.Release()) << "a key step picks, so Enter applies as a release does";
        if (d.Zoomed()) d.Press(451, 47, false);
    }

    // Steps add up pixel by pixel: the picked point redrawn is where the next step starts.
    QImage image;
    d.Redraw(image, 0.308f, 0.308f, kNoTriangle, 1);
    for (int i = 0; i < 20; ++i) {
        const auto step = d.KeyStep(1, 0, false, {-100.0f, -100.0f});
        const DiagramPick pick = d.Pick(step->x, step->y, everywhere, kWhitePoint);
        d.Redraw(image, pick.x, pick.y, kNoTriangle, 1);
    }
    EXPECT_NEAR(d.CurrentPoint().x, 0.364f, 1e-6);
    d.Release();
}

TEST(DiagramKeys, ProtectedFirstChannelIgnoresKeysAndNoPointStartsFromTheFallback) {
    Diagram d(kExampleCorners, QString());  // nothing drawn yet: the point is (-100, -100)
    EXPECT_FALSE(d.KeyStep(1, 0, true, {0.308f, 0.308f}).has_value());
    EXPECT_FALSE(d.Picking());
    const auto step = d.KeyStep(1, 0, false, {0.308f, 0.308f});
    ASSERT_TRUE(step.has_value());
    EXPECT_EQ(step->x, 136);
    EXPECT_EQ(step->y, 195);
    EXPECT_TRUE(d.Picking());
}

TEST(DiagramMapping, APressLandsWhereTheCrosshairIsDrawn) {
    // Every pixel of the plot, in both views, maps to a chromaticity that maps back to it.
    for (const DiagramView* view : {&kNormalView, &kZoomedView}) {
        for (int X = 0; X < 425; ++X) {
            for (int Y = 0; Y < 330; Y += 7) {
                const Chromaticity c = Diagram::ToChromaticity(*view, X, Y);
                const PixelPoint p = Diagram::ToPixel(*view, c.x, c.y);
                ASSERT_EQ(p.x, X) << view->Zoom << ": " << X << "," << Y;
                ASSERT_EQ(p.y, Y) << view->Zoom << ": " << X << "," << Y;
            }
        }
    }
    // The fill paints the chromaticity of the same pixel the mapping gives.
    for (const DiagramView* view : {&kNormalView, &kZoomedView}) {
        for (const auto& [k, l] : {std::pair{1, 1}, {200, 150}, {399, 304}}) {
            const Chromaticity fill = FillChromaticity(*view, k, l);
            const Chromaticity mapped = Diagram::ToChromaticity(*view, k + 25, 305 - l);
            EXPECT_EQ(fill.x, mapped.x) << k << "," << l;
            EXPECT_EQ(fill.y, mapped.y) << k << "," << l;
        }
    }
    // The corners of the scale; values far off or not finite land far outside the view.
    EXPECT_EQ(Diagram::ToPixel(kNormalView, 0.7f, 0.7f).x, 275);
    EXPECT_EQ(Diagram::ToPixel(kNormalView, 0.7f, 0.7f).y, 55);
    EXPECT_EQ(Diagram::ToPixel(kZoomedView, 0.26f, 0.28f).x, 25);
    EXPECT_EQ(Diagram::ToPixel(kZoomedView, 0.26f, 0.28f).y, 305);
    EXPECT_LT(Diagram::ToPixel(kNormalView, -100.0f, -100.0f).x, -1000);
    EXPECT_GT(Diagram::ToPixel(kNormalView, -100.0f, -100.0f).y, 1000);
    EXPECT_LT(Diagram::ToPixel(kNormalView, std::nanf(""), 1e30f).x, -1000);
    EXPECT_LT(Diagram::ToPixel(kNormalView, std::nanf(""), 1e30f).y, -1000);
}

TEST(DiagramRedraw, CrosshairIsAWhiteCrossInAThickBlackOne) {
    for (bool zoomed : {false, true}) {
        const float x = 0.33f;
        const float y = 0.35f;
        const QImage image = Drawn(zoomed, x, y, kNoTriangle);
        const QImage& cached = Shared().CachedView(zoomed);
        const PixelPoint p = Diagram::ToPixel(zoomed ? kZoomedView : kNormalView, x, y);
        for (int k = -9; k <= 9; ++k) {
            const int a = k < 0 ? -k : k;
            // Along each arm's centre: white to 7, black at 8, the view at 9.
            const auto centre = [&](int px, int py) {
                return a <= 7 ? kWhite : a == 8 ? kBlack : At(cached, px, py);
            };
            EXPECT_EQ(At(image, p.x, p.y + k), centre(p.x, p.y + k)) << zoomed << " v " << k;
            EXPECT_EQ(At(image, p.x + k, p.y), centre(p.x + k, p.y)) << zoomed << " h " << k;
            // Beside the centre lines, black to 8 (at k = 0 that is the other arm's centre).
            for (int d : {-1, 1}) {
                if (k == 0) continue;
                const auto side = [&](int px, int py) {
                    return a <= 8 ? kBlack : At(cached, px, py);
                };
                EXPECT_EQ(At(image, p.x + d, p.y + k), side(p.x + d, p.y + k))
                    << zoomed << " v " << d << "," << k;
                EXPECT_EQ(At(image, p.x + k, p.y + d), side(p.x + k, p.y + d))
                    << zoomed << " h " << d << "," << k;
            }
        }
        // Two columns out from the centre is the view again.
        EXPECT_EQ(At(image, p.x + 2, p.y + 2), At(cached, p.x + 2, p.y + 2));
        EXPECT_EQ(At(image, p.x - 2, p.y - 5), At(cached, p.x - 2, p.y - 5));
        EXPECT_EQ(Shared().CurrentPoint().x, x);
        EXPECT_EQ(Shared().CurrentPoint().y, y);
    }
}

TEST(DiagramRedraw, NoCrosshairAtMinusHundredAndMarginsAlwaysFromTheView) {
    // A triangle with corners left of and below the plot: its lines cross the margins.
    DiagramLamp lamp;
    lamp.gamut = {-0.1f, 0.3f, 0.5f, 0.3f, 0.3f, -0.1f};
    const QImage image = Drawn(false, -100.0f, -100.0f, lamp, 1);
    const QImage& cached = Shared().CachedView(false);

    // The horizontal edge y = 0.3 runs on row 197: silver in the plot, the view in the margin.
    EXPECT_EQ(At(image, 25, 197), kSilver);
    EXPECT_EQ(At(image, 100, 197), kSilver);
    for (int x = 0; x < 25; ++x) EXPECT_EQ(At(image, x, 197), At(cached, x, 197)) << x;
    // Margins: the left strip, the bottom strip and the button strip above the speed buttons.
    for (int y = 0; y < 330; ++y)
        for (int x = 0; x < 25; ++x) ASSERT_EQ(At(image, x, y), At(cached, x, y)) << x << "," << y;
    for (int y = 305; y < 330; ++y)
        for (int x = 0; x < 500; ++x) ASSERT_EQ(At(image, x, y), At(cached, x, y)) << x << "," << y;
    for (int y = 0; y < 50; ++y)
        for (int x = 425; x < 500; ++x)
            ASSERT_EQ(At(image, x, y), At(cached, x, y)) << x << "," << y;

    // Without a triangle and with the crosshair far off, the plot is the cached view.
    const QImage plain = Drawn(false, -100.0f, -100.0f, kNoTriangle);
    for (int y = 0; y < 305; ++y)
        for (int x = 25; x < 425; ++x)
            ASSERT_EQ(At(plain, x, y), At(cached, x, y)) << x << "," << y;
}

TEST(DiagramRedraw, TransitionRingAndItsLabels) {
    DiagramLamp lamp;
    lamp.transitionX = 0.30f;
    lamp.transitionY = 0.32f;
    lamp.transitionTimeLeft = 1;
    DiagramLabels labels;
    const QImage image = Drawn(false, -100.0f, -100.0f, lamp, 1, &labels);
    EXPECT_TRUE(labels.transition);
    EXPECT_EQ(labels.secondsLeft, QStringLiteral("1s"));

    // A black ring of 8 pixels around a white one of 6: columns px - 4 .. px + 3.
    const PixelPoint r = Diagram::ToPixel(kNormalView, 0.30f, 0.32f);
    const QImage& cached = Shared().CachedView(false);
    EXPECT_EQ(At(image, r.x - 4, r.y), kBlack);
    EXPECT_EQ(At(image, r.x + 3, r.y), kBlack);
    EXPECT_EQ(At(image, r.x, r.y - 4), kBlack);
    EXPECT_EQ(At(image, r.x - 3, r.y), kWhite);
    EXPECT_EQ(At(image, r.x + 2, r.y), kWhite);
    EXPECT_EQ(At(image, r.x, r.y + 2), kWhite);
    EXPECT_EQ(At(image, r.x, r.y), At(cached, r.x, r.y));  // hollow
    EXPECT_EQ(At(image, r.x - 5, r.y), At(cached, r.x - 5, r.y));
    EXPECT_EQ(At(image, r.x + 4, r.y), At(cached, r.x + 4, r.y));

    for (int left : {0, -5}) {
        lamp.transitionTimeLeft = left;
        const QImage none = Drawn(false, -100.0f, -100.0f, lamp, 1, &labels);
        EXPECT_FALSE(labels.transition);
        EXPECT_TRUE(labels.secondsLeft.isEmpty());
        EXPECT_EQ(At(none, r.x - 4, r.y), At(cached, r.x - 4, r.y));
    }
}

TEST(DiagramRedraw, SelectedSpeedButtonIsFilled) {
    for (int selected = 0; selected < 5; ++selected) {
        const QImage image = Drawn(false, -100.0f, -100.0f, kNoTriangle, selected);
        for (int i = 0; i < 5; ++i) {
            const int t = 50 + 50 * i;
            const QRgb inner = i == selected ? kButton : kGrey;
            EXPECT_EQ(At(image, 450, t), kButton) << selected << " " << i;
            EXPECT_EQ(At(image, 489, t + 39), kButton) << selected << " " << i;
            EXPECT_EQ(At(image, 451, t + 20), kButton) << selected << " " << i;
            EXPECT_EQ(At(image, 452, t + 2), inner) << selected << " " << i;
            EXPECT_EQ(At(image, 487, t + 37), inner) << selected << " " << i;
            EXPECT_EQ(At(image, 449, t), kGrey) << selected << " " << i;
            EXPECT_EQ(At(image, 490, t), kGrey) << selected << " " << i;
            // The label is drawn in the other grey somewhere inside.
            const QRgb ink = i == selected ? kGrey : kButton;
            bool labelled = false;
            for (int y = t + 2; y < t + 38; ++y)
                for (int x = 452; x < 488; ++x) labelled = labelled || At(image, x, y) == ink;
            EXPECT_TRUE(labelled) << selected << " " << i;
        }
    }
}

TEST(DiagramRedraw, TheSameRedrawIntoAnUntouchedPictureDrawsNothing) {
    Diagram& d = Shared();
    float x = 0.31f;
    int speed = 1;
    DiagramLamp lamp;
    lamp.gamut = kExampleGamut;
    lamp.transitionX = 0.30f;
    lamp.transitionY = 0.32f;
    lamp.transitionTimeLeft = 3;
    QImage image;
    d.Redraw(image, x, 0.33f, lamp, speed);
    struct Case {
        const char* change;
        std::function<void()> apply;
        bool drawn;
    };
    const Case cases[] = {
        {"nothing", [] {}, false},
        {"the point", [&] { x = 0.32f; }, true},
        {"the gamut", [&] { lamp.gamut.x1 = 0.68f; }, true},
        {"the transition", [&] { lamp.transitionTimeLeft = 2; }, true},
        {"the speed", [&] { speed = 2; }, true},
        {"the view", [&] { d.Press(451, 47, false); }, true},
        {"the view back", [&] { d.Press(451, 47, false); }, true},
        {"a pixel drawn over", [&] { image.setPixel(0, 0, kWhite); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        c.apply();
        const qint64 before = image.cacheKey();
        const DiagramLabels labels = d.Redraw(image, x, 0.33f, lamp, speed);
        EXPECT_EQ(image.cacheKey() != before, c.drawn);
        EXPECT_EQ(labels.secondsLeft, QString::asprintf("%ds", lamp.transitionTimeLeft));
        EXPECT_EQ(d.CurrentPoint().x, x);
    }
    ASSERT_FALSE(d.Zoomed());
    EXPECT_EQ(image, Drawn(false, x, 0.33f, lamp, speed));
}

TEST(DiagramViews, GridLocusDotsSeparatorAndZoomButton) {
    const QImage& normal = Shared().CachedView(false);
    const QImage& zoomed = Shared().CachedView(true);

    // Grid lines where nothing is displayable (top right): grey on the lines, not between.
    EXPECT_EQ(At(normal, 346, 10), kButton);
    EXPECT_EQ(At(normal, 345, 10), kGrey);
    EXPECT_EQ(At(normal, 400, 19), kButton);
    EXPECT_EQ(At(normal, 400, 20), kGrey);
    // The axes are white; the vertical grid lines stop above the labels at 307.
    EXPECT_EQ(At(normal, 25, 320), kWhite);
    EXPECT_EQ(At(normal, 5, 305), kWhite);
    EXPECT_EQ(At(normal, 346, 306), kButton);
    EXPECT_EQ(At(normal, 346, 307), kGrey);
    // Inside the displayable region the fill replaces the grid.
    const PixelPoint grey = Diagram::ToPixel(kNormalView, 0.345741f, 0.358666f);
    EXPECT_NE(At(normal, grey.x, grey.y - 6), kGrey);

    // Separator in the locus grey.
    for (int y : {0, 100, 328}) {
        EXPECT_EQ(At(normal, 424, y), kLocus);
        EXPECT_EQ(At(zoomed, 425, y), kLocus);
    }
    // Dots: the larger ones at 5000 K and 6500 K in both views, the small ones zoomed only.
    for (int kelvin : {5000, 6500}) {
        const Chromaticity c = LocusPoint(kelvin);
        const PixelPoint n = Diagram::ToPixel(kNormalView, c.x, c.y);
        const PixelPoint z = Diagram::ToPixel(kZoomedView, c.x, c.y);
        EXPECT_EQ(At(normal, n.x, n.y - 4), kLocus) << kelvin;
        EXPECT_EQ(At(normal, n.x, n.y + 4), kLocus) << kelvin;
        EXPECT_NE(At(normal, n.x, n.y - 5), kLocus) << kelvin;
        EXPECT_EQ(At(zoomed, z.x, z.y - 4), kLocus) << kelvin;
    }
    for (int kelvin : {3000, 4000, 7000}) {
        const Chromaticity c = LocusPoint(kelvin);
        const PixelPoint n = Diagram::ToPixel(kNormalView, c.x, c.y);
        const PixelPoint z = Diagram::ToPixel(kZoomedView, c.x, c.y);
        EXPECT_EQ(At(zoomed, z.x, z.y - 2), kLocus) << kelvin;
        EXPECT_EQ(At(zoomed, z.x, z.y + 2), kLocus) << kelvin;
        // The normal view's locus is shallow there and leaves room for no dot.
        if (kelvin < 5000) {
            EXPECT_NE(At(normal, n.x, n.y - 2), kLocus) << kelvin;
        }
    }

    // Zoom button: a plus in the normal view, a minus in the zoomed one.
    EXPECT_EQ(At(normal, 450, 2), kButton);
    EXPECT_EQ(At(normal, 452, 4), kGrey);
    EXPECT_EQ(At(normal, 460, 21), kButton);
    EXPECT_EQ(At(zoomed, 460, 21), kButton);
    EXPECT_EQ(At(normal, 470, 8), kButton);
    EXPECT_EQ(At(zoomed, 470, 8), kGrey);
}

TEST(DiagramViews, BackgroundPictureReplacesFillAndLocus) {
    const TempDir dir;
    const QString path = QString::fromStdString(dir.File("image.bmp"));

    // Both views stacked, black except three marks; the picture is narrower than the view.
    QImage picture(300, 660, QImage::Format_RGB32);
    picture.fill(kBlack);
    picture.setPixel(100, 50, qRgb(255, 0, 0));        // normal view
    picture.setPixel(100, 50 + 330, qRgb(0, 0, 255));  // zoomed view
    picture.setPixel(120, 60, qRgb(0, 1, 0));          // the least that is not black
    ASSERT_TRUE(picture.save(path, "BMP"));

    Diagram d(kExampleCorners, path);
    const QImage& normal = d.CachedView(false);
    const QImage& zoomed = d.CachedView(true);
    ASSERT_TRUE(d.PictureLoaded());
    EXPECT_EQ(At(normal, 100, 50), qRgb(255, 0, 0));
    EXPECT_EQ(At(zoomed, 100, 50), qRgb(0, 0, 255));
    EXPECT_EQ(At(normal, 120, 60), qRgb(0, 1, 0));
    // Black picture pixels and pixels beyond the picture leave the grid and background.
    EXPECT_EQ(At(normal, 60, 100), kButton);
    EXPECT_EQ(At(normal, 61, 100), kGrey);
    EXPECT_EQ(At(normal, 346, 100), kButton);
    EXPECT_EQ(At(normal, 347, 100), kGrey);
    // No locus, so no dots; the separator takes the white of the last grid line.
    const Chromaticity c = LocusPoint(5000);
    const PixelPoint p = Diagram::ToPixel(kNormalView, c.x, c.y);
    EXPECT_NE(At(normal, p.x, p.y - 4), kLocus);
    EXPECT_EQ(At(normal, 424, 100), kWhite);
    EXPECT_EQ(At(zoomed, 425, 100), kWhite);
}

TEST(DiagramViews, PictureAlphaIsIgnoredAndABrokenPictureFallsBackToTheFill) {
    const TempDir dir;

    // A transparent pixel still counts by its colour.
    const QString clear = QString::fromStdString(dir.File("clear.png"));
    QImage picture(500, 660, QImage::Format_ARGB32);
    picture.fill(qRgba(0, 0, 0, 255));
    picture.setPixel(100, 50, qRgba(0, 200, 0, 0));
    ASSERT_TRUE(picture.save(clear, "PNG"));
    Diagram transparent(kExampleCorners, clear);
    EXPECT_EQ(At(transparent.CachedView(false), 100, 50), qRgb(0, 200, 0));

    WriteBytes(dir.File("image.bmp"), "BM not really a bitmap");
    Diagram fallback(kExampleCorners, QString::fromStdString(dir.File("image.bmp")));
    EXPECT_EQ(At(fallback.CachedView(false), 424, 100), kLocus);
    EXPECT_FALSE(fallback.PictureLoaded());

    Diagram missing(kExampleCorners, QString::fromStdString(dir.File("none.bmp")));
    EXPECT_EQ(At(missing.CachedView(false), 424, 100), kLocus);
    EXPECT_FALSE(missing.PictureLoaded());
}
