#include "app/Claim.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>
#include <QVariantMap>

#include "app/Guard.h"
#include "bus/Activation.h"
#include "bus/Names.h"

namespace {

// A running copy answers at once; one that does not within this is as good as unreachable.
constexpr int kAskLimitMs = 5000;

bool NameTaken(QDBusConnection& bus) {
    return bus.isConnected() &&
           bus.interface()->isServiceRegistered(QString::fromLatin1(LampBus::kService));
}

}  // namespace

bool BringRunningCopyForward(QDBusConnection bus) {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QString::fromLatin1(LampBus::kService), QString::fromLatin1(LampBus::kPath),
        QString::fromLatin1(LampBus::kApplicationInterface), QStringLiteral("Activate"));
    QVariantMap platformData;
    // The desktop's start-up notice of this start belongs to the window brought forward.
    if (const QByteArray id = qgetenv("DESKTOP_STARTUP_ID"); !id.isEmpty())
        platformData.insert(QStringLiteral("desktop-startup-id"), QString::fromUtf8(id));
    ask << platformData;
    // Events go on meanwhile, so a running copy in this same process (a test) can answer.
    return bus.call(ask, QDBus::BlockWithGui, kAskLimitMs).type() == QDBusMessage::ReplyMessage;
}

CopyClaim ClaimOnlyCopy(QDBusConnection bus, COneCopyGuard& guard,
                        const std::function<void()>& refused, std::chrono::milliseconds starting) {
    const auto refuse = [&refused] {
        if (refused) refused();
        return CopyClaim::Refused;
    };
    // The name itself is claimed with the service (LampService::Register), so no client finds
    // it with nothing behind; a copy that holds it runs already.
    if (NameTaken(bus)) return BringRunningCopyForward(bus) ? CopyClaim::Raised : refuse();
    if (guard.Acquire()) return CopyClaim::Only;
    if (!bus.isConnected()) return refuse();
    QElapsedTimer waited;
    waited.start();
    while (!NameTaken(bus)) {
        if (waited.elapsed() >= starting.count()) return refuse();
        QThread::msleep(50);
    }
    return BringRunningCopyForward(bus) ? CopyClaim::Raised : refuse();
}
