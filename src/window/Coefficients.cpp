#include "window/Coefficients.h"

#include <QFile>

CoefficientFile ReadCoefficientFile(const QString& path, int rows) {
    const Coefficients::Result read =
        Coefficients::ReadFile(QFile::encodeName(path).toStdString(), rows);
    if (read.fault != Coefficients::Fault::None)
        return {std::nullopt, CoefficientFileErrorText(path, read)};
    return {read.table, {}};
}
