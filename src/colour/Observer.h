#pragma once
#include <array>

// One wavelength of the CIE 1931 2-degree standard observer.
struct ObserverSample {
    int nm;
    double x;
    double y;
    double z;
};

inline constexpr int kObserverSamples = 95;  // 360..830 nm every 5 nm

extern const std::array<ObserverSample, kObserverSamples> kCie1931Observer;
