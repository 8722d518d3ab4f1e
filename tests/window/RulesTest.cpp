#include <gtest/gtest.h>

#include "window/Pages.h"
#include "window/Version.h"

TEST(ProgramVersion, ShowsThreeOfFourNumbers) {
    const struct {
        const char* build;
        const char* shown;
    } cases[] = {
        {"2.1.5.9", "2.1.5"}, {"1.0.0.0", "1.0.0"}, {"10.20.30", "10.20.30"},     {"3", "3.0.0"},
        {"", "0.0.0"},        {"x.y", "0.0.0"},     {"1.99999.2.0", "1.65535.2"},
    };
    for (const auto& c : cases) EXPECT_EQ(ProgramVersion(c.build), c.shown) << c.build;
    EXPECT_EQ(ProgramVersion(), "1.0.0");
}

TEST(Shortcuts, CtrlLAndCtrlAltWWhateverElseIsHeld) {
    EXPECT_EQ(ShortcutFor('L', true, false), Shortcut::Language);
    EXPECT_EQ(ShortcutFor('L', true, true), Shortcut::Language);
    EXPECT_EQ(ShortcutFor('L', false, false), Shortcut::None);
    EXPECT_EQ(ShortcutFor('W', true, true), Shortcut::Coefficients);
    EXPECT_EQ(ShortcutFor('W', true, false), Shortcut::None);
    EXPECT_EQ(ShortcutFor('W', false, true), Shortcut::None);
}

TEST(MainPageRule, ProtectedFirstChannelHidesEveryWorkingControl) {
    MainPageState s;
    s.firstChannelProtected = true;
    s.measurementAvailable = true;
    s.coeffDown = true;
    const MainPageVisibility v = MainPageRule(s);
    EXPECT_FALSE(v.working);
    EXPECT_FALSE(v.loadMeasurement);
    EXPECT_FALSE(v.coefficientSliders);
    EXPECT_FALSE(v.directSliders);

    EXPECT_TRUE(FirstChannelProtected(1, false));
    EXPECT_FALSE(FirstChannelProtected(1, true));
    EXPECT_FALSE(FirstChannelProtected(2, false));
}

TEST(MainPageRule, SliderPanelsFollowTheModeUnlessHidden) {
    const struct {
        bool hide, direct, coeff;
        bool panel3, panel9;
    } cases[] = {
        {false, false, false, false, false}, {false, false, true, true, false},
        {false, true, false, false, true},   {true, false, true, false, false},
        {true, true, false, false, false},
    };
    for (const auto& c : cases) {
        MainPageState s;
        s.hideDown = c.hide;
        s.directDown = c.direct;
        s.coeffDown = c.coeff;
        const MainPageVisibility v = MainPageRule(s);
        EXPECT_TRUE(v.working);
        EXPECT_EQ(v.coefficientSliders, c.panel3) << c.hide << c.direct << c.coeff;
        EXPECT_EQ(v.directSliders, c.panel9) << c.hide << c.direct << c.coeff;
    }
    MainPageState s;
    EXPECT_FALSE(MainPageRule(s).loadMeasurement);
    s.measurementAvailable = true;
    EXPECT_TRUE(MainPageRule(s).loadMeasurement);
}

TEST(VersionLine, DeviceNameWhileConnectedWhyNoLampOtherwiseAndDemoMarked) {
    const struct {
        DeviceLineState state;
        const char* line;
    } cases[] = {
        {{"VDL", true, NoLamp::None, false, {}}, "ver: 1.0.0\ndevice: VDL"},
        {{"VDL", true, NoLamp::None, true, {}}, "ver: 1.0.0\ndevice: VDL (simulated)"},
        // Before the bridge has said anything: nothing to name.
        {{"", false, NoLamp::None, false, {}}, "ver: 1.0.0"},
        {{"", false, NoLamp::NotFound, false, {}}, "ver: 1.0.0\nNo lamp connected: none found."},
        {{"", false, NoLamp::NoAccess, false, {}},
         "ver: 1.0.0\nNo lamp connected: found, but not accessible. See the udev rule in README."},
        {{"", false, NoLamp::Busy, false, {}},
         "ver: 1.0.0\nNo lamp connected: held by another program."},
        {{"", false, NoLamp::NoAnswer, false, {}},
         "ver: 1.0.0\nNo lamp connected: found, but it does not answer."},
        {{"VDL", false, NoLamp::Lost, false, {}},
         "ver: 1.0.0\nNo lamp connected: lost (unplugged?), trying again."},
        {{"VDL", false, NoLamp::Lost, true, {}},
         "ver: 1.0.0\nNo lamp connected: lost (unplugged?), trying again. (simulated)"},
        // A lamp whose block names no device shows no name.
        {{"", true, NoLamp::None, true, {}}, "ver: 1.0.0"},
        // Options not understood follow, each on its own line, with or without a lamp.
        {{"VDL", true, NoLamp::None, false, {"A \"x\" not understood: 0 used", "B"}},
         "ver: 1.0.0\ndevice: VDL\nA \"x\" not understood: 0 used\nB"},
        {{"", false, NoLamp::None, false, {"B"}}, "ver: 1.0.0\nB"},
    };
    for (const auto& c : cases) EXPECT_EQ(VersionLine("1.0.0", c.state), c.line) << c.line;
}
