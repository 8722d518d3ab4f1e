// The window's drawings on screens with more than one image pixel per logical pixel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#ifdef VELTRA_HAVE_QPA
#include <QtGui/private/qhighdpiscaling_p.h>
#endif
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "Examplegamut.h"
#include "Fixture.h"
#include "Slidervalues.h"
#include "window/Canvas.h"
#include "window/Diagram.h"
#include "window/Gauges.h"
#include "window/Image.h"
#include "window/Sliders.h"

namespace {

constexpr QRgb kSilver = 0xffc0c0c0;

// One of the main page's drawings, by its logical size and how it is drawn.
struct Drawing {
    const char* name;
    QSize size;
    std::function<void(QImage&)> draw;
};

std::vector<Drawing> Drawings() {
    ChannelListState list;
    for (int i = 0; i <= 10; ++i)
        list.names[static_cast<std::size_t>(i)] = "Ch" + std::to_string(i);
    list.slot = 3;
    SliderValues values = StartValues();
    values[15] = 700;
    const auto sliders = [values](SliderImage which) {
        return [values, which](QImage& image) { DrawSliders(image, which, values, {}); };
    };
    return {
        {"channel list", {150, 319}, [list](QImage& image) { DrawChannelList(image, list); }},
        {"sleep timer", {160, 50}, [](QImage& image) { DrawSleepTimer(image, 754); }},
        {"sleep gauge", {80, 80}, [](QImage& image) { DrawSleepGauge(image, 600, 200, false); }},
        {"coefficient sliders", {489, 96}, sliders(SliderImage::Coefficients)},
        {"channel sliders", {489, 192}, sliders(SliderImage::Channels)},
        {"intensity slider", {537, 22}, sliders(SliderImage::Intensity)},
        {"diagram",
         {500, 330},
         [](QImage& image) {
             Diagram diagram(kExampleCorners, QString());
             diagram.Redraw(image, 0.33f, 0.33f, {kExampleGamut}, 1);
         }},
    };
}

// 2 x 2 blocks on the logical grid whose four image pixels are not all alike: a drawing made at
// one pixel per logical pixel and shown doubled has none.
int MixedBlocks(const QImage& image) {
    int mixed = 0;
    for (int y = 0; y + 1 < image.height(); y += 2) {
        for (int x = 0; x + 1 < image.width(); x += 2) {
            const QRgb c = image.pixel(x, y);
            mixed += image.pixel(x + 1, y) != c || image.pixel(x, y + 1) != c ||
                     image.pixel(x + 1, y + 1) != c;
        }
    }
    return mixed;
}

// The share of logical pixels whose colour in `one` (drawn at a ratio of 1) is, within a few
// levels, the colour of the image pixel under the logical pixel's centre in `scaled`: the same
// drawing at the same logical places.
double SameAtCentres(const QImage& one, const QImage& scaled) {
    const double s = scaled.devicePixelRatio();
    const auto near = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= 6 && std::abs(qGreen(a) - qGreen(b)) <= 6 &&
               std::abs(qBlue(a) - qBlue(b)) <= 6;
    };
    int same = 0;
    for (int y = 0; y < one.height(); ++y) {
        for (int x = 0; x < one.width(); ++x) {
            const int px = static_cast<int>(std::floor((x + 0.5) * s));
            const int py = static_cast<int>(std::floor((y + 0.5) * s));
            same += near(one.pixel(x, y), scaled.pixel(px, py));
        }
    }
    return static_cast<double>(same) / (one.width() * one.height());
}

// A picture of one colour: not drawn, or renewed and not yet drawn again.
bool Blank(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0)) return false;
    return true;
}

}  // namespace

// Each drawing given a picture at a ratio keeps the ratio and has the screen's pixels for its
// logical size; at 2 it shows detail a doubled drawing cannot (text, slopes and curves placed
// in single image pixels) while every logical pixel keeps the colour it has at a ratio of 1.
TEST(DrawingsAtARatio, HaveTheScreensPixelsAndTheirOwnDetail) {
    for (const Drawing& d : Drawings()) {
        SCOPED_TRACE(d.name);
        QImage one;
        d.draw(one);
        ASSERT_EQ(one.size(), d.size);
        EXPECT_EQ(one.devicePixelRatio(), 1.0);
        for (const qreal ratio : {2.0, 1.5}) {
            SCOPED_TRACE(ratio);
            QImage image = ScaledImage({1, 1}, ratio);
            d.draw(image);
            EXPECT_EQ(image.devicePixelRatio(), ratio);
            ASSERT_EQ(image.size(), QSize(static_cast<int>(std::ceil(d.size.width() * ratio)),
                                          static_cast<int>(std::ceil(d.size.height() * ratio))));
            EXPECT_GT(SameAtCentres(one, image), 0.9);
            if (ratio == 2.0) {
                EXPECT_GT(MixedBlocks(image), 40);
            }
        }
    }
}

// The gamut triangle's edge at a ratio of 2 is one logical pixel (two image pixels) across and
// moves sideways one image pixel at a time, where a doubled edge jumps two at once.
TEST(DrawingsAtARatio, TheGamutEdgeIsSteppedInImagePixels) {
    Diagram diagram(kExampleCorners, QString());
    // Corners right of the colour fill, so the edge from the first to the second crosses grey.
    const GamutTriangle gamut{0.75f, 0.70f, 1.05f, 0.25f, 0.80f, 0.25f};
    QImage image = ScaledImage({1, 1}, 2.0);
    diagram.Redraw(image, -100.0f, -100.0f, {gamut}, 1);
    ASSERT_EQ(image.size(), QSize(1000, 660));
    bool oddStart = false;
    int previous = -1;
    for (int y = 200; y < 360; ++y) {
        int first = -1;
        int width = 0;
        for (int x = 630; x < 1000; ++x) {
            if (image.pixel(x, y) != kSilver) continue;
            if (first < 0) first = x;
            ++width;
        }
        ASSERT_GE(first, 0) << y;
        EXPECT_EQ(width, 2) << y;
        if (previous >= 0) {
            EXPECT_LE(std::abs(first - previous), 1) << y;
        }
        oddStart = oddStart || first % 2 == 1;
        previous = first;
    }
    EXPECT_TRUE(oddStart);
}

namespace {

using ScreenRatio = WindowFixture;

void Mouse(QWidget* surface, QEvent::Type type, int x, int y, Qt::MouseButtons held) {
    const QPointF local(x + 0.5, y + 0.5);
    QMouseEvent event(type, local, surface->mapToGlobal(local), Qt::LeftButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(surface, &event);
}

}  // namespace

// The main page on a screen of ratio 2 (QT_SCALE_FACTOR=2, run by its own test entry): every
// surface's picture has the screen's pixels and is shown one to one, and the mouse still picks
// in logical pixels.
TEST_F(ScreenRatio, TheMainPageIsDrawnAtTheScreensRatioAndTheMouseStaysLogical) {
    if (qApp->devicePixelRatio() == 1.0)
        GTEST_SKIP() << "needs a screen ratio above 1: run with QT_SCALE_FACTOR=2";
    WriteOptions(
        "<OPTIONS><SIMULATE>1</SIMULATE><C1S>1</C1S>"
        "<R><X>0.69</X><Y>0.30</Y></R><G><X>0.17</X><Y>0.70</Y></G><B><X>0.15</X><Y>0.03</Y></B>"
        "</OPTIONS>");
    AddLamp();
    auto form = OpenToMainPage();
    const qreal ratio = form->devicePixelRatioF();
    ASSERT_GT(ratio, 1.0);
    for (const char* name : {"Image1", "Image2", "Image3", "Image4", "Image8"}) {
        const TImage* surface = Find<TImage>(*form, name);
        EXPECT_EQ(surface->Picture().devicePixelRatio(), ratio) << name;
        EXPECT_EQ(surface->Picture().size(), PhysicalSize(surface->size(), ratio)) << name;
    }

    auto* image = Find<TImage>(*form, "Image1");
    ASSERT_EQ(image->size(), QSize(500, 330));
    Mouse(image, QEvent::MouseButtonPress, 130, 200, Qt::LeftButton);
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit1")->text(), "0.2940");
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit2")->text(), "0.2940");
    // The crosshair's centre is the logical pixel's block of image pixels.
    const QImage& picture = image->Picture();
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
            EXPECT_EQ(picture.pixel(260 + dx, 400 + dy), qRgb(255, 255, 255));
    Mouse(image, QEvent::MouseButtonRelease, 130, 200, Qt::NoButton);

    // Shown one to one: what the surface shows is its picture, pixel for pixel, inside the
    // focus frame.
    image->clearFocus();
    const QImage shown = image->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), image->Picture().size());
    int differ = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            differ += shown.pixel(x, y) != image->Picture().pixel(x, y);
    EXPECT_EQ(differ, 0);
    form->close();
}

// A window whose screen changes its ratio while it runs (as when it moves to another screen):
// each surface renews its picture at the new ratio on its next paint and the window draws it
// again, rather than showing a blank or a stretched picture.
TEST_F(ScreenRatio, SurfacesFollowAChangeOfTheScreensRatioAndAreDrawnAgain) {
#ifndef VELTRA_HAVE_QPA
    GTEST_SKIP() << "built without Qt's private headers, through which a test sets a ratio";
#else
    if (qApp->devicePixelRatio() != 1.0) GTEST_SKIP() << "starts from a ratio of 1";
    // Without a lamp no report comes to draw the lamp's gauges again by the way.
    WriteOptions("<OPTIONS><SIMULATE>1</SIMULATE></OPTIONS>");
    auto form = OpenToMainPage();
    ASSERT_FALSE(form->Controller()->IsConnected());
    const char* const names[] = {"Image1", "Image2", "Image3", "Image4", "Image8"};
    std::vector<QImage> before;
    for (const char* name : names) {
        before.push_back(Find<TImage>(*form, name)->Picture());
        EXPECT_EQ(before.back().devicePixelRatio(), 1.0) << name;
        EXPECT_FALSE(Blank(before.back())) << name;
    }

    QScreen* screen = form->screen();
    ASSERT_NE(screen, nullptr);
    QHighDpiScaling::setScreenFactor(screen, 2.0);
    struct Restore {
        QScreen* screen;
        ~Restore() { QHighDpiScaling::setScreenFactor(screen, 1.0); }
    } restore{screen};
    ASSERT_EQ(form->devicePixelRatioF(), 2.0);
    // A move to another screen reaches each surface as an event; a change of the screen's own
    // scale only as a repaint.
    Find<TImage>(*form, "Image1")->repaint();
    for (const char* name : names) {
        QEvent screenChange(QEvent::ScreenChangeInternal);
        if (std::string(name) != "Image1")
            QApplication::sendEvent(Find<TImage>(*form, name), &screenChange);
    }

    for (std::size_t i = 0; i < std::size(names); ++i) {
        SCOPED_TRACE(names[i]);
        auto* surface = Find<TImage>(*form, names[i]);
        // Drawn again: at the new ratio, and the same drawing at the logical pixels' centres.
        ASSERT_TRUE(WaitFor([&] {
            const QImage& now = surface->Picture();
            return now.devicePixelRatio() == 2.0 && SameAtCentres(before[i], now) > 0.9;
        }));
        EXPECT_EQ(surface->Picture().size(), before[i].size() * 2);
    }
    form->close();
#endif
}
