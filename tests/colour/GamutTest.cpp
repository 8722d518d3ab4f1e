#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "colour/Colorspro.h"

namespace {

const GamutTriangle kExampleGamut{0.69f, 0.30f, 0.17f, 0.70f, 0.15f, 0.03f};
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
