#pragma once
#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

// A light as an instrument gives it: CIE 1931 chromaticity and illuminance in lux. The same
// record carries a target to reach and a target sent to the lamp.
struct LightReading {
    double x = 0.0;
    double y = 0.0;
    double lux = 0.0;
};

// CIE 1976 u', v'.
struct UvPrime {
    double u = 0.0;
    double v = 0.0;
};

UvPrime XyToUvPrime(double x, double y);
// The chromaticity of (u', v'); (0, 0) when the denominator vanishes.
void UvPrimeToXy(UvPrime uv, double& x, double& y);
// The CIE 1976 u'v' distance between two chromaticities.
double UvDistance(const LightReading& a, const LightReading& b);

// One sigma of an instrument's scatter: in x and y, and in lux as a fraction.
struct ReadingNoise {
    double Xy = 0.00025;
    double LuxFraction = 0.002;
};

enum class ReadingStatus {
    Taken,
    Failed,     // the instrument failed, or no reading came within the source's time limit
    Cancelled,  // the wait was stopped
};

struct ReadingResult {
    ReadingStatus Status = ReadingStatus::Failed;
    LightReading Light;
    // Why there is no reading, for the user.
    std::string Problem;
};

// Where the readings of the lamp's light come from: an instrument the program reads, a command
// the user names, or the simulated meter.
class ReadingSource {
  public:
    virtual ~ReadingSource() = default;
    // A reading of the light that followed the latest send. Blocks until it comes, fails or
    // the source's own time limit passes; returns Cancelled soon after stop is requested.
    virtual ReadingResult Read(std::stop_token stop) = 0;
    // The longest one Read takes before it gives up by itself, so that a caller waiting on a
    // whole match can tell a slow match from one that will not end.
    virtual std::chrono::milliseconds ReadLimit() const = 0;
    // The scatter of this source's readings; the loop stops correcting below it.
    virtual ReadingNoise Noise() const { return {}; }
    // What the user has to do for each reading ("take a reading now"), or empty when the
    // source triggers the instrument itself.
    virtual std::string Prompt() const { return {}; }
    // A new target has just gone to the lamp: what the instrument holds from now on is new.
    virtual void Sent() {}
};

// One reading as an instrument tool prints it on a line: "x y lux" or "X Y Z", separated by
// blanks (a "," in a number then reads as ".") or by "," or ";". Three numbers with x and y in
// 0..1 and x + y at most 1 are x, y and lux; others are tristimulus values with Y in lux.
// Nothing when the line holds no usable reading.
std::optional<LightReading> ParseReadingLine(std::string_view line);
