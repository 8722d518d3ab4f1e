#include "window/Coefficients.h"

#include <QFile>
#include <QFileInfo>

#include "link/Light.h"

CoefficientFile ReadCoefficientFile(const QString& path, int rows) {
    const Coefficients::Result read =
        Coefficients::ReadFile(QFile::encodeName(path).toStdString(), rows);
    if (read.fault != Coefficients::Fault::None)
        return {std::nullopt, CoefficientFileErrorText(path, read)};
    return {read.table, {}};
}

QString CoefficientResultText(std::int32_t result) {
    switch (result) {
        case CLightInput::kOk:
            return QStringLiteral("Coefficients OK");
        case CLightInput::kNoLamp:
            return QStringLiteral("Coefficients not written: no lamp is connected");
        default:
            return QStringLiteral("Coefficients not written: the lamp did not answer");
    }
}

QString CoefficientFileErrorText(const QString& path, const Coefficients::Result& read) {
    const QString name = QFileInfo(path).fileName();
    QString why;
    switch (read.fault) {
        case Coefficients::Fault::None:
        case Coefficients::Fault::CannotOpen:
            why = QStringLiteral("cannot read %1").arg(name);
            break;
        case Coefficients::Fault::NotAFile:
            why = QStringLiteral("%1 is not a file").arg(name);
            break;
        case Coefficients::Fault::TooLarge:
            why = QStringLiteral("%1 is larger than %2 KB")
                      .arg(name)
                      .arg(Coefficients::kMaxFileSize / 1024);
            break;
        case Coefficients::Fault::LongLine:
            why = QStringLiteral("line %1 of %2 is longer than %3 characters")
                      .arg(read.line)
                      .arg(name)
                      .arg(Coefficients::kMaxLine);
            break;
    }
    return QStringLiteral("Coefficients not loaded: ") + why;
}
