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

// A direction on an image grid finer than the logical one, where points fall between pixels.
struct VecF {
    long double x;
    long double y;
};

long double Cross(VecF a, VecF b) {
    return a.x * b.y - a.y * b.x;
}
long double Dot(VecF a, VecF b) {
    return a.x * b.x + a.y * b.y;
}

// The counter-clockwise sweep from the direction `from` to the direction `to`; on the logical
// grid decided with integer cross products so that pixels on a radial are classified exactly.
template <typename Vec>
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
        const auto c = Cross(from_, v);
        return c > 0 || (c == 0 && Dot(from_, v) > 0) ? 0 : 1;
    }

    Vec from_;
    Vec to_;
    bool whole_ = false;
};

// Products of coordinates far outside any image stay finite; pixels this far off are as good as
// any farther.
constexpr long double kFarOff = static_cast<long double>(std::int64_t{1} << 40);

}  // namespace

QSize PhysicalSize(QSize logical, qreal ratio) {
    if (ratio == 1.0) return logical;
    // A hair below a whole number is that number: 489 at 1.5 needs 734 pixels, 500 at 2 needs
    // 1000, not 1001 for a rounding error.
    const auto pixels = [ratio](int v) {
        return static_cast<int>(std::ceil(static_cast<double>(v) * ratio - 1e-9));
    };
    return {pixels(logical.width()), pixels(logical.height())};
}

QImage ScaledImage(QSize logical, qreal ratio) {
    QImage image(PhysicalSize(logical, ratio), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    return image;
}

void FitImage(QImage& image, QSize logical) {
    const qreal ratio = image.devicePixelRatio();
    if (image.size() != PhysicalSize(logical, ratio) || image.format() != QImage::Format_RGB32) {
        image = ScaledImage(logical, ratio);
    }
}

QFont ArialFont(int points, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    font.setBold(bold);
    return font;
}

Canvas::Canvas(QImage& image) : image_(image) {
    if (image_.depth() != 32) image_.convertTo(QImage::Format_RGB32);
    scale_ = image_.devicePixelRatio();
    scaled_ = scale_ != 1.0;
    pixelWidth_ = image_.width();
    pixelHeight_ = image_.height();
    width_ = scaled_ ? static_cast<int>(std::floor(pixelWidth_ / scale_ + 1e-9)) : pixelWidth_;
    height_ = scaled_ ? static_cast<int>(std::floor(pixelHeight_ / scale_ + 1e-9)) : pixelHeight_;
}

std::int64_t Canvas::Edge(long double v) const {
    const long double pixels = std::floor(v * scale_ + 0.5L);
    return static_cast<std::int64_t>(std::max(-kFarOff, std::min(pixels, kFarOff)));
}

void Canvas::FillPixels(std::int64_t left, std::int64_t top, std::int64_t right,
                        std::int64_t bottom, QRgb colour) {
    const int l = static_cast<int>(Clamp64(left, 0, pixelWidth_));
    const int r = static_cast<int>(Clamp64(right, 0, pixelWidth_));
    const int t = static_cast<int>(Clamp64(top, 0, pixelHeight_));
    const int b = static_cast<int>(Clamp64(bottom, 0, pixelHeight_));
    if (l >= r || t >= b) return;
    for (int y = t; y < b; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
        std::fill(row + l, row + r, colour | 0xff000000u);
    }
}

QRgb Canvas::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const int px = static_cast<int>(std::min<std::int64_t>(Edge(x), pixelWidth_ - 1));
    const int py = static_cast<int>(std::min<std::int64_t>(Edge(y), pixelHeight_ - 1));
    return reinterpret_cast<const QRgb*>(image_.constScanLine(py))[px] | 0xff000000u;
}

void Canvas::SetPixel(int x, int y, QRgb colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    if (scaled_) {
        FillPixels(Edge(x), Edge(y), Edge(x + 1LL), Edge(y + 1LL), colour);
        return;
    }
    reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = colour | 0xff000000u;
}

void Canvas::Fill(QRgb colour) {
    FillPixels(0, 0, pixelWidth_, pixelHeight_, colour);
}

void Canvas::FillRect(const PixelRect& r, QRgb colour) {
    FillPixels(Edge(r.left), Edge(r.top), Edge(r.right), Edge(r.bottom), colour);
}

void Canvas::Line(QPointF from, QPointF to, QRgb colour) {
    ThickLine(from.x(), from.y(), to.x(), to.y(), true, colour);
}

void Canvas::ThickLine(long double ax, long double ay, long double bx, long double by, bool withEnd,
                       QRgb colour) {
    const long double dx = bx - ax;
    const long double dy = by - ay;
    if (!std::isfinite(dx) || !std::isfinite(dy) || (dx == 0 && dy == 0)) return;
    const bool alongX = std::fabs(dx) >= std::fabs(dy);
    const long double major0 = alongX ? ax : ay;
    const long double minor0 = alongX ? ay : ax;
    const long double run = alongX ? dx : dy;
    const long double rise = alongX ? dy : dx;
    const std::int64_t majorExtent = alongX ? pixelWidth_ : pixelHeight_;
    const std::int64_t minorExtent = alongX ? pixelHeight_ : pixelWidth_;
    const long double s = scale_;
    const auto clampPixel = [](long double v, std::int64_t extent) {
        return static_cast<std::int64_t>(
            std::max(-1.0L, std::min(v, static_cast<long double>(extent))));
    };
    // The image pixels whose centres lie in the span the line covers along its major axis: from
    // half a logical pixel before the start to half a pixel before the end, so that with whole
    // pixel centres for ends it covers the same logical pixels as the integer line; with the
    // end, to half a pixel beyond it.
    std::int64_t first = 0;
    std::int64_t last = 0;
    if (withEnd) {
        const long double lo = std::min(major0, major0 + run) - 0.5L;
        const long double hi = std::max(major0, major0 + run) + 0.5L;
        first = clampPixel(std::ceil(lo * s - 0.5L), majorExtent);
        last = clampPixel(std::ceil(hi * s - 0.5L) - 1, majorExtent);
    } else if (run > 0) {
        first = clampPixel(std::ceil((major0 - 0.5L) * s - 0.5L), majorExtent);
        last = clampPixel(std::ceil((major0 + run - 0.5L) * s - 0.5L) - 1, majorExtent);
    } else {
        first = clampPixel(std::floor((major0 + run + 0.5L) * s - 0.5L) + 1, majorExtent);
        last = clampPixel(std::floor((major0 + 0.5L) * s - 0.5L), majorExtent);
    }
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, majorExtent - 1);
    for (std::int64_t i = first; i <= last; ++i) {
        const long double along = (static_cast<long double>(i) + 0.5L) / s;
        const long double t = std::max(0.0L, std::min((along - major0) / run, 1.0L));
        const long double centre = minor0 + t * rise;
        // One logical pixel across, centred on the path.
        const std::int64_t lo = std::max<std::int64_t>(
            clampPixel(std::ceil((centre - 0.5L) * s - 0.5L), minorExtent), 0);
        const std::int64_t hi = std::min<std::int64_t>(
            clampPixel(std::ceil((centre + 0.5L) * s - 0.5L) - 1, minorExtent), minorExtent - 1);
        for (std::int64_t j = lo; j <= hi; ++j) {
            const int m = static_cast<int>(i);
            const int n = static_cast<int>(j);
            QRgb* row = reinterpret_cast<QRgb*>(image_.scanLine(alongX ? n : m));
            row[alongX ? m : n] = colour | 0xff000000u;
        }
    }
}

void Canvas::Line(int x0, int y0, int x1, int y1, QRgb colour) {
    if (scaled_) {
        // Centre to centre, on the image's grid.
        ThickLine(x0 + 0.5L, y0 + 0.5L, x1 + 0.5L, y1 + 0.5L, false, colour);
        return;
    }
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

template <typename Inside>
void Canvas::FineShape(const PixelRect& r, Inside inside, QRgb pen, const QRgb* brush) {
    const std::int64_t left = Clamp64(Edge(r.left) - 1, 0, pixelWidth_);
    const std::int64_t right = Clamp64(Edge(r.right) + 1, 0, pixelWidth_);
    const std::int64_t top = Clamp64(Edge(r.top) - 1, 0, pixelHeight_);
    const std::int64_t bottom = Clamp64(Edge(r.bottom) + 1, 0, pixelHeight_);
    const long double s = scale_;
    for (std::int64_t y = top; y < bottom; ++y) {
        const long double v = (static_cast<long double>(y) + 0.5L) / s;
        QRgb* row = reinterpret_cast<QRgb*>(image_.scanLine(static_cast<int>(y)));
        for (std::int64_t x = left; x < right; ++x) {
            const long double u = (static_cast<long double>(x) + 0.5L) / s;
            if (!inside(u, v)) continue;
            const bool border =
                !inside(u - 1, v) || !inside(u + 1, v) || !inside(u, v - 1) || !inside(u, v + 1);
            if (border) {
                row[x] = pen | 0xff000000u;
            } else if (brush != nullptr) {
                row[x] = *brush | 0xff000000u;
            }
        }
    }
}

namespace {

// The ellipse inscribed in a half-open rectangle, for points anywhere in logical coordinates.
class FineEllipseTest {
  public:
    explicit FineEllipseTest(const PixelRect& r)
        : cx_((static_cast<long double>(r.left) + r.right) / 2),
          cy_((static_cast<long double>(r.top) + r.bottom) / 2),
          a_((static_cast<long double>(r.right) - r.left) / 2),
          b_((static_cast<long double>(r.bottom) - r.top) / 2) {}

    bool Empty() const { return a_ <= 0 || b_ <= 0; }

    bool operator()(long double u, long double v) const {
        const long double dx = u - cx_;
        const long double dy = v - cy_;
        return dx * dx * b_ * b_ + dy * dy * a_ * a_ <= a_ * a_ * b_ * b_;
    }

    // A point relative to the centre, y pointing up.
    VecF From(long double u, long double v) const { return {u - cx_, cy_ - v}; }

  private:
    long double cx_;
    long double cy_;
    long double a_;
    long double b_;
};

}  // namespace

void Canvas::Ellipse(const PixelRect& r, QRgb pen) {
    if (scaled_) {
        const FineEllipseTest inside(r);
        if (!inside.Empty()) FineShape(r, inside, pen, nullptr);
        return;
    }
    const EllipseTest inside(r);
    if (inside.Empty()) return;
    Shape(r, inside, pen, nullptr);
}

void Canvas::FillEllipse(const PixelRect& r, QRgb pen, QRgb brush) {
    if (scaled_) {
        const FineEllipseTest inside(r);
        if (!inside.Empty()) FineShape(r, inside, pen, &brush);
        return;
    }
    const EllipseTest inside(r);
    if (inside.Empty()) return;
    Shape(r, inside, pen, &brush);
}

void Canvas::Pie(const PixelRect& r, PixelPoint from, PixelPoint to, QRgb pen, QRgb brush) {
    if (scaled_) {
        const FineEllipseTest ellipse(r);
        if (ellipse.Empty()) return;
        const Sweep<VecF> sweep(ellipse.From(from.x, from.y), ellipse.From(to.x, to.y));
        const auto inside = [&](long double u, long double v) {
            return ellipse(u, v) && sweep.Contains(ellipse.From(u, v));
        };
        FineShape(r, inside, pen, &brush);
        return;
    }
    const EllipseTest ellipse(r);
    if (ellipse.Empty()) return;
    const Sweep<Vec> sweep({ellipse.PointDx(from.x), ellipse.PointDy(from.y)},
                           {ellipse.PointDx(to.x), ellipse.PointDy(to.y)});
    const auto inside = [&](std::int64_t x, std::int64_t y) {
        return ellipse(x, y) && sweep.Contains({ellipse.Dx(x), ellipse.Dy(y)});
    };
    Shape(r, inside, pen, &brush);
}

void Canvas::CopyRect(int left, int top, const QImage& source, const PixelRect& from) {
    const QImage converted =
        source.depth() == 32 ? source : source.convertToFormat(QImage::Format_RGB32);
    // In image pixels: the source is drawn at the same ratio as this canvas. Then shift the
    // source rectangle into both images, keeping source and target in step.
    std::int64_t sx = Edge(from.left);
    std::int64_t sy = Edge(from.top);
    std::int64_t tx = Edge(left);
    std::int64_t ty = Edge(top);
    std::int64_t w = Edge(from.right) - sx;
    std::int64_t h = Edge(from.bottom) - sy;
    const auto trimStart = [&](std::int64_t& a, std::int64_t& b, std::int64_t& size) {
        const std::int64_t cut = std::max<std::int64_t>({0, -a, -b});
        a += cut;
        b += cut;
        size -= cut;
    };
    trimStart(sx, tx, w);
    trimStart(sy, ty, h);
    w = std::min({w, converted.width() - sx, pixelWidth_ - tx});
    h = std::min({h, converted.height() - sy, pixelHeight_ - ty});
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
