#include "window/Pages.h"

bool FirstChannelProtected(int slotNumber, bool c1s) {
    return slotNumber == 1 && !c1s;
}

MainPageVisibility MainPageRule(const MainPageState& state) {
    MainPageVisibility v;
    if (state.firstChannelProtected) return v;
    v.working = true;
    v.loadMeasurement = state.measurementAvailable;
    v.coefficientSliders = state.coeffDown && !state.hideDown;
    v.directSliders = state.directDown && !state.hideDown;
    return v;
}

Shortcut ShortcutFor(int key, bool ctrl, bool alt) {
    if (!ctrl) return Shortcut::None;
    if (key == 'L') return Shortcut::Language;
    if (key == 'W' && alt) return Shortcut::Coefficients;
    return Shortcut::None;
}

std::string NoLampText(NoLamp reason) {
    switch (reason) {
        case NoLamp::None:
            break;
        case NoLamp::NotFound:
            return "No lamp connected: none found.";
        case NoLamp::NoAccess:
            return "No lamp connected: found, but not accessible. See the udev rule in README.";
        case NoLamp::Busy:
            return "No lamp connected: held by another program.";
        case NoLamp::NoAnswer:
            return "No lamp connected: found, but it does not answer.";
        case NoLamp::Lost:
            return "No lamp connected: lost (unplugged?), trying again.";
    }
    return {};
}

std::string VersionLine(const std::string& version, const DeviceLineState& state) {
    std::string line = "ver: " + version;
    std::string device;
    if (state.connected) {
        // A lamp whose block names no device shows no name.
        if (!state.device.empty()) device = "device: " + state.device;
    } else {
        device = NoLampText(state.reason);
    }
    if (!device.empty()) {
        line += "\n" + device;
        if (state.simulated) line += " (simulated)";
    }
    for (const std::string& note : state.notes) line += "\n" + note;
    return line;
}
