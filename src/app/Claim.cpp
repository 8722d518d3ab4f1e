#include "app/Claim.h"

#include <QDBusConnectionInterface>

#include "bus/Names.h"
#include "app/Guard.h"

bool ClaimOnlyCopy(QDBusConnection bus, COneCopyGuard& guard,
                   const std::function<void()>& refused) {
    // The name itself is claimed with the service (LampService::Register), so no client finds
    // it with nothing behind; a copy that holds it runs already.
    if ((bus.isConnected() &&
         bus.interface()->isServiceRegistered(QString::fromLatin1(LampBus::kService))) ||
        !guard.Acquire()) {
        if (refused) refused();
        return false;
    }
    return true;
}
