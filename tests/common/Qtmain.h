#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

#include "Tempdir.h"

// Runs the tests inside one application without a display. Qt's runtime folder and the user's
// settings (such as a spectrometer's measurement) stay in a folder that goes when the tests
// end: without one Qt makes a runtime folder in the temporary folder and leaves it there.
inline int RunQtTests(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Declared first, so it outlives the application.
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
