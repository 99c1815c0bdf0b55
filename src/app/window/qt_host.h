// The window system as the core and the serial component see it, on Qt.
#pragma once

#include "comm.h"
#include "link.h"

#include <functional>

class QLabel;

// "Process pending events" and "wait for the next event" on the Qt event loop of the window
// thread. WaitForEvents blocks in the event dispatcher (no spinning) until a timer tick, a
// port hand-off, input or any other event arrives.
class TQtHost final : public TConsoleHost {
  public:
    explicit TQtHost(std::function<void(const char*)> show_status)
        : show_status_(std::move(show_status)) {}
    void ProcessPendingEvents() override;
    void WaitForEvents() override;
    void ShowStatus(const char* text) override { show_status_(text); }

  private:
    std::function<void(const char*)> show_status_;
};

// Queues a call to run on the window thread when it next processes its events (a queued
// call on the application object). Safe to call from any thread.
class TQtPoster final : public TMainThreadPoster {
  public:
    void Post(std::function<void()> call) override;
};

// The serial component as the core sees it.
class TCommPort final : public TPortIO {
  public:
    explicit TCommPort(TComm& comm) : comm_(comm) {}
    int InQueCount() override { return comm_.InQueCount(); }
    int Read(char* buffer, unsigned long count) override { return comm_.Read(buffer, count); }
    int Write(const char* buffer, unsigned long count) override {
        return comm_.Write(buffer, count);
    }

  private:
    TComm& comm_;
};
