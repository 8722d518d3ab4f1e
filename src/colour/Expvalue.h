#pragma once
#include <array>
#include <string>

// The lamp's intensity is a 16-bit level. The window's slider runs 0..1000 on either a linear
// scale or a logarithmic one built on a table 1/25 EV apart.

// L[0] = 0; L[p] = 65535·2^((p − 100)/25) rounded, p = 1..100 (L[97] is 60305).
extern const std::array<int, 101> ExposureTable;

// Position (tenths of a table entry, 0..1000) to level, interpolating the table.
// Positions outside 0..1000 are clamped.
int PositionToLevel(int position);
// Level (0..65535) to position, the inverse interpolation; levels outside are clamped.
int LevelToPosition(int level);
// LevelToPosition(4126) = 10: the position of the logarithmic slider's 0.
int LogOffset();

// Slider 0..1000 to level: logarithmic over positions 10..1000, or linear up to 65500.
int SliderToLevel(int slider, bool log);
// Level to slider on either scale. Not clamped: level 65535 gives 1001 on the linear scale.
int LevelToSlider(int level, bool log);

// A level as a percentage of full light, the linear scale's 65500 (the logarithmic scale's
// 65535 counts as 100 too), in tenths of a percent.
double LevelPercent(int level);
// The slider position on either scale whose level comes nearest to `percent` of full light
// (held to 0..100), so that a percentage means the same light whichever scale is shown. On the
// linear scale that is percent · 10.
int SliderForPercent(double percent, bool log);

// Coefficient slider 0..1000 to the 16-bit coefficient, trunc(s·65535·0.001 + 0.5) evaluated in
// x87 extended precision so that halves round the way the lamp's records always had them.
int CoefficientFromSlider(int slider);
// Chromaticity plus offset as a 16-bit fixed-point value, trunc((c + offset)·65535), in
// extended precision, held to 0..65535 (not a number gives 0). The offset is the option's real
// value; rounded to float it would move some results by one.
int ChromaticityToFixed(float c, long double offset);

// The intensity gauge's text for slider s: "50 %", "-1.20EV", "50 lx".
std::string IntensityLabel(int slider, bool log, bool lux, int luxValue);
