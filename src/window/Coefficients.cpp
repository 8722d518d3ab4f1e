#include "window/Coefficients.h"

#include <filesystem>
#include <fstream>

std::optional<Coefficients::Table> ReadCoefficientFile(const std::string& path, int rows) {
    // A folder opens as a stream on some systems but holds no lines.
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Coefficients::Read(in, rows);
}
