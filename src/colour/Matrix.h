#pragma once
#include "colour/Colors.h"

// A 3×3 single-precision matrix stored row by row. Colours are row vectors multiplied from
// the left, so in a colour space model each row holds one primary's tristimulus values.
class Cmatrix {
  public:
    float m[3][3];  // left unset by default construction; every creator fills it

    void SetIdentity();
    // Rule of Sarrus in double, rounded to float; exactly 0 when the exact value is 0, which
    // the double sum alone can miss (two equal rows of non-integers).
    float Determinant() const;
    // Adjugate over the determinant; false (and out untouched) when the determinant is 0.
    bool Inverse(Cmatrix& out) const;
    // Row i becomes s·t.
    void SetRow(int i, const ColorTriple& t, float s);
    // out[c] = v[0]·m[0][c] + v[1]·m[1][c] + v[2]·m[2][c], rounded to float after each addition.
    // Inline because the diagram fill calls it for millions of pixels.
    void RowVectorProduct(const float v[3], float out[3]) const {
        // Accumulate first so that out may be the same array as v.
        float result[3];
        for (int c = 0; c < 3; ++c) {
            float acc = 0.0f;
            for (int r = 0; r < 3; ++r) {
                acc = static_cast<float>(acc + static_cast<double>(v[r]) * m[r][c]);
            }
            result[c] = acc;
        }
        for (int c = 0; c < 3; ++c) {
            out[c] = result[c];
        }
    }
};
