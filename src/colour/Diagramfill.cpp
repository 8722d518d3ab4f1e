#include "colour/Diagramfill.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace {

// The colour of (x, y) at luminance step n, exactly as the fill defines it.
bool TryStep(const Ccolors& model, float x, float y, int n, DiagramColour& out) {
    const auto luminance = static_cast<float>(n * 0.01);
    const ColorTriple xyz = XyYToXyz(x, y, luminance);
    const ColorTriple rgb = model.XyzToRgb(xyz.c0, xyz.c1, xyz.c2, true);
    const auto inRange = [](float v) { return v >= 0.0f && v <= 255.0f; };
    if (!inRange(rgb.c0) || !inRange(rgb.c1) || !inRange(rgb.c2)) {
        return false;
    }
    out.n = n;
    out.R = static_cast<int>(rgb.c0);
    out.G = static_cast<int>(rgb.c1);
    out.B = static_cast<int>(rgb.c2);
    return true;
}

// The truncated sRGB encoding of a linear value in 0..Upper: start from the value at the
// bottom of its bucket and step up over the few thresholds inside the bucket.
int TruncatedSrgb(const SrgbThresholds& t, float linear) {
    if (linear < t.Threshold[1]) {
        return 0;
    }
    std::size_t k = t.BucketStart[SrgbThresholds::Bucket(linear)];
    // A bucket is narrower than one encoded step, so one comparison settles it; the loop is
    // only a guard and never runs.
    k += k < 255 && t.Threshold[k + 1] <= linear ? 1 : 0;
    while (k < 255 && t.Threshold[k + 1] <= linear) {
        ++k;
    }
    return static_cast<int>(k);
}

// The same step for the sRGB curve without evaluating it: the curve is increasing, so its
// encoded value lies in 0..255 exactly for linear values in 0..Upper, and its truncation is k
// exactly from Threshold[k] up to the next threshold.
bool TryStepSrgb(const Ccolors& model, float x, float y, int n, DiagramColour& out) {
    const SrgbThresholds& t = SrgbEncodeThresholds();
    const auto luminance = static_cast<float>(n * 0.01);
    const ColorTriple xyz = XyYToXyz(x, y, luminance);
    const float in[3] = {xyz.c0, xyz.c1, xyz.c2};
    float linear[3];
    model.Minv.RowVectorProduct(in, linear);
    for (int c = 0; c < 3; ++c) {
        if (!(linear[c] >= 0.0f && linear[c] <= t.Upper)) {
            return false;
        }
    }
    int encoded[3];
    for (int c = 0; c < 3; ++c) {
        encoded[c] = TruncatedSrgb(t, linear[c]);
    }
    out.n = n;
    out.R = encoded[0];
    out.G = encoded[1];
    out.B = encoded[2];
    return true;
}

// Tries every step from `from` down to 1. The step is a template argument, so that it is
// inlined rather than called through a pointer for every pixel.
using Step = bool (*)(const Ccolors&, float, float, int, DiagramColour&);

template <Step step>
DiagramColour SearchDown(const Ccolors& model, float x, float y, int from) {
    DiagramColour c;
    for (int n = from; n >= 1; --n) {
        if (step(model, x, y, n, c)) {
            return c;
        }
    }
    return {};
}

// Relative size of the rounding the float pipeline may add to a linear component, with a wide
// margin: a component within this band of 0 could take either sign, so it is left to the
// step-by-step search.
constexpr double kSignBand = 1e-5;

std::uint32_t Bits(float f) {
    return std::bit_cast<std::uint32_t>(f);
}
float FromBits(std::uint32_t b) {
    return std::bit_cast<float>(b);
}

// Smallest non-negative float L in [0, limit] with pred(L) true, for a predicate that turns
// from false to true once as L grows; limit when none.
template <typename Pred>
float FirstFloat(float limit, Pred pred) {
    std::uint32_t lo = 0;
    std::uint32_t hi = Bits(limit);
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (pred(FromBits(mid))) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return FromBits(lo);
}

}  // namespace

const SrgbThresholds& SrgbEncodeThresholds() {
    static const SrgbThresholds thresholds = [] {
        const Ccolors srgb;  // a new model uses the sRGB curve
        SrgbThresholds t{};
        t.Threshold[0] = 0.0f;
        for (int k = 1; k <= 255; ++k) {
            t.Threshold[static_cast<std::size_t>(k)] =
                FirstFloat(2.0f, [&](float l) { return srgb.Encode(l) >= static_cast<float>(k); });
        }
        const float above = FirstFloat(2.0f, [&](float l) { return srgb.Encode(l) > 255.0f; });
        t.Upper = FromBits(Bits(above) - 1);
        for (std::size_t b = 0; b < t.BucketStart.size(); ++b) {
            const float bottom = SrgbThresholds::BucketBottom(b);
            std::size_t k = 0;
            while (k < 255 && t.Threshold[k + 1] <= bottom) {
                ++k;
            }
            t.BucketStart[b] = static_cast<std::uint8_t>(k);
        }
        return t;
    }();
    return thresholds;
}

Chromaticity FillChromaticity(const DiagramView& view, int k, int l) {
    return {static_cast<float>(k * 0.004 * 0.7 / view.Zoom + view.X0),
            static_cast<float>(l * 0.004 * 0.7 / view.Zoom + view.Y0)};
}

Chromaticity FillChromaticity(const DiagramView& view, double k, double l) {
    return {static_cast<float>(k * 0.004 * 0.7 / view.Zoom + view.X0),
            static_cast<float>(l * 0.004 * 0.7 / view.Zoom + view.Y0)};
}

DiagramColour BrightestColourReference(const Ccolors& model, float x, float y) {
    return SearchDown<TryStep>(model, x, y, 100);
}

namespace {

// The fast search with the step for the model's curve; top is the largest linear value that
// encodes within 255.
template <Step step>
DiagramColour PredictedSearch(const Ccolors& model, float x, float y, double top) {
    // Linear RGB is proportional to Y, so one conversion at Y = 1 tells the sign of every
    // component at every step and which step first brings the largest one down to 1.
    // An estimate only, so one reciprocal serves both divisions.
    const double perY = 1.0 / y;
    const double xUnit = x * perY;
    const double zUnit = (1.0 - x - y) * perY;
    double largest = 0.0;
    double largestTerms = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double t0 = xUnit * model.Minv.m[0][c];
        const double t1 = model.Minv.m[1][c];
        const double t2 = zUnit * model.Minv.m[2][c];
        const double linear = t0 + t1 + t2;
        const double terms = std::fabs(t0) + std::fabs(t1) + std::fabs(t2);
        if (!(std::fabs(linear) > kSignBand * terms)) {
            // Too close to 0 (or not finite) to trust the sign: search step by step.
            return SearchDown<step>(model, x, y, 100);
        }
        if (linear < 0.0) {
            return {};  // negative at every luminance: never displayable
        }
        if (linear > largest) {
            largest = linear;
            largestTerms = terms;
        }
    }
    // The encoded values stay within 255 while the largest linear value stays within the top
    // of the curve, which it reaches at the continuous step q. The float pipeline differs from
    // the exact product by a relative error well below `slack`; step floor(q) + 1 is skipped
    // only when it is beyond the top by more than that, and steps above it always are.
    const double perLargest = 1.0 / largest;
    const double q = 100.0 * top * perLargest;
    if (q >= 100.0) {
        return SearchDown<step>(model, x, y, 100);
    }
    const double slack = 4e-6 * largestTerms * perLargest + 1e-6;
    if (slack > 0.005) {
        // Heavy cancellation: the prediction is too loose to skip any step.
        return SearchDown<step>(model, x, y, 100);
    }
    const double below = std::floor(q);
    const int from =
        (below + 1.0) / q > 1.0 + slack ? static_cast<int>(below) : static_cast<int>(below) + 1;
    return SearchDown<step>(model, x, y, from);
}

}  // namespace

DiagramColour BrightestColour(const Ccolors& model, float x, float y) {
    if (model.TransferParameter > 0.0f) {
        return PredictedSearch<TryStep>(model, x, y, 1.0);
    }
    return PredictedSearch<TryStepSrgb>(model, x, y, SrgbEncodeThresholds().Upper);
}

void FillDiagram(const Ccolors& model, const DiagramView& view, std::vector<DiagramColour>& cells) {
    // x depends only on the column and y only on the row, so each is worked out once.
    std::array<float, kFillWidth + 1> xs{};
    std::array<float, kFillHeight + 1> ys{};
    for (int k = 1; k <= kFillWidth; ++k) {
        xs[static_cast<std::size_t>(k)] = FillChromaticity(view, k, 1).x;
    }
    for (int l = 1; l <= kFillHeight; ++l) {
        ys[static_cast<std::size_t>(l)] = FillChromaticity(view, 1, l).y;
    }
    cells.resize(static_cast<std::size_t>(kFillWidth) * kFillHeight);
    std::size_t i = 0;
    for (int l = 1; l <= kFillHeight; ++l) {
        for (int k = 1; k <= kFillWidth; ++k) {
            cells[i++] = BrightestColour(model, xs[static_cast<std::size_t>(k)],
                                         ys[static_cast<std::size_t>(l)]);
        }
    }
}

void FillDiagramReference(const Ccolors& model, const DiagramView& view,
                          std::vector<DiagramColour>& cells) {
    cells.resize(static_cast<std::size_t>(kFillWidth) * kFillHeight);
    std::size_t i = 0;
    for (int l = 1; l <= kFillHeight; ++l) {
        for (int k = 1; k <= kFillWidth; ++k) {
            const Chromaticity c = FillChromaticity(view, k, l);
            cells[i++] = BrightestColourReference(model, c.x, c.y);
        }
    }
}

std::vector<DiagramColour> FillDiagram(const Ccolors& model, const DiagramView& view) {
    std::vector<DiagramColour> cells;
    FillDiagram(model, view, cells);
    return cells;
}

std::vector<DiagramColour> FillDiagramReference(const Ccolors& model, const DiagramView& view) {
    std::vector<DiagramColour> cells;
    FillDiagramReference(model, view, cells);
    return cells;
}
