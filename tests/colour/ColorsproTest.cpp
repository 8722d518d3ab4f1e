#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "Examplegamut.h"
#include "colour/Colorspro.h"

namespace {

void ExpectSameMatrix(const Cmatrix& a, const Cmatrix& b) {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(a.m[r][c], b.m[r][c]) << "at " << r << "," << c;
        }
    }
}

Ccolors WindowModel() {
    Ccolors model;
    model.SetTemperature(5000, 1, -1.0f);
    return model;
}

TEST(ColourModel, NewModelIsIdentity) {
    const Ccolors model;
    Cmatrix id;
    id.SetIdentity();
    ExpectSameMatrix(model.M, id);
    ExpectSameMatrix(model.Minv, id);
    EXPECT_EQ(model.TransferParameter, -1.0f);
}

TEST(ColourModel, WindowModelWhiteAndScaleFactors) {
    const Ccolors model = WindowModel();
    const ColorTriple white = model.RgbToXyz(255, 255, 255);
    EXPECT_NEAR(white.c0, 0.96396f, 2e-5f);
    EXPECT_NEAR(white.c1, 1.0f, 2e-5f);
    EXPECT_NEAR(white.c2, 0.82415f, 2e-5f);
    const Chromaticity w = ModelWhite(model);
    EXPECT_NEAR(w.x, 0.345741f, 1e-6f);
    EXPECT_NEAR(w.y, 0.358666f, 1e-6f);
    // Row k of M is primary k at Y = 1 times its scale factor, so the Y column holds S_k.
    EXPECT_NEAR(model.M.m[0][1], 0.33270f, 1e-5f);
    EXPECT_NEAR(model.M.m[1][1], 0.61224f, 1e-5f);
    EXPECT_NEAR(model.M.m[2][1], 0.05506f, 1e-5f);

    const ColorTriple rgb = model.XyzToRgb(white.c0, white.c1, white.c2, true);
    EXPECT_NEAR(rgb.c0, 255.0f, 1e-3f);
    EXPECT_NEAR(rgb.c1, 255.0f, 1e-3f);
    EXPECT_NEAR(rgb.c2, 255.0f, 1e-3f);
}

TEST(ColourModel, OutOfGamutGreenIsNotClamped) {
    const Ccolors model = WindowModel();
    const ColorTriple xyz = XyYToXyz(0.2f, 0.75f, 0.5f);
    const ColorTriple rgb = model.XyzToRgb(xyz.c0, xyz.c1, xyz.c2, true);
    EXPECT_LT(rgb.c0, 0.0f);
    EXPECT_NEAR(rgb.c1, 235.0f, 1.0f);
    EXPECT_LT(rgb.c2, 0.0f);
}

TEST(ColourModel, DegenerateInputKeepsMatrices) {
    struct Case {
        const char* what;
        float wx, wy, rx, ry, gx, gy, bx, by;
    };
    const Case cases[] = {
        {"collinear primaries", 0.35f, 0.36f, 0.2f, 0.2f, 0.3f, 0.3f, 0.4f, 0.4f},
        {"missing corners (all zero)", 0.345741f, 0.358666f, 0, 0, 0, 0, 0, 0},
        {"white y zero", 0.3f, 0.0f, 0.64f, 0.33f, 0.21f, 0.71f, 0.15f, 0.06f},
        {"white on the red corner", 0.64f, 0.33f, 0.64f, 0.33f, 0.21f, 0.71f, 0.15f, 0.06f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Ccolors model;
        model.SetTemperature(5000, 0, -1.0f);
        const Ccolors before = model;
        model.SetWhiteAndPrimaries(c.wx, c.wy, c.rx, c.ry, c.gx, c.gy, c.bx, c.by, 2.2f);
        ExpectSameMatrix(model.M, before.M);
        ExpectSameMatrix(model.Minv, before.Minv);
        EXPECT_EQ(model.TransferParameter, 2.2f);  // stored in every case
    }
}

TEST(ColourModel, PrimarySetsDiffer) {
    Ccolors srgb;
    srgb.SetTemperature(5000, 0, -1.0f);
    const Ccolors wide = WindowModel();
    EXPECT_NE(srgb.M.m[1][0], wide.M.m[1][0]);
    // Both share the 5000 K white.
    const Chromaticity a = ModelWhite(srgb);
    const Chromaticity b = ModelWhite(wide);
    EXPECT_NEAR(a.x, b.x, 1e-6f);
    EXPECT_NEAR(a.y, b.y, 1e-6f);
}

TEST(ColourModel, TransferCurves) {
    Ccolors srgb;
    EXPECT_EQ(srgb.Decode(0), 0.0f);
    EXPECT_FLOAT_EQ(srgb.Decode(255), 1.0f);
    EXPECT_FLOAT_EQ(srgb.Encode(1.0f), 255.0f);
    EXPECT_FLOAT_EQ(srgb.Encode(0.0031308f), 12.92f * 0.0031308f * 255.0f);  // linear branch
    EXPECT_LT(srgb.Encode(-0.01f), 0.0f);  // negative passes through
    EXPECT_GT(srgb.Encode(2.0f), 255.0f);
    // Below the knee the decode is linear; round trips stay close on both branches.
    EXPECT_FLOAT_EQ(srgb.Decode(5.0f), 5.0f / 255.0f / 12.92f);
    for (float v : {3.0f, 10.0f, 100.0f, 200.0f}) {
        EXPECT_NEAR(srgb.Encode(srgb.Decode(v)), v, 1e-3f) << v;
    }

    Ccolors gamma;
    gamma.TransferParameter = 2.0f;
    EXPECT_FLOAT_EQ(gamma.Decode(127.5f), 0.25f);
    EXPECT_FLOAT_EQ(gamma.Encode(0.25f), 127.5f);
    EXPECT_FLOAT_EQ(gamma.Encode(-0.5f), -127.5f);
}

// ---- Colour temperature ----

TEST(Locus, CheckRows) {
    struct Row {
        int kelvin;
        float x, y;
        float tolerance;  // the black-body rows are computed; the daylight rows are exact
    };
    const Row rows[] = {
        {2500, 0.477010f, 0.413754f, 1.5e-6f}, {2700, 0.459881f, 0.410686f, 1.5e-6f},
        {3000, 0.436961f, 0.404171f, 1.5e-6f}, {3500, 0.405343f, 0.390827f, 1.5e-6f},
        {3999, 0.380530f, 0.376895f, 1.5e-6f}, {4000, 0.382344f, 0.383766f, 0.0f},
        {5000, 0.345741f, 0.358666f, 0.0f},    {5500, 0.332502f, 0.347608f, 0.0f},
        {6500, 0.312779f, 0.329183f, 0.0f},    {7000, 0.305357f, 0.321646f, 0.0f},
        {7001, 0.305343f, 0.321632f, 0.0f},    {10000, 0.278800f, 0.291967f, 0.0f},
    };
    for (const Row& r : rows) {
        const Chromaticity p = LocusPoint(r.kelvin);
        EXPECT_NEAR(p.x, r.x, r.tolerance) << r.kelvin;
        EXPECT_NEAR(p.y, r.y, r.tolerance) << r.kelvin;
    }
    EXPECT_EQ(LocusTable().size(), 7501u);
}

TEST(Locus, RowsAreSixDecimalsAndClamped) {
    for (const Chromaticity& p : LocusTable()) {
        ASSERT_NEAR(p.x * 1e6, std::round(p.x * 1e6), 0.05);
        ASSERT_NEAR(p.y * 1e6, std::round(p.y * 1e6), 0.05);
    }
    EXPECT_EQ(LocusPoint(1000).x, LocusPoint(2500).x);
    EXPECT_EQ(LocusPoint(20000).y, LocusPoint(10000).y);
}

TEST(Temperature, Examples) {
    struct Case {
        float x, y;
        int kelvin;
    };
    const Case cases[] = {
        {0.345741f, 0.358666f, 5000}, {0.312779f, 0.329183f, 6500}, {0.7f, 0.29f, 2500},
        {0.15f, 0.06f, 10000},        {0.33f, 0.33f, 5618},         {0.3127f, 0.329f, 6506},
        {0.4476f, 0.4074f, 2854},
    };
    for (const Case& c : cases) {
        const ColorTriple t = XyYToXyz(c.x, c.y, 1.0f);
        EXPECT_EQ(NearestTemperature(t.c0, t.c1, t.c2), c.kelvin) << c.x << "," << c.y;
        EXPECT_EQ(NearestTemperatureReference(t.c0, t.c1, t.c2), c.kelvin) << c.x << "," << c.y;
        for (float scale : {0.01f, 3.0f, 250.0f}) {
            EXPECT_EQ(NearestTemperature(t.c0 * scale, t.c1 * scale, t.c2 * scale), c.kelvin)
                << "scaled by " << scale;
        }
    }
}

TEST(Temperature, FastSearchMatchesReferenceOnAGrid) {
    // Targets over the window's clamped range 0.01..0.7; the benchmark checks a finer grid.
    constexpr int kSide = 70;
    for (int i = 0; i < kSide; ++i) {
        for (int j = 0; j < kSide; ++j) {
            const auto x = static_cast<float>(0.01 + 0.69 * i / (kSide - 1));
            const auto y = static_cast<float>(0.01 + 0.69 * j / (kSide - 1));
            const ColorTriple t = XyYToXyz(x, y, 1.0f);
            ASSERT_EQ(NearestTemperature(t.c0, t.c1, t.c2),
                      NearestTemperatureReference(t.c0, t.c1, t.c2))
                << x << "," << y;
        }
    }
}

TEST(Temperature, NonFiniteInputGivesTheStartValue) {
    EXPECT_EQ(NearestTemperature(NAN, 1.0f, 1.0f), 10);
    EXPECT_EQ(NearestTemperatureReference(NAN, 1.0f, 1.0f), 10);
}

// ---- Gamut constraint ----

const Chromaticity kWhite{0.345741f, 0.358666f};

TEST(Gamut, ExamplesWithTheExampleTriangle) {
    struct Case {
        float x, y;
        bool outside;
        float ex, ey;
    };
    const Case cases[] = {
        {0.33f, 0.33f, false, 0.33f, 0.33f},      // inside: unchanged
        {0.6f, 0.6f, true, 0.46571f, 0.47253f},   // onto red-green
        {0.05f, 0.2f, true, 0.15678f, 0.25729f},  // onto green-blue
        {0.5f, 0.05f, true, 0.43802f, 0.17401f},  // onto blue-red
        {0.7f, 0.3f, true, 0.68726f, 0.30211f},   // just beyond the red corner
        {0.69f, 0.30f, false, 0.69f, 0.30f},      // a corner counts as inside
        {0.43f, 0.50f, false, 0.43f, 0.50f},      // on the red-green edge
    };
    for (const Case& c : cases) {
        float x = c.x;
        float y = c.y;
        EXPECT_EQ(ConstrainToGamut(x, y, kExampleGamut, kWhite), c.outside) << c.x << "," << c.y;
        EXPECT_NEAR(x, c.ex, 1e-5f) << c.x << "," << c.y;
        EXPECT_NEAR(y, c.ey, 1e-5f) << c.x << "," << c.y;
    }
}

TEST(Gamut, WhiteFromTheWindowModel) {
    Ccolors model;
    model.SetTemperature(5000, 1, -1.0f);
    float x = 0.6f;
    float y = 0.6f;
    EXPECT_TRUE(ConstrainToGamut(x, y, kExampleGamut, ModelWhite(model)));
    EXPECT_NEAR(x, 0.46571f, 1e-5f);
    EXPECT_NEAR(y, 0.47253f, 1e-5f);
}

TEST(Gamut, ZeroTriangleConstrainsNothing) {
    const GamutTriangle zero{};
    for (auto [px, py] : {std::pair{0.01f, 0.01f}, {0.7f, 0.7f}, {0.33f, 0.33f}}) {
        float x = px;
        float y = py;
        EXPECT_FALSE(ConstrainToGamut(x, y, zero, kWhite));
        EXPECT_EQ(x, px);
        EXPECT_EQ(y, py);
    }
}

TEST(Gamut, TriangleWithoutWhiteReportsButDoesNotMove) {
    const GamutTriangle greenish{0.3f, 0.6f, 0.1f, 0.8f, 0.1f, 0.5f};
    float x = 0.6f;
    float y = 0.3f;
    EXPECT_TRUE(ConstrainToGamut(x, y, greenish, kWhite));
    EXPECT_EQ(x, 0.6f);
    EXPECT_EQ(y, 0.3f);
    x = 0.15f;
    y = 0.6f;
    EXPECT_FALSE(ConstrainToGamut(x, y, greenish, kWhite));
}

TEST(Gamut, GeometryHelpers) {
    const Chromaticity a{0, 0}, b{1, 0}, c{0, 1};
    EXPECT_FLOAT_EQ(TriangleArea(a, b, c), 0.5f);
    EXPECT_FLOAT_EQ(TriangleArea(c, b, a), 0.5f);  // orientation does not matter
    EXPECT_TRUE(InsideTriangle({0.25f, 0.25f}, a, b, c));
    EXPECT_TRUE(InsideTriangle({0.5f, 0.5f}, a, b, c));  // on the border
    EXPECT_FALSE(InsideTriangle({0.6f, 0.6f}, a, b, c));

    const Chromaticity cross = LineIntersection({0, 0}, {1, 1}, {0, 1}, {1, 0});
    EXPECT_FLOAT_EQ(cross.x, 0.5f);
    EXPECT_FLOAT_EQ(cross.y, 0.5f);
    // Parallel lines divide by 0.001: a finite, far-away point.
    const Chromaticity far = LineIntersection({0, 0}, {1, 1}, {0, 1}, {1, 2});
    EXPECT_TRUE(std::isfinite(far.x));
    EXPECT_GT(std::fabs(far.x) + std::fabs(far.y), 100.0f);

    EXPECT_FLOAT_EQ(Distance({0, 0}, {0.3f, 0.4f}), 0.5f);
}

TEST(Gamut, ParallelEdgeIsRejected) {
    // The pull line from (0.1, 0.5) to white runs parallel to no edge here, but a point whose
    // line to white is parallel to the blue-red edge must still land on another edge.
    const GamutTriangle t{0.6f, 0.3f, 0.3f, 0.6f, 0.2f, 0.2f};
    const Chromaticity white{0.35f, 0.35f};
    // Direction of the blue-red edge: (0.4, 0.1); start beyond the green corner along it.
    float x = 0.35f - 0.4f;
    float y = 0.35f - 0.1f;
    EXPECT_TRUE(ConstrainToGamut(x, y, t, white));
    EXPECT_TRUE(InsideTriangle({x, y}, t.Corner(0), t.Corner(1), t.Corner(2)));
}

}  // namespace
