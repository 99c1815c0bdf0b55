// The window system as the core and the serial component see it, on Qt.
#pragma once

#include "comm.h"

#include <functional>

// "Process pending events" and "wait for the next event" on the Qt event loop of the window
// thread. WaitForEvents blocks in the event dispatcher (no spinning) until a timer tick, a
// port hand-off, input or any other event arrives.
class TQtHost {
  public:
    void ProcessPendingEvents();
    void WaitForEvents();
};

// Queues a call to run on the window thread when it next processes its events (a queued
// call on the application object). Safe to call from any thread.
class TQtPoster final : public TMainThreadPoster {
  public:
    void Post(std::function<void()> call) override;
};
