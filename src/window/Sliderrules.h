#pragma once
#include <array>

// The rules of the slider images (coefficient sliders Image5, direct channel sliders Image7,
// the intensity slider Image8) apart from their drawing: pointer presses and drags turned into
// new slider positions (0..1000).

enum class SliderImage { Coefficients, Channels, Intensity };

using SliderValues = std::array<int, 32>;

// What the intensity row's text depends on.
struct IntensityScale {
    bool log = false;    // "log"
    bool lux = false;    // "lux"
    int luxValue = 100;  // the last lux value applied
};

// What a press on a slider image did.
struct SliderPress {
    bool ignored = false;            // a channel slider without direct mode: nothing changed
    int entry = -1;                  // the entry pressed
    int active = -1;                 // the entry a drag now moves; -1 after a step press
    bool checkCoefficients = false;  // "coefficients" is to be checked
    bool checkDirect = false;        // "direct values" is to be checked
    bool checkUv = false;            // UV is to be checked (the B1B2 row)
};

// A press at (X, Y) on the image: the minus button and the margin left of it (X <= 27) step
// down, the plus button and beyond (X >= 437) step up, anything between sets the position
// under the pointer; steps are 1 on the coefficient sliders and 5 on the others.
SliderPress PressSlider(SliderImage which, int X, int Y, bool directAvailable,
                        SliderValues& values);
// A drag to X moves the active entry (if any) to the position under the pointer, held to
// 0..1000; nothing when no entry is active.
void MoveSlider(int active, int X, SliderValues& values);
// The position under the pointer, before clamping.
int SliderPosition(int X);
