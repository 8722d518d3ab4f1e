#include "window/Spectrometer.h"

#include <QSettings>
#include <QStringList>

namespace {

const QString kOrganisation = QStringLiteral("Varnek Optic");
const QString kApplication = QStringLiteral("Varnek_Irvane");
const QString kGroup = QStringLiteral("Measurement");

}  // namespace

bool SpectrometerStore::Exists() const {
    const QSettings store(kOrganisation, kApplication);
    return store.childGroups().contains(kGroup);
}

std::optional<std::string> SpectrometerStore::Value(const std::string& name) const {
    QSettings store(kOrganisation, kApplication);
    store.beginGroup(kGroup);
    const QString key = QString::fromLatin1(name);
    if (!store.contains(key)) return std::nullopt;
    // An INI file reads an unquoted "0,3127" as a list; the comma was a decimal point.
    const QVariant value = store.value(key);
    const QString text = value.typeId() == QMetaType::QStringList
                             ? value.toStringList().join(QLatin1Char(','))
                             : value.toString();
    return text.toLatin1().toStdString();
}
