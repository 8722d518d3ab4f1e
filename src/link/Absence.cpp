#include "link/Absence.h"

#include <algorithm>

#include "link/Devices.h"

NoLamp WhyNoDevice(const CDevices& devices) {
    const auto rows = devices.Devices.begin();
    const auto end = rows + std::min<std::size_t>(devices.Devices.size(),
                                                  static_cast<std::size_t>(devices.DeviceCount));
    const bool lampListed = std::any_of(rows, end, [](const DeviceEntry& row) {
        return row.Description.compare(0, 8, "LED Lamp") == 0;
    });
    if (!lampListed) return devices.ListStatus == kFtNoAccess ? NoLamp::NoAccess : NoLamp::NotFound;
    // A lamp was listed, so its open (the last one tried) says why it was not taken.
    switch (devices.OpenStatus) {
        case kFtNoAccess:
            return NoLamp::NoAccess;
        case kFtDeviceBusy:
        case kFtDeviceNotOpened:
            return NoLamp::Busy;
        case kFtOk:
            return NoLamp::NoAnswer;  // opened, but the line could not be set up
        default:
            return NoLamp::NotFound;  // gone between the listing and the open
    }
}
