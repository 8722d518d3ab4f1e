#include "window/Refresh.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>

#include "colour/Expvalue.h"
#include "settings/Channel.h"

namespace {

int Coefficient(std::int32_t value) {
    // trunc(v * 1000 / 65535 + 0.5), in double so no 32-bit product overflows.
    const double position = static_cast<double>(value) * 1000.0 / 65535.0 + 0.5;
    return std::clamp(static_cast<int>(std::clamp(position, -1e6, 1e6)), 0, 1000);
}

}  // namespace

RecordTarget DecodeRecord(const CChannel& record, double offsetX, double offsetY) {
    const auto& v = record.ColorValues;
    RecordTarget t;
    t.Temperature = v[6];
    t.X = static_cast<float>(static_cast<float>(v[7]) / 65535.0f - static_cast<float>(offsetX));
    t.Y = static_cast<float>(static_cast<float>(v[8]) / 65535.0f - static_cast<float>(offsetY));
    t.Lux = v[9];
    t.Wr = Coefficient(v[10]);
    t.Buv = Coefficient(v[11]);
    t.B1b2 = Coefficient(v[13]);
    t.Log = (record.DisplayFlags & 1) != 0;
    t.LuxScale = (record.DisplayFlags & 2) != 0;
    t.Intensity = std::clamp(LevelToSlider(std::clamp(v[14], 0, 65535), t.Log), 0, 1000);
    for (std::size_t s = 0; s < 6; ++s) t.Channels[s] = std::clamp(v[s] / 4, 0, 1000);
    t.Coefficients = (v[12] & 1) != 0;
    t.Uv = (v[12] & 2) != 0;
    t.Max = (v[12] & 4) != 0;
    t.Direct = (record.ModeFlags & 4) != 0;
    t.SpeedIndex = (record.DisplayFlags & 4) != 0 ? 0 : ((record.DisplayFlags >> 3) & 3) + 1;
    return t;
}

bool ConstrainsRecordPoint(const RecordTarget& target) {
    return target.X > 0 && target.Y > 0 && !target.Direct;
}

void TakeSliders(const RecordTarget& target, std::array<int, 32>& controlValues) {
    controlValues[0] = target.Wr;
    controlValues[1] = target.Buv;
    controlValues[2] = target.B1b2;
    controlValues[7] = target.Intensity;
    for (std::size_t s = 0; s < 6; ++s) {
        controlValues[20 + s] = target.Channels[s];
        controlValues[10 + s] = target.Channels[s];
    }
}

bool TemperatureOutOfRange(int kelvin) {
    return kelvin <= 2500 || kelvin >= 10000;
}

int LuxBoxNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = std::min(n * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) n = -n;
    return static_cast<int>(
        std::clamp(n, static_cast<long long>(INT_MIN), static_cast<long long>(INT_MAX)));
}

bool LuxBoxRed(std::string_view text, int lux, bool pendingConfirmation, bool maxFlag) {
    return LuxBoxNumber(text) != lux && pendingConfirmation && !maxFlag;
}

std::optional<std::string> LuxBoxText(int lux) {
    if (lux < 3000) return std::to_string(lux);
    return std::nullopt;
}

bool GamutCorrection::ShouldResend(const CChannel& reported, bool moved, float correctedX,
                                   float correctedY, double offsetX, double offsetY) {
    if (!moved || (reported.ModeFlags & 4) != 0) return false;
    const float x = std::clamp(correctedX, 0.01f, 0.7f);
    const float y = std::clamp(correctedY, 0.01f, 0.7f);
    // The lamp keeps x and y cut to its fixed point, so a target it holds reads back up to one
    // step off: within a step of the report, the lamp already has the corrected target.
    const auto withinStep = [](float c, double offset, std::int32_t held) {
        return std::abs((static_cast<double>(c) + offset) * 65535.0 - held) <= 1.0;
    };
    if (withinStep(x, offsetX, reported.ColorValues[7]) &&
        withinStep(y, offsetY, reported.ColorValues[8])) {
        return false;
    }
    // The lamp reports the correction sent last: it is not corrected again.
    if (lastSent_ && (*lastSent_)[0] == reported.ColorValues[7] &&
        (*lastSent_)[1] == reported.ColorValues[8]) {
        return false;
    }
    const Key key{reported.ColorValues, reported.ModeFlags, reported.DisplayFlags};
    if (std::find(seen_.begin(), seen_.end(), key) != seen_.end()) return false;
    // A chain of corrections that never settles ends once the memory is full.
    if (seen_.size() >= kMemory) return false;
    seen_.push_back(key);
    lastSent_ = {ChromaticityToFixed(x, offsetX), ChromaticityToFixed(y, offsetY)};
    return true;
}
