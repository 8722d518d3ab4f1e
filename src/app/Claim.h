#pragma once
#include <QDBusConnection>
#include <functional>

class COneCopyGuard;

// Claims the program's name on the bus (where one is connected) and then the one-copy guard,
// which still guards without a bus. When either belongs to another copy, refused is told
// (the window shows "Lamp is currently busy.") and the answer is false.
bool ClaimOnlyCopy(QDBusConnection bus, COneCopyGuard& guard, const std::function<void()>& refused);
