#pragma once
#include <functional>

// What the controller thread needs from the window's thread.
class Dispatcher {
  public:
    virtual ~Dispatcher() = default;
    // Runs fn on the window's thread and returns once it has run.
    virtual void Synchronize(const std::function<void()>& fn) = 0;
    // Has fn run on the window's thread soon and returns at once. A dispatcher that cannot
    // queue runs it through Synchronize.
    virtual void Post(std::function<void()> fn) { Synchronize(fn); }
    // Lets the window's thread handle what is pending while it waits for the controller.
    virtual void ProcessMessages() = 0;
};
