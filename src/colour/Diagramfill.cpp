#include "colour/Diagramfill.h"

#include <cmath>

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

// Tries every step from `from` down to 1.
DiagramColour SearchDown(const Ccolors& model, float x, float y, int from) {
    DiagramColour c;
    for (int n = from; n >= 1; --n) {
        if (TryStep(model, x, y, n, c)) {
            return c;
        }
    }
    return {};
}

// Relative size of the rounding the float pipeline may add to a linear component, with a wide
// margin: a component within this band of 0 could take either sign, so it is left to the
// step-by-step search.
constexpr double kSignBand = 1e-5;

}  // namespace

Chromaticity FillChromaticity(const DiagramView& view, int k, int l) {
    return {static_cast<float>(k * 0.004 * 0.7 / view.Zoom + view.X0),
            static_cast<float>(l * 0.004 * 0.7 / view.Zoom + view.Y0)};
}

DiagramColour BrightestColourReference(const Ccolors& model, float x, float y) {
    return SearchDown(model, x, y, 100);
}

DiagramColour BrightestColour(const Ccolors& model, float x, float y) {
    // Linear RGB is proportional to Y, so one conversion at Y = 1 tells the sign of every
    // component at every step and which step first brings the largest one down to 1.
    const double xUnit = static_cast<double>(x) / y;
    const double zUnit = (1.0 - x - y) / y;
    double largest = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double t0 = xUnit * model.Minv.m[0][c];
        const double t1 = model.Minv.m[1][c];
        const double t2 = zUnit * model.Minv.m[2][c];
        const double linear = t0 + t1 + t2;
        const double band = kSignBand * (std::fabs(t0) + std::fabs(t1) + std::fabs(t2));
        if (!(std::fabs(linear) > band)) {
            // Too close to 0 (or not finite) to trust the sign: search step by step.
            return SearchDown(model, x, y, 100);
        }
        if (linear < 0.0) {
            return {};  // negative at every luminance: never displayable
        }
        if (linear > largest) {
            largest = linear;
        }
    }
    // The encoded value stays within 255 while the linear value stays within 1. Steps two or
    // more above the predicted one exceed 1 by at least 1 %, far beyond any rounding, so the
    // search may start one step above the prediction.
    const double predicted = std::floor(100.0 / largest);
    const int from = predicted >= 99.0 ? 100 : static_cast<int>(predicted) + 1;
    return SearchDown(model, x, y, from);
}

namespace {

template <typename Search>
std::vector<DiagramColour> Fill(const Ccolors& model, const DiagramView& view, Search search) {
    std::vector<DiagramColour> cells(static_cast<std::size_t>(kFillWidth) * kFillHeight);
    std::size_t i = 0;
    for (int l = 1; l <= kFillHeight; ++l) {
        for (int k = 1; k <= kFillWidth; ++k) {
            const Chromaticity c = FillChromaticity(view, k, l);
            cells[i++] = search(model, c.x, c.y);
        }
    }
    return cells;
}

}  // namespace

std::vector<DiagramColour> FillDiagram(const Ccolors& model, const DiagramView& view) {
    return Fill(model, view, BrightestColour);
}

std::vector<DiagramColour> FillDiagramReference(const Ccolors& model, const DiagramView& view) {
    return Fill(model, view, BrightestColourReference);
}
