#pragma once
#include <QMetaObject>
#include <QObject>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "link/Light.h"
#include "sim/Simlamp.h"

using FrameMatch = std::function<bool(const SimLampCommand&)>;

// The controller's selection of lamp page `page`.
inline FrameMatch SelectingPage(int page) {
    return [page](const SimLampCommand& c) {
        return c.Cmd == CLightInput::kCmdSelectPage && c.Data[0] == page / 256 &&
               c.Data[1] == page % 256;
    };
}

// The lamp takes the first frame for which `at` holds only once `during` has run on the
// window's thread, so that `during` sees the window in the middle of the work that sent it.
// Where that work blocks the window's thread itself, the lamp gives up after 3 s and `during`
// runs once the work is over. The hook stays on the lamp until the test takes it off.
inline void StallAtFrame(SimLamp& lamp, QObject& window, FrameMatch at,
                         std::function<void()> during) {
    struct Stall {
        std::mutex mutex;
        std::condition_variable cv;
        bool fired = false;  // only the hook touches it, under the lamp's lock
        bool released = false;
    };
    auto hold = std::make_shared<Stall>();
    lamp.SetCommandHook([hold, window = &window, at = std::move(at),
                         during = std::move(during)](const SimLampCommand& c) {
        if (hold->fired || !at(c)) return;
        hold->fired = true;
        QMetaObject::invokeMethod(
            window,
            [hold, during] {
                during();
                std::lock_guard lock(hold->mutex);
                hold->released = true;
                hold->cv.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(hold->mutex);
        hold->cv.wait_for(lock, std::chrono::seconds(3), [&] { return hold->released; });
    });
}
