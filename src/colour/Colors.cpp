#include "colour/Colors.h"

float ChromaticityCoordinate(float a, float b, float c) {
    const float sum = static_cast<float>(static_cast<double>(a) + b + c);
    if (sum == 0.0f) {
        return 0.0f;
    }
    return static_cast<float>(a / static_cast<double>(sum));
}

Uv1960 XyzToUv1960(float X, float Y, float Z) {
    const float d = static_cast<float>(static_cast<double>(X) + 15.0 * Y + 3.0 * Z);
    if (d == 0.0f) {
        return {};
    }
    return {static_cast<float>(4.0 * X / d), static_cast<float>(6.0 * Y / d)};
}

ColorTriple LerpTriple(const ColorTriple& a, const ColorTriple& b, float t) {
    const double w = t;
    ColorTriple r;
    r.c0 = static_cast<float>((1.0 - w) * a.c0 + w * b.c0);
    r.c1 = static_cast<float>((1.0 - w) * a.c1 + w * b.c1);
    r.c2 = static_cast<float>((1.0 - w) * a.c2 + w * b.c2);
    return r;
}
