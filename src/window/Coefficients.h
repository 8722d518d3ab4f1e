#pragma once
#include <QDateTime>
#include <QString>
#include <optional>
#include <string>

#include "link/Lightinfo.h"
#include "settings/Coefficients.h"
#include "window/Messages.h"

// The coefficient page's side of loading a coefficient table into the lamp.

// The file's first `rows` rows, or the message page's text saying why the file gave none.
struct CoefficientFile {
    std::optional<Coefficients::Table> table;
    PageMessage failure;
    int rows = 0;  // the rows the file gave
};
CoefficientFile ReadCoefficientFile(const QString& path, int rows);

// A lamp's coefficient table, known by the lamp's serial number.
struct LampTable {
    std::string serial;
    Coefficients::Table table;
};
// The table in an information area's image, as the lamp keeps it.
Coefficients::Table TableInArea(const CLightInfo::AreaImage& area);
// Saves the table in the folder (made when missing), in the format the coefficient page loads,
// one file per lamp and time; its path, or empty when it could not be saved.
QString SaveLampTable(const QString& folder, const LampTable& lamp, const QDateTime& when);
