#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "colour/Colors.h"
#include "colour/Matrix.h"

namespace {

Cmatrix FromRows(std::initializer_list<std::initializer_list<float>> rows) {
    Cmatrix m;
    int r = 0;
    for (const auto& row : rows) {
        int c = 0;
        for (float v : row) {
            m.m[r][c++] = v;
        }
        ++r;
    }
    return m;
}

void ExpectMatrixNear(const Cmatrix& a, const Cmatrix& b, float tolerance) {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(a.m[r][c], b.m[r][c], tolerance) << "at " << r << "," << c;
        }
    }
}

TEST(Matrix, InverseOfIdentityIsIdentity) {
    Cmatrix id;
    id.SetIdentity();
    Cmatrix out;
    ASSERT_TRUE(id.Inverse(out));
    ExpectMatrixNear(out, id, 0.0f);
}

TEST(Matrix, InverseTimesMatrixIsIdentity) {
    const Cmatrix m = FromRows({{2, 1, 0}, {0.5f, 3, 1}, {1, 0, 4}});
    Cmatrix inv;
    ASSERT_TRUE(m.Inverse(inv));
    // Row vector e_r·m·inv = e_r for every unit row vector.
    for (int r = 0; r < 3; ++r) {
        float e[3] = {0, 0, 0};
        e[r] = 1;
        float t[3];
        m.RowVectorProduct(e, t);
        inv.RowVectorProduct(t, t);  // in place is allowed
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(t[c], r == c ? 1.0f : 0.0f, 1e-6f);
        }
    }
    EXPECT_FLOAT_EQ(m.Determinant(), 23.0f);
}

TEST(Matrix, SingularInverseFailsAndLeavesOutput) {
    const Cmatrix twoEqualRows = FromRows({{1, 2, 3}, {1, 2, 3}, {0, 1, 5}});
    Cmatrix out = FromRows({{9, 9, 9}, {8, 8, 8}, {7, 7, 7}});
    const Cmatrix before = out;
    EXPECT_FALSE(twoEqualRows.Inverse(out));
    ExpectMatrixNear(out, before, 0.0f);
}

// Two equal rows make a matrix singular however their values round: each product of the
// determinant then has its exact twin, and only a multiply-add fused on one side of a pair
// (which skips that product's rounding) leaves a remainder that would "invert" the matrix.
TEST(Matrix, TwoEqualNonIntegerRowsAreSingular) {
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return 0.05f + static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) * 1.5f;
    };
    const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    int inverted = 0;
    for (int i = 0; i < 300; ++i) {
        Cmatrix m;
        for (auto& row : m.m)
            for (float& v : row) v = next();
        const auto& pair = pairs[i % 3];
        for (int c = 0; c < 3; ++c) m.m[pair[1]][c] = m.m[pair[0]][c];
        Cmatrix out;
        out.SetIdentity();
        if (m.Inverse(out)) ++inverted;
        EXPECT_EQ(m.Determinant(), 0.0f) << "matrix " << i;
    }
    EXPECT_EQ(inverted, 0);
}

TEST(Matrix, SetRowScalesTriple) {
    Cmatrix m;
    m.SetIdentity();
    m.SetRow(1, ColorTriple{1.0f, 2.0f, 3.0f, 0.0f}, 0.5f);
    EXPECT_EQ(m.m[1][0], 0.5f);
    EXPECT_EQ(m.m[1][1], 1.0f);
    EXPECT_EQ(m.m[1][2], 1.5f);
    EXPECT_EQ(m.m[0][0], 1.0f);
    m.SetRow(3, ColorTriple{5, 5, 5, 0}, 1.0f);  // out of range: ignored
    EXPECT_EQ(m.m[2][2], 1.0f);
}

}  // namespace
