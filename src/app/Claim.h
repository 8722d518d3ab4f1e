#pragma once
#include <QDBusConnection>
#include <functional>

class COneCopyGuard;

// Looks for the program's name on the bus (where one is connected) and then claims the one-copy
// guard, which still guards without a bus. When the name has an owner or the guard belongs to
// another copy, refused is told (the window shows "Lamp is currently busy.") and the answer is
// false. The name is claimed later, by the service, once it can answer.
bool ClaimOnlyCopy(QDBusConnection bus, COneCopyGuard& guard, const std::function<void()>& refused);
