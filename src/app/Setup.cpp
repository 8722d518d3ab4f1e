#include "app/Setup.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <cmath>
#include <random>
#include <string>

#include "app/Logging.h"
#include "link/Clock.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "platform/Ftdi.h"
#include "platform/Readingcommand.h"
#include "settings/Options.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"
#include "sim/Simlight.h"

namespace {

// A bus of simulated lamps for running without hardware; they switch to the program's rate.
std::unique_ptr<D2xx> SimulatedLamps(int count, Clock& clock, int runBaud,
                                     std::shared_ptr<SimLamp>& first) {
    auto bus = std::make_unique<SimBus>();
    // Nobody here reads the calls back; recording them would cost every look at the line.
    bus->SetCallLimit(0);
    SimLampOptions lamp;
    lamp.RunBaud = runBaud;
    // Bytes take their wire time, so the demo answers at a real lamp's pace.
    lamp.WireTimed = true;
    for (int i = 1; i <= count; ++i) {
        auto model = std::make_shared<SimLamp>(clock, lamp);
        if (i == 1) first = model;
        bus->AddDevice("LED Lamp " + std::to_string(i), "SIM" + std::to_string(1000 + i), model);
    }
    return bus;
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

int RunBaudRate(double speedOption) {
    // Options are typed by people: a NaN or an absurd number must not reach the link.
    if (!std::isfinite(speedOption) || speedOption < 9600.0 || speedOption > 3000000.0) {
        return 38400;
    }
    return static_cast<int>(std::trunc(speedOption));
}

CSetup::CSetup(const ProgramFolders& folders, D2xx* bus, Clock* clock, bool simulated)
    : folders_(folders), simulated_(simulated) {
    options_ = std::make_unique<Coptions>(LocalPath(folders_.dataFolder));
    QDir().mkpath(folders_.dataFolder);
    // Without options nothing touches a lamp.
    if (!options_->Loaded()) return;
    // Said once, here and on the window's device line, so a typing slip is not taken for intent.
    for (const Coptions::Misread& misread : options_->Misreads()) {
        const QString text = QString::fromLatin1(Coptions::MisreadText(misread));
        qCWarning(lcApp).noquote() << folders_.dataFolder + "/options.xml:" << text;
        optionNotes_ << text;
    }

    Clock& time = clock != nullptr ? *clock : DefaultClock();
    if (bus == nullptr) {
        const int count = options_->SimulatedLamps();
        simulated_ = count > 0;
        std::shared_ptr<SimLamp> first;
        ownedBus_ = simulated_ ? SimulatedLamps(count, time,
                                                RunBaudRate(options_->GetFloat("SPEED")), first)
                               : std::make_unique<FtdiBridge>();
        bus = ownedBus_.get();
        if (first) {
            // The demo's spectrometer looks at the main lamp, which is a few percent off
            // its stored coefficients as a real one is, and now and then misses a reading.
            SimMeterOptions meter;
            meter.StaleChance = 0.03;
            meter.FailChance = 0.02;
            meter.Seed = static_cast<std::uint32_t>(std::random_device{}());
            readings_ = MeterOnLamp(first, time, SimLightOptions{}, meter);
        }
    }
    // A reading command named in the options takes the readings from an instrument's tool.
    if (!readings_) {
        const std::string command = options_->GetString("MATCH.COMMAND");
        if (!command.empty())
            readings_ = std::make_unique<ReadingCommand>(command, options_->MatchWaitMs());
    }
    lamp_ = std::make_unique<CLightInput>(*bus, time, LocalPath(folders_.logFile));
    lamp_->LogEnabled = options_->GetBool("LOG");
    controller_ = std::make_unique<CLampState>(*lamp_, *bus, dispatcher_, time);
}

CSetup::~CSetup() = default;

FormSetup CSetup::Form() const {
    FormSetup form;
    form.dataFolder = folders_.dataFolder;
    form.options = options_.get();
    form.controller = controller_.get();
    form.simulated = simulated_;
    form.runBaud = RunBaudRate(options_->GetFloat("SPEED"));
    form.optionNotes = optionNotes_;
    form.readings = readings_.get();
    return form;
}

QString CSetup::OptionsNotice() const {
    return QFile::decodeName(QByteArray::fromStdString(options_->ProblemText()));
}

void ShowMissingOptions(const QString& notice) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(Coptions::kMissingCaption), notice,
                    QMessageBox::Ok);
    box.exec();
}
