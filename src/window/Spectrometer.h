#pragma once
#include <optional>
#include <string>

#include "window/Measurement.h"

// The spectrometer application's own settings: group "Measurement" of "Varnek Optic" /
// "Varnek_Irvane" (the registry on Windows, an INI file in the configuration folder elsewhere).
class SpectrometerStore : public MeasurementStore {
  public:
    bool Exists() const override;
    std::optional<std::string> Value(const std::string& name) const override;
    // The settings file's identity, size and times: the application rewrites the file for each
    // measurement.
    std::string WriteMark() const override;
};
