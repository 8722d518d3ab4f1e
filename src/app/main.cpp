#include "window/Main.h"

#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>

#include "app/Claim.h"
#include "app/Guard.h"
#include "app/Icon.h"
#include "app/Logging.h"
#include "app/Paths.h"
#include "app/Setup.h"
#include "app/Shutdown.h"
#include "bus/Bus.h"

namespace {

// Headless runs ask for a picture of the window instead of a person looking at it: once the
// main page shows (or after a generous wait), the window is grabbed and closed.
void ScreenshotWhenReady(TForm1& form, const QString& path) {
    const int settle = qEnvironmentVariableIsSet("VELTRA_SCREENSHOT_DELAY_MS")
                           ? qEnvironmentVariableIntValue("VELTRA_SCREENSHOT_DELAY_MS")
                           : 500;
    auto* poll = new QTimer(&form);
    poll->setInterval(100);
    auto waited = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, &form, [&form, path, poll, settle, waited] {
        *waited += poll->interval();
        if (form.CurrentPage() != Page::Main && *waited < 30000) return;
        poll->stop();
        QTimer::singleShot(settle, &form, [&form, path] {
            form.grab().save(path);
            form.close();
        });
    });
    poll->start();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The controller's warnings go where the program's own do, before any lamp is touched.
    const LinkLogging linkLogging;
    // The name picks the user's data folder (~/.local/share/veltra-lamp); the desktop file
    // name lets the desktop match the window to its menu entry and icon.
    app.setApplicationName(QStringLiteral("veltra-lamp"));
    app.setApplicationDisplayName(QStringLiteral("Veltra Digital Lamp"));
    app.setDesktopFileName(QStringLiteral("com.veltra.DigitalLamp"));
    app.setWindowIcon(ProgramIcon());

    // A headless run has nobody to close a message box: it prints the notice and fails instead.
    const QString shot = qEnvironmentVariable("VELTRA_SCREENSHOT");
    const bool headless = !shot.isEmpty();
    const auto notify = [headless](const QString& notice, const std::function<void()>& box) {
        if (headless) {
            std::fprintf(stderr, "%s\n", notice.toLocal8Bit().constData());
        } else {
            box();
        }
    };

    // Where a session bus runs, a copy holding its name is the first sign of a second copy,
    // which then brings the running window forward and ends; the lock file still guards where
    // there is none.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool haveBus = bus.isConnected();
    COneCopyGuard guard;
    const QString busy = QStringLiteral("Lamp is currently busy.");
    const CopyClaim claim = ClaimOnlyCopy(bus, guard, [&] {
        notify(busy, [&] {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Veltra Digital Lamp"), busy,
                            QMessageBox::Ok);
            box.exec();
        });
    });
    if (claim == CopyClaim::Raised) return 0;
    if (claim == CopyClaim::Refused) return headless ? 1 : 0;

    const ProgramFolders folders =
        ChoosePaths(QCoreApplication::applicationDirPath(),
                    QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));

    try {
        CSetup setup(folders);
        if (!setup.Loaded()) {
            const QString notice = setup.OptionsNotice();
            notify(notice, [&] { ShowMissingOptions(notice); });
            return 1;
        }
        TForm1 form(setup.Form());
        // A signal or the session's end closes the window as its close button does.
        const CShutdown shutdown(form);
        form.show();
        // Other programs reach the lamp through the window, on the same thread. The name is
        // claimed only now, so whoever finds it finds the service answering.
        LampService service(form);
        if (haveBus && !service.Register(bus))
            qCWarning(lcApp).noquote()
                << "the name" << LampBus::kService
                << "on the session bus is taken; veltra-lampctl cannot reach this copy";
        if (headless) ScreenshotWhenReady(form, shot);
        return app.exec();
    } catch (const std::exception& e) {
        qCCritical(lcApp) << "stopped by an error:" << e.what();
        QMessageBox::critical(nullptr, QStringLiteral("Veltra Digital Lamp"),
                              QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("Veltra Digital Lamp"), QString());
    }
    return 1;
}
