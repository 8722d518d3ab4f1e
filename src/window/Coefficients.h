#pragma once
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

#include "settings/Coefficients.h"

// The coefficient page's side of loading a coefficient table into the lamp.

// The file's first `rows` rows; nothing when the file cannot be opened for reading.
std::optional<Coefficients::Table> ReadCoefficientFile(const std::string& path, int rows);

// What the message page says once the controller has written a table (or could not):
// "Coefficients OK" only when the lamp took it.
QString CoefficientResultText(std::int32_t result);
// What it says when the chosen file could not be read.
QString CoefficientFileErrorText(const QString& path);
