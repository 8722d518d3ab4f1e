#include "colour/Matrix.h"

#include <initializer_list>

namespace {

// s + e is exactly a + b.
void TwoSum(double a, double b, double& s, double& e) {
    s = a + b;
    const double bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

// Whether the six products of the rule of Sarrus sum to exactly zero. Summed in double they
// often do not: with two equal rows each product has a twin of the same value, but the
// running sum rounds, so a singular matrix can come out with a determinant of 1e-17.
// Each product x·y·z is split into two doubles that hold it exactly (x·y fits in 48 bits;
// split into halves of 26 bits, each times z fits in 53), and the twelve are summed as an
// expansion of non-overlapping parts, which is zero only when the exact sum is.
bool SarrusIsExactlyZero(const float (&m)[3][3]) {
    const int terms[6][3][2] = {
        {{0, 0}, {1, 1}, {2, 2}}, {{1, 0}, {2, 1}, {0, 2}}, {{2, 0}, {0, 1}, {1, 2}},
        {{1, 2}, {0, 0}, {2, 1}}, {{2, 2}, {1, 0}, {0, 1}}, {{0, 2}, {1, 1}, {2, 0}},
    };
    double parts[12];
    int count = 0;
    for (int t = 0; t < 6; ++t) {
        const auto& f = terms[t];
        const double sign = t < 3 ? 1.0 : -1.0;
        const double p = sign * static_cast<double>(m[f[0][0]][f[0][1]]) * m[f[1][0]][f[1][1]];
        const double z = m[f[2][0]][f[2][1]];
        const double c = 134217729.0 * p;  // 2^27 + 1: Veltkamp's split
        const double high = c - (c - p);
        const double low = p - high;
        for (const double product : {high * z, low * z}) {
            // Grow the expansion by one number, dropping parts that became zero.
            double q = product;
            int kept = 0;
            for (int i = 0; i < count; ++i) {
                double sum = 0.0;
                double error = 0.0;
                TwoSum(q, parts[i], sum, error);
                if (error != 0.0) parts[kept++] = error;
                q = sum;
            }
            if (q != 0.0) parts[kept++] = q;
            count = kept;
        }
    }
    return count == 0;
}

}  // namespace

void Cmatrix::SetIdentity() {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            m[r][c] = r == c ? 1.0f : 0.0f;
        }
    }
}

float Cmatrix::Determinant() const {
    if (SarrusIsExactlyZero(m)) {
        return 0.0f;
    }
    const double a = static_cast<double>(m[0][0]) * m[1][1] * m[2][2] +
                     static_cast<double>(m[1][0]) * m[2][1] * m[0][2] +
                     static_cast<double>(m[2][0]) * m[0][1] * m[1][2] -
                     static_cast<double>(m[1][2]) * m[0][0] * m[2][1] -
                     static_cast<double>(m[2][2]) * m[1][0] * m[0][1] -
                     static_cast<double>(m[0][2]) * m[1][1] * m[2][0];
    return static_cast<float>(a);
}

bool Cmatrix::Inverse(Cmatrix& out) const {
    const float det = Determinant();
    if (det == 0.0f) {
        return false;
    }
    Cmatrix result;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            // Minor of element (c, r): the rows other than c and the columns other than r,
            // both kept in ascending order.
            const int r0 = c == 0 ? 1 : 0;
            const int r1 = c == 2 ? 1 : 2;
            const int c0 = r == 0 ? 1 : 0;
            const int c1 = r == 2 ? 1 : 2;
            const double minor = static_cast<double>(m[r0][c0]) * m[r1][c1] -
                                 static_cast<double>(m[r0][c1]) * m[r1][c0];
            const double sign = (r + c) % 2 == 0 ? 1.0 : -1.0;
            result.m[r][c] = static_cast<float>(sign * minor / det);
        }
    }
    out = result;
    return true;
}

void Cmatrix::SetRow(int i, const ColorTriple& t, float s) {
    if (i < 0 || i > 2) {
        return;
    }
    m[i][0] = static_cast<float>(static_cast<double>(s) * t.c0);
    m[i][1] = static_cast<float>(static_cast<double>(s) * t.c1);
    m[i][2] = static_cast<float>(static_cast<double>(s) * t.c2);
}
