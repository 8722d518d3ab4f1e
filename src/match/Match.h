#pragma once
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "colour/Colorspro.h"
#include "match/Readings.h"

// The space the loop corrects in: tristimulus values, or u'v' with the logarithm of lux. The
// second needs fewer readings on the simulated lamps (see the match benchmark) and is the default.
enum class MatchSpace { Xyz, UvLux };

struct MatchOptions {
    // Success: at most this u'v' distance and this lux fraction, confirmed by a second reading.
    double Tolerance = 0.001;
    double LuxTolerance = 0.01;
    // Every reading counts, a reading taken again included.
    int MaxReadings = 8;
    // The share of the full correction each step takes: a little short of it, so that a
    // sensitivity still wrong does not overshoot.
    double Damping = 0.9;
    // The sensitivity is refined only from steps this many sigmas of scatter long.
    double UpdateAboveNoise = 6.0;
    // Back to the best point when the error grows past this many times the best.
    double RegressionFactor = 2.5;
    MatchSpace Space = MatchSpace::UvLux;
    // A target outside this triangle is pulled onto it towards white, as the diagram does.
    std::optional<GamutTriangle> Gamut;
    Chromaticity White{0.345741f, 0.358666f};
    // What can be sent: the chromaticity range, the lux range and its step.
    double MinXy = 0.01;
    double MaxXy = 0.7;
    double MinLux = 10.0;
    double MaxLux = 65535.0;
    double LuxStep = 1.0;
};

enum class MatchOutcome {
    Matched,      // within tolerance on two readings in a row
    WithinNoise,  // the next correction is smaller than the readings' scatter
    NotReached,   // no success within the readings allowed, or the lux is out of the lamp's reach
    NoReading,    // the source gave no reading, even when asked again
    Cancelled,
    NotSent,  // the lamp did not take a target
};

// Why the lamp did not take a target, so that a caller can tell a missing lamp from one that
// did not answer.
enum class SendRefusal {
    None,         // taken
    NoLamp,       // no lamp is connected, or the main lamp went before it took the target
    NoAnswer,     // the main lamp did not answer
    Unconfirmed,  // the main lamp had not confirmed it within the send's limit; it may still
    Busy,         // the program could not send it now (it is ending, or the window refused)
    Invalid,      // the target is not a number
};

// What became of one target sent.
struct SendResult {
    SendRefusal Refusal = SendRefusal::None;
    // Why, for the user; empty when taken.
    std::string Problem;
    bool Taken() const { return Refusal == SendRefusal::None; }
};

// One reading as the loop saw it.
struct MatchStep {
    int Number = 0;  // 1 for the first reading, counting readings taken again
    LightReading Sent;
    LightReading Measured;
    double Distance = 0.0;  // u'v' distance to the target
    double LuxError = 0.0;  // (measured − target) / target
    // The reading is not used: unchanged after a change, or far from the prediction.
    bool Discarded = false;
};

struct MatchResult {
    MatchOutcome Outcome = MatchOutcome::NotReached;
    int Readings = 0;
    int Retaken = 0;
    // The target the loop worked to, after the gamut and the lamp's reach.
    LightReading Target;
    // What is left on the lamp and the reading of it.
    LightReading Sent;
    LightReading Measured;
    bool HaveMeasured = false;
    double Distance = 0.0;
    double LuxError = 0.0;
    // The target lay outside the gamut triangle and was pulled onto it.
    bool Constrained = false;
    // The lamp cannot give the lux asked for at this colour; Target.lux is what it gives.
    bool LuxLowered = false;
    // Why no reading came, or why the lamp took nothing.
    std::string Problem;
    // NotSent: why the lamp took nothing.
    SendRefusal Refusal = SendRefusal::None;
};

// Brings the light the lamp gives to a target: sends a target, waits for a reading of the
// light that followed, and corrects what it sends from the error, starting from the belief
// that what is sent is what comes out and learning the lamp's sensitivity as it goes. The best
// point seen is left on the lamp whenever the loop ends without a match. Nothing is sent once
// Run has returned.
class MatchLoop {
  public:
    // Sends a target to the lamp and says whether the lamp took it.
    using Sender = std::function<SendResult(const LightReading&)>;
    using Progress = std::function<void(const MatchStep&)>;

    MatchLoop(ReadingSource& source, Sender send, MatchOptions options = {});
    // Called on the loop's thread after each reading.
    void OnProgress(Progress progress) { progress_ = std::move(progress); }
    MatchResult Run(LightReading target, std::stop_token stop = {});

  private:
    ReadingSource& source_;
    Sender send_;
    MatchOptions options_;
    Progress progress_;
};

// The one-line result the user sees: "Matched", "Within the instrument's noise",
// "Not reached: best ...", with the lamp's reach and the gamut said when they changed the target.
std::string DescribeMatch(const MatchResult& result);
const char* MatchOutcomeName(MatchOutcome outcome);
