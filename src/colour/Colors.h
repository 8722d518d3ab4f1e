#pragma once

// Colour values and the conversions between CIE 1931 xyY, XYZ and CIE 1960 UCS.
// Everything is stored in single precision; intermediate sums run in double and are rounded
// to float where a value is stored, so that results are the same on every build.

// Three colour components (XYZ, linear RGB or encoded 0..255 RGB; the caller knows which).
struct ColorTriple {
    float c0 = 0.0f;
    float c1 = 0.0f;
    float c2 = 0.0f;
    float reserved = 0.0f;  // never read; kept so the record has its four floats
};

// A CIE 1931 chromaticity.
struct Chromaticity {
    float x = 0.0f;
    float y = 0.0f;
};

// A CIE 1960 UCS chromaticity (the u, v of correlated colour temperature, not u', v').
struct Uv1960 {
    float u = 0.0f;
    float v = 0.0f;
};

// (x·Y/y, Y, (1 − x − y)·Y/y). y must not be 0: callers clamp chromaticities away from it.
// Inline because the diagram fill calls it for millions of pixels.
inline ColorTriple XyYToXyz(float x, float y, float Y) {
    ColorTriple t;
    t.c0 = static_cast<float>(static_cast<double>(x) * Y / y);
    t.c1 = Y;
    t.c2 = static_cast<float>((1.0 - x - y) * Y / y);
    return t;
}

// a / (a + b + c), or 0 when the float sum is exactly 0. x of XYZ is (X, Y, Z); y is (Y, X, Z).
float ChromaticityCoordinate(float a, float b, float c);

// u = 4X/d, v = 6Y/d with d = X + 15Y + 3Z in float; (0, 0) when d is exactly 0.
Uv1960 XyzToUv1960(float X, float Y, float Z);

// Component-wise (1 − t)·a + t·b; the reserved float is left at its default.
ColorTriple LerpTriple(const ColorTriple& a, const ColorTriple& b, float t);
