#pragma once
#include <array>

#include "colour/Colors.h"
#include "colour/Matrix.h"

// An RGB colour space: three primaries, a white point and a transfer curve, converting between
// CIE XYZ and encoded RGB on 0..255.
class Ccolors {
  public:
    Cmatrix M;     // linear RGB (row vector) to XYZ; row k is primary k scaled to the white
    Cmatrix Minv;  // XYZ to linear RGB
    float TransferParameter = -1.0f;  // > 0: power-law exponent; otherwise the sRGB curve

    Ccolors();

    // Rebuilds M and Minv. Collinear primaries, a white on a primaries' line, a y of 0 or
    // non-finite results keep the previous matrices; the transfer parameter is always stored.
    void SetWhiteAndPrimaries(float whiteX, float whiteY, float redX, float redY, float greenX,
                              float greenY, float blueX, float blueY, float transfer);
    // White from LocusPoint(T); primaries of PrimarySet 0 (sRGB adapted to D50) or 1 (wide
    // gamut). Another set number only stores the transfer parameter.
    void SetTemperature(int kelvin, int primarySet, float transfer);

    // Encoded 0..255 RGB to XYZ.
    ColorTriple RgbToXyz(float R, float G, float B) const;
    // XYZ to RGB, encoded onto 0..255 when encode is set. Not clamped: values outside 0..255
    // mean the colour lies outside this space.
    ColorTriple XyzToRgb(float X, float Y, float Z, bool encode) const;

    // The transfer curve on its own (0..255 to linear light and back), unclamped.
    float Decode(float value) const;
    float Encode(float linear) const;
};

// The chromaticity of a model's white: RgbToXyz(255, 255, 255) as (x, y).
Chromaticity ModelWhite(const Ccolors& model);

// ---- Colour temperature ----

inline constexpr int kLocusFirstKelvin = 2500;
inline constexpr int kLocusLastKelvin = 10000;
inline constexpr int kLocusRows = kLocusLastKelvin - kLocusFirstKelvin + 1;  // 7501

// White-point chromaticities, row i for 2500 + i kelvin: the black-body locus below 4000 K,
// the daylight locus from 4000 K on, every value rounded to six decimals.
const std::array<Chromaticity, kLocusRows>& LocusTable();

// The table row for T, with T clamped to 2500..10000.
Chromaticity LocusPoint(int kelvin);

// The table temperature nearest to the colour in the CIE 1960 u, v plane; ties keep the lower
// temperature. Uses the precomputed u, v of every row.
int NearestTemperature(float X, float Y, float Z);
// The same search converting every row afresh; kept as the reference for the fast one.
int NearestTemperatureReference(float X, float Y, float Z);

// ---- Gamut constraint ----

// The lamp's gamut corners: red (x1, y1), green (x2, y2), blue (x3, y3).
struct GamutTriangle {
    float x1 = 0.0f;
    float y1 = 0.0f;
    float x2 = 0.0f;
    float y2 = 0.0f;
    float x3 = 0.0f;
    float y3 = 0.0f;

    // Corner k (0 red, 1 green, 2 blue; taken modulo 3).
    Chromaticity Corner(int k) const;
};

// |x1·y2 + x2·y3 + x3·y1 − x2·y1 − x3·y2 − x1·y3| / 2.
float TriangleArea(Chromaticity a, Chromaticity b, Chromaticity c);
// True when the three sub-triangle areas add up to the whole within 0.0001 (border included).
bool InsideTriangle(Chromaticity p, Chromaticity a, Chromaticity b, Chromaticity c);
// Crossing of line p1-p2 with line p3-p4; parallel lines divide by 0.001 instead of 0.
Chromaticity LineIntersection(Chromaticity p1, Chromaticity p2, Chromaticity p3, Chromaticity p4);
// √(dx² + dy²) with dx, dy in float.
float Distance(Chromaticity a, Chromaticity b);

// False when (x, y) lies in the triangle. Otherwise true, and the point is moved along the line
// towards white onto the nearest valid border crossing; it stays put when white is itself
// outside the triangle or no crossing is valid.
bool ConstrainToGamut(float& x, float& y, const GamutTriangle& triangle, Chromaticity white);
