#include "match/Match.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

using Vec = std::array<double, 3>;
using Mat = std::array<std::array<double, 3>, 3>;

Mat Identity() {
    Mat m{};
    for (int i = 0; i < 3; ++i) m[i][i] = 1.0;
    return m;
}

Vec Multiply(const Mat& m, const Vec& v) {
    Vec out{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out[r] += m[r][c] * v[c];
    return out;
}

// False for a matrix too close to singular to trust: the loop then starts its learning afresh.
bool Invert(const Mat& m, Mat& out) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    double scale = 0.0;
    for (const auto& row : m)
        for (double v : row) scale = std::max(scale, std::abs(v));
    if (!std::isfinite(det) || std::abs(det) < 1e-6 * scale * scale * scale) return false;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            out[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    }
    return true;
}

// The loop's coordinates of a light.
struct Coordinates {
    MatchSpace Space;
    // UvLux: the weight of ln(lux), so that the lux tolerance weighs as much as the u'v' one.
    // Xyz: the target's lux, so that the values stay near 1.
    double Scale;

    Vec To(const LightReading& l) const {
        if (Space == MatchSpace::UvLux) {
            const UvPrime uv = XyToUvPrime(l.x, l.y);
            return {uv.u, uv.v, Scale * std::log(std::max(l.lux, 1e-9))};
        }
        const double y = std::max(l.y, 1e-9);
        return {l.x * l.lux / y / Scale, l.lux / Scale, (1.0 - l.x - l.y) * l.lux / y / Scale};
    }

    LightReading From(const Vec& q) const {
        LightReading l;
        if (Space == MatchSpace::UvLux) {
            UvPrimeToXy({q[0], q[1]}, l.x, l.y);
            l.lux = std::exp(q[2] / Scale);
            return l;
        }
        const double sum = q[0] + q[1] + q[2];
        if (sum > 0.0) {
            l.x = q[0] / sum;
            l.y = q[1] / sum;
        }
        l.lux = q[1] * Scale;
        return l;
    }
};

bool SameSent(const LightReading& a, const LightReading& b) {
    return std::abs(a.x - b.x) < 1e-7 && std::abs(a.y - b.y) < 1e-7 &&
           std::abs(a.lux - b.lux) < 1e-9;
}

bool SameReading(const LightReading& a, const LightReading& b) {
    return a.x == b.x && a.y == b.y && a.lux == b.lux;
}

// A sent target and the reading of the light that followed it.
struct Point {
    LightReading Sent;
    LightReading Measured;
    double Error = 0.0;  // in tolerances: at most 1 is a match
};

}  // namespace

MatchLoop::MatchLoop(ReadingSource& source, Sender send, MatchOptions options)
    : source_(source), send_(std::move(send)), options_(options) {}

MatchResult MatchLoop::Run(LightReading target, std::stop_token stop) {
    const MatchOptions& o = options_;
    MatchResult result;
    // No number has no place to clamp to: nothing goes to the lamp.
    if (!std::isfinite(target.x) || !std::isfinite(target.y) || !std::isfinite(target.lux)) {
        result.Outcome = MatchOutcome::NotSent;
        result.Target = target;
        result.Problem = "the target is not a number";
        result.Refusal = SendRefusal::Invalid;
        return result;
    }
    LightReading t = target;
    if (o.Gamut) {
        float fx = static_cast<float>(t.x), fy = static_cast<float>(t.y);
        if (ConstrainToGamut(fx, fy, *o.Gamut, o.White)) {
            result.Constrained = true;
            t.x = fx;
            t.y = fy;
        }
    }
    t.x = std::clamp(t.x, o.MinXy, o.MaxXy);
    t.y = std::clamp(t.y, o.MinXy, o.MaxXy);
    if (t.lux > o.MaxLux) result.LuxLowered = true;
    t.lux = std::clamp(t.lux, o.MinLux, o.MaxLux);

    // The readings' scatter in u'v' at the target and in lux.
    const ReadingNoise noise = source_.Noise();
    const UvPrime at = XyToUvPrime(t.x, t.y);
    const UvPrime ax = XyToUvPrime(t.x + 1e-4, t.y);
    const UvPrime ay = XyToUvPrime(t.x, t.y + 1e-4);
    const double sigmaUv = noise.Xy * std::hypot((ax.u - at.u) / 1e-4, (ay.v - at.v) / 1e-4);
    const double sigmaLux = noise.LuxFraction;

    auto coordinates = [&] {
        return Coordinates{o.Space,
                           o.Space == MatchSpace::UvLux ? o.Tolerance / o.LuxTolerance : t.lux};
    };
    Coordinates space = coordinates();
    auto errorOf = [&](const LightReading& m, double& distance, double& luxError) {
        distance = UvDistance(m, t);
        luxError = (m.lux - t.lux) / t.lux;
        return std::max(distance / o.Tolerance, std::abs(luxError) / o.LuxTolerance);
    };
    auto sendable = [&](LightReading s) {
        if (!std::isfinite(s.x) || !std::isfinite(s.y) || !std::isfinite(s.lux)) s = t;
        // A correction never leaves the triangle: the lamp cannot give more there, and the
        // window would pull such a target back onto it behind the loop's back.
        if (o.Gamut) {
            float fx = static_cast<float>(s.x), fy = static_cast<float>(s.y);
            if (ConstrainToGamut(fx, fy, *o.Gamut, o.White)) {
                s.x = fx;
                s.y = fy;
            }
        }
        s.x = std::clamp(s.x, o.MinXy, o.MaxXy);
        s.y = std::clamp(s.y, o.MinXy, o.MaxXy);
        s.lux = std::clamp(std::round(s.lux / o.LuxStep) * o.LuxStep, o.MinLux, o.MaxLux);
        return s;
    };

    LightReading sentNow;
    bool sentAny = false;
    SendResult refused;  // the latest target the lamp did not take
    // "the lamp did not take ..." with the sender's reason.
    auto refusal = [&](const char* what) {
        std::string text = std::string("the lamp did not take ") + what;
        if (!refused.Problem.empty()) text += ": " + refused.Problem;
        return text;
    };
    auto send = [&](const LightReading& s) {
        if (SendResult r = send_(s); !r.Taken()) {
            refused = std::move(r);
            return false;
        }
        source_.Sent();
        sentNow = s;
        sentAny = true;
        return true;
    };

    std::optional<Point> best;
    std::optional<Point> last;                // the point the latest step went from
    std::optional<LightReading> lastReading;  // the latest reading used
    Point current;
    LightReading sameSum;  // the readings of the point on the lamp, summed
    int sameCount = 0;
    bool changed = true;      // something was sent since the latest reading used
    bool confirming = false;  // the latest reading was a match; the next confirms it
    Mat sensitivity = Identity();

    auto finish = [&](MatchOutcome outcome) {
        // Light matched at a lowered lux is still not the target asked for.
        if (result.LuxLowered &&
            (outcome == MatchOutcome::Matched || outcome == MatchOutcome::WithinNoise))
            outcome = MatchOutcome::NotReached;
        result.Outcome = outcome;
        result.Target = t;
        const bool leaveBest = outcome != MatchOutcome::Matched && outcome != MatchOutcome::NotSent;
        const Point* point =
            leaveBest && best ? &*best : (result.HaveMeasured ? &current : nullptr);
        if (leaveBest && best && sentAny && !SameSent(best->Sent, sentNow)) {
            if (!send(best->Sent)) {
                // Said beside why the loop ended, and the light reported is the one left on.
                const std::string best = refusal("the best point");
                result.Problem = result.Problem.empty() ? best : result.Problem + "; " + best;
                point = result.HaveMeasured && SameSent(current.Sent, sentNow) ? &current : nullptr;
            }
        }
        result.Sent = sentNow;
        result.HaveMeasured = point != nullptr;
        if (point) {
            result.Measured = point->Measured;
            result.HaveMeasured = true;
            errorOf(point->Measured, result.Distance, result.LuxError);
        }
        return result;
    };

    auto notSent = [&] {
        result.Problem = refusal("the target");
        result.Refusal = refused.Refusal;
        return finish(MatchOutcome::NotSent);
    };

    LightReading s = sendable(t);
    if (!send(s)) return notSent();
    while (true) {
        if (stop.stop_requested()) return finish(MatchOutcome::Cancelled);
        if (result.Readings >= o.MaxReadings) return finish(MatchOutcome::NotReached);

        // What the step should give: the last point moved by the sensitivity; before any
        // reading, what was sent.
        double predictedLux = s.lux;
        if (last) {
            Vec q = space.To(last->Measured);
            const Vec qs = space.To(s), ql = space.To(last->Sent);
            const Vec dq = Multiply(sensitivity, {qs[0] - ql[0], qs[1] - ql[1], qs[2] - ql[2]});
            for (int i = 0; i < 3; ++i) q[i] += dq[i];
            predictedLux = space.From(q).lux;
        }

        // A reading; a failed or doubtful one is taken again once.
        LightReading m;
        bool failedOnce = false, doubtedOnce = false;
        while (true) {
            const ReadingResult reading = source_.Read(stop);
            ++result.Readings;
            if (reading.Status == ReadingStatus::Cancelled || stop.stop_requested())
                return finish(MatchOutcome::Cancelled);
            const bool room = result.Readings < o.MaxReadings;
            if (reading.Status == ReadingStatus::Failed) {
                if (!failedOnce && room) {
                    failedOnce = true;
                    ++result.Retaken;
                    continue;
                }
                result.Problem = reading.Problem.empty() ? "no reading came" : reading.Problem;
                return finish(MatchOutcome::NoReading);
            }
            // The old light, read too soon after a change, or light the step cannot explain.
            const bool stale = changed && lastReading && SameReading(reading.Light, *lastReading);
            const bool far =
                predictedLux > 0.0 && std::abs(reading.Light.lux / predictedLux - 1.0) > 0.10;
            if ((stale || far) && !doubtedOnce && room) {
                if (progress_) {
                    MatchStep step{result.Readings, s, reading.Light, 0.0, 0.0, true};
                    errorOf(reading.Light, step.Distance, step.LuxError);
                    progress_(step);
                }
                doubtedOnce = true;
                ++result.Retaken;
                continue;
            }
            m = reading.Light;
            break;
        }

        result.HaveMeasured = true;
        MatchStep step{result.Readings, s, m, 0.0, 0.0, false};
        const double readingError = errorOf(m, step.Distance, step.LuxError);
        if (progress_) progress_(step);
        const bool wasChanged = changed;
        changed = false;
        lastReading = m;
        // Readings of one sent point are averaged, so a second look sharpens the first.
        if (wasChanged) {
            sameSum = m;
            sameCount = 1;
        } else {
            sameSum = {sameSum.x + m.x, sameSum.y + m.y, sameSum.lux + m.lux};
            ++sameCount;
        }
        const LightReading mean{sameSum.x / sameCount, sameSum.y / sameCount,
                                sameSum.lux / sameCount};
        current = {s, mean, 0.0};
        current.Error = errorOf(mean, step.Distance, step.LuxError);
        if (!best || current.Error < best->Error || SameSent(best->Sent, s)) best = current;
        // Cancelled while the reading came in: no further step goes out.
        if (stop.stop_requested()) return finish(MatchOutcome::Cancelled);

        if (readingError <= 1.0) {
            if (confirming && !wasChanged) return finish(MatchOutcome::Matched);
            // Confirm with a second reading of the same light.
            confirming = true;
            last = current;
            continue;
        }
        confirming = false;

        // The light stopped following the lux sent: the lamp is at its limit for this colour.
        // The chromaticity is kept and the lux lowered to a little under what it gives.
        const bool atLimit = s.lux >= o.MaxLux;
        const bool stalled =
            last && s.lux > last->Sent.lux * 1.02 &&
            m.lux - last->Measured.lux < 0.25 * (predictedLux - last->Measured.lux);
        if ((atLimit || stalled) && (m.lux - t.lux) / t.lux < -o.LuxTolerance) {
            result.LuxLowered = true;
            t.lux = std::max(o.MinLux, std::floor(m.lux * 0.97));
            space = coordinates();
            current.Error = errorOf(m, step.Distance, step.LuxError);
            best = current;
            last.reset();
            sensitivity = Identity();
            LightReading next = s;
            next.lux = t.lux;
            next = sendable(next);
            if (!send(next)) return notSent();
            s = next;
            changed = true;
            continue;
        }

        // Learn the sensitivity from this step, when it stands well above the scatter.
        if (last) {
            const bool large =
                UvDistance(s, last->Sent) > o.UpdateAboveNoise * sigmaUv ||
                std::abs(std::log(s.lux / last->Sent.lux)) > o.UpdateAboveNoise * sigmaLux;
            if (large) {
                const Vec qs = space.To(s), ql = space.To(last->Sent);
                const Vec qm = space.To(m), qlm = space.To(last->Measured);
                const Vec ds{qs[0] - ql[0], qs[1] - ql[1], qs[2] - ql[2]};
                const Vec dm{qm[0] - qlm[0], qm[1] - qlm[1], qm[2] - qlm[2]};
                const Vec predicted = Multiply(sensitivity, ds);
                const double norm = ds[0] * ds[0] + ds[1] * ds[1] + ds[2] * ds[2];
                for (int r = 0; r < 3; ++r)
                    for (int c = 0; c < 3; ++c)
                        sensitivity[r][c] += (dm[r] - predicted[r]) * ds[c] / norm;
            }
        }

        // Step from the best point when this one went badly wrong.
        Point base = current;
        const double noiseError =
            std::max(3.0 * sigmaUv / o.Tolerance, 3.0 * sigmaLux / o.LuxTolerance);
        if (current.Error > o.RegressionFactor * std::max(best->Error, noiseError)) base = *best;
        double distance = 0.0, luxError = 0.0;
        errorOf(base.Measured, distance, luxError);
        if (distance < 3.0 * sigmaUv &&
            std::abs(luxError) < std::max(3.0 * sigmaLux, o.LuxStep / t.lux))
            return finish(MatchOutcome::WithinNoise);

        Mat inverse;
        if (!Invert(sensitivity, inverse)) {
            sensitivity = Identity();
            inverse = Identity();
        }
        const Vec qt = space.To(t), qm = space.To(base.Measured), qs = space.To(base.Sent);
        const Vec dq = Multiply(inverse, {qt[0] - qm[0], qt[1] - qm[1], qt[2] - qm[2]});
        const LightReading next = sendable(space.From(
            {qs[0] + o.Damping * dq[0], qs[1] + o.Damping * dq[1], qs[2] + o.Damping * dq[2]}));
        last = base;
        // A correction finer than what can be sent changes nothing on the lamp.
        if (SameSent(next, s)) return finish(MatchOutcome::WithinNoise);
        if (!send(next)) return notSent();
        s = next;
        changed = true;
    }
}

const char* MatchOutcomeName(MatchOutcome outcome) {
    switch (outcome) {
        case MatchOutcome::Matched:
            return "matched";
        case MatchOutcome::WithinNoise:
            return "within-noise";
        case MatchOutcome::NotReached:
            return "not-reached";
        case MatchOutcome::NoReading:
            return "no-reading";
        case MatchOutcome::Cancelled:
            return "cancelled";
        case MatchOutcome::NotSent:
            return "not-sent";
    }
    return "not-reached";
}

std::string DescribeMatch(const MatchResult& r) {
    char best[160] = "";
    if (r.HaveMeasured) {
        std::snprintf(best, sizeof best, "x %.4f y %.4f %.0f lx, u'v' %.4f off, lux %+.1f %%",
                      r.Measured.x, r.Measured.y, r.Measured.lux, r.Distance, r.LuxError * 100.0);
    }
    std::string text;
    switch (r.Outcome) {
        case MatchOutcome::Matched:
            text = "Matched";
            break;
        case MatchOutcome::WithinNoise:
            text = "Within the instrument's noise";
            break;
        case MatchOutcome::NotReached:
            text = std::string("Not reached: best ") + best;
            break;
        case MatchOutcome::NoReading:
            text = "No reading: " + r.Problem;
            if (r.HaveMeasured) text += std::string("; best ") + best;
            break;
        case MatchOutcome::Cancelled:
            text = "Cancelled";
            if (r.HaveMeasured) text += std::string(": best ") + best;
            break;
        case MatchOutcome::NotSent:
            text = "Not sent: " + r.Problem;
            break;
    }
    const bool problemSaid =
        r.Outcome == MatchOutcome::NoReading || r.Outcome == MatchOutcome::NotSent;
    if (!problemSaid && !r.Problem.empty()) text += "; " + r.Problem;
    if (r.Constrained) text += "; the target was outside the lamp's gamut and was moved onto it";
    if (r.LuxLowered) {
        char lowered[96];
        std::snprintf(lowered, sizeof lowered,
                      "; the lamp gives at most about %.0f lx at this colour", r.Target.lux);
        text += lowered;
    }
    return text;
}
