#pragma once
#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>
#include <QtGlobal>

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

// Exact drawing primitives over a 32-bit QImage. Every shape is clipped to the image; nothing
// outside it is touched, whatever the coordinates. Text is the only thing drawn by QPainter.
class Canvas {
  public:
    // Draws into `image`, which is converted to 32 bits per pixel first when it is not.
    explicit Canvas(QImage& image);

    int Width() const { return width_; }
    int Height() const { return height_; }

    // The colour of a pixel as 0xffRRGGBB; 0 outside the image.
    QRgb Pixel(int x, int y) const;
    void SetPixel(int x, int y, QRgb colour);

    void Fill(QRgb colour);
    void FillRect(const PixelRect& r, QRgb colour);

    // Every pixel from (x0, y0) towards (x1, y1), the start included and the end not: one pixel
    // per step along the longer axis, the other coordinate rounded (halves away from the start).
    void Line(int x0, int y0, int x1, int y1, QRgb colour);

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

    QImage& image_;
    int width_;
    int height_;
};
