#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

#include "Tempdir.h"

// The icon and the window run by the client's tests need one application, without a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's runtime folder and the user's settings (a spectrometer's measurement) stay in a
    // folder that goes when the tests end (declared first, so it outlives the application).
    TempDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.Path.string()));
    const QString settings = QString::fromStdString((runtime.Path / "settings").string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
