#include "bus/Activation.h"

#include "window/Remote.h"

ActivationAdaptor::ActivationAdaptor(QObject* service, Remote& window)
    : QDBusAbstractAdaptor(service), window_(window) {}

void ActivationAdaptor::Activate(const QVariantMap& /*platformData*/) {
    window_.BringForward();
}

void ActivationAdaptor::Open(const QStringList& /*uris*/, const QVariantMap& /*platformData*/) {
    window_.BringForward();
}

void ActivationAdaptor::ActivateAction(const QString& /*name*/, const QVariantList& /*parameter*/,
                                       const QVariantMap& /*platformData*/) {
    window_.BringForward();
}
