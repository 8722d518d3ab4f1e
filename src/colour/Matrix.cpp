#include "colour/Matrix.h"

void Cmatrix::SetIdentity() {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            m[r][c] = r == c ? 1.0f : 0.0f;
        }
    }
}

float Cmatrix::Determinant() const {
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
