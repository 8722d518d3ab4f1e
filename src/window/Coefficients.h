#pragma once
#include <QString>
#include <cstdint>
#include <optional>

#include "settings/Coefficients.h"

// The coefficient page's side of loading a coefficient table into the lamp.

// The file's first `rows` rows, or the message page's text saying why the file gave none.
struct CoefficientFile {
    std::optional<Coefficients::Table> table;
    QString failure;
};
CoefficientFile ReadCoefficientFile(const QString& path, int rows);

// What the message page says once the controller has written a table (or could not):
// "Coefficients OK" only when the lamp took it.
QString CoefficientResultText(std::int32_t result);
// What it says when the chosen file could not be used.
QString CoefficientFileErrorText(const QString& path, const Coefficients::Result& read);
