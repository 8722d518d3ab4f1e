#include "window/Target.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "colour/Colors.h"
#include "colour/Colorspro.h"
#include "settings/Channel.h"
#include "settings/Number.h"

namespace {

constexpr float kLowestChromaticity = 0.01f;
constexpr float kHighestChromaticity = 0.7f;
constexpr int kLowestLux = 10;
constexpr int kHighestLux = 65535;
constexpr int kMaxLux = 3000;  // the illuminance sent while "max" is checked
constexpr std::size_t kNameLength = 15;

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view SkipBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

float HoldChromaticity(float c) {
    if (!(c >= kLowestChromaticity)) return kLowestChromaticity;  // also not a number
    return std::min(c, kHighestChromaticity);
}

}  // namespace

float ChromaticityFromText(std::string_view text) {
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), ',', '.');
    const std::optional<double> value = LeadingNumber(SkipBlanks(copy));
    if (!value) return 0.0f;
    const auto single = static_cast<float>(*value);
    // A number the target cannot hold counts as no number rather than as the nearest end.
    return std::isfinite(single) ? single : 0.0f;
}

int LuxFromText(std::string_view text) {
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), ',', '.');
    return std::clamp(ReadLeadingInt(copy), kLowestLux, kHighestLux);
}

int TemperatureFromText(std::string_view text) {
    return ReadLeadingInt(text);
}

std::string MarkedName(const std::string& name) {
    if (name.empty()) return "*";
    std::string marked = name;
    if (marked.back() == '*') marked.pop_back();
    if (marked.size() > kNameLength) marked.resize(kNameLength);
    return marked + "*";
}

std::int32_t DisplayFlagsFor(bool log, bool lux, int speedIndex) {
    std::int32_t flags = (log ? 1 : 0) | (lux ? 2 : 0);
    if (speedIndex == 0) {
        flags |= 4;
    } else if (speedIndex >= 1 && speedIndex <= 4) {
        flags |= (speedIndex - 1) << 3;
    }
    return flags;
}

float HeldChromaticity(std::int32_t fixed, double offset) {
    // The middle of the fixed point's step, then the neighbouring floats until it maps back.
    float c = static_cast<float>((fixed + 0.5) / 65535.0 - offset);
    for (int i = 0; i < 64 && ChromaticityToFixed(c, offset) != fixed; ++i) {
        c = std::nextafter(c, ChromaticityToFixed(c, offset) < fixed ? 2.0f : -2.0f);
    }
    return c;
}

void KeepHeldTemperature(RecordImage& image, const CChannel& held) {
    const auto& h = held.ColorValues;
    if (image.Values[7] == h[7] && image.Values[8] == h[8] &&
        std::abs(image.Values[6] - h[6]) <= 1) {
        image.Values[6] = h[6];
        image.Temperature = h[6];
    }
}

RecordImage MakeRecordImage(const WindowState& state, const TargetBoxes& boxes, float x, float y,
                            bool markName, bool correction) {
    RecordImage image;
    image.X = HoldChromaticity(x);
    image.Y = HoldChromaticity(y);
    image.LuxValue = LuxFromText(boxes.LuxText);
    image.Max = boxes.Max;
    image.Correction = correction;
    image.MarkName = markName;
    const ColorTriple xyz = XyYToXyz(image.X, image.Y, 1.0f);
    image.Temperature = NearestTemperature(xyz.c0, xyz.c1, xyz.c2);

    auto slider = [&](int entry) {
        return std::clamp(state.ControlValues[static_cast<std::size_t>(entry)], 0, 1000);
    };
    auto& v = image.Values;
    for (int s = 0; s < 6; ++s) v[static_cast<std::size_t>(s)] = slider(10 + s) * 4;
    v[6] = image.Temperature;
    v[7] = ChromaticityToFixed(image.X, state.OffsetX);
    v[8] = ChromaticityToFixed(image.Y, state.OffsetY);
    v[9] = image.Max ? kMaxLux : image.LuxValue;
    v[10] = CoefficientFromSlider(slider(0));
    v[11] = CoefficientFromSlider(slider(1));
    v[12] = (boxes.Coefficients ? 1 : 0) | (boxes.Uv ? 2 : 0) | (boxes.Max ? 4 : 0);
    v[13] = CoefficientFromSlider(slider(2));
    v[14] = SliderToLevel(slider(7), boxes.Log);
    image.DisplayFlags = DisplayFlagsFor(boxes.Log, boxes.Lux, state.SpeedIndex);
    image.ModeFlags = boxes.Direct && !correction ? 5 : 1;
    return image;
}

void WriteRecordImage(const RecordImage& image, CChannel& record) {
    if (image.MarkName) record.Name = MarkedName(record.Name);
    std::copy(image.Values.begin(), image.Values.end(), record.ColorValues.begin());
    record.DisplayFlags = image.DisplayFlags;
    record.ModeFlags = image.ModeFlags;
}

void NoteApplied(WindowState& state, const RecordImage& image) {
    state.LuxValue = image.LuxValue;
    state.MaxFlag = image.Max;
    for (int i = 0; i < 20; ++i) {
        int& value = state.ControlValues[static_cast<std::size_t>(i)];
        value = std::clamp(value, 0, 1000);
    }
    state.CorrectionFlag = image.Correction;
    state.PendingConfirmation = true;
}

std::optional<double> TypedNumber(std::string_view text) {
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), ',', '.');
    std::string_view rest = SkipBlanks(copy);
    while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
    const std::size_t sign = !rest.empty() && (rest.front() == '+' || rest.front() == '-') ? 1 : 0;
    const std::size_t length = NumberLength(rest.substr(sign));
    if (length == 0 || sign + length != rest.size()) return std::nullopt;
    const std::optional<double> value = LeadingNumber(rest);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

std::optional<float> TypedChromaticity(std::string_view text) {
    const std::optional<double> value = TypedNumber(text);
    if (!value) return std::nullopt;
    // Held well inside the float range: the apply clamps to 0.01..0.7 anyway.
    return static_cast<float>(std::clamp(*value, -1.0, 2.0));
}

std::optional<int> TypedLux(std::string_view text) {
    const std::optional<double> value = TypedNumber(text);
    if (!value) return std::nullopt;
    return static_cast<int>(
        std::trunc(std::clamp(*value, double{kLowestLux}, double{kHighestLux})));
}

std::optional<int> TypedTemperature(std::string_view text) {
    const std::optional<double> value = TypedNumber(text);
    if (!value) return std::nullopt;
    return static_cast<int>(std::trunc(std::clamp(*value, double{INT_MIN}, double{INT_MAX})));
}
