#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "settings/Channel.h"
#include "settings/Coefficients.h"
#include "window/Measurement.h"
#include "window/Target.h"

namespace {

// The record one apply leaves behind, starting from a lamp slot record.
CChannel Applied(const WindowState& state, const TargetBoxes& boxes, float x, float y,
                 bool markName = false, bool correction = false) {
    CChannel record(3);
    record.ColorValues[15] = 777;
    record.Info = 42;
    WriteRecordImage(MakeRecordImage(state, boxes, x, y, markName, correction), record);
    return record;
}

TEST(RecordImage, InitialTargetFillsEverySlot) {
    WindowState state;
    state.ControlValues[10] = 1;     // R
    state.ControlValues[11] = 2;     // B2
    state.ControlValues[12] = 3;     // G
    state.ControlValues[13] = 4;     // B1
    state.ControlValues[14] = 5;     // UV
    state.ControlValues[15] = 1000;  // W
    TargetBoxes boxes;
    boxes.Coefficients = true;
    boxes.Uv = true;
    const CChannel r = Applied(state, boxes, 0.33f, 0.33f);
    const std::array<std::int32_t, 16> expected = {
        4,     8,     12, 16, 20, 4000,  // direct values x 4, in the lamp's slot order
        5618,                            // nearest locus temperature
        21626, 21626,                    // 0.33 x 65535 = 21626.55, truncated
        100,                             // the lux box
        32767, 32767,                    // WR and BUV coefficients at 500
        3,                               // "coefficients" and UV
        32767,                           // B1B2
        65500,                           // intensity 1000 on the linear scale
        777,                             // slot 15 is never written
    };
    EXPECT_EQ(r.ColorValues, expected);
    EXPECT_EQ(r.ModeFlags, 1);
    EXPECT_EQ(r.DisplayFlags, 0);  // speed index 1: bit 2 clear, bits 3-4 zero
    EXPECT_EQ(r.SlotNumber, 3);
    EXPECT_EQ(r.Info, 42);
    EXPECT_EQ(r.Name, "Channel 3");  // not marked when not asked
}

TEST(RecordImage, TargetIsHeldToTheDiagramsRange) {
    const struct {
        float x, y;
        float shownX, shownY;
        std::int32_t slotX, slotY;
    } cases[] = {
        {0.8f, 0.33f, 0.7f, 0.33f, 45874, 21626},
        {0.0f, 0.7f, 0.01f, 0.7f, 655, 45874},
        {-3.0f, 2.0f, 0.01f, 0.7f, 655, 45874},
        {std::nanf(""), INFINITY, 0.01f, 0.7f, 655, 45874},
    };
    for (const auto& c : cases) {
        const RecordImage image =
            MakeRecordImage(WindowState{}, TargetBoxes{}, c.x, c.y, false, false);
        EXPECT_EQ(image.X, c.shownX) << c.x;
        EXPECT_EQ(image.Y, c.shownY) << c.y;
        EXPECT_EQ(image.Values[7], c.slotX) << c.x;
        EXPECT_EQ(image.Values[8], c.slotY) << c.y;
    }
}

TEST(RecordImage, OffsetsAreAddedAndTheSlotsStaySixteenBit) {
    const struct {
        double offset;
        float c;
        std::int32_t slot;
    } cases[] = {
        {0.0025, 0.0100429161f, 822},  // the option's real value, not its float
        {0.5, 0.7f, 65535},            // 1.2 would wrap in the lamp's 16 bits
        {-0.5, 0.01f, 0},
        {1e300, 0.33f, 65535},
    };
    for (const auto& c : cases) {
        WindowState state;
        state.OffsetX = c.offset;
        state.OffsetY = c.offset;
        const RecordImage image = MakeRecordImage(state, TargetBoxes{}, c.c, c.c, false, false);
        EXPECT_EQ(image.Values[7], c.slot) << c.offset;
        EXPECT_EQ(image.Values[8], c.slot) << c.offset;
        EXPECT_EQ(image.X, std::max(c.c, 0.01f)) << "the boxes show the target without offset";
    }
}

TEST(RecordImage, LuxBoxAndMax) {
    const struct {
        const char* text;
        bool max;
        std::int32_t slot;
        int luxValue;
    } cases[] = {
        {"100", false, 100, 100},
        {"5", false, 10, 10},
        {"1500,7", false, 1500, 1500},
        {" 250 lx", false, 250, 250},
        {"", false, 10, 10},
        {"lots", false, 10, 10},
        {"-40", false, 10, 10},
        {"70000", false, 65535, 65535},
        {"99999999999999999999999", false, 65535, 65535},
        {"nan", false, 10, 10},
        {"inf", false, 10, 10},
        {"1e9", false, 10, 10},  // a whole number stops at the "e"
        {"5", true, 3000, 10},
        {"12000", true, 3000, 12000},
    };
    for (const auto& c : cases) {
        WindowState state;
        TargetBoxes boxes;
        boxes.LuxText = c.text;
        boxes.Max = c.max;
        const RecordImage image = MakeRecordImage(state, boxes, 0.33f, 0.33f, false, false);
        EXPECT_EQ(image.Values[9], c.slot) << c.text;
        EXPECT_EQ(image.Values[12], c.max ? 4 : 0) << c.text;
        NoteApplied(state, image);
        EXPECT_EQ(state.LuxValue, c.luxValue) << c.text;
        EXPECT_EQ(state.MaxFlag, c.max) << c.text;
    }
}

TEST(RecordImage, CoefficientAndIntensityScales) {
    const struct {
        int slider;
        std::int32_t coefficient, linear, log;
    } cases[] = {
        {1000, 65535, 65500, 65535},
        {500, 32767, 32750, 16614},  // log: position 505
        {300, 19661, 19650, 9595},   // log: position 307; d = 0.7f gives 9595.4999..., rounded down
        {0, 0, 0, 4211},
    };
    for (const auto& c : cases) {
        WindowState state;
        state.ControlValues[0] = state.ControlValues[1] = state.ControlValues[2] = c.slider;
        state.ControlValues[7] = c.slider;
        TargetBoxes boxes;
        const RecordImage linear = MakeRecordImage(state, boxes, 0.33f, 0.33f, false, false);
        boxes.Log = true;
        const RecordImage log = MakeRecordImage(state, boxes, 0.33f, 0.33f, false, false);
        EXPECT_EQ(linear.Values[10], c.coefficient) << c.slider;
        EXPECT_EQ(linear.Values[11], c.coefficient) << c.slider;
        EXPECT_EQ(linear.Values[13], c.coefficient) << c.slider;
        EXPECT_EQ(linear.Values[14], c.linear) << c.slider;
        EXPECT_EQ(log.Values[14], c.log) << c.slider;
        EXPECT_EQ(log.DisplayFlags & 1, 1);
    }
}

TEST(RecordImage, SlidersOutOfRangeAreReadAndKeptClamped) {
    WindowState state;
    state.ControlValues[0] = 1200;
    state.ControlValues[7] = -5;
    state.ControlValues[10] = 1001;
    state.ControlValues[15] = -1;
    state.ControlValues[22] = 4000;  // read back from the lamp; not a slider
    const RecordImage image = MakeRecordImage(state, TargetBoxes{}, 0.33f, 0.33f, false, false);
    EXPECT_EQ(image.Values[10], 65535);
    EXPECT_EQ(image.Values[14], 0);
    EXPECT_EQ(image.Values[0], 4000);
    EXPECT_EQ(image.Values[5], 0);
    NoteApplied(state, image);
    EXPECT_EQ(state.ControlValues[0], 1000);
    EXPECT_EQ(state.ControlValues[7], 0);
    EXPECT_EQ(state.ControlValues[10], 1000);
    EXPECT_EQ(state.ControlValues[15], 0);
    EXPECT_EQ(state.ControlValues[22], 4000);
    EXPECT_TRUE(state.PendingConfirmation);
}

TEST(RecordImage, DisplayAndModeFlags) {
    const struct {
        bool log, lux;
        int speed;
        std::int32_t flags;
    } cases[] = {
        {false, false, 0, 4},      {false, false, 1, 0},      {false, false, 2, 1 << 3},
        {false, false, 3, 2 << 3}, {false, false, 4, 3 << 3}, {true, true, 4, 3 | (3 << 3)},
        {true, false, 0, 1 | 4},   {false, true, 1, 2},       {false, false, 7, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayFlagsFor(c.log, c.lux, c.speed), c.flags) << c.speed;
    }

    WindowState state;
    state.SpeedIndex = 0;
    TargetBoxes boxes;
    boxes.Direct = true;
    RecordImage image = MakeRecordImage(state, boxes, 0.33f, 0.33f, false, false);
    EXPECT_EQ(image.ModeFlags, 5);
    EXPECT_EQ(image.DisplayFlags, 4);
    // A gamut correction never sends direct mode: the lamp's own mix is what was corrected.
    image = MakeRecordImage(state, boxes, 0.33f, 0.33f, false, true);
    EXPECT_EQ(image.ModeFlags, 1);
    NoteApplied(state, image);
    EXPECT_TRUE(state.CorrectionFlag);
}

TEST(RecordImage, NameMarking) {
    const struct {
        const char* name;
        const char* marked;
    } cases[] = {
        {"", "*"},
        {"Daylight", "Daylight*"},
        {"Daylight*", "Daylight*"},
        {"*", "*"},
        {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNO*"},
        {"ABCDEFGHIJKLMNO*", "ABCDEFGHIJKLMNO*"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MarkedName(c.name), c.marked) << c.name;
        CChannel record;
        record.Name = c.name;
        WriteRecordImage(MakeRecordImage(WindowState{}, TargetBoxes{}, 0.3f, 0.3f, true, false),
                         record);
        EXPECT_EQ(record.Name, c.marked) << c.name;
    }
}

TEST(TypedNumbers, ChromaticityText) {
    const struct {
        const char* text;
        float value;
    } cases[] = {
        {"0.33", 0.33f},     {"0,3127", 0.3127f}, {"  0.5abc", 0.5f}, {".25", 0.25f},
        {"1e-1", 0.1f},      {"2e", 2.0f},        {"-0.2", -0.2f},    {"+0.4", 0.4f},
        {"", 0.0f},          {"x", 0.0f},         {"nan", 0.0f},      {"inf", 0.0f},
        {"-infinity", 0.0f}, {"1e999", 0.0f},     {"1e39", 0.0f},     {"0x1p-2", 0.0f},
    };
    for (const auto& c : cases) EXPECT_EQ(ChromaticityFromText(c.text), c.value) << c.text;
}

TEST(TypedNumbers, TemperatureText) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"1000", 1000}, {" 6500K", 6500}, {"5000,5", 5000},
        {"abc", 0},     {"-300", -300},   {"99999999999999", 2147483647},
    };
    for (const auto& c : cases) EXPECT_EQ(TemperatureFromText(c.text), c.value) << c.text;
}

TEST(TypedNumbers, BoxesTakeOneWholeNumberWhileFilesKeepTheirPrefixRules) {
    const std::optional<double> none;
    const struct {
        const char* text;
        std::optional<double> typed;     // what the x, y, lux and temperature boxes take
        std::optional<int> lux;          // the lux box, held and cut to whole lux
        std::optional<double> measured;  // the spectrometer's values: the longest number first
        int coefficient;                 // a coefficient file's field: its leading integer
    } cases[] = {
        {"0.3127", 0.3127, 10, 0.3127, 0},
        {"0,3127", 0.3127, 10, 0.3127, 0},
        {" 0.5\t", 0.5, 10, 0.5, 0},
        {"+0.4", 0.4, 10, 0.4, 0},
        {".25", 0.25, 10, 0.25, 0},
        {"1e-1", 0.1, 10, 0.1, 1},
        {"-5", -5.0, 10, -5.0, 0},
        {"1500,7", 1500.7, 1500, 1500.7, 1500},
        {"999999", 999999.0, 65535, 999999.0, 65535},
        {"1e300", 1e300, 65535, 1e300, 1},
        // Not a number as a whole: the boxes refuse it, the files read what comes first.
        {"abc", none, std::nullopt, none, 0},
        {"", none, std::nullopt, none, 0},
        {"0.5abc", none, std::nullopt, 0.5, 0},
        {"6500K", none, std::nullopt, 6500.0, 6500},
        {"2e", none, std::nullopt, 2.0, 2},
        {"0x1p-2", none, std::nullopt, 0.0, 0},
        {"1 2", none, std::nullopt, 1.0, 1},
        // Not finite.
        {"nan", none, std::nullopt, none, 0},
        {"inf", none, std::nullopt, none, 0},
        {"-infinity", none, std::nullopt, none, 0},
        {"1e999", none, std::nullopt, none, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TypedNumber(c.text), c.typed) << c.text;
        EXPECT_EQ(TypedLux(c.text), c.lux) << c.text;
        EXPECT_EQ(TypedChromaticity(c.text).has_value(), c.typed.has_value()) << c.text;
        EXPECT_EQ(TypedTemperature(c.text).has_value(), c.typed.has_value()) << c.text;
        EXPECT_EQ(MeasuredNumber(c.text), c.measured) << c.text;
        const std::optional<Coefficients::Row> row = Coefficients::ParseLine(c.text);
        EXPECT_EQ(row ? (*row)[0] : 0, c.coefficient) << c.text;
    }
    // Far beyond their ranges: held, so the apply's own clamps decide.
    EXPECT_EQ(TypedChromaticity("1e300"), 2.0f);
    EXPECT_EQ(TypedChromaticity("-7"), -1.0f);
    EXPECT_EQ(TypedTemperature("99999999999"), 2147483647);
    EXPECT_EQ(TypedTemperature("6500,9"), 6500);
}

TEST(WindowState, SuppressingHandlersRestoresTheOuterState) {
    WindowState state;
    {
        SuppressedHandlers outer(state);
        {
            SuppressedHandlers inner(state);
            EXPECT_TRUE(state.SuppressHandlers);
        }
        EXPECT_TRUE(state.SuppressHandlers);
    }
    EXPECT_FALSE(state.SuppressHandlers);
}

}  // namespace
