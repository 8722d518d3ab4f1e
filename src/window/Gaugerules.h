#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "colour/Colorspro.h"

// The rules behind the lamp's views on the main page (the channel list, the sleep timer and the
// status memo), apart from their drawing.

// The channel list's rows are this many pixels high.
inline constexpr int kChannelRowHeight = 29;

struct ChannelListState {
    std::array<std::string, 11> names;  // names of channels 0..10
    bool lampOff = false;
    int slot = 0;                       // the current channel's slot number
    bool firstChannelEditable = false;  // the option C1S; without it row 1 reads "UV"
};

// What a press on the channel list asks of the controller.
struct ChannelListPress {
    bool turnOff = false;  // row 0: switch the lamp off
    int channel = 0;       // otherwise the channel to choose, 1..10 (rows beyond 10 choose 10)
};
ChannelListPress PressChannelList(int Y);

// The change a press on the sleep timer display makes: a minute on the left half, ten seconds
// on the right; down with the right button, up with the others.
int SleepTimerStep(int X, bool rightButton);

// The 23 lines of the status memo: the sixteen record values, the six gamut corners and the
// mean of the positive sensor temperatures ("T : ---" when none is positive).
std::vector<std::string> MemoLines(const std::array<std::int32_t, 16>& values,
                                   const GamutTriangle& gamut,
                                   const std::array<float, 64>& temperatures);
