#pragma once
#include <QString>
#include <optional>

#include "settings/Coefficients.h"
#include "window/Messages.h"

// The coefficient page's side of loading a coefficient table into the lamp.

// The file's first `rows` rows, or the message page's text saying why the file gave none.
struct CoefficientFile {
    std::optional<Coefficients::Table> table;
    PageMessage failure;
};
CoefficientFile ReadCoefficientFile(const QString& path, int rows);
