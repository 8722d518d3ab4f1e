#pragma once
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <optional>

// The command-line client's reading of its arguments, apart from the bus so it can be tested.
namespace Control {

// Exit codes a script can tell apart.
enum Exit : int {
    kOk = 0,
    kFailed = 1,        // the program answered with another error
    kUsage = 2,         // the command line is not understood
    kNoProgram = 3,     // no copy of the program runs on the session bus
    kNoLamp = 4,        // the program runs without a lamp (or not the one asked for)
    kInvalidValue = 5,  // the program refused a value
    kNotReached = 6,    // a match ended without reaching its target; its best point is left
    kNoReading = 7,     // a match got no reading from the instrument
    kNoAnswer = 8,      // a match did not end within the longest it can take
};

// The exit code for the outcome a match answered with ("matched", "not-reached", ...).
int ExitForMatch(const QString& outcome);

// One command: a method of the lamp's interface with its arguments, a property to set (named
// in method, its value the one argument) or to print, or a reading.
struct Command {
    enum Kind {
        kCall,
        kSetProperty,
        kShowProperty,
        kStatus,
        kWatch,
        kPresets,
        kHelp,
        kMatch
    } kind = kCall;
    QString method;
    QVariantList args;
    bool json = false;
    QString lamp;  // --lamp SERIAL, empty for any
};

// The command for the arguments after the program's name, or nothing with the reason in error.
// Numbers are passed on as typed; the program checks their ranges. After "--" every argument
// is taken as it is, so a preset may be named "--json".
std::optional<Command> Parse(const QStringList& args, QString* error);

// The exit code for an error the program (or the bus on its behalf) answered a call with.
int ExitForError(const QString& errorName);

QString UsageText();

}  // namespace Control
