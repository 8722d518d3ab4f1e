#pragma once
#include <string>
#include <vector>

#include "link/Absence.h"

// Window rules that need no toolkit: which page shows, which controls of the main page show,
// which shortcut a key press is, and the link speed taken from the options.

enum class Page { None, Main, Message, Coefficient };

// What the visibility of the main page depends on.
struct MainPageState {
    bool firstChannelProtected = false;  // slot 1 is current and the option C1S is off
    bool measurementAvailable = false;   // the spectrometer's measurement can be read
    bool hideDown = false;               // "Hide"
    bool directDown = false;             // "Direct"
    bool coeffDown = false;              // "Coeff."
};

// What the main page shows beyond the channel list, memo, diagram, timer and labels.
struct MainPageVisibility {
    bool working = false;  // the target inputs, intensity slider, settings box, mode buttons ...
    bool loadMeasurement = false;     // Button5
    bool coefficientSliders = false;  // Panel3
    bool directSliders = false;       // Panel9
};

// The first channel is protected while slot 1 is current and C1S does not unlock it.
bool FirstChannelProtected(int slotNumber, bool c1s);

MainPageVisibility MainPageRule(const MainPageState& state);

enum class Shortcut { None, Language, Coefficients };

// Ctrl+L and Ctrl+Alt+W; further modifiers held at the same time do not matter.
Shortcut ShortcutFor(int key, bool ctrl, bool alt);

// What the version line of the main page shows besides the program's version.
struct DeviceLineState {
    std::string device;              // the main lamp's device name as read at connect
    bool connected = false;          // the main lamp answers
    NoLamp reason = NoLamp::None;    // why no lamp is connected, when the bridge knows
    bool simulated = false;          // the lamps are simulated ones (demo mode)
    std::vector<std::string> notes;  // options not understood, each a line of its own
};

// Why no lamp is connected, in plain words for the window, the bus and the command line;
// empty for NoLamp::None.
std::string NoLampText(NoLamp reason);

// "ver: <version>", then on a line of its own "device: <name>" while the main lamp is
// connected, or why no lamp is; simulated lamps add " (simulated)", so nobody takes the demo
// for a real lamp. The notes follow, each on a line of its own.
std::string VersionLine(const std::string& version, const DeviceLineState& state);
