#pragma once
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>

#include "Wait.h"
#include "app/Setup.h"
#include "bus/Bus.h"
#include "link/Clock.h"
#include "sim/Scaledclock.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"
#include "window/Main.h"

// Writes a file for a test; false when it could not be written whole.
inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The window on simulated lamps, serving the session bus that dbus-run-session starts for the
// test; skipped where no session bus is there.
class BusWindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus: these run under dbus-run-session";
        ASSERT_TRUE(dir_.isValid());
        QDir().mkpath(dir_.filePath("data"));
        ASSERT_TRUE(WriteFile(dir_.filePath("data/options.xml"),
                              "<OPTIONS><SIMULATE>1</SIMULATE><SPEED>38400</SPEED><C1S>1</C1S>"
                              "</OPTIONS>\n"));
    }

    void TearDown() override {
        service_.reset();
        if (form_) form_->close();
        form_.reset();
    }

    // Opens the window on the main lamp (lamp_, made here unless made beforehand) and
    // `followers` further lamps, then registers its service.
    void OpenWindow(bool withLamp, int followers) {
        if (withLamp) {
            if (!lamp_) lamp_ = std::make_shared<SimLamp>(clock_);
            lampIndex_ = bus_.AddDevice("LED Lamp 1", "T0001", lamp_);
        }
        for (int n = 2; n <= followers + 1; ++n) {
            bus_.AddDevice("LED Lamp " + std::to_string(n), "T000" + std::to_string(n),
                           std::make_shared<SimLamp>(clock_));
        }
        ProgramFolders folders;
        folders.dataFolder = dir_.filePath("data");
        folders.logFile = dir_.filePath("log.txt");
        setup_ = std::make_unique<CSetup>(folders, &bus_, &clock_);
        ASSERT_TRUE(setup_->Loaded());
        FormSetup form = setup_->Form();
        if (adjustForm_) adjustForm_(form);
        form_ = std::make_unique<TForm1>(form);
        form_->show();
        ASSERT_TRUE(WaitFor([&] { return form_->CurrentPage() == Page::Main; }));
        // The main page shows at the connect; the channel read after it reports later.
        Settle(*form_->Controller());
        service_ = std::make_unique<LampService>(*form_);
        ASSERT_TRUE(service_->Register(QDBusConnection::sessionBus()));
    }

    QTemporaryDir dir_;
    // The lamps' and the controller's time runs ten times as fast: a connect costs a tenth of
    // its second, and a call's answer still comes within the lamp's own reply time.
    ScaledClock clock_{10};
    // Changes what the window is handed, before it is made.
    std::function<void(FormSetup&)> adjustForm_;
    SimBus bus_;
    std::shared_ptr<SimLamp> lamp_;
    int lampIndex_ = -1;
    std::unique_ptr<CSetup> setup_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<LampService> service_;
};
