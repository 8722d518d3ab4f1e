#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

#include "link/Lamp.h"

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

// Returns once the controller has ended the pass it was in, the window has taken every report
// of it, and what the window asked for meanwhile has been served the same way: nothing that
// began before comes in afterwards. A pause is granted only between passes, and the window's
// events run while it waits for one.
inline void Settle(CLampState& controller) {
    for (int round = 0; round < 10; ++round) {
        { const CLampState::PauseScope pause = controller.Pause(); }
        // Gone on: a test that looks at IsPaused() sees the controller running again.
        WaitFor([&] { return !controller.IsPaused() || controller.IsFinished(); });
        // Without a lamp, requests wait for one; there is nothing more to come.
        if (!controller.IsConnected()) return;
        if (controller.PendingChannel() < 0 && !controller.PowerPending()) return;
    }
    ADD_FAILURE() << "the controller still has requests after ten passes";
}
