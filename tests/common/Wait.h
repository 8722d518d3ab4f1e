#pragma once
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

// Lets the window's events run until the condition holds or the time is up.
inline bool WaitFor(const std::function<bool()>& done, int ms = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}
