#include "window/Gaugerules.h"

#include <algorithm>
#include <cstdio>

ChannelListPress PressChannelList(int Y) {
    const int row = std::max(Y, 0) / kChannelRowHeight;
    if (row == 0) return {true, 0};
    return {false, std::min(row, 10)};
}

int SleepTimerStep(int X, bool rightButton) {
    const int step = X < 80 ? 60 : 10;
    return rightButton ? -step : step;
}

std::vector<std::string> MemoLines(const std::array<std::int32_t, 16>& values,
                                   const GamutTriangle& gamut,
                                   const std::array<float, 64>& temperatures) {
    static const char kLabels[] = "W R G B1B2v T x y Y 1 2 - 3 - - - - - - - - - ";
    static constexpr std::array<int, 16> kSlot{5, 0, 2,  3,  1,  4,  6,  7,
                                               8, 9, 10, 11, 12, 13, 14, 15};
    std::vector<std::string> lines;
    char text[64];
    for (int k = 0; k < 16; ++k) {
        std::snprintf(text, sizeof text, "%c%c: %d", kLabels[2 * k], kLabels[2 * k + 1],
                      values[static_cast<std::size_t>(kSlot[static_cast<std::size_t>(k)])]);
        lines.emplace_back(text);
    }
    for (int k = 0; k < 3; ++k) {
        const Chromaticity corner = gamut.Corner(k);
        std::snprintf(text, sizeof text, "x%d: %4.4f", k + 1, static_cast<double>(corner.x));
        lines.emplace_back(text);
        std::snprintf(text, sizeof text, "y%d: %4.4f", k + 1, static_cast<double>(corner.y));
        lines.emplace_back(text);
    }
    double sum = 0;
    int count = 0;
    for (float t : temperatures) {
        if (t > 0) {
            sum += t;
            ++count;
        }
    }
    if (count == 0) {
        lines.emplace_back("T : ---");
    } else {
        std::snprintf(text, sizeof text, "T : %2.1f", sum / count);
        lines.emplace_back(text);
    }
    return lines;
}
