#include <gtest/gtest.h>

#include "colour/Colors.h"

namespace {

TEST(Chromaticity, XyYToXyzExample) {
    const ColorTriple t = XyYToXyz(0.3457f, 0.3587f, 1.0f);
    EXPECT_NEAR(t.c0, 0.9638f, 1e-4f);
    EXPECT_EQ(t.c1, 1.0f);
    EXPECT_NEAR(t.c2, 0.8241f, 1e-4f);
}

TEST(Chromaticity, CoordinatesAndZeroSums) {
    EXPECT_EQ(ChromaticityCoordinate(0, 0, 0), 0.0f);
    EXPECT_EQ(ChromaticityCoordinate(1, -1, 0), 0.0f);
    EXPECT_FLOAT_EQ(ChromaticityCoordinate(1, 2, 1), 0.25f);
    const Uv1960 zero = XyzToUv1960(0, 0, 0);
    EXPECT_EQ(zero.u, 0.0f);
    EXPECT_EQ(zero.v, 0.0f);
    const Uv1960 e = XyzToUv1960(1, 1, 1);
    EXPECT_FLOAT_EQ(e.u, 4.0f / 19.0f);
    EXPECT_FLOAT_EQ(e.v, 6.0f / 19.0f);
}

TEST(Chromaticity, LerpEnds) {
    const ColorTriple a{1.0f, 20.0f, 300.0f, 0.0f};
    const ColorTriple b{-4.0f, 0.5f, 7.0f, 0.0f};
    const ColorTriple t0 = LerpTriple(a, b, 0.0f);
    const ColorTriple t1 = LerpTriple(a, b, 1.0f);
    const ColorTriple mid = LerpTriple(a, b, 0.5f);
    EXPECT_EQ(t0.c0, a.c0);
    EXPECT_EQ(t0.c1, a.c1);
    EXPECT_EQ(t0.c2, a.c2);
    EXPECT_EQ(t1.c0, b.c0);
    EXPECT_EQ(t1.c1, b.c1);
    EXPECT_EQ(t1.c2, b.c2);
    EXPECT_FLOAT_EQ(mid.c0, -1.5f);
    EXPECT_FLOAT_EQ(mid.c2, 153.5f);
}

}  // namespace
