#include "window/Diagram.h"

#include <QFileInfo>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "window/Logging.h"

namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kBlack = 0xff000000;
constexpr QRgb kGridGrey = 0xffa0a0a0;   // (160,160,160)
constexpr QRgb kLocusGrey = 0xff505050;  // (80,80,80)
constexpr QRgb kSilver = 0xffc0c0c0;     // (192,192,192)

// Plot geometry: chromaticity (x0, y0) lies at pixel (25, 305).
constexpr int kPlotLeft = 25;
constexpr int kPlotBottom = 305;
constexpr int kStripLeft = 425;

// Pixels this far off the view are as good as any farther, and keep every later sum small.
constexpr long double kFarOff = 1.0e6L;

int Saturate(long double v) {
    if (!(v > -kFarOff)) return -static_cast<int>(kFarOff);  // also NaN
    if (v > kFarOff) return static_cast<int>(kFarOff);
    return static_cast<int>(v);  // truncates toward zero
}

double SaturateF(long double v) {
    if (!(v > -kFarOff)) return -static_cast<double>(kFarOff);  // also NaN
    if (v > kFarOff) return static_cast<double>(kFarOff);
    return static_cast<double>(v);
}

// A line between two chromaticities. On the logical grid it joins the pixels they lie in, as
// always; on a finer grid it joins the points themselves, so the locus and the gamut's edges
// are as smooth as the screen can show them.
void ChromaticityLine(Canvas& canvas, const DiagramView& view, Chromaticity a, Chromaticity b,
                      QRgb pen) {
    if (canvas.Scale() == 1.0) {
        const PixelPoint p = Diagram::ToPixel(view, a.x, a.y);
        const PixelPoint q = Diagram::ToPixel(view, b.x, b.y);
        canvas.Line(p.x, p.y, q.x, q.y, pen);
    } else {
        canvas.Line(Diagram::ToPoint(view, a.x, a.y), Diagram::ToPoint(view, b.x, b.y), pen);
    }
}

const char* const kSpeedLabels[Diagram::kSpeedButtons] = {"F", "S", "30", "60", "120"};

}  // namespace

Diagram::Diagram(const std::array<float, 6>& fillCorners, QString picturePath)
    : fillCorners_(fillCorners), picturePath_(std::move(picturePath)) {}

PixelPoint Diagram::ToPixel(const DiagramView& view, float x, float y) {
    const long double scale = view.Zoom * (1.0L / 0.7L) * 250.0L;
    const long double px = (static_cast<long double>(x) - view.X0) * scale + kPlotLeft;
    const long double py = kPlotBottom - (static_cast<long double>(y) - view.Y0) * scale;
    // A chromaticity picked at a pixel is a float a hair off the exact value, and truncation
    // would put its crosshair one pixel short about every other time; the allowance is far
    // above that rounding and far below anything a drawing could show.
    constexpr long double kAllowance = 1.0L / 1024.0L;
    return {Saturate(px + kAllowance), Saturate(py + kAllowance)};
}

QPointF Diagram::ToPoint(const DiagramView& view, float x, float y) {
    const long double scale = view.Zoom * (1.0L / 0.7L) * 250.0L;
    const long double px = (static_cast<long double>(x) - view.X0) * scale + kPlotLeft;
    const long double py = kPlotBottom - (static_cast<long double>(y) - view.Y0) * scale;
    return {SaturateF(px), SaturateF(py)};
}

Chromaticity Diagram::ToChromaticity(const DiagramView& view, int X, int Y) {
    const long double step = 0.7L * 0.004L / view.Zoom;
    return {static_cast<float>((X - kPlotLeft) * step + view.X0),
            static_cast<float>((kPlotBottom - Y) * step + view.Y0)};
}

void Diagram::ReadPicture() {
    if (std::exchange(pictureRead_, true)) return;
    if (!picturePath_.isEmpty() && QFileInfo::exists(picturePath_)) {
        pictureLoaded_ = picture_.load(picturePath_) && !picture_.isNull();
        if (!pictureLoaded_) {
            qCWarning(lcWindow) << "cannot read the diagram's picture" << picturePath_;
            picture_ = QImage();
        }
    }
}

void Diagram::BuildViews(qreal ratio) {
    ReadPicture();
    views_[0] = BuildView(kNormalView, ratio);
    views_[1] = BuildView(kZoomedView, ratio);
    built_ = true;
    builtRatio_ = ratio;
}

const QImage& Diagram::CachedView(bool zoomed, qreal ratio) {
    if (!built_ || builtRatio_ != ratio) BuildViews(ratio);
    return views_[zoomed ? 1 : 0];
}

QImage Diagram::BuildView(const DiagramView& view, qreal ratio) const {
    const bool zoomed = view.Zoom != 1;
    QImage image = ScaledImage({kWidth, kHeight}, ratio);
    Canvas canvas(image);
    canvas.Fill(kBackground);
    const QFont font = ArialFont(8);

    // Grid and labels, from the far lines in to the axes.
    QRgb pen = kWhite;
    for (int w = 10; w >= 0; --w) {
        const double xLabel = w * 0.1 / view.Zoom + view.X0;
        const double yLabel = w * 0.1 / view.Zoom + view.Y0;
        const char* format = zoomed ? "%2.2f" : "%1.1f";
        pen = w == 0 ? kWhite : kGridGrey;
        const float f = static_cast<float>(w / 7.0);
        const double along = static_cast<double>(f) * 250.0 + 25.0;
        const int p = static_cast<int>(along);
        const int q = static_cast<int>(330.0 - along);
        canvas.Line(p, 0, p, w > 0 ? 307 : 330, pen);
        canvas.Line(w > 0 ? 23 : 0, q, 424, q, pen);
        if (w > 0) {
            const QString xText = QString::asprintf(format, xLabel);
            const QString yText = QString::asprintf(format, yLabel);
            const QSize xSize = Canvas::TextExtent(xText, font);
            const QSize ySize = Canvas::TextExtent(yText, font);
            canvas.Text(p - xSize.width() / 2, 310, xText, font, kBlack);
            canvas.Text(22 - ySize.width(), q - ySize.height() / 2, yText, font, kBlack);
        } else if (!zoomed) {
            canvas.Text(15, 280, QStringLiteral("0"), font, kBlack);
        }
    }

    if (pictureLoaded_) {
        // The picture holds both views stacked, the normal one on top. Its black pixels (and
        // any pixel it does not have) let the grid show through; alpha plays no part.
        const int rowOffset = zoomed ? kHeight : 0;
        for (int j = 1; j <= kFillHeight; ++j) {
            for (int i = 1; i <= kFillWidth; ++i) {
                const int sx = i + kPlotLeft;
                const int sy = j + rowOffset;
                if (sx >= picture_.width() || sy >= picture_.height()) continue;
                const QRgb colour = picture_.pixel(sx, sy) & 0x00ffffffu;
                if (colour != 0) canvas.SetPixel(i + kPlotLeft, j, colour);
            }
        }
    } else {
        // The model's gamut is the options' corners around a 5000 K white; corners it cannot
        // use leave the matrices of the first primary set in place.
        Ccolors model;
        model.SetTemperature(5000, 0, -1.0f);
        const Chromaticity white = LocusPoint(5000);
        const auto& c = fillCorners_;
        model.SetWhiteAndPrimaries(white.x, white.y, c[0], c[1], c[2], c[3], c[4], c[5], -1.0f);
        if (canvas.Scale() == 1.0) {
            const std::vector<DiagramColour> cells = FillDiagram(model, view);
            std::size_t i = 0;
            for (int l = 1; l <= kFillHeight; ++l) {
                for (int k = 1; k <= kFillWidth; ++k, ++i) {
                    const DiagramColour& cell = cells[i];
                    if (cell.n > 0)
                        canvas.SetPixel(k + kPlotLeft, kPlotBottom - l,
                                        qRgb(cell.R, cell.G, cell.B));
                }
            }
        } else {
            // Each image pixel gets the colour of its own chromaticity, so the fill's edge
            // follows the screen's pixels rather than whole logical ones. Cell (k, l) is the
            // logical pixel (k + 25, 305 - l), whose centre lies half a pixel further on.
            const PixelRect cells{kPlotLeft + 1, kPlotBottom - kFillHeight,
                                  kPlotLeft + kFillWidth + 1, kPlotBottom};
            canvas.Shade(cells, [&](double u, double v) -> std::optional<QRgb> {
                const Chromaticity c =
                    FillChromaticity(view, u - 0.5 - kPlotLeft, kPlotBottom - (v - 0.5));
                const DiagramColour cell = BrightestColour(model, c.x, c.y);
                if (cell.n <= 0) return std::nullopt;
                return qRgb(cell.R, cell.G, cell.B);
            });
        }

        // The white-point locus, with dots at the whole thousands when zoomed and larger dots
        // at 5000 K and 6500 K.
        pen = kLocusGrey;
        Chromaticity previous{};
        for (int t = kLocusFirstKelvin; t <= kLocusLastKelvin; ++t) {
            const Chromaticity point = LocusPoint(t);
            const PixelPoint p = ToPixel(view, point.x, point.y);
            if (t > kLocusFirstKelvin) ChromaticityLine(canvas, view, previous, point, pen);
            if (zoomed && t % 1000 == 0) {
                canvas.FillEllipse({p.x - 2, p.y - 2, p.x + 3, p.y + 3}, pen, pen);
            }
            if (t == 5000 || t == 6500) {
                canvas.FillEllipse({p.x - 4, p.y - 4, p.x + 5, p.y + 5}, pen, pen);
            }
            previous = point;
        }
    }

    // Separator between plot and buttons, in the pen last used.
    canvas.Line(424, 0, 424, 329, pen);
    canvas.Line(425, 0, 425, 329, pen);

    // Zoom button: a plus in the normal view, a minus in the zoomed one.
    canvas.FillRect({450, 2, 490, 42}, kButtonGrey);
    canvas.FillRect({452, 4, 488, 40}, kBackground);
    canvas.FillRect({454, 20, 486, 24}, kButtonGrey);
    if (!zoomed) canvas.FillRect({468, 6, 472, 38}, kButtonGrey);
    return image;
}

void Diagram::DrawSpeedButtons(Canvas& canvas, int speedIndex) const {
    const QFont font = ArialFont(12, true);
    for (int i = 0; i < kSpeedButtons; ++i) {
        const int t = 50 + 50 * i;
        const bool selected = i == speedIndex;
        const QRgb inner = selected ? kButtonGrey : kBackground;
        canvas.FillRect({450, t, 490, t + 40}, kButtonGrey);
        canvas.FillRect({452, t + 2, 488, t + 38}, inner);
        const QString label = QString::fromLatin1(kSpeedLabels[i]);
        const QSize size = Canvas::TextExtent(label, font);
        canvas.Text(450 + (40 - size.width()) / 2, t + (40 - size.height()) / 2, label, font,
                    selected ? kBackground : kButtonGrey, inner);
    }
}

DiagramLabels Diagram::Redraw(QImage& image, float x, float y, const DiagramLamp& lamp,
                              int speedIndex) {
    const qreal ratio = image.devicePixelRatio();
    const QImage& cached = CachedView(zoomed_, ratio);
    FitImage(image, {kWidth, kHeight});
    const GamutTriangle& t = lamp.gamut;
    const std::array<float, 11> inputs = {x,
                                          y,
                                          t.x1,
                                          t.y1,
                                          t.x2,
                                          t.y2,
                                          t.x3,
                                          t.y3,
                                          lamp.transitionX,
                                          lamp.transitionY,
                                          static_cast<float>(lamp.transitionTimeLeft)};
    if (drawn_ && drawn_->inputs == inputs && drawn_->speedIndex == speedIndex &&
        drawn_->zoomed == zoomed_ && drawn_->picture == image.cacheKey() &&
        drawn_->ratio == ratio) {
        current_ = {x, y};
        return drawn_->labels;
    }
    Canvas canvas(image);
    canvas.CopyRect(0, 0, cached, {0, 0, kWidth, kHeight});
    const DiagramView& view = View();

    // The lamp's gamut triangle.
    const GamutTriangle& g = lamp.gamut;
    const Chromaticity c1{g.x1, g.y1};
    const Chromaticity c2{g.x2, g.y2};
    const Chromaticity c3{g.x3, g.y3};
    ChromaticityLine(canvas, view, c1, c2, kSilver);
    ChromaticityLine(canvas, view, c2, c3, kSilver);
    ChromaticityLine(canvas, view, c3, c1, kSilver);

    // Crosshair: a white cross with arms of 7 inside a black one, 3 wide, with arms of 8.
    const PixelPoint p = ToPixel(view, x, y);
    for (int d = -1; d <= 1; ++d) {
        canvas.Line(p.x + d, p.y - 8, p.x + d, p.y + 9, kBlack);
        canvas.Line(p.x - 8, p.y + d, p.x + 9, p.y + d, kBlack);
    }
    canvas.Line(p.x, p.y - 7, p.x, p.y + 8, kWhite);
    canvas.Line(p.x - 7, p.y, p.x + 8, p.y, kWhite);

    DiagramLabels labels;
    if (lamp.transitionTimeLeft > 0) {
        const PixelPoint r = ToPixel(view, lamp.transitionX, lamp.transitionY);
        canvas.Ellipse({r.x - 4, r.y - 4, r.x + 4, r.y + 4}, kBlack);
        canvas.Ellipse({r.x - 3, r.y - 3, r.x + 3, r.y + 3}, kWhite);
        labels.transition = true;
        labels.secondsLeft = QString::asprintf("%ds", lamp.transitionTimeLeft);
    }

    // Margins back from the cached view, so nothing drawn above covers labels or buttons.
    canvas.CopyRect(0, 0, cached, {0, 0, kPlotLeft, kHeight});
    canvas.CopyRect(kStripLeft, 0, cached, {kStripLeft, 0, kWidth, kHeight});
    canvas.CopyRect(0, kPlotBottom, cached, {0, kPlotBottom, kWidth, kHeight});

    DrawSpeedButtons(canvas, speedIndex);
    current_ = {x, y};
    drawn_ = Drawn{inputs, speedIndex, zoomed_, image.cacheKey(), ratio, labels};
    return labels;
}

DiagramPress Diagram::Press(int X, int Y, bool firstChannelProtected) {
    if (firstChannelProtected) return {};
    if (X > 450 && Y < 50) {
        zoomed_ = !zoomed_;
        return {DiagramHit::Zoom, 0};
    }
    if (X > 450 && Y > 45 && Y < 295) return {DiagramHit::Speed, (Y - 45) / 50};
    if (X > kStripLeft) return {};
    picking_ = true;
    return {DiagramHit::Plot, 0};
}

DiagramPick Diagram::Pick(int X, int Y, const GamutTriangle& gamut, Chromaticity white) const {
    const Chromaticity c = ToChromaticity(View(), X, Y);
    const auto clamp = [](float v) { return v > 0.7f ? 0.7f : v < 0.01f ? 0.01f : v; };
    DiagramPick pick{clamp(c.x), clamp(c.y), false};
    pick.outside = ConstrainToGamut(pick.x, pick.y, gamut, white);
    return pick;
}

std::optional<PixelPoint> Diagram::KeyStep(int dx, int dy, bool firstChannelProtected,
                                           Chromaticity fallback) {
    if (firstChannelProtected) return std::nullopt;
    // (-100, -100) marks "no point drawn"; anything else drawn, even off this view, is a point.
    const bool drawn =
        current_.x >= 0.0f && current_.x <= 1.0f && current_.y >= 0.0f && current_.y <= 1.0f;
    const Chromaticity from = drawn ? current_ : fallback;
    const PixelPoint at = ToPixel(View(), from.x, from.y);
    stepped_ = true;
    return PixelPoint{at.x + dx, at.y + dy};
}

bool Diagram::Release() {
    const bool waiting = picking_ || stepped_;
    picking_ = false;
    stepped_ = false;
    return waiting;
}
