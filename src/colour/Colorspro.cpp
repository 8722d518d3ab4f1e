#include "colour/Colorspro.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "colour/Observer.h"

namespace {

struct PrimaryChromaticities {
    Chromaticity red;
    Chromaticity green;
    Chromaticity blue;
};

// 0: sRGB primaries after adaptation to a D50 white; 1: the wide-gamut set the window uses.
constexpr PrimaryChromaticities kPrimarySets[] = {
    {{0.64845f, 0.33085f}, {0.3212f, 0.59784f}, {0.15589f, 0.06604f}},
    {{0.64f, 0.33f}, {0.21f, 0.71f}, {0.15f, 0.06f}},
};

bool Finite(const Cmatrix& m) {
    for (const auto& row : m.m) {
        for (float v : row) {
            if (!std::isfinite(v)) {
                return false;
            }
        }
    }
    return true;
}

Cmatrix MatrixOfRows(const ColorTriple& a, const ColorTriple& b, const ColorTriple& c) {
    Cmatrix m;
    m.SetRow(0, a, 1.0f);
    m.SetRow(1, b, 1.0f);
    m.SetRow(2, c, 1.0f);
    return m;
}

}  // namespace

Ccolors::Ccolors() {
    M.SetIdentity();
    Minv.SetIdentity();
}

void Ccolors::SetWhiteAndPrimaries(float whiteX, float whiteY, float redX, float redY, float greenX,
                                   float greenY, float blueX, float blueY, float transfer) {
    TransferParameter = transfer;
    // A y of 0 (missing gamut corners) would divide by zero; keep the current space instead.
    if (whiteY == 0.0f || redY == 0.0f || greenY == 0.0f || blueY == 0.0f) {
        return;
    }
    const ColorTriple w = XyYToXyz(whiteX, whiteY, 1.0f);
    const ColorTriple r = XyYToXyz(redX, redY, 1.0f);
    const ColorTriple g = XyYToXyz(greenX, greenY, 1.0f);
    const ColorTriple b = XyYToXyz(blueX, blueY, 1.0f);

    const float d0 = MatrixOfRows(r, g, b).Determinant();
    if (d0 == 0.0f || !std::isfinite(d0)) {
        return;  // collinear primaries
    }
    // Cramer's rule for S_R·R + S_G·G + S_B·B = W.
    const auto sR = static_cast<float>(MatrixOfRows(w, g, b).Determinant() / d0);
    const auto sG = static_cast<float>(MatrixOfRows(r, w, b).Determinant() / d0);
    const auto sB = static_cast<float>(MatrixOfRows(r, g, w).Determinant() / d0);

    Cmatrix m;
    m.SetRow(0, r, sR);
    m.SetRow(1, g, sG);
    m.SetRow(2, b, sB);
    Cmatrix inverse;
    // A white on the line through two primaries makes M singular; keeping the old pair (rather
    // than a new M with a stale inverse) leaves the two matrices consistent.
    if (!Finite(m) || !m.Inverse(inverse) || !Finite(inverse)) {
        return;
    }
    M = m;
    Minv = inverse;
}

void Ccolors::SetTemperature(int kelvin, int primarySet, float transfer) {
    if (primarySet < 0 || primarySet > 1) {
        TransferParameter = transfer;
        return;
    }
    const Chromaticity white = LocusPoint(kelvin);
    const PrimaryChromaticities& p = kPrimarySets[primarySet];
    SetWhiteAndPrimaries(white.x, white.y, p.red.x, p.red.y, p.green.x, p.green.y, p.blue.x,
                         p.blue.y, transfer);
}

float Ccolors::Decode(float value) const {
    const auto n = static_cast<float>(value / 255.0);
    const double p = TransferParameter;
    if (TransferParameter > 0.0f) {
        return n > 0.0f ? static_cast<float>(std::pow(static_cast<double>(n), p)) : n;
    }
    if (n >= 0.04045f) {
        return static_cast<float>(std::pow((n + 0.055) / 1.055, 2.4));
    }
    return static_cast<float>(n / 12.92);
}

float Ccolors::Encode(float linear) const {
    double e;
    if (TransferParameter > 0.0f) {
        e = linear > 0.0f ? std::pow(static_cast<double>(linear), 1.0 / TransferParameter)
                          : static_cast<double>(linear);
    } else if (linear > 0.0031308f) {
        e = 1.055 * std::pow(static_cast<double>(linear), 1.0 / 2.4) - 0.055;
    } else {
        e = 12.92 * linear;
    }
    return static_cast<float>(e * 255.0);
}

ColorTriple Ccolors::RgbToXyz(float R, float G, float B) const {
    const float lin[3] = {Decode(R), Decode(G), Decode(B)};
    float out[3];
    M.RowVectorProduct(lin, out);
    ColorTriple t;
    t.c0 = out[0];
    t.c1 = out[1];
    t.c2 = out[2];
    return t;
}

ColorTriple Ccolors::XyzToRgb(float X, float Y, float Z, bool encode) const {
    const float xyz[3] = {X, Y, Z};
    float out[3];
    Minv.RowVectorProduct(xyz, out);
    ColorTriple t;
    t.c0 = encode ? Encode(out[0]) : out[0];
    t.c1 = encode ? Encode(out[1]) : out[1];
    t.c2 = encode ? Encode(out[2]) : out[2];
    return t;
}

Chromaticity ModelWhite(const Ccolors& model) {
    const ColorTriple w = model.RgbToXyz(255.0f, 255.0f, 255.0f);
    return {ChromaticityCoordinate(w.c0, w.c1, w.c2), ChromaticityCoordinate(w.c1, w.c0, w.c2)};
}

// ---- Colour temperature ----

namespace {

double RoundToSixDecimals(double v) {
    return std::round(v * 1e6) / 1e6;
}

// Black-body chromaticity at T, from Planck's law weighted by the standard observer sampled
// every 10 nm from 360 nm to 830 nm.
Chromaticity PlanckianPoint(int kelvin) {
    constexpr double c2 = 1.4387768775e-2;  // second radiation constant, m·K
    double X = 0.0;
    double Y = 0.0;
    double Z = 0.0;
    for (int i = 0; i < kObserverSamples; i += 2) {
        const ObserverSample& s = kCie1931Observer[static_cast<std::size_t>(i)];
        const double lambda = s.nm * 1e-9;
        // The first radiation constant cancels in the chromaticity.
        const double radiance = 1.0 / (std::pow(lambda, 5) * std::expm1(c2 / (lambda * kelvin)));
        X += radiance * s.x;
        Y += radiance * s.y;
        Z += radiance * s.z;
    }
    const double sum = X + Y + Z;
    return {static_cast<float>(RoundToSixDecimals(X / sum)),
            static_cast<float>(RoundToSixDecimals(Y / sum))};
}

// The CIE daylight locus.
Chromaticity DaylightPoint(int kelvin) {
    const double t = kelvin;
    const double xd = kelvin <= 7000
                          ? -4.6070e9 / (t * t * t) + 2.9678e6 / (t * t) + 0.09911e3 / t + 0.244063
                          : -2.0064e9 / (t * t * t) + 1.9018e6 / (t * t) + 0.24748e3 / t + 0.237040;
    const double yd = -3.000 * xd * xd + 2.870 * xd - 0.275;
    return {static_cast<float>(RoundToSixDecimals(xd)), static_cast<float>(RoundToSixDecimals(yd))};
}

// Rows are grouped in blocks; a block's u, v bounding box gives a lower bound on the distance
// of every row in it, so most blocks can be passed over without looking at their rows.
constexpr int kBlockRows = 64;
constexpr int kBlocks = (kLocusRows + kBlockRows - 1) / kBlockRows;

struct UvBox {
    double uMin, uMax, vMin, vMax;
};

struct LocusData {
    std::array<Chromaticity, kLocusRows> xy;
    // The u, v of every row, kept as separate arrays so the search loop runs over plain floats.
    std::array<float, kLocusRows> u;
    std::array<float, kLocusRows> v;
    std::array<UvBox, kBlocks> boxes;
};

Uv1960 RowUv(Chromaticity p) {
    const ColorTriple t = XyYToXyz(p.x, p.y, 1.0f);
    return XyzToUv1960(t.c0, t.c1, t.c2);
}

const LocusData& Locus() {
    static const LocusData data = [] {
        LocusData d{};
        for (int i = 0; i < kLocusRows; ++i) {
            const int kelvin = kLocusFirstKelvin + i;
            const auto k = static_cast<std::size_t>(i);
            d.xy[k] = kelvin < 4000 ? PlanckianPoint(kelvin) : DaylightPoint(kelvin);
            const Uv1960 uv = RowUv(d.xy[k]);
            d.u[k] = uv.u;
            d.v[k] = uv.v;
        }
        for (int b = 0; b < kBlocks; ++b) {
            UvBox box{1e30, -1e30, 1e30, -1e30};
            for (int i = b * kBlockRows; i < kLocusRows && i < (b + 1) * kBlockRows; ++i) {
                const auto k = static_cast<std::size_t>(i);
                box.uMin = std::min<double>(box.uMin, d.u[k]);
                box.uMax = std::max<double>(box.uMax, d.u[k]);
                box.vMin = std::min<double>(box.vMin, d.v[k]);
                box.vMax = std::max<double>(box.vMax, d.v[k]);
            }
            d.boxes[static_cast<std::size_t>(b)] = box;
        }
        return d;
    }();
    return data;
}

// Squared u, v distance: differences and sum rounded to float.
inline float UvDistance(float uT, float vT, float u, float v) {
    const auto du = static_cast<float>(static_cast<double>(uT) - u);
    const auto dv = static_cast<float>(static_cast<double>(vT) - v);
    return static_cast<float>(static_cast<double>(du) * du + static_cast<double>(dv) * dv);
}

}  // namespace

const std::array<Chromaticity, kLocusRows>& LocusTable() {
    return Locus().xy;
}

Chromaticity LocusPoint(int kelvin) {
    if (kelvin < kLocusFirstKelvin) {
        kelvin = kLocusFirstKelvin;
    } else if (kelvin > kLocusLastKelvin) {
        kelvin = kLocusLastKelvin;
    }
    return Locus().xy[static_cast<std::size_t>(kelvin - kLocusFirstKelvin)];
}

int NearestTemperatureReference(float X, float Y, float Z) {
    const Uv1960 target = XyzToUv1960(X, Y, Z);
    float best = 1.0e9f;
    int result = 10;
    for (int kelvin = kLocusFirstKelvin; kelvin <= kLocusLastKelvin; ++kelvin) {
        const Uv1960 row = RowUv(LocusPoint(kelvin));
        const float d = UvDistance(row.u, row.v, target.u, target.v);
        if (d < best) {
            best = d;
            result = kelvin;
        }
    }
    return result;
}

int NearestTemperature(float X, float Y, float Z) {
    const Uv1960 target = XyzToUv1960(X, Y, Z);
    const LocusData& locus = Locus();

    // Squared distance from the target to each block's box: no row of the block is nearer.
    std::array<double, kBlocks> lower;
    int seed = -1;
    for (int b = 0; b < kBlocks; ++b) {
        const UvBox& box = locus.boxes[static_cast<std::size_t>(b)];
        const double du = std::max({0.0, box.uMin - target.u, target.u - box.uMax});
        const double dv = std::max({0.0, box.vMin - target.v, target.v - box.vMax});
        lower[static_cast<std::size_t>(b)] = du * du + dv * dv;
        if (seed < 0 ||
            lower[static_cast<std::size_t>(b)] < lower[static_cast<std::size_t>(seed)]) {
            seed = b;
        }
    }
    const auto rowsOf = [](int b) {
        return std::pair{b * kBlockRows, std::min(kLocusRows, (b + 1) * kBlockRows)};
    };
    // Any row's distance bounds the answer from above; the nearest box's rows bound it well.
    double bound = 1.0e30;
    if (seed >= 0) {
        const auto [first, last] = rowsOf(seed);
        for (int i = first; i < last; ++i) {
            const auto k = static_cast<std::size_t>(i);
            bound = std::min<double>(bound, UvDistance(locus.u[k], locus.v[k], target.u, target.v));
        }
    }
    // A block is passed over only when all its rows are certainly farther than the answer: the
    // float roundings change a distance by far less than the relative margin, and distances
    // above 1e-30 are clear of float underflow.
    const double skipAbove = std::max(bound * (1.0 + 1e-5), 1e-30);

    // The reference scan over the blocks that remain, in ascending order.
    float best = 1.0e9f;
    int result = 10;
    for (int b = 0; b < kBlocks; ++b) {
        if (lower[static_cast<std::size_t>(b)] > skipAbove) {
            continue;
        }
        const auto [first, last] = rowsOf(b);
        for (int i = first; i < last; ++i) {
            const auto k = static_cast<std::size_t>(i);
            const float d = UvDistance(locus.u[k], locus.v[k], target.u, target.v);
            if (d < best) {
                best = d;
                result = kLocusFirstKelvin + i;
            }
        }
    }
    return result;
}

// ---- Gamut constraint ----

Chromaticity GamutTriangle::Corner(int k) const {
    switch (((k % 3) + 3) % 3) {
        case 0:
            return {x1, y1};
        case 1:
            return {x2, y2};
        default:
            return {x3, y3};
    }
}

float TriangleArea(Chromaticity a, Chromaticity b, Chromaticity c) {
    const double s = static_cast<double>(a.x) * b.y + static_cast<double>(b.x) * c.y +
                     static_cast<double>(c.x) * a.y - static_cast<double>(b.x) * a.y -
                     static_cast<double>(c.x) * b.y - static_cast<double>(a.x) * c.y;
    return static_cast<float>(std::fabs(s) / 2.0);
}

bool InsideTriangle(Chromaticity p, Chromaticity a, Chromaticity b, Chromaticity c) {
    const float whole = TriangleArea(a, b, c);
    const float a1 = TriangleArea(p, b, c);
    const float a2 = TriangleArea(a, p, c);
    const float a3 = TriangleArea(a, b, p);
    return std::fabs(static_cast<double>(a1) + a2 + a3 - whole) < 0.0001;
}

Chromaticity LineIntersection(Chromaticity p1, Chromaticity p2, Chromaticity p3, Chromaticity p4) {
    const double x1 = p1.x, y1 = p1.y, x2 = p2.x, y2 = p2.y;
    const double x3 = p3.x, y3 = p3.y, x4 = p4.x, y4 = p4.y;
    float d = static_cast<float>((x1 - x2) * (y3 - y4) - (y1 - y2) * (x3 - x4));
    if (d == 0.0f) {
        d = 0.001f;  // parallel: a far-away crossing that the callers' segment tests reject
    }
    const auto a = static_cast<float>(x1 * y2 - y1 * x2);
    const auto b = static_cast<float>(x3 * y4 - y3 * x4);
    return {static_cast<float>((a * (x3 - x4) - (x1 - x2) * b) / d),
            static_cast<float>((a * (y3 - y4) - (y1 - y2) * b) / d)};
}

float Distance(Chromaticity a, Chromaticity b) {
    const auto dx = static_cast<float>(static_cast<double>(a.x) - b.x);
    const auto dy = static_cast<float>(static_cast<double>(a.y) - b.y);
    return static_cast<float>(
        std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy));
}

bool ConstrainToGamut(float& x, float& y, const GamutTriangle& triangle, Chromaticity white) {
    const Chromaticity point{x, y};
    const Chromaticity c0 = triangle.Corner(0);
    const Chromaticity c1 = triangle.Corner(1);
    const Chromaticity c2 = triangle.Corner(2);
    if (InsideTriangle(point, c0, c1, c2)) {
        return false;
    }
    const float r = Distance(white, point);
    // Without the white inside, the line towards it gives no meaningful crossing.
    if (!InsideTriangle(white, c0, c1, c2)) {
        return true;
    }
    float best = 1.0e6f;
    Chromaticity result = point;
    for (int k = 0; k < 3; ++k) {
        const Chromaticity from = triangle.Corner(k);
        const Chromaticity to = triangle.Corner(k + 1);
        const Chromaticity crossing = LineIntersection(point, white, from, to);
        float d = Distance(point, crossing);
        if (Distance(white, crossing) > r) {
            d = 1.0e9f;  // beyond the point, away from white
        }
        const float edge = Distance(from, to);
        if (Distance(crossing, to) > edge || Distance(from, crossing) > edge) {
            d = 1.0e9f;  // off the edge segment
        }
        if (d < best) {
            best = d;
            result = crossing;
        }
    }
    x = result.x;
    y = result.y;
    return true;
}
