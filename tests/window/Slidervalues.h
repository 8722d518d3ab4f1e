#pragma once
#include "window/Sliderrules.h"

// The values the slider tests start from: entries 0 to 2 in the middle of their range, the
// intensity (entry 7) at its top, the rest at 0.
inline SliderValues StartValues() {
    SliderValues v{};
    v[0] = v[1] = v[2] = 500;
    v[7] = 1000;
    return v;
}
