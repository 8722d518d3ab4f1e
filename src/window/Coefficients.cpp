#include "window/Coefficients.h"

#include <QFileInfo>
#include <filesystem>
#include <fstream>

#include "link/Light.h"

std::optional<Coefficients::Table> ReadCoefficientFile(const std::string& path, int rows) {
    // A folder opens as a stream on some systems but holds no lines.
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Coefficients::Read(in, rows);
}

QString CoefficientResultText(std::int32_t result) {
    switch (result) {
        case CLightInput::kOk:
            return QStringLiteral("Coefficients OK");
        case CLightInput::kNoLamp:
            return QStringLiteral("Coefficients not written: no lamp is connected");
        default:
            return QStringLiteral("Coefficients not written: the lamp did not answer");
    }
}

QString CoefficientFileErrorText(const QString& path) {
    return QStringLiteral("Coefficients not loaded: cannot read %1")
        .arg(QFileInfo(path).fileName());
}
