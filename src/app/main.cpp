#include <QApplication>
#include <QTimer>

#include "window/Main.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Veltra Digital Lamp"));
    TForm1 form;
    form.show();
    // Headless runs ask for a picture of the window instead of a person looking at it.
    const QString shot = qEnvironmentVariable("VELTRA_SCREENSHOT");
    if (!shot.isEmpty()) {
        const int delay = qEnvironmentVariableIntValue("VELTRA_SCREENSHOT_DELAY_MS");
        QTimer::singleShot(delay > 0 ? delay : 3000, &form, [&form, shot] {
            form.grab().save(shot);
            form.close();
        });
    }
    return app.exec();
}
