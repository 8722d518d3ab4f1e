#pragma once
#include <optional>
#include <string>

#include "settings/Coefficients.h"

// The coefficient page's side of loading a coefficient table into the lamp.

// The file's first `rows` rows; nothing when the file cannot be opened for reading.
std::optional<Coefficients::Table> ReadCoefficientFile(const std::string& path, int rows);
