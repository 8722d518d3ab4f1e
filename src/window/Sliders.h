#pragma once
#include <QImage>
#include <QRgb>
#include <array>
#include <span>

// The slider images under the diagram and in the two slider panels: coefficient sliders
// (Image5), direct channel sliders (Image7) and the intensity slider (Image8). They are drawn
// from the window's slider positions (0..1000) and turn pointer presses into new positions.

enum class SliderImage { Coefficients, Channels, Intensity };

// One row of a slider image.
struct SliderRow {
    int top = 0;     // the row's drawing runs from top to top + 20
    int entry = 0;   // index into the slider positions
    QRgb left = 0;   // bar colour at 0
    QRgb right = 0;  // bar colour at 1000
};

using SliderValues = std::array<int, 32>;

// What the intensity row's text depends on.
struct IntensityScale {
    bool log = false;    // "log"
    bool lux = false;    // "lux"
    int luxValue = 100;  // the last lux value applied
};

std::span<const SliderRow> SliderRows(SliderImage image);
// 489 x 96, 489 x 192 or 537 x 22.
QSize SliderImageSize(SliderImage image);
// Bar column i (0..100) between two colours, ((100 - i) * left + i * right) / 100 per component
// in whole numbers, so a bar with the same colour at both ends is that colour throughout.
QRgb BarColour(QRgb left, QRgb right, int i);

// Draws the whole image (made the right size if it is not) from the positions; positions
// outside 0..1000 are drawn at the nearer end.
void DrawSliders(QImage& image, SliderImage which, const SliderValues& values,
                 const IntensityScale& scale);

// What a press on a slider image did.
struct SliderPress {
    bool ignored = false;            // a channel slider without direct mode: nothing changed
    int entry = -1;                  // the entry pressed
    int active = -1;                 // the entry a drag now moves; -1 after a step press
    bool checkCoefficients = false;  // "coefficients" is to be checked
    bool checkDirect = false;        // "direct values" is to be checked
    bool checkUv = false;            // UV is to be checked (the B1B2 row)
};

// A press at (X, Y) on the image: the minus button and the margin left of it (X <= 27) step
// down, the plus button and beyond (X >= 437) step up, anything between sets the position
// under the pointer; steps are 1 on the coefficient sliders and 5 on the others.
SliderPress PressSlider(SliderImage which, int X, int Y, bool directAvailable,
                        SliderValues& values);
// A drag to X moves the active entry (if any) to the position under the pointer, held to
// 0..1000; nothing when no entry is active.
void MoveSlider(int active, int X, SliderValues& values);
// The position under the pointer, before clamping.
int SliderPosition(int X);
