#include "window/Coefficients.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

CoefficientFile ReadCoefficientFile(const QString& path, int rows) {
    const Coefficients::Result read =
        Coefficients::ReadFile(QFile::encodeName(path).toStdString(), rows);
    if (read.fault != Coefficients::Fault::None)
        return {std::nullopt, CoefficientFileErrorText(path, read)};
    return {read.table, {}, read.rows};
}

Coefficients::Table TableInArea(const CLightInfo::AreaImage& area) {
    Coefficients::Table table{};
    std::size_t at = CLightInfo::kCoefficientOffset;
    for (Coefficients::Row& row : table) {
        for (std::uint16_t& value : row) {
            value = static_cast<std::uint16_t>(area[at] | (area[at + 1] << 8));
            at += 2;
        }
    }
    return table;
}

namespace {

// A serial number as part of a file name: letters, digits, "-" and "_" only.
QString SerialForName(const std::string& serial) {
    QString name;
    for (const char c : serial) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '-' || c == '_';
        name += plain ? QChar::fromLatin1(c) : QChar(u'_');
    }
    return name.isEmpty() ? QStringLiteral("lamp") : name.left(kBackupSerialLength);
}

}  // namespace

QString SaveLampTable(const QString& folder, const LampTable& lamp, const QDateTime& when) {
    if (!QDir().mkpath(folder)) return {};
    const QString serial = SerialForName(lamp.serial);
    const QString stem = serial + '-' + when.toString("yyyyMMdd-HHmmss");
    // Two writes within a second each keep their own file.
    QString path = folder + '/' + stem + ".txt";
    for (int n = 2; QFile::exists(path); ++n)
        path = folder + '/' + stem + '-' + QString::number(n) + ".txt";
    const int rows = Coefficients::UsedRows(lamp.table);
    const std::string text = Coefficients::Format(
        lamp.table,
        {"Coefficient table of lamp " + serial.toStdString() + " as it was on " +
             when.toString(Qt::ISODate).toStdString() + ", before a new table was written.",
         "Load it with Count " + std::to_string(rows) + " or more to put it back."});
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(text.data(), static_cast<qint64>(text.size()));
    return file.commit() ? path : QString();
}
