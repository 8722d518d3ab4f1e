#include "app/Claim.h"

#include "window/Bus.h"
#include "window/Guard.h"

bool ClaimOnlyCopy(QDBusConnection bus, COneCopyGuard& guard,
                   const std::function<void()>& refused) {
    if ((bus.isConnected() && !bus.registerService(QString::fromLatin1(LampBus::kService))) ||
        !guard.Acquire()) {
        if (refused) refused();
        return false;
    }
    return true;
}
