#pragma once
#include <QDBusConnection>
#include <chrono>
#include <functional>

class COneCopyGuard;

// What became of a start's claim to be the only copy.
enum class CopyClaim {
    Only,     // this is the only copy: it runs
    Raised,   // a running copy brought its window forward at this start's request: end, 0
    Refused,  // another copy holds the lamp and could not be reached: "Lamp is currently busy."
};

// Looks for the program's name on the bus (where one is connected) and then claims the one-copy
// guard, which still guards without a bus. When another copy runs, it is asked over the bus to
// bring its window forward; when it cannot be reached, refused is told (the window shows "Lamp
// is currently busy."). A copy that holds the guard but not yet the name is still starting: its
// name is waited for up to `starting`. The name is claimed later, by the service, once it can
// answer.
CopyClaim ClaimOnlyCopy(QDBusConnection bus, COneCopyGuard& guard,
                        const std::function<void()>& refused,
                        std::chrono::milliseconds starting = std::chrono::seconds(5));

// Asks the copy that holds the program's name to bring its window forward; true when it did.
bool BringRunningCopyForward(QDBusConnection bus);
