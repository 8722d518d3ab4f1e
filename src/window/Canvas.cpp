#include "window/Canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Products of coordinates far outside any image must not overflow.
__extension__ typedef __int128 Wide;

std::int64_t Clamp64(std::int64_t v, std::int64_t lo, std::int64_t hi) {
    return std::max(lo, std::min(v, hi));
}

// Membership of a pixel in the ellipse inscribed in a half-open rectangle, in doubled
// coordinates so that centres on half pixels stay whole numbers: the pixel's centre (2x + 1,
// 2y + 1) against the rectangle's centre (left + right, top + bottom) and axes (width, height).
class EllipseTest {
  public:
    explicit EllipseTest(const PixelRect& r)
        : cx_(static_cast<std::int64_t>(r.left) + r.right),
          cy_(static_cast<std::int64_t>(r.top) + r.bottom),
          w_(static_cast<std::int64_t>(r.right) - r.left),
          h_(static_cast<std::int64_t>(r.bottom) - r.top) {}

    bool Empty() const { return w_ <= 0 || h_ <= 0; }

    bool operator()(std::int64_t x, std::int64_t y) const {
        if (Empty()) return false;
        const long double dx = static_cast<long double>(2 * x + 1 - cx_);
        const long double dy = static_cast<long double>(2 * y + 1 - cy_);
        const long double w = static_cast<long double>(w_);
        const long double h = static_cast<long double>(h_);
        return dx * dx * h * h + dy * dy * w * w <= w * w * h * h;
    }

    // The pixel's centre relative to the rectangle's centre, doubled, with y pointing up.
    std::int64_t Dx(std::int64_t x) const { return 2 * x + 1 - cx_; }
    std::int64_t Dy(std::int64_t y) const { return cy_ - (2 * y + 1); }
    // A point (not a pixel centre) relative to the centre, doubled, y up.
    std::int64_t PointDx(int x) const { return 2 * static_cast<std::int64_t>(x) - cx_; }
    std::int64_t PointDy(int y) const { return cy_ - 2 * static_cast<std::int64_t>(y); }

  private:
    std::int64_t cx_;
    std::int64_t cy_;
    std::int64_t w_;
    std::int64_t h_;
};

struct Vec {
    std::int64_t x;
    std::int64_t y;
};

Wide Cross(Vec a, Vec b) {
    return static_cast<Wide>(a.x) * b.y - static_cast<Wide>(a.y) * b.x;
}
Wide Dot(Vec a, Vec b) {
    return static_cast<Wide>(a.x) * b.x + static_cast<Wide>(a.y) * b.y;
}

// The counter-clockwise sweep from the direction `from` to the direction `to`, decided with
// integer cross products so that pixels on a radial are classified exactly.
class Sweep {
  public:
    Sweep(Vec from, Vec to) : from_(from), to_(to) {
        const bool degenerate = (from.x == 0 && from.y == 0) || (to.x == 0 && to.y == 0);
        whole_ = degenerate || (Cross(from, to) == 0 && Dot(from, to) > 0);
    }

    bool Contains(Vec v) const {
        if (whole_ || (v.x == 0 && v.y == 0)) return true;
        const int hv = Half(v);
        const int ht = Half(to_);
        if (hv != ht) return hv < ht;
        return Cross(v, to_) >= 0;
    }

  private:
    // 0 when v lies less than half a turn counter-clockwise from `from`, 1 otherwise.
    int Half(Vec v) const {
        const Wide c = Cross(from_, v);
        return c > 0 || (c == 0 && Dot(from_, v) > 0) ? 0 : 1;
    }

    Vec from_;
    Vec to_;
    bool whole_ = false;
};

}  // namespace

QFont ArialFont(int points, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    font.setBold(bold);
    return font;
}

Canvas::Canvas(QImage& image) : image_(image) {
    if (image_.depth() != 32) image_.convertTo(QImage::Format_RGB32);
    width_ = image_.width();
    height_ = image_.height();
}

QRgb Canvas::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return reinterpret_cast<const QRgb*>(image_.constScanLine(y))[x] | 0xff000000u;
}

void Canvas::SetPixel(int x, int y, QRgb colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = colour | 0xff000000u;
}

void Canvas::Fill(QRgb colour) {
    FillRect({0, 0, width_, height_}, colour);
}

void Canvas::FillRect(const PixelRect& r, QRgb colour) {
    const int left = std::max(r.left, 0);
    const int right = std::min(r.right, width_);
    const int top = std::max(r.top, 0);
    const int bottom = std::min(r.bottom, height_);
    if (left >= right || top >= bottom) return;
    for (int y = top; y < bottom; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
        std::fill(row + left, row + right, colour | 0xff000000u);
    }
}

void Canvas::Line(int x0, int y0, int x1, int y1, QRgb colour) {
    const std::int64_t dx = static_cast<std::int64_t>(x1) - x0;
    const std::int64_t dy = static_cast<std::int64_t>(y1) - y0;
    const std::int64_t adx = dx < 0 ? -dx : dx;
    const std::int64_t ady = dy < 0 ? -dy : dy;
    if (adx == 0 && ady == 0) return;
    const bool alongX = adx >= ady;
    // Major axis: start, direction, step count and the image's extent; minor axis likewise.
    const std::int64_t major0 = alongX ? x0 : y0;
    const std::int64_t minor0 = alongX ? y0 : x0;
    const std::int64_t majorSign = (alongX ? dx : dy) < 0 ? -1 : 1;
    const std::int64_t minorSign = (alongX ? dy : dx) < 0 ? -1 : 1;
    const std::int64_t steps = alongX ? adx : ady;
    const std::int64_t rise = alongX ? ady : adx;
    const std::int64_t majorExtent = alongX ? width_ : height_;
    const std::int64_t minorExtent = alongX ? height_ : width_;
    // Only the steps whose major coordinate lies in the image are visited, so a line from far
    // outside costs no more than one across the image.
    std::int64_t first = 0;
    std::int64_t last = steps - 1;
    if (majorSign > 0) {
        first = std::max(first, -major0);
        last = std::min(last, majorExtent - 1 - major0);
    } else {
        first = std::max(first, major0 - (majorExtent - 1));
        last = std::min(last, major0);
    }
    for (std::int64_t i = first; i <= last; ++i) {
        const Wide offset =
            (static_cast<Wide>(2) * rise * i + steps) / (static_cast<Wide>(2) * steps);
        const Wide minor = static_cast<Wide>(minor0) + minorSign * offset;
        if (minor < 0 || minor >= minorExtent) continue;
        const std::int64_t major = major0 + majorSign * i;
        const int m = static_cast<int>(major);
        const int n = static_cast<int>(minor);
        SetPixel(alongX ? m : n, alongX ? n : m, colour);
    }
}

template <typename Inside>
void Canvas::Shape(const PixelRect& r, Inside inside, QRgb pen, const QRgb* brush) {
    // Only pixels of the rectangle that lie in the image; the border test still looks at
    // neighbours outside the image, so clipping never changes which pixels form the outline.
    const std::int64_t left = Clamp64(r.left, 0, width_);
    const std::int64_t right = Clamp64(r.right, 0, width_);
    const std::int64_t top = Clamp64(r.top, 0, height_);
    const std::int64_t bottom = Clamp64(r.bottom, 0, height_);
    for (std::int64_t y = top; y < bottom; ++y) {
        for (std::int64_t x = left; x < right; ++x) {
            if (!inside(x, y)) continue;
            const bool border =
                !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
            if (border) {
                SetPixel(static_cast<int>(x), static_cast<int>(y), pen);
            } else if (brush != nullptr) {
                SetPixel(static_cast<int>(x), static_cast<int>(y), *brush);
            }
        }
    }
}

void Canvas::Ellipse(const PixelRect& r, QRgb pen) {
    const EllipseTest inside(r);
    if (inside.Empty()) return;
    Shape(r, inside, pen, nullptr);
}

void Canvas::FillEllipse(const PixelRect& r, QRgb pen, QRgb brush) {
    const EllipseTest inside(r);
    if (inside.Empty()) return;
    Shape(r, inside, pen, &brush);
}

void Canvas::Pie(const PixelRect& r, PixelPoint from, PixelPoint to, QRgb pen, QRgb brush) {
    const EllipseTest ellipse(r);
    if (ellipse.Empty()) return;
    const Sweep sweep({ellipse.PointDx(from.x), ellipse.PointDy(from.y)},
                      {ellipse.PointDx(to.x), ellipse.PointDy(to.y)});
    const auto inside = [&](std::int64_t x, std::int64_t y) {
        return ellipse(x, y) && sweep.Contains({ellipse.Dx(x), ellipse.Dy(y)});
    };
    Shape(r, inside, pen, &brush);
}

void Canvas::CopyRect(int left, int top, const QImage& source, const PixelRect& from) {
    const QImage converted =
        source.depth() == 32 ? source : source.convertToFormat(QImage::Format_RGB32);
    // Shift the source rectangle into both images, keeping source and target in step.
    std::int64_t sx = from.left;
    std::int64_t sy = from.top;
    std::int64_t tx = left;
    std::int64_t ty = top;
    std::int64_t w = static_cast<std::int64_t>(from.right) - from.left;
    std::int64_t h = static_cast<std::int64_t>(from.bottom) - from.top;
    const auto trimStart = [&](std::int64_t& a, std::int64_t& b, std::int64_t& size) {
        const std::int64_t cut = std::max<std::int64_t>({0, -a, -b});
        a += cut;
        b += cut;
        size -= cut;
    };
    trimStart(sx, tx, w);
    trimStart(sy, ty, h);
    w = std::min({w, converted.width() - sx, width_ - tx});
    h = std::min({h, converted.height() - sy, height_ - ty});
    if (w <= 0 || h <= 0) return;
    for (std::int64_t row = 0; row < h; ++row) {
        const auto* src =
            reinterpret_cast<const QRgb*>(converted.constScanLine(static_cast<int>(sy + row))) + sx;
        auto* dst = reinterpret_cast<QRgb*>(image_.scanLine(static_cast<int>(ty + row))) + tx;
        std::memmove(dst, src, static_cast<std::size_t>(w) * sizeof(QRgb));
    }
}

QSize Canvas::TextExtent(const QString& text, const QFont& font) {
    const QFontMetrics metrics(font);
    return {metrics.horizontalAdvance(text), metrics.height()};
}

void Canvas::Text(int left, int top, const QString& text, const QFont& font, QRgb colour) {
    QPainter painter(&image_);
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(colour));
    painter.drawText(left, top + QFontMetrics(font).ascent(), text);
}

void Canvas::Text(int left, int top, const QString& text, const QFont& font, QRgb colour,
                  QRgb background) {
    const QSize size = TextExtent(text, font);
    FillRect({left, top, left + size.width(), top + size.height()}, background);
    Text(left, top, text, font, colour);
}
