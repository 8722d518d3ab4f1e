#include "window/Sliderrules.h"

#include <algorithm>
#include <cstddef>

namespace {

// The window shows the channels as W, R, G, B1, B2, UV; the record's slots are R, B2, G, B1, UV, W.
constexpr std::array<int, 6> kChannelSlotOfRow{5, 0, 2, 3, 1, 4};

}  // namespace

int SliderPosition(int X) {
    // Whole-number division truncates towards zero, as the position rule asks.
    const long long u = (static_cast<long long>(X) - 32) * 10 / 4;
    return static_cast<int>(std::clamp(u, -100000LL, 100000LL));
}

SliderPress PressSlider(SliderImage which, int X, int Y, bool directAvailable,
                        SliderValues& values) {
    SliderPress press;
    int step = 5;
    const int row = std::max(Y, 0) / 32;
    switch (which) {
        case SliderImage::Intensity:
            press.entry = 7;
            break;
        case SliderImage::Channels:
            if (!directAvailable) {
                press.ignored = true;
                return press;
            }
            press.entry = 10 + kChannelSlotOfRow[static_cast<std::size_t>(row % 6)];
            press.checkDirect = true;
            break;
        case SliderImage::Coefficients:
            press.entry = (row + 1) % 3;
            step = 1;
            press.checkCoefficients = true;
            break;
    }
    int& v = values[static_cast<std::size_t>(press.entry)];
    const long long u = SliderPosition(X);
    bool stepPress = false;
    if (u < -10) {
        if (v > 0) v -= step;
        stepPress = true;
    } else if (u > 1010) {
        if (v < 1000) v += step;
        stepPress = true;
    } else {
        v = static_cast<int>(u);
    }
    v = std::clamp(v, 0, 1000);
    press.checkUv = press.entry == 2;
    press.active = stepPress ? -1 : press.entry;
    return press;
}

void MoveSlider(int active, int X, SliderValues& values) {
    if (active < 0 || active >= static_cast<int>(values.size())) return;
    values[static_cast<std::size_t>(active)] = std::clamp(SliderPosition(X), 0, 1000);
}
