#pragma once
#include <array>

#include "colour/Colorspro.h"

// The lamp's example gamut, shared by the tests and the benchmarks so that both measure the
// same picture: the red, green and blue corners as x, y pairs.
constexpr std::array<float, 6> kExampleCorners{0.69f, 0.30f, 0.17f, 0.70f, 0.15f, 0.03f};
constexpr GamutTriangle kExampleGamut{kExampleCorners[0], kExampleCorners[1], kExampleCorners[2],
                                      kExampleCorners[3], kExampleCorners[4], kExampleCorners[5]};

// The colour model the diagram builds from the example gamut with the 5000 K white.
inline Ccolors ExampleGamutModel() {
    Ccolors model;
    model.SetTemperature(5000, 0, -1.0f);
    const Chromaticity white = LocusPoint(5000);
    const std::array<float, 6>& c = kExampleCorners;
    model.SetWhiteAndPrimaries(white.x, white.y, c[0], c[1], c[2], c[3], c[4], c[5], -1.0f);
    return model;
}
