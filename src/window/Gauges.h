#pragma once
#include <QImage>
#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "colour/Colorspro.h"

// The lamp's state as the main page shows it: the channel list, the sleep timer display and
// gauge, and the status memo's lines. Each drawing fills its whole image and clips to it.

struct ChannelListState {
    std::array<std::string, 11> names;  // names of channels 0..10
    bool lampOff = false;
    int slot = 0;                       // the current channel's slot number
    bool firstChannelEditable = false;  // the option C1S; without it row 1 reads "UV"
};

// Image2, 150 x 319: eleven rows of 29 pixels.
void DrawChannelList(QImage& image, const ChannelListState& state);
// The text of row i.
QString ChannelListText(const ChannelListState& state, int row);

// What a press on the channel list asks of the controller.
struct ChannelListPress {
    bool turnOff = false;  // row 0: switch the lamp off
    int channel = 0;       // otherwise the channel to choose, 1..10 (rows beyond 10 choose 10)
};
ChannelListPress PressChannelList(int Y);

// "mm:ss", or "off" when the timer is 0 (or below).
QString SleepTimerText(int timeoutSeconds);
// Image3, 160 x 50.
void DrawSleepTimer(QImage& image, int timeoutSeconds);
// The change a press on the sleep timer display makes: a minute on the left half, ten seconds
// on the right; down with the right button, up with the others.
int SleepTimerStep(int X, bool rightButton);

// Image4, 80 x 80: the ring, and the elapsed share of the timer as a pie growing clockwise from
// twelve o'clock. No pie while the timer is off, the lamp is off or no time has run; once the
// time is up (remaining 0 or below) the whole disc.
void DrawSleepGauge(QImage& image, int timeoutSeconds, int remainingSeconds, bool lampOff);

// The 23 lines of the status memo: the sixteen record values, the six gamut corners and the
// mean of the positive sensor temperatures ("T : ---" when none is positive).
std::vector<std::string> MemoLines(const std::array<std::int32_t, 16>& values,
                                   const GamutTriangle& gamut,
                                   const std::array<float, 64>& temperatures);
