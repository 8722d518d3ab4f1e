#include "match/Readings.h"

#include <cmath>
#include <vector>

#include "settings/Number.h"

UvPrime XyToUvPrime(double x, double y) {
    const double d = -2.0 * x + 12.0 * y + 3.0;
    if (d == 0.0) return {};
    return {4.0 * x / d, 9.0 * y / d};
}

void UvPrimeToXy(UvPrime uv, double& x, double& y) {
    const double d = 6.0 * uv.u - 16.0 * uv.v + 12.0;
    if (d == 0.0) {
        x = y = 0.0;
        return;
    }
    x = 9.0 * uv.u / d;
    y = 4.0 * uv.v / d;
}

double UvDistance(const LightReading& a, const LightReading& b) {
    const UvPrime p = XyToUvPrime(a.x, a.y);
    const UvPrime q = XyToUvPrime(b.x, b.y);
    return std::hypot(p.u - q.u, p.v - q.v);
}

std::optional<LightReading> ParseReadingLine(std::string_view line) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    // Blank-separated fields may use a decimal comma; otherwise commas separate the fields.
    std::vector<std::string> fields;
    std::string field;
    std::size_t words = 0;
    bool inWord = false;
    for (char c : line) {
        if (blank(c)) {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    const bool byBlanks = words >= 3;
    for (char c : line) {
        const bool separator = blank(c) || c == ';' || (!byBlanks && c == ',');
        if (separator) {
            if (!field.empty()) fields.push_back(field);
            field.clear();
        } else {
            field += c == ',' ? '.' : c;
        }
    }
    if (!field.empty()) fields.push_back(field);
    if (fields.size() < 3) return std::nullopt;
    double v[3];
    for (int i = 0; i < 3; ++i) {
        const std::string& text = fields[static_cast<std::size_t>(i)];
        // The whole field is the number: "0.3x" is no reading.
        const std::size_t sign = text[0] == '-' || text[0] == '+' ? 1 : 0;
        const std::optional<double> number = LeadingNumber(text);
        if (!number || !std::isfinite(*number) ||
            sign + NumberLength(std::string_view(text).substr(sign)) != text.size())
            return std::nullopt;
        v[i] = *number;
    }
    if (v[0] > 0.0 && v[1] > 0.0 && v[0] < 1.0 && v[1] < 1.0 && v[0] + v[1] <= 1.0) {
        if (v[2] < 0.0) return std::nullopt;
        return LightReading{v[0], v[1], v[2]};
    }
    const double sum = v[0] + v[1] + v[2];
    if (v[0] < 0.0 || v[1] <= 0.0 || v[2] < 0.0 || sum <= 0.0) return std::nullopt;
    return LightReading{v[0] / sum, v[1] / sum, v[1]};
}
