#pragma once
#include "link/Dispatch.h"

// The controller's way onto the window's thread: a call from another thread is queued to the
// application's thread and waited for; a call on that thread runs at once, which also keeps a
// call made while the window waits in the event pump from deadlocking.
class QtDispatcher : public Dispatcher {
  public:
    void Synchronize(const std::function<void()>& fn) override;
    // Queued to the application's thread, never waited for.
    void Post(std::function<void()> fn) override;
    void ProcessMessages() override;
};
