#pragma once
#include <QImage>
#include <QString>

#include "window/Gaugerules.h"

// The lamp's state as the main page draws it: the channel list, the sleep timer display and
// gauge. Each drawing fills its whole image and clips to it; the sizes are in logical pixels,
// drawn at the image's own device pixel ratio.

// Image2, 150 x 319: eleven rows of 29 pixels.
void DrawChannelList(QImage& image, const ChannelListState& state);
// The text of row i.
QString ChannelListText(const ChannelListState& state, int row);

// "mm:ss", or "off" when the timer is 0 (or below).
QString SleepTimerText(int timeoutSeconds);
// Image3, 160 x 50.
void DrawSleepTimer(QImage& image, int timeoutSeconds);

// Image4, 80 x 80: the ring, and the elapsed share of the timer as a pie growing clockwise from
// twelve o'clock. No pie while the timer is off, the lamp is off or no time has run; once the
// time is up (remaining 0 or below) the whole disc.
void DrawSleepGauge(QImage& image, int timeoutSeconds, int remainingSeconds, bool lampOff);
