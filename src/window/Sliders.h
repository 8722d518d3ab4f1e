#pragma once
#include <QImage>
#include <QRgb>
#include <span>

#include "window/Sliderrules.h"

// The slider images under the diagram and in the two slider panels: coefficient sliders
// (Image5), direct channel sliders (Image7) and the intensity slider (Image8). They are drawn
// from the window's slider positions (0..1000); the press rules are apart from the drawing.

// One row of a slider image.
struct SliderRow {
    int top = 0;     // the row's drawing runs from top to top + 20
    int entry = 0;   // index into the slider positions
    QRgb left = 0;   // bar colour at 0
    QRgb right = 0;  // bar colour at 1000
};

std::span<const SliderRow> SliderRows(SliderImage image);
// In logical pixels: 489 x 96, 489 x 192 or 537 x 22.
QSize SliderImageSize(SliderImage image);
// Bar column i (0..100) between two colours, ((100 - i) * left + i * right) / 100 per component
// in whole numbers, so a bar with the same colour at both ends is that colour throughout.
QRgb BarColour(QRgb left, QRgb right, int i);

// Draws the whole image (made the right size at its own device pixel ratio if it is not) from
// the positions; positions
// outside 0..1000 are drawn at the nearer end.
void DrawSliders(QImage& image, SliderImage which, const SliderValues& values,
                 const IntensityScale& scale);
