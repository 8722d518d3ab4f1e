#pragma once
#include <QDBusAbstractAdaptor>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class QObject;
class Remote;

namespace LampBus {
// The desktop's interface for bringing a running program forward, served on the lamp's path.
inline constexpr char kApplicationInterface[] = "org.freedesktop.Application";
}  // namespace LampBus

// A start of the program while a copy runs asks that copy, through this interface, to bring its
// window forward, and then ends: the desktop's usual single-window behaviour. It lives on the
// lamp service's object, so it comes and goes with the program's name on the bus.
class ActivationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
  public:
    ActivationAdaptor(QObject* service, Remote& window);

  public Q_SLOTS:
    // Brings the window forward; platform data (a start-up id) is not needed for that.
    void Activate(const QVariantMap& platformData);
    // The program opens no files and has no actions: either only brings the window forward.
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

  private:
    Remote& window_;
};
