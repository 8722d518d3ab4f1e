#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Examplegamut.h"
#include "match/Match.h"
#include "sim/Fakeclock.h"
#include "sim/Simlight.h"

namespace {

// A simulated lamp of its own miscalibration, a meter pointed at it, and every target sent.
struct Bench {
    explicit Bench(std::uint32_t lampSeed, std::uint32_t meterSeed = 7)
        : light(SimLightOptions{lampSeed}),
          meter(
              clock, [this] { return Light(); }, SimMeterOptions{meterSeed}) {}

    LightReading Light() { return light.Emit(onLamp, clock.TickCount() / 1000.0); }
    MatchLoop::Sender Sender() {
        return [this](const LightReading& target) {
            sent.push_back(target);
            onLamp = target;
            return SendResult{};
        };
    }

    FakeClock clock{0};
    SimLight light;
    SimMeter meter;
    LightReading onLamp;
    std::vector<LightReading> sent;
};

// Passes the meter's readings through, except that the n-th reading (from 1) is replaced as
// the script says: "stale" repeats the reading before, "fail" fails, "far" reads a third more
// lux, "shifted" reads x 0.02 too high, "silent" and everything after it fail as a meter that
// stopped answering.
class Scripted : public ReadingSource {
  public:
    Scripted(ReadingSource& inner, std::vector<std::string> script)
        : inner_(inner), script_(std::move(script)) {}
    ReadingResult Read(std::stop_token stop) override {
        const std::size_t n = count_++;
        const std::string what = n < script_.size() ? script_[n] : "";
        if (what == "silent") silent_ = true;
        if (silent_) return {ReadingStatus::Failed, {}, "no reading within 10 s"};
        if (what == "fail") return {ReadingStatus::Failed, {}, "the meter failed"};
        if (what == "stale") return {ReadingStatus::Taken, last_, {}};
        ReadingResult r = inner_.Read(stop);
        if (what == "far") r.Light.lux *= 1.33;
        if (what == "shifted")
            r.Light.x += 0.02;
        else
            last_ = r.Light;
        return r;
    }
    std::chrono::milliseconds ReadLimit() const override { return inner_.ReadLimit(); }
    ReadingNoise Noise() const override { return inner_.Noise(); }

  private:
    ReadingSource& inner_;
    std::vector<std::string> script_;
    std::size_t count_ = 0;
    bool silent_ = false;
    LightReading last_;
};

double Distance(const LightReading& a, const LightReading& b) {
    return UvDistance(a, b);
}

TEST(Match, ConvergesOnMiscalibratedLampsDespiteScatter) {
    const std::vector<LightReading> targets = {{0.3127, 0.3290, 500}, {0.4476, 0.4074, 300},
                                               {0.25, 0.30, 400},     {0.50, 0.33, 250},
                                               {0.30, 0.50, 800},     {0.38, 0.38, 1200}};
    for (MatchSpace space : {MatchSpace::UvLux, MatchSpace::Xyz}) {
        int openLoopMisses = 0;
        for (std::uint32_t lamp = 1; lamp <= 6; ++lamp) {
            for (const LightReading& target : targets) {
                Bench bench(lamp, lamp * 31);
                const LightReading openLoop = bench.light.Emit(target, 0.0);
                if (Distance(openLoop, target) > 0.001) ++openLoopMisses;
                MatchOptions options;
                options.Space = space;
                MatchLoop loop(bench.meter, bench.Sender(), options);
                const MatchResult r = loop.Run(target);
                const std::string where =
                    "lamp " + std::to_string(lamp) + " target " + std::to_string(target.x) + "," +
                    std::to_string(target.y) + " space " + std::to_string(static_cast<int>(space));
                EXPECT_TRUE(r.Outcome == MatchOutcome::Matched ||
                            r.Outcome == MatchOutcome::WithinNoise)
                    << where << ": " << DescribeMatch(r);
                EXPECT_LE(r.Readings, options.MaxReadings) << where;
                // The light the lamp now gives, without the meter's scatter, is the target's.
                const LightReading now =
                    bench.light.Emit(bench.onLamp, bench.clock.TickCount() / 1000.0);
                EXPECT_LT(Distance(now, target), 0.0015) << where;
                EXPECT_NEAR(now.lux / target.lux, 1.0, 0.015) << where;
                EXPECT_EQ(r.Sent.x, bench.onLamp.x) << where;
            }
        }
        // The lamps are miscalibrated enough that the loop has work to do.
        EXPECT_GT(openLoopMisses, 24);
    }
}

TEST(Match, LuxBeyondTheLampIsLoweredKeepingTheColour) {
    Bench bench(3);
    MatchLoop loop(bench.meter, bench.Sender());
    std::vector<MatchStep> steps;
    loop.OnProgress([&](const MatchStep& s) { steps.push_back(s); });
    const LightReading target{0.30, 0.45, 4000};
    const MatchResult r = loop.Run(target);
    EXPECT_EQ(r.Outcome, MatchOutcome::NotReached) << DescribeMatch(r);
    EXPECT_TRUE(r.LuxLowered);
    EXPECT_LT(r.Target.lux, 3000);
    EXPECT_NE(DescribeMatch(r).find("the lamp gives at most about"), std::string::npos);
    // The colour is still matched at what the lamp can give, and that point is left on it.
    const LightReading now = bench.light.Emit(bench.onLamp, bench.clock.TickCount() / 1000.0);
    EXPECT_LT(Distance(now, target), 0.0015) << DescribeMatch(r);
    EXPECT_EQ(bench.sent.back().lux, r.Sent.lux);
    EXPECT_LE(r.Readings, 8);
}

TEST(Match, TargetOutsideTheGamutIsPulledOntoIt) {
    Bench bench(2);
    MatchOptions options;
    options.Gamut = kExampleGamut;
    MatchLoop loop(bench.meter, bench.Sender(), options);
    const MatchResult r = loop.Run({0.6, 0.6, 300});
    EXPECT_TRUE(r.Constrained);
    EXPECT_NEAR(r.Target.x, 0.46571, 1e-4);
    EXPECT_NEAR(r.Target.y, 0.47253, 1e-4);
    EXPECT_NE(DescribeMatch(r).find("outside the lamp's gamut"), std::string::npos);
    EXPECT_LT(Distance(r.Measured, r.Target), 0.003) << DescribeMatch(r);
    // No correction goes outside the triangle, where the window would pull it back.
    for (const LightReading& s : bench.sent) {
        EXPECT_TRUE(InsideTriangle({static_cast<float>(s.x), static_cast<float>(s.y)},
                                   kExampleGamut.Corner(0), kExampleGamut.Corner(1),
                                   kExampleGamut.Corner(2)))
            << s.x << "," << s.y;
    }
}

TEST(Match, DoubtfulAndFailedReadingsAreTakenAgainOnce) {
    struct Case {
        std::vector<std::string> script;
        MatchOutcome outcome;
        int retaken;
    };
    const std::vector<Case> cases = {
        {{"", "stale"}, MatchOutcome::Matched, 1},
        {{"", "far"}, MatchOutcome::Matched, 1},
        {{"fail"}, MatchOutcome::Matched, 1},
        {{"", "", "fail"}, MatchOutcome::Matched, 1},
        // Taken again once only: a second failure in a row ends the loop.
        {{"", "fail", "fail"}, MatchOutcome::NoReading, 1},
    };
    for (const Case& c : cases) {
        Bench bench(4);
        Scripted source(bench.meter, c.script);
        MatchLoop loop(source, bench.Sender());
        std::vector<MatchStep> steps;
        loop.OnProgress([&](const MatchStep& s) { steps.push_back(s); });
        const MatchResult r = loop.Run({0.3127, 0.3290, 500});
        const std::string where = c.script.back();
        EXPECT_EQ(r.Outcome, c.outcome) << where << ": " << DescribeMatch(r);
        EXPECT_EQ(r.Retaken, c.retaken) << where;
        // A doubtful reading is shown but never used as the best.
        for (const MatchStep& s : steps) {
            if (s.Discarded) {
                EXPECT_FALSE(r.Measured.lux == s.Measured.lux) << where;
            }
        }
    }
}

TEST(Match, SilentMeterEndsWithNoReadingAndTheBestPointLeft) {
    // Silent from the start: the open-loop target stays, nothing else is sent.
    {
        Bench bench(5);
        bench.meter.SetSilent(true);
        MatchLoop loop(bench.meter, bench.Sender());
        const MatchResult r = loop.Run({0.3127, 0.3290, 500});
        EXPECT_EQ(r.Outcome, MatchOutcome::NoReading);
        EXPECT_EQ(r.Problem, "no reading within 10 s");
        EXPECT_EQ(bench.sent.size(), 1u);
        EXPECT_FALSE(r.HaveMeasured);
    }
    // Silent after two readings: the better of them is sent again and reported.
    {
        Bench bench(5);
        MatchLoop loop(bench.meter, bench.Sender());
        std::vector<MatchStep> steps;
        loop.OnProgress([&](const MatchStep& s) {
            steps.push_back(s);
            if (steps.size() == 2) bench.meter.SetSilent(true);
        });
        const LightReading target{0.45, 0.41, 300};
        const MatchResult r = loop.Run(target);
        ASSERT_EQ(r.Outcome, MatchOutcome::NoReading);
        ASSERT_EQ(steps.size(), 2u);
        const MatchStep& best = steps[0].Distance < steps[1].Distance ? steps[0] : steps[1];
        EXPECT_EQ(r.Measured.x, best.Measured.x);
        EXPECT_EQ(bench.sent.back().x, best.Sent.x);
        EXPECT_EQ(bench.sent.back().lux, best.Sent.lux);
        EXPECT_NE(DescribeMatch(r).find("best"), std::string::npos);
    }
}

// Cancel pressed while the instrument takes its n-th reading: the stop is requested and the
// reading ends as cancelled, as a source's reading does on a stop.
class CancelledWhileReading : public ReadingSource {
  public:
    CancelledWhileReading(ReadingSource& inner, std::stop_source& stop, int n,
                          std::function<void()> stopping)
        : inner_(inner), stop_(stop), n_(n), stopping_(std::move(stopping)) {}
    ReadingResult Read(std::stop_token stop) override {
        if (++count_ != n_) return inner_.Read(stop);
        stopping_();
        stop_.request_stop();
        return {ReadingStatus::Cancelled, {}, {}};
    }
    std::chrono::milliseconds ReadLimit() const override { return inner_.ReadLimit(); }
    ReadingNoise Noise() const override { return inner_.Noise(); }

  private:
    ReadingSource& inner_;
    std::stop_source& stop_;
    int n_, count_ = 0;
    std::function<void()> stopping_;
};

// Whether the cancel comes between readings or in the middle of one, the one target sent after
// it is the best point's.
TEST(Match, CancelLeavesTheBestPointAndSendsNothingAfter) {
    for (const bool duringReading : {false, true}) {
        SCOPED_TRACE(duringReading ? "during the third reading" : "after the second reading");
        Bench bench(6);
        std::stop_source stop;
        std::size_t sentAtStop = 0;
        // The second reading is far worse than the first, so the first point is the best.
        Scripted script(bench.meter, {"", "shifted"});
        CancelledWhileReading source(script, stop, duringReading ? 3 : 0,
                                     [&] { sentAtStop = bench.sent.size(); });
        MatchLoop loop(source, bench.Sender());
        std::vector<MatchStep> steps;
        loop.OnProgress([&](const MatchStep& s) {
            steps.push_back(s);
            if (!duringReading && steps.size() == 2) {
                sentAtStop = bench.sent.size();
                stop.request_stop();
            }
        });
        const MatchResult r = loop.Run({0.28, 0.31, 600}, stop.get_token());
        EXPECT_EQ(r.Outcome, MatchOutcome::Cancelled);
        ASSERT_EQ(steps.size(), 2u);
        ASSERT_GE(sentAtStop, 2u);
        ASSERT_EQ(bench.sent.size(), sentAtStop + 1);
        EXPECT_EQ(bench.sent.back().x, bench.sent[0].x);
        EXPECT_EQ(bench.sent.back().y, bench.sent[0].y);
        EXPECT_EQ(bench.sent.back().lux, bench.sent[0].lux);
        EXPECT_EQ(r.Sent.x, bench.sent[0].x);
        EXPECT_EQ(r.Measured.x, steps[0].Measured.x);
    }
}

// The best point cannot go back: the result is the light left on the lamp, and why.
TEST(Match, BestPointTheLampRefusesIsSaidWithTheLightLeft) {
    Bench bench(6);
    std::stop_source stop;
    Scripted source(bench.meter, {"", "shifted"});
    MatchLoop loop(source, [&](const LightReading& t) {
        if (bench.sent.size() == 2) return SendResult{SendRefusal::NoAnswer, "no answer"};
        return bench.Sender()(t);
    });
    std::vector<MatchStep> steps;
    loop.OnProgress([&](const MatchStep& s) {
        steps.push_back(s);
        if (steps.size() == 2) stop.request_stop();
    });
    const MatchResult r = loop.Run({0.28, 0.31, 600}, stop.get_token());
    EXPECT_EQ(r.Outcome, MatchOutcome::Cancelled);
    ASSERT_EQ(steps.size(), 2u);
    ASSERT_EQ(bench.sent.size(), 2u);
    EXPECT_EQ(r.Sent.x, bench.sent[1].x);
    ASSERT_TRUE(r.HaveMeasured);
    EXPECT_EQ(r.Measured.x, steps[1].Measured.x);
    EXPECT_NE(DescribeMatch(r).find("the lamp did not take the best point"), std::string::npos)
        << DescribeMatch(r);
}

// The sender's reason stays with the result, for the first target and for a later step.
TEST(Match, LampThatTakesNothingIsSaidWithItsReason) {
    for (const SendRefusal why : {SendRefusal::NoLamp, SendRefusal::NoAnswer,
                                  SendRefusal::Unconfirmed, SendRefusal::Busy}) {
        for (const std::size_t takes : {0u, 1u}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(why) << " after " << takes);
            Bench bench(1);
            MatchLoop loop(bench.meter, [&](const LightReading& t) {
                if (bench.sent.size() == takes) return SendResult{why, "because"};
                return bench.Sender()(t);
            });
            const MatchResult r = loop.Run({0.45, 0.41, 300});
            EXPECT_EQ(r.Outcome, MatchOutcome::NotSent);
            EXPECT_EQ(r.Refusal, why);
            EXPECT_EQ(r.Problem, "the lamp did not take the target: because");
            EXPECT_EQ(bench.meter.ReadingsTaken(), static_cast<int>(takes));
        }
    }
}

TEST(Match, TargetThatIsNoNumberSendsNothing) {
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    for (const LightReading& target :
         {LightReading{nan, 0.33, 500}, LightReading{0.31, nan, 500}, LightReading{0.31, 0.33, nan},
          LightReading{0.31, 0.33, inf}, LightReading{-inf, 0.33, 500}}) {
        Bench bench(1);
        MatchLoop loop(bench.meter, bench.Sender());
        const MatchResult r = loop.Run(target);
        const std::string where = std::to_string(target.x) + " " + std::to_string(target.y) + " " +
                                  std::to_string(target.lux);
        EXPECT_EQ(r.Outcome, MatchOutcome::NotSent) << where;
        EXPECT_EQ(r.Problem, "the target is not a number") << where;
        EXPECT_TRUE(bench.sent.empty()) << where;
        EXPECT_EQ(bench.meter.ReadingsTaken(), 0);
    }
}

}  // namespace
