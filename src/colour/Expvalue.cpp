#include "colour/Expvalue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const std::array<int, 101> ExposureTable = {
    0,     4211,  4329,  4451,  4576,  4705,  4837,  4973,  5113,  5257,  5405,  5557,  5713,
    5873,  6039,  6208,  6383,  6562,  6747,  6936,  7131,  7332,  7538,  7750,  7968,  8192,
    8422,  8659,  8902,  9153,  9410,  9675,  9947,  10226, 10514, 10809, 11113, 11426, 11747,
    12077, 12417, 12766, 13125, 13494, 13873, 14263, 14664, 15076, 15500, 15936, 16384, 16844,
    17318, 17805, 18305, 18820, 19349, 19893, 20452, 21027, 21618, 22226, 22851, 23494, 24154,
    24833, 25531, 26249, 26987, 27746, 28526, 29328, 30152, 31000, 31871, 32768, 33689, 34636,
    35610, 36611, 37640, 38698, 39786, 40905, 42055, 43237, 44453, 45702, 46987, 48308, 49666,
    51063, 52498, 53974, 55491, 57052, 58655, 60305, 62000, 63743, 65535,
};

namespace {

int Entry(int p) {
    return ExposureTable[static_cast<std::size_t>(p)];
}

}  // namespace

int PositionToLevel(int position) {
    if (position <= 0) {
        return 0;
    }
    if (position >= 1000) {
        return Entry(100);
    }
    const int p = position / 10;
    const auto d = static_cast<float>(position / 10.0 - p);
    return static_cast<int>((1.0 - d) * Entry(p) + static_cast<double>(d) * Entry(p + 1) + 0.5);
}

int LevelToPosition(int level) {
    if (level <= 0) {
        return 0;
    }
    if (level >= Entry(100)) {
        return 1000;
    }
    int i = 0;
    while (Entry(i + 1) < level) {
        ++i;
    }
    const auto fraction =
        static_cast<float>(static_cast<double>(level - Entry(i)) / (Entry(i + 1) - Entry(i)));
    return static_cast<int>(10.0 * (i + static_cast<double>(fraction)) + 0.5);
}

int LogOffset() {
    static const int offset = LevelToPosition(4126);
    return offset;
}

int SliderToLevel(int slider, bool log) {
    if (log) {
        const int offset = LogOffset();
        return PositionToLevel(slider * (1000 - offset) / 1000 + offset);
    }
    return static_cast<int>(static_cast<long double>(slider) * 65500.0f * 0.001L + 0.5L);
}

int LevelToSlider(int level, bool log) {
    if (log) {
        const int offset = LogOffset();
        int q = LevelToPosition(level);
        if (q < offset) {
            q = offset;
        }
        return (q - offset) * 1000 / (1000 - offset);
    }
    return static_cast<int>(static_cast<long double>(level) * 1000 * (1.0L / 65500) + 0.5L);
}

double LevelPercent(int level) {
    constexpr double kFull = 65500;
    return std::min(1000.0, std::round(level * 1000.0 / kFull)) / 10.0;
}

int SliderForPercent(double percent, bool log) {
    const int level = static_cast<int>(std::lround(std::clamp(percent, 0.0, 100.0) * 655.0));
    // The inverse scales truncate; the nearest position is one of the few around their answer.
    const int guess = std::clamp(LevelToSlider(level, log), 0, 1000);
    int best = guess;
    for (int s = std::max(0, guess - 2); s <= std::min(1000, guess + 2); ++s) {
        if (std::abs(SliderToLevel(s, log) - level) < std::abs(SliderToLevel(best, log) - level))
            best = s;
    }
    return best;
}

int CoefficientFromSlider(int slider) {
    return static_cast<int>(static_cast<long double>(slider) * 65535.0f * 0.001L + 0.5L);
}

int ChromaticityToFixed(float c, long double offset) {
    const long double fixed = (static_cast<long double>(c) + offset) * 65535.0f;
    // The record's slot is 16 bits: an offset pushing the sum out of 0..1 must not wrap, and a
    // value beyond int must not reach the conversion at all.
    if (!(fixed > 0.0L)) return 0;
    if (fixed >= 65535.0L) return 65535;
    return static_cast<int>(fixed);
}

std::string IntensityLabel(int slider, bool log, bool lux, int luxValue) {
    char text[64];
    if (!log && !lux) {
        std::snprintf(text, sizeof text, "%d %%", slider / 10);
    } else if (log && !lux) {
        char magnitude[48];
        std::snprintf(magnitude, sizeof magnitude, "%2.2f", (1000 - slider) * 0.004);
        // Every step below the top is a negative EV; only a value that prints as zero goes
        // without the sign.
        const bool zero = std::strcmp(magnitude, "0.00") == 0;
        const char* sign = zero || magnitude[0] == '-' ? "" : "-";
        std::snprintf(text, sizeof text, "%s%sEV", sign, magnitude);
    } else if (!log) {
        std::snprintf(text, sizeof text, "%d lx",
                      static_cast<int>(static_cast<long long>(luxValue) * slider / 1000));
    } else {
        const auto w = static_cast<int>(SliderToLevel(slider, true) * 1000.0 / 65500 + 0.5);
        std::snprintf(text, sizeof text, "%d lx",
                      static_cast<int>(static_cast<long long>(luxValue) * w / 1000));
    }
    return text;
}
