#pragma once
#include <QString>
#include <cstdint>
#include <string>

#include "settings/Coefficients.h"

// What the message page shows: a short headline in the page's large type and, under it in
// smaller type, the detail a failure needs (which file, what went wrong). Every headline fits
// the page's one large line and every detail its smaller one, so nothing the user needs is cut
// off. Every message the window shows besides "Please wait" comes from here.
struct PageMessage {
    QString headline;
    QString detail;
    bool operator==(const PageMessage&) const = default;
};

// File names in a detail line are at most this long, so the line fits the page.
inline constexpr int kMessageNameLength = 28;

// A file as a message names it: without its folder, and a longer name shortened in its middle.
QString MessageFileName(const QString& path, int length = kMessageNameLength);

// After the controller has written a coefficient table, or could not: "Coefficients OK" only
// when the lamp took it.
PageMessage CoefficientResultText(std::int32_t result);
// The chosen coefficient file could not be used, and why.
PageMessage CoefficientFileErrorText(const QString& path, const Coefficients::Result& read);
// The coefficient page's count is not one of the table's rows.
PageMessage CoefficientCountText();
// The lamp's table could not be saved in the folder before a new one replaced it.
PageMessage CoefficientBackupFailedText(const QString& folder);
// The lamp took `rows` rows from the file at path; its old table is in the saved file.
PageMessage CoefficientsWrittenText(int rows, const QString& path, const QString& saved);
// While a table of `rows` rows is written: "Please wait", and once the write has a total,
// how many of its parts the lamp has taken.
PageMessage CoefficientsWritingText(int rows, int done, int total);

// The folder inside the data folder where each lamp's table is saved before it is replaced.
inline constexpr char kCoefficientBackupFolder[] = "coefficients";
// A saved table's name holds at most this much of the lamp's serial number, so that the
// message naming it fits its line.
inline constexpr int kBackupSerialLength = 8;

// A display text upload that did not happen or did not finish.
PageMessage NotAPictureText(const QString& path);
PageMessage NoLampText();
PageMessage UnfinishedText(int written, int total);

// A close asked for during long work, which runs to its end first: "Please wait", and how far
// the work has come and about how long is left.
PageMessage ClosingDuringWorkText(const QString& work, int done, int total, qint64 elapsedMs);

// A measurement that cannot be used, with the problem that MeasurementProblem names.
PageMessage MeasurementErrorText(const std::string& problem);
