#pragma once
#include <optional>
#include <string>
#include <string_view>

// The last measurement the spectrometer application left for the current user.
class MeasurementStore {
  public:
    virtual ~MeasurementStore() = default;
    // Whether the measurement's group is there at all.
    virtual bool Exists() const = 0;
    // A value as text; nothing when it is missing.
    virtual std::optional<std::string> Value(const std::string& name) const = 0;
    // A mark that changes each time the application writes the store, also when it writes the
    // same values again (a steady light measured twice); empty where the store cannot tell.
    virtual std::string WriteMark() const { return {}; }
};

struct Measurement {
    // Kept as read until they are shown with four decimals: a float would round a fifth
    // decimal 5 the other way.
    double X = 0;
    double Y = 0;
    int Lux = 0;
};

// A measured value's text: trimmed, "," read as ".", the longest number at its start; nothing
// when there is no number or it is not finite.
std::optional<double> MeasuredNumber(std::string_view text);

// x2 and y2 as a chromaticity (0..1) and yy2 as whole lux (rounded, 0..65535; missing or
// unusable gives 0). Nothing when the group is missing or x2 or y2 is missing, unusable or
// outside 0..1, so that no made-up target reaches the lamp.
std::optional<Measurement> ReadMeasurement(const MeasurementStore& store);

// Why ReadMeasurement gives nothing, for the user ("value y2 is missing"): the group missing, or
// which of x2 and y2 is missing, not a number or outside 0..1. Empty when the measurement is
// usable.
std::string MeasurementProblem(const MeasurementStore& store);
