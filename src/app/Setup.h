#pragma once
#include <QString>
#include <QStringList>
#include <memory>

#include "app/Paths.h"
#include "window/Dispatch.h"
#include "window/Main.h"

class CLampState;
class CLightInput;
class Clock;
class Coptions;
class D2xx;
class ReadingSource;

// What the program builds before its window: the options, the lamps' bus (simulated lamps when
// the option SIMULATE asks for them, else the USB bridge), the main lamp and the lamp
// controller. The window is handed them and owns none of them, so it needs neither bus.
class CSetup {
  public:
    // Reads the options from the data folder, making the folder when it is missing. bus: the
    // caller's, kept by the caller; null lets the option SIMULATE choose one, built here.
    // simulated: the caller's bus holds simulated lamps (a bus built here knows it itself).
    // clock: null for the wall clock.
    explicit CSetup(const ProgramFolders& folders, D2xx* bus = nullptr, Clock* clock = nullptr,
                    bool simulated = false);
    ~CSetup();
    CSetup(const CSetup&) = delete;
    CSetup& operator=(const CSetup&) = delete;

    // False when options.xml could not be read; nothing else is built then, and the program
    // shows ShowMissingOptions and ends.
    bool Loaded() const { return controller_ != nullptr; }
    // What the window is built from; only when Loaded.
    FormSetup Form() const;
    CLampState& Controller() const { return *controller_; }
    // Why options.xml could not be read, naming the file; empty when Loaded.
    QString OptionsNotice() const;

  private:
    ProgramFolders folders_;
    bool simulated_ = false;
    // The options' values that did not read as their kind, with what is used instead.
    QStringList optionNotes_;
    std::unique_ptr<Coptions> options_;
    QtDispatcher dispatcher_;
    // Destroyed in reverse: the controller lets its lamps go before the lamp and the bus vanish.
    std::unique_ptr<D2xx> ownedBus_;
    // Where "Match" reads the light: the demo's simulated meter or the options' reading
    // command; null for the spectrometer store.
    std::unique_ptr<ReadingSource> readings_;
    std::unique_ptr<CLightInput> lamp_;
    std::unique_ptr<CLampState> controller_;
};

// The run baud rate from the option "SPEED": the fraction cut off, and anything below 9600
// (a missing option too) replaced by 38400.
int RunBaudRate(double speedOption);

// The notice for an options file that could not be read (CSetup::OptionsNotice); returns once
// it is closed.
void ShowMissingOptions(const QString& notice);
