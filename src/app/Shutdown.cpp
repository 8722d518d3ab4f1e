#include "app/Shutdown.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe between the handler and the window's thread: read end, write end.
int pipeEnds[2] = {-1, -1};

extern "C" void OnSignal(int number) {
    // Only async-signal-safe calls here; a full pipe already holds a pending request.
    const int saved = errno;
    const auto byte = static_cast<std::uint8_t>(number);
    [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &byte, 1);
    errno = saved;
}

void ClosePipe() {
    for (int& end : pipeEnds) {
        if (end >= 0) close(end);
        end = -1;
    }
}

}  // namespace

CShutdown::CShutdown(QWidget& window) : window_(window) {
    if (pipeEnds[0] >= 0 || pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals) sigaction(number, &action, nullptr);
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        std::uint8_t bytes[64];
        while (read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        CloseWindow();
    });
    // The session manager asks before it ends the session; a program that is simply told to
    // quit goes the same way before its loop ends.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this, [this] { CloseWindow(); });
    }
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            [this] { window_.close(); });
}

CShutdown::~CShutdown() {
    if (notifier_ == nullptr) return;
    struct sigaction action {};
    // The program is ending: a request arriving now is served already.
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals) sigaction(number, &action, nullptr);
    ClosePipe();
}

void CShutdown::CloseWindow() {
    // A close already under way refuses this one and ends the program itself when it is done;
    // a window already closed accepts at once without doing the work again.
    if (window_.close()) QCoreApplication::exit(0);
}
