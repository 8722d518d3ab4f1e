#include "window/Pages.h"

#include <cmath>

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

int RunBaudRate(double speedOption) {
    // Options are typed by people: a NaN or an absurd number must not reach the link.
    if (!std::isfinite(speedOption) || speedOption < 9600.0 || speedOption > 3000000.0) {
        return 38400;
    }
    return static_cast<int>(std::trunc(speedOption));
}

std::string VersionLine(const std::string& version, const DeviceLineState& state) {
    std::string line = "ver: " + version;
    std::string device;
    if (state.connected && !state.device.empty()) {
        device = state.device;
    } else if (state.lost) {
        device = "not connected";
    }
    if (device.empty()) return line;
    line += "   device: " + device;
    if (state.simulated) line += " (simulated)";
    return line;
}
