#pragma once
#include "colour/Colors.h"

// A 3×3 single-precision matrix stored row by row. Colours are row vectors multiplied from
// the left, so in a colour space model each row holds one primary's tristimulus values.
class Cmatrix {
  public:
    float m[3][3];  // left unset by default construction; every creator fills it

    void SetIdentity();
    // Rule of Sarrus in double, rounded to float.
    float Determinant() const;
    // Adjugate over the determinant; false (and out untouched) when the determinant is 0.
    bool Inverse(Cmatrix& out) const;
    // Row i becomes s·t.
    void SetRow(int i, const ColorTriple& t, float s);
    // out[c] = v[0]·m[0][c] + v[1]·m[1][c] + v[2]·m[2][c], rounded to float after each addition.
    void RowVectorProduct(const float v[3], float out[3]) const;
};
