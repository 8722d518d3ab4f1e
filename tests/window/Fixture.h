// What the window tests share: waiting on the window's events, a measurement given by the test,
// and a test folder with options.xml, simulated lamps and the program's set-up for each window.
#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Wait.h"
#include "app/Setup.h"
#include "link/Clock.h"
#include "sim/Scaledclock.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"
#include "window/Main.h"
#include "window/Measurement.h"

// The measurement as a test gives it.
class FixedStore : public MeasurementStore {
  public:
    bool exists = true;
    std::map<std::string, std::string> values;
    bool Exists() const override { return exists; }
    std::optional<std::string> Value(const std::string& name) const override {
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    void WriteOptions(const char* text) {
        QFile file(dir_.filePath("data/options.xml"));
        QDir().mkpath(dir_.filePath("data"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    // The program's data folder and log file in the test's folder.
    ProgramFolders Folders() const {
        ProgramFolders folders;
        folders.dataFolder = dir_.filePath("data");
        folders.logFile = dir_.filePath("log.txt");
        return folders;
    }

    // One simulated lamp on the test's bus, switching to the given run rate.
    std::shared_ptr<SimLamp> AddLamp(std::int32_t runBaud = 38400) {
        SimLampOptions options;
        options.RunBaud = runBaud;
        options.DeviceName = "TESTLAMP";
        auto lamp = std::make_shared<SimLamp>(*clock_, options);
        bus_->AddDevice("LED Lamp 1", "T0001", lamp);
        return lamp;
    }

    // The program's set-up on the test's bus; it lives until the test ends, after every window.
    CSetup& Build() {
        setups_.push_back(std::make_unique<CSetup>(Folders(), bus_, clock_));
        return *setups_.back();
    }

    // A window on a fresh set-up; `adjust` changes what the window is handed first.
    std::unique_ptr<TForm1> Open(const std::function<void(FormSetup&)>& adjust = {}) {
        CSetup& setup = Build();
        EXPECT_TRUE(setup.Loaded());
        FormSetup form = setup.Form();
        if (adjust) adjust(form);
        return std::make_unique<TForm1>(form);
    }

    std::unique_ptr<TForm1> OpenToMainPage(const std::function<void(FormSetup&)>& adjust = {}) {
        auto form = Open(adjust);
        form->show();
        EXPECT_TRUE(WaitFor([&] { return form->CurrentPage() == Page::Main; }));
        // The main page shows at the connect; the channel read after it reports later.
        Settle(*form->Controller());
        return form;
    }

    // A fresh bus for the next window; the earlier ones stay until the test ends.
    void NewBus() {
        buses_.push_back(std::make_unique<SimBus>());
        bus_ = buses_.back().get();
    }

    template <typename T = QWidget>
    static T* Find(TForm1& form, const char* name) {
        T* w = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    QTemporaryDir dir_;
    // The lamps' and the controller's time runs ten times as fast, so a connect costs a tenth
    // of its second; a test of timing sets &DefaultClock() before it adds a lamp.
    ScaledClock scaled_{10};
    Clock* clock_ = &scaled_;
    std::vector<std::unique_ptr<SimBus>> buses_;
    SimBus* bus_ = buses_.emplace_back(std::make_unique<SimBus>()).get();
    std::vector<std::unique_ptr<CSetup>> setups_;
};
