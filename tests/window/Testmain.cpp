#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

#include "Tempdir.h"

// The window tests need one application for the whole run, without a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without a runtime folder Qt makes one in the temporary folder and leaves it there; the
    // tests give it one that goes when they end (declared first, so it outlives the application).
    TempDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.Path.string()));
    // Nor do they read the user's own settings, such as a spectrometer's measurement.
    const QString settings = QString::fromStdString((runtime.Path / "settings").string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
