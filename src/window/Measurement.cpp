#include "window/Measurement.h"

#include <QSettings>
#include <algorithm>
#include <cmath>

#include "settings/Number.h"

namespace {

const QString kOrganisation = QStringLiteral("Varnek Optic");
const QString kApplication = QStringLiteral("Varnek_Irvane");
const QString kGroup = QStringLiteral("Measurement");

std::optional<double> Number(const MeasurementStore& store, const char* name) {
    const std::optional<std::string> text = store.Value(name);
    if (!text) return std::nullopt;
    return MeasuredNumber(*text);
}

bool IsChromaticity(const std::optional<double>& value) {
    return value && *value >= 0.0 && *value <= 1.0;
}

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

std::optional<double> MeasuredNumber(std::string_view text) {
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), ',', '.');
    std::string_view rest = copy;
    while (!rest.empty() && static_cast<unsigned char>(rest.front()) <= 0x20) rest.remove_prefix(1);
    return LeadingNumber(rest);
}

std::optional<Measurement> ReadMeasurement(const MeasurementStore& store) {
    if (!store.Exists()) return std::nullopt;
    const std::optional<double> x = Number(store, "x2");
    const std::optional<double> y = Number(store, "y2");
    if (!IsChromaticity(x) || !IsChromaticity(y)) return std::nullopt;
    Measurement m;
    m.X = *x;
    m.Y = *y;
    const double lux = Number(store, "yy2").value_or(0.0);
    m.Lux = static_cast<int>(std::trunc(std::clamp(lux, 0.0, 65535.0) + 0.5));
    return m;
}
