#pragma once
#include "colour/Colorspro.h"

// The colour model the diagram builds from the lamp's example gamut (red 0.69/0.30, green
// 0.17/0.70, blue 0.15/0.03) with the 5000 K white, shared by the tests and the benchmarks so
// that both measure the same picture.
inline Ccolors ExampleGamutModel() {
    Ccolors model;
    model.SetTemperature(5000, 0, -1.0f);
    const Chromaticity white = LocusPoint(5000);
    model.SetWhiteAndPrimaries(white.x, white.y, 0.69f, 0.30f, 0.17f, 0.70f, 0.15f, 0.03f, -1.0f);
    return model;
}
