#pragma once
#if __has_include("link/Dispatch.h")
#include "link/Dispatch.h"
#else
#include <functional>
// The controller's interface, until the lamp link brings its own declaration.
class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    virtual void Synchronize(const std::function<void()>& fn) = 0;
    virtual void ProcessMessages() = 0;
};
#endif

// The controller's way onto the window's thread: a call from another thread is queued to the
// application's thread and waited for; a call on that thread runs at once, which also keeps a
// call made while the window waits in the event pump from deadlocking.
class QtDispatcher : public Dispatcher {
  public:
    void Synchronize(const std::function<void()>& fn) override;
    void ProcessMessages() override;
};
