#pragma once
#include <QFont>
#include <QImage>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <optional>

// A rectangle of pixels, half-open: left and top are included, right and bottom are not.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// A point in pixel coordinates, used where a direction rather than a pixel is meant.
struct PixelPoint {
    int x = 0;
    int y = 0;
};

// "Arial" of the given size in points at 96 dpi, as a pixel size, so that the drawings do not
// move with the screen's dpi.
QFont ArialFont(int points, bool bold = false);

// The image pixels a picture of `logical` size needs at a device pixel ratio: whole pixels,
// rounded up, so the drawing never runs short of the widget it fills.
QSize PhysicalSize(QSize logical, qreal ratio);
// A 32-bit picture of `logical` size drawn at `ratio` image pixels per logical pixel, its pixels
// not yet set.
QImage ScaledImage(QSize logical, qreal ratio);
// Makes `image` a 32-bit picture of `logical` size at its own device pixel ratio: a fresh one
// (pixels not set, the ratio kept) when its size or format differ, else untouched.
void FitImage(QImage& image, QSize logical);

// Exact drawing primitives over a 32-bit QImage. Every shape is clipped to the image; nothing
// outside it is touched, whatever the coordinates. Text is the only thing drawn by QPainter.
//
// Coordinates are logical pixels. At the image's device pixel ratio of 1 a logical pixel is an
// image pixel and every primitive is exactly as described below. At any other ratio (a HiDPI
// screen) the same shapes are worked out again on the image's own grid: a logical pixel becomes
// the block of image pixels it covers, lines and outlines keep a width of one logical pixel but
// follow their path in image pixels, and text is rendered at the image's resolution.
class Canvas {
  public:
    // Draws into `image`, which is converted to 32 bits per pixel first when it is not.
    explicit Canvas(QImage& image);

    // The image's extent in logical pixels.
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Image pixels per logical pixel.
    qreal Scale() const { return scale_; }

    // The colour of a logical pixel (its top-left image pixel) as 0xffRRGGBB; 0 outside.
    QRgb Pixel(int x, int y) const;
    // Every image pixel of a logical pixel.
    void SetPixel(int x, int y, QRgb colour);

    void Fill(QRgb colour);
    void FillRect(const PixelRect& r, QRgb colour);

    // Every pixel from (x0, y0) towards (x1, y1), the start included and the end not: one pixel
    // per step along the longer axis, the other coordinate rounded (halves away from the start).
    void Line(int x0, int y0, int x1, int y1, QRgb colour);
    // A line one logical pixel wide between two points that need not sit on pixels (logical
    // coordinates; pixel (x, y) spans x..x + 1 and y..y + 1), for paths a finer grid can show
    // truer than whole pixels can. Both ends are included, half a pixel beyond each point, so
    // the short segments of a path overlap at their joints and never leave a gap between them
    // wherever their directions turn.
    void Line(QPointF from, QPointF to, QRgb colour);

    // The ellipse inscribed in the half-open rectangle r: its outline in `pen`. A pixel belongs
    // to the ellipse when its centre does; the outline is every such pixel with a neighbour
    // (left, right, above, below) that does not.
    void Ellipse(const PixelRect& r, QRgb pen);
    // The same ellipse, outline in `pen` and the inside in `brush`.
    void FillEllipse(const PixelRect& r, QRgb pen, QRgb brush);
    // The part of that ellipse from the radial through `from` counter-clockwise (as seen on the
    // screen) to the radial through `to`, both taken from the centre of r; outline in `pen`,
    // inside in `brush`. Radials in the same direction give the whole ellipse.
    void Pie(const PixelRect& r, PixelPoint from, PixelPoint to, QRgb pen, QRgb brush);

    // Colours every image pixel of the logical rectangle r for which colourAt(u, v) gives a
    // colour, (u, v) being the pixel's centre in logical coordinates: for content that varies
    // finer than a logical pixel, such as a colour field.
    template <typename ColourAt>
    void Shade(const PixelRect& r, ColourAt colourAt);

    // Copies source's pixels of `from` to the same-sized rectangle with its top-left corner at
    // (left, top); parts outside either image are skipped.
    void CopyRect(int left, int top, const QImage& source, const PixelRect& from);

    // Width and height of the text in the font, as QPainter draws it.
    static QSize TextExtent(const QString& text, const QFont& font);
    // The text with its cell's top-left corner at (left, top), on a transparent background.
    void Text(int left, int top, const QString& text, const QFont& font, QRgb colour);
    // The same on an opaque background filling the text's cell.
    void Text(int left, int top, const QString& text, const QFont& font, QRgb colour,
              QRgb background);

  private:
    // Ellipse, FillEllipse and Pie: the shape's pixels with `inside`, its border with `pen`.
    template <typename Inside>
    void Shape(const PixelRect& r, Inside inside, QRgb pen, const QRgb* brush);
    // The same on the image's grid when it is not the logical one: `inside` takes a point in
    // logical coordinates, and the border is the image pixels whose centre is inside with a point
    // one logical pixel away that is not.
    template <typename Inside>
    void FineShape(const PixelRect& r, Inside inside, QRgb pen, const QRgb* brush);
    // A line one logical pixel wide from one point to another (logical coordinates), drawn on
    // the image's grid; the end is included or not.
    void ThickLine(long double ax, long double ay, long double bx, long double by, bool withEnd,
                   QRgb colour);
    // The image pixel where the logical coordinate v begins, clipped far outside the image.
    std::int64_t Edge(long double v) const;
    // A rectangle in image pixels, clipped to the image.
    void FillPixels(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom,
                    QRgb colour);

    QImage& image_;
    qreal scale_ = 1.0;
    bool scaled_ = false;  // an image pixel is not a logical pixel
    int width_;            // logical
    int height_;
    int pixelWidth_;  // image pixels
    int pixelHeight_;
};

template <typename ColourAt>
void Canvas::Shade(const PixelRect& r, ColourAt colourAt) {
    const auto clip = [](std::int64_t v, int extent) {
        return static_cast<int>(v < 0 ? 0 : v > extent ? extent : v);
    };
    const int left = clip(Edge(r.left), pixelWidth_);
    const int right = clip(Edge(r.right), pixelWidth_);
    const int top = clip(Edge(r.top), pixelHeight_);
    const int bottom = clip(Edge(r.bottom), pixelHeight_);
    for (int y = top; y < bottom; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
        const double v = (y + 0.5) / scale_;
        for (int x = left; x < right; ++x) {
            if (const std::optional<QRgb> colour = colourAt((x + 0.5) / scale_, v)) {
                row[x] = *colour | 0xff000000u;
            }
        }
    }
}
