#include "window/Measurement.h"

#include <algorithm>
#include <cmath>

#include "settings/Number.h"

namespace {

std::optional<double> Number(const MeasurementStore& store, const char* name) {
    const std::optional<std::string> text = store.Value(name);
    if (!text) return std::nullopt;
    return MeasuredNumber(*text);
}

// A chromaticity value, or why it cannot be used.
struct Chromaticity {
    std::optional<double> value;
    std::string problem;
};

Chromaticity ReadChromaticity(const MeasurementStore& store, const char* name) {
    const std::optional<std::string> text = store.Value(name);
    const std::string label = std::string("value ") + name;
    if (!text) return {std::nullopt, label + " is missing"};
    const std::optional<double> value = MeasuredNumber(*text);
    if (!value) return {std::nullopt, label + " is not a number"};
    if (*value < 0.0 || *value > 1.0) return {std::nullopt, label + " is outside 0..1"};
    return {value, {}};
}

}  // namespace

std::optional<double> MeasuredNumber(std::string_view text) {
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), ',', '.');
    std::string_view rest = copy;
    while (!rest.empty() && static_cast<unsigned char>(rest.front()) <= 0x20) rest.remove_prefix(1);
    return LeadingNumber(rest);
}

std::optional<Measurement> ReadMeasurement(const MeasurementStore& store) {
    if (!store.Exists()) return std::nullopt;
    const std::optional<double> x = ReadChromaticity(store, "x2").value;
    const std::optional<double> y = ReadChromaticity(store, "y2").value;
    if (!x || !y) return std::nullopt;
    Measurement m;
    m.X = *x;
    m.Y = *y;
    const double lux = Number(store, "yy2").value_or(0.0);
    m.Lux = static_cast<int>(std::trunc(std::clamp(lux, 0.0, 65535.0) + 0.5));
    return m;
}

std::string MeasurementProblem(const MeasurementStore& store) {
    if (!store.Exists()) return "spectrometer left no measurement";
    for (const char* name : {"x2", "y2"}) {
        const Chromaticity c = ReadChromaticity(store, name);
        if (!c.value) return c.problem;
    }
    return {};
}
