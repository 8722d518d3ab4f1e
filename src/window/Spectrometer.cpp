#include "window/Spectrometer.h"

#include <sys/stat.h>

#include <QFile>
#include <QSettings>
#include <QStringList>

namespace {

// Where the spectrometer application keeps its last measurement; it is only ever read here,
// never made.
const struct {
    QString organisation = QStringLiteral("Varnek Optic");
    QString application = QStringLiteral("Varnek_Irvane");
    QString group = QStringLiteral("Measurement");
} MeasurementKey;

}  // namespace

bool SpectrometerStore::Exists() const {
    const QSettings store(MeasurementKey.organisation, MeasurementKey.application);
    return store.childGroups().contains(MeasurementKey.group);
}

std::optional<std::string> SpectrometerStore::Value(const std::string& name) const {
    QSettings store(MeasurementKey.organisation, MeasurementKey.application);
    store.beginGroup(MeasurementKey.group);
    const QString key = QString::fromLatin1(name);
    if (!store.contains(key)) return std::nullopt;
    // An INI file reads an unquoted "0,3127" as a list; the comma was a decimal point.
    const QVariant value = store.value(key);
    const QString text = value.typeId() == QMetaType::QStringList
                             ? value.toStringList().join(QLatin1Char(','))
                             : value.toString();
    return text.toLatin1().toStdString();
}

std::string SpectrometerStore::WriteMark() const {
    const QSettings store(MeasurementKey.organisation, MeasurementKey.application);
    struct stat file {};
    if (::stat(QFile::encodeName(store.fileName()).constData(), &file) != 0) return {};
    // A file replaced whole is a new inode; one written in place has a new modification time.
    return std::to_string(file.st_ino) + ' ' + std::to_string(file.st_size) + ' ' +
           std::to_string(file.st_mtim.tv_sec) + '.' + std::to_string(file.st_mtim.tv_nsec) + ' ' +
           std::to_string(file.st_ctim.tv_sec) + '.' + std::to_string(file.st_ctim.tv_nsec);
}
