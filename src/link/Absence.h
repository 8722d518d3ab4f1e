#pragma once

class CDevices;

// Why no lamp is connected, as far as the USB bridge could tell.
enum class NoLamp {
    None,      // a lamp is connected, or nothing is known yet
    NotFound,  // no lamp on the bus
    NoAccess,  // a device is there, but this user may not open it
    Busy,      // a lamp is there, but another program holds it
    NoAnswer,  // a lamp was opened, but it does not answer
    Lost,      // the lamp was connected and has gone; it is looked for
};

// Why a connect through `devices` took no lamp: from its last listing and its last open.
NoLamp WhyNoDevice(const CDevices& devices);
