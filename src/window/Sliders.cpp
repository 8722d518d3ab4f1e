#include "window/Sliders.h"

#include <algorithm>

#include "colour/Expvalue.h"
#include "window/Canvas.h"

namespace {

constexpr QRgb kGrey = qRgb(122, 122, 122);
constexpr QRgb kButtonFrame = qRgb(96, 96, 96);
constexpr QRgb kButtonMark = qRgb(48, 48, 48);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kWhite = qRgb(255, 255, 255);

constexpr std::array<SliderRow, 3> kCoefficientRows{{
    {6, 1, qRgb(0, 0, 255), qRgb(200, 180, 255)},   // BUV
    {38, 2, qRgb(0, 0, 255), qRgb(0, 0, 255)},      // B1B2
    {70, 0, qRgb(255, 255, 255), qRgb(255, 0, 0)},  // WR
}};
// The window shows the channels as W, R, G, B1, B2, UV; the record's slots are R, B2, G, B1, UV, W.
constexpr std::array<SliderRow, 6> kChannelRows{{
    {6, 15, kBlack, qRgb(255, 255, 255)},    // W
    {38, 10, kBlack, qRgb(255, 0, 0)},       // R
    {70, 12, kBlack, qRgb(20, 255, 140)},    // G
    {102, 13, kBlack, qRgb(120, 0, 255)},    // B1
    {134, 11, kBlack, qRgb(0, 0, 255)},      // B2
    {166, 14, kBlack, qRgb(200, 180, 255)},  // UV
}};
constexpr std::array<SliderRow, 1> kIntensityRows{{{0, 7, kBlack, qRgb(255, 255, 255)}}};

// A 1-pixel frame along the inside of the half-open rectangle.
void Frame(Canvas& c, int left, int top, int right, int bottom, QRgb colour) {
    c.FillRect({left, top, right, top + 1}, colour);
    c.FillRect({left, bottom - 1, right, bottom}, colour);
    c.FillRect({left, top, left + 1, bottom}, colour);
    c.FillRect({right - 1, top, right, bottom}, colour);
}

void DrawRow(Canvas& c, const SliderRow& row, int value, const QString& text, int textRight) {
    const int y0 = row.top;
    const QFont font = ArialFont(12, true);
    const QSize extent = Canvas::TextExtent(text, font);
    c.Text(textRight - extent.width(), y0 + 1, text, font, kBlack);

    // The squares' outlines pass through both named corners, so the marks sit in their middle.
    Frame(c, 14, y0 + 3, 29, y0 + 18, kButtonFrame);
    c.Line(17, y0 + 10, 26, y0 + 10, kButtonMark);
    Frame(c, 439, y0 + 3, 454, y0 + 18, kButtonFrame);
    c.Line(442, y0 + 10, 451, y0 + 10, kButtonMark);
    c.Line(446, y0 + 6, 446, y0 + 15, kButtonMark);

    for (int i = 0; i <= 100; i += 25) {
        c.Line(33 + 4 * i, y0, 33 + 4 * i, y0 + 21, kBlack);
        c.Line(34 + 4 * i, y0, 34 + 4 * i, y0 + 21, kBlack);
    }
    for (int i = 0; i <= 100; ++i) {
        c.FillRect({32 + 4 * i, y0 + 3, 36 + 4 * i, y0 + 18}, BarColour(row.left, row.right, i));
    }

    const int p = std::clamp(value, 0, 1000) * 4 / 10;
    Frame(c, 30 + p, y0 + 1, 38 + p, y0 + 20, kBlack);
    Frame(c, 29 + p, y0 + 1, 39 + p, y0 + 20, kBlack);
    Frame(c, 31 + p, y0 + 2, 37 + p, y0 + 19, kWhite);
}

}  // namespace

std::span<const SliderRow> SliderRows(SliderImage image) {
    switch (image) {
        case SliderImage::Coefficients:
            return kCoefficientRows;
        case SliderImage::Channels:
            return kChannelRows;
        case SliderImage::Intensity:
            break;
    }
    return kIntensityRows;
}

QSize SliderImageSize(SliderImage image) {
    switch (image) {
        case SliderImage::Coefficients:
            return {489, 96};
        case SliderImage::Channels:
            return {489, 192};
        case SliderImage::Intensity:
            break;
    }
    return {537, 22};
}

QRgb BarColour(QRgb left, QRgb right, int i) {
    i = std::clamp(i, 0, 100);
    auto mix = [i](int a, int b) { return ((100 - i) * a + i * b) / 100; };
    return qRgb(mix(qRed(left), qRed(right)), mix(qGreen(left), qGreen(right)),
                mix(qBlue(left), qBlue(right)));
}

void DrawSliders(QImage& image, SliderImage which, const SliderValues& values,
                 const IntensityScale& scale) {
    FitImage(image, SliderImageSize(which));
    Canvas c(image);
    c.Fill(kGrey);
    for (const SliderRow& row : SliderRows(which)) {
        const int v = std::clamp(values[static_cast<std::size_t>(row.entry)], 0, 1000);
        if (which == SliderImage::Intensity) {
            const std::string text = IntensityLabel(v, scale.log, scale.lux, scale.luxValue);
            DrawRow(c, row, v, QString::fromLatin1(text), 536);
        } else {
            DrawRow(c, row, v, QString::asprintf("%03d", v), 486);
        }
    }
}
