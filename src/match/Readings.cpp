#include "match/Readings.h"

#include <cmath>

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
