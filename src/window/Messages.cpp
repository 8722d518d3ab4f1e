#include "window/Messages.h"

#include <QFileInfo>
#include <algorithm>

#include "link/Light.h"

namespace {
const char* const kNotUploaded = "Display texts not uploaded";
// A file named beside a saved table's name gets less room.
constexpr int kShortName = 12;
}  // namespace

QString MessageFileName(const QString& path, int length) {
    const QString name = QFileInfo(path).fileName();
    if (name.size() <= length) return name;
    // Both ends stay: the start tells which file, the end its kind.
    const qsizetype tail = (length - 1) / 2;
    const qsizetype head = length - 1 - tail;
    return name.left(head) + QChar(0x2026) + name.right(tail);
}

PageMessage CoefficientResultText(std::int32_t result) {
    const QString notWritten = QStringLiteral("Coefficients not written");
    switch (result) {
        case CLightInput::kOk:
            return {QStringLiteral("Coefficients OK"), {}};
        case CLightInput::kNoLamp:
            return {notWritten, QStringLiteral("No lamp is connected.")};
        default:
            return {notWritten, QStringLiteral("The lamp did not answer.")};
    }
}

PageMessage CoefficientFileErrorText(const QString& path, const Coefficients::Result& read) {
    const QString name = MessageFileName(path);
    QString why;
    switch (read.fault) {
        case Coefficients::Fault::None:
        case Coefficients::Fault::CannotOpen:
            why = QStringLiteral("Cannot read %1.").arg(name);
            break;
        case Coefficients::Fault::NotAFile:
            why = QStringLiteral("%1 is not a file.").arg(name);
            break;
        case Coefficients::Fault::TooLarge:
            why = QStringLiteral("%1 is larger than %2 KB.")
                      .arg(name)
                      .arg(Coefficients::kMaxFileSize / 1024);
            break;
        case Coefficients::Fault::LongLine:
            why = QStringLiteral("Line %1 of %2 is over %3 characters.")
                      .arg(read.line)
                      .arg(name)
                      .arg(Coefficients::kMaxLine);
            break;
        case Coefficients::Fault::NotText:
            why = QStringLiteral("%1 is not a text file.").arg(name);
            break;
        case Coefficients::Fault::NoneFound:
            why = QStringLiteral("%1 holds no coefficients.").arg(name);
            break;
    }
    return {QStringLiteral("Coefficients not loaded"), why};
}

PageMessage CoefficientCountText() {
    return {QStringLiteral("Coefficients not loaded"),
            QStringLiteral("Count must be a whole number from 1 to %1.").arg(Coefficients::kRows)};
}

PageMessage CoefficientBackupFailedText(const QString& folder) {
    return {
        QStringLiteral("Coefficients not written"),
        QStringLiteral("The lamp's table could not be saved in %1.").arg(MessageFileName(folder))};
}

PageMessage CoefficientsWrittenText(int rows, const QString& path, const QString& saved) {
    const QString count = rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows);
    return {QStringLiteral("Coefficients OK"),
            QStringLiteral("%1 from %2; old table: %3/%4")
                .arg(count, MessageFileName(path, kShortName),
                     QString::fromLatin1(kCoefficientBackupFolder), QFileInfo(saved).fileName())};
}

PageMessage CoefficientsWritingText(int rows, int done, int total) {
    const QString headline = QStringLiteral("Please wait");
    const QString count = rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows);
    if (total <= 0)
        return {headline,
                QStringLiteral("Writing %1 of the coefficient table to the lamp.").arg(count)};
    return {headline, QStringLiteral("Writing %1 to the lamp: %2 of %3 parts written.")
                          .arg(count)
                          .arg(done)
                          .arg(total)};
}

PageMessage NotAPictureText(const QString& path) {
    return {QString::fromLatin1(kNotUploaded),
            QStringLiteral("%1 is not a picture.").arg(MessageFileName(path))};
}

PageMessage NoLampText() {
    return {QString::fromLatin1(kNotUploaded), QStringLiteral("No lamp is connected.")};
}

PageMessage UnfinishedText(int written, int total) {
    return {QString::fromLatin1(kNotUploaded),
            QStringLiteral("%1 of %2 blocks reached the lamp.").arg(written).arg(total)};
}

PageMessage ClosingDuringWorkText(const QString& work, int done, int total, qint64 elapsedMs) {
    const QString headline = QStringLiteral("Please wait");
    if (work.isEmpty() || total <= 0) return {headline, {}};
    QString detail =
        QStringLiteral("Closing after the %1: %2 of %3 items done").arg(work).arg(done).arg(total);
    // The time left follows the pace so far; before the first item it is not known yet.
    if (done > 0 && done < total) {
        const qint64 leftMs = elapsedMs * (total - done) / done;
        detail +=
            QStringLiteral(", about %1 s left").arg(std::max<qint64>(1, (leftMs + 999) / 1000));
    }
    return {headline, detail + QLatin1Char('.')};
}

PageMessage MeasurementErrorText(const std::string& problem) {
    return {QStringLiteral("Measurement not loaded"),
            QStringLiteral("The %1.").arg(QString::fromLatin1(problem))};
}
