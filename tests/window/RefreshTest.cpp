#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <random>

#include "colour/Colorspro.h"
#include "colour/Expvalue.h"
#include "settings/Channel.h"
#include "window/Presets.h"
#include "window/Refresh.h"

namespace {

CChannel LampRecord() {
    CChannel r(3);
    r.ColorValues = {400,   800, 1200,  1600,  2000, 4000, 5618,  21626,
                     21626, 450, 32767, 65535, 5,    6553, 65500, 0};
    r.ModeFlags = 1;
    r.DisplayFlags = 2 | (2 << 3);  // lux scale, speed index 3
    return r;
}

TEST(RefreshTest, DecodesAReportedRecord) {
    const RecordTarget t = DecodeRecord(LampRecord(), 0.0, 0.0);
    EXPECT_EQ(t.Temperature, 5618);
    EXPECT_NEAR(t.X, 0.33f, 1e-4f);
    EXPECT_NEAR(t.Y, 0.33f, 1e-4f);
    EXPECT_EQ(t.Lux, 450);
    EXPECT_EQ(t.Wr, 500);
    EXPECT_EQ(t.Buv, 1000);
    EXPECT_EQ(t.B1b2, 100);
    EXPECT_EQ(t.Intensity, 1000);
    EXPECT_EQ(t.Channels, (std::array<int, 6>{100, 200, 300, 400, 500, 1000}));
    EXPECT_TRUE(t.Coefficients);
    EXPECT_FALSE(t.Uv);
    EXPECT_TRUE(t.Max);
    EXPECT_FALSE(t.Direct);
    EXPECT_FALSE(t.Log);
    EXPECT_TRUE(t.LuxScale);
    EXPECT_EQ(t.SpeedIndex, 3);

    std::array<int, 32> cv{};
    cv[3] = 77;
    TakeSliders(t, cv);
    EXPECT_EQ(cv[0], 500);
    EXPECT_EQ(cv[1], 1000);
    EXPECT_EQ(cv[2], 100);
    EXPECT_EQ(cv[7], 1000);
    EXPECT_EQ(cv[3], 77);
    for (int s = 0; s < 6; ++s) {
        EXPECT_EQ(cv[static_cast<std::size_t>(10 + s)], t.Channels[static_cast<std::size_t>(s)]);
        EXPECT_EQ(cv[static_cast<std::size_t>(20 + s)], t.Channels[static_cast<std::size_t>(s)]);
    }
}

TEST(RefreshTest, OffsetsFlagsAndSpeedIndex) {
    CChannel r = LampRecord();
    r.ColorValues[7] = 0;
    const RecordTarget shifted = DecodeRecord(r, 0.01, -0.02);
    EXPECT_NEAR(shifted.X, -0.01f, 1e-6f);
    EXPECT_NEAR(shifted.Y, 0.35f, 1e-4f);

    const std::pair<std::int32_t, int> speeds[] = {{4, 0},      {4 | (3 << 3), 0}, {0, 1},
                                                   {1 << 3, 2}, {3 << 3, 4},       {1 | 2, 1}};
    for (const auto& [flags, index] : speeds) {
        r.DisplayFlags = flags;
        EXPECT_EQ(DecodeRecord(r, 0, 0).SpeedIndex, index) << flags;
    }
    r.DisplayFlags = 1;
    r.ModeFlags = 5;
    r.ColorValues[12] = 2;
    const RecordTarget t = DecodeRecord(r, 0, 0);
    EXPECT_TRUE(t.Log);
    EXPECT_TRUE(t.Direct);
    EXPECT_TRUE(t.Uv);
    EXPECT_FALSE(t.Coefficients);
    EXPECT_EQ(t.Intensity, std::clamp(LevelToSlider(65500, true), 0, 1000));
}

TEST(RefreshTest, ValuesBeyondTheirRangeStayOnTheSliders) {
    CChannel r = LampRecord();
    r.ColorValues = {65535, -4, INT_MAX, INT_MIN, 4003, 3999,    0,     0,
                     0,     0,  INT_MAX, -1,      0,    INT_MIN, 70000, 0};
    r.DisplayFlags = 0;
    const RecordTarget t = DecodeRecord(r, 0, 0);
    EXPECT_EQ(t.Channels, (std::array<int, 6>{1000, 0, 1000, 0, 1000, 999}));
    EXPECT_EQ(t.Wr, 1000);
    EXPECT_EQ(t.Buv, 0);
    EXPECT_EQ(t.B1b2, 0);
    EXPECT_EQ(t.Intensity, 1000);
    r.DisplayFlags = 1;
    r.ColorValues[14] = -5;
    EXPECT_EQ(DecodeRecord(r, 0, 0).Intensity, 0);
}

TEST(RefreshTest, BoxColoursAndTheLuxText) {
    const std::pair<int, bool> temperatures[] = {{2500, true},  {2501, false}, {9999, false},
                                                 {10000, true}, {0, true},     {5000, false}};
    for (const auto& [t, red] : temperatures) EXPECT_EQ(TemperatureOutOfRange(t), red) << t;

    EXPECT_EQ(LuxBoxText(2999), "2999");
    EXPECT_EQ(LuxBoxText(10), "10");
    EXPECT_FALSE(LuxBoxText(3000).has_value());

    const std::pair<const char*, int> numbers[] = {{"  -12abc", -12},
                                                   {"abc", 0},
                                                   {"+5", 5},
                                                   {"", 0},
                                                   {"1500,7", 1500},
                                                   {"99999999999", INT_MAX},
                                                   {"-99999999999", INT_MIN},
                                                   {"\t 42", 42},
                                                   {"- 4", 0}};
    for (const auto& [text, n] : numbers) EXPECT_EQ(LuxBoxNumber(text), n) << text;

    struct Case {
        const char* text;
        int lux;
        bool pending;
        bool max;
        bool red;
    };
    const Case cases[] = {
        {"100", 100, true, false, false},  {"100", 120, true, false, true},
        {"100", 120, false, false, false}, {"100", 3000, true, true, false},
        {"abc", 0, true, false, false},    {"abc", 10, true, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LuxBoxRed(c.text, c.lux, c.pending, c.max), c.red) << c.text << " " << c.lux;
    }
}

TEST(RefreshTest, CorrectionIsSentOnlyWhenItChangesTheRecordAndOnce) {
    GamutCorrection correction;
    CChannel r = LampRecord();
    // Not moved: nothing to send.
    EXPECT_FALSE(correction.ShouldResend(r, false, 0.2f, 0.2f, 0, 0));
    // Direct mode: a correction would switch the lamp out of it.
    r.ModeFlags = 5;
    EXPECT_FALSE(correction.ShouldResend(r, true, 0.2f, 0.2f, 0, 0));
    r.ModeFlags = 1;
    // Moved by less than a step of the lamp's fixed point: the record would not change.
    EXPECT_FALSE(correction.ShouldResend(r, true, 21626.5f / 65535.0f, 0.33f, 0, 0));
    // A real move is sent once; the same report again is not.
    EXPECT_TRUE(correction.ShouldResend(r, true, 0.31f, 0.33f, 0, 0));
    EXPECT_FALSE(correction.ShouldResend(r, true, 0.31f, 0.33f, 0, 0));
    EXPECT_FALSE(correction.ShouldResend(r, true, 0.30f, 0.33f, 0, 0));
    // A point inside the gamut ends the chain; the next report outside is corrected again.
    correction.Forget();
    EXPECT_TRUE(correction.ShouldResend(r, true, 0.31f, 0.33f, 0, 0));
    // Reports that keep changing are corrected a bounded number of times.
    int sent = 0;
    for (int i = 0; i < 100; ++i) {
        r.ColorValues[7] = 10000 + i;
        sent += correction.ShouldResend(r, true, 0.31f, 0.33f, 0, 0) ? 1 : 0;
    }
    EXPECT_LE(sent, static_cast<int>(GamutCorrection::kMemory));
}

TEST(RefreshTest, AnEchoingLampIsCorrectedAtMostOnceAndNeverDrifts) {
    // A lamp that stores and reports back exactly what it is sent, over random reported
    // targets, with the white point inside and outside the gamut and with offsets.
    const GamutTriangle gamut{0.69f, 0.30f, 0.17f, 0.70f, 0.15f, 0.03f};
    const struct {
        const char* name;
        Chromaticity white;
        double offsetX, offsetY;
    } cases[] = {
        {"white inside", {0.3457f, 0.3585f}, 0.0, 0.0},
        {"white outside", {0.08f, 0.85f}, 0.0, 0.0},
        {"white inside, offsets", {0.3127f, 0.3290f}, 0.003, -0.002},
    };
    std::mt19937 random(25);
    std::uniform_int_distribution<int> fixed(0, 65535);
    for (const auto& c : cases) {
        int corrected = 0;
        for (int n = 0; n < 20000; ++n) {
            CChannel lamp = LampRecord();
            lamp.ColorValues[7] = fixed(random);
            lamp.ColorValues[8] = fixed(random);
            GamutCorrection correction;
            int sent = 0;
            std::array<std::int32_t, 2> firstSent{};
            for (int report = 0; report < 6; ++report) {
                const RecordTarget t = DecodeRecord(lamp, c.offsetX, c.offsetY);
                float x = t.X;
                float y = t.Y;
                bool moved = false;
                if (x > 0 && y > 0) moved = ConstrainToGamut(x, y, gamut, c.white);
                if (!moved) {
                    correction.Forget();
                    continue;
                }
                if (!correction.ShouldResend(lamp, moved, x, y, c.offsetX, c.offsetY)) continue;
                // What the window's apply writes for a corrected target.
                lamp.ColorValues[7] = ChromaticityToFixed(std::clamp(x, 0.01f, 0.7f), c.offsetX);
                lamp.ColorValues[8] = ChromaticityToFixed(std::clamp(y, 0.01f, 0.7f), c.offsetY);
                if (++sent == 1) firstSent = {lamp.ColorValues[7], lamp.ColorValues[8]};
            }
            corrected += sent;
            ASSERT_LE(sent, 1) << c.name << " record " << n;
            if (sent == 1) {
                EXPECT_EQ(lamp.ColorValues[7], firstSent[0]) << c.name << " record " << n;
                EXPECT_EQ(lamp.ColorValues[8], firstSent[1]) << c.name << " record " << n;
            }
        }
        // Most random points lie outside this triangle or the 0.01..0.7 the apply holds to, so
        // the first correction is exercised thousands of times.
        EXPECT_GT(corrected, 5000) << c.name;
    }
}

TEST(PresetsTest, NamesAndEntries) {
    const std::pair<const char*, const char*> trims[] = {
        {"  Reading  ", "Reading"},
        {"\t\x01Night\n", "Night"},
        {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNO"},
        {"   ", ""},
        {"  a b  ", "a b"},
        {"\xe9t\xe9", "\xe9t\xe9"},
    };
    for (const auto& [typed, name] : trims) EXPECT_EQ(TrimPresetName(typed), name) << typed;

    EXPECT_TRUE(SavablePresetName("Reading"));
    EXPECT_FALSE(SavablePresetName(""));
    EXPECT_FALSE(SavablePresetName("-x"));
    EXPECT_FALSE(SavablePresetName("[x"));
    EXPECT_FALSE(SavablePresetName(kPresetSeparator));

    EXPECT_EQ(PresetEntries(""), std::vector<std::string>{kPresetSeparator});
    EXPECT_EQ(PresetEntries("a\nB"), (std::vector<std::string>{kPresetSeparator, "a", "B"}));
}

}  // namespace
