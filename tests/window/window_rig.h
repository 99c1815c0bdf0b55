// Drives the real main window from inside its own nested main cycle: a test is a list of steps
// (wait for a condition, then act), polled by a timer so that the main cycle keeps running
// between them. A pseudo-terminal stands in for the serial device.
#pragma once

#include "condos.h"
#include "pty_target.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

QApplication& TestApp();

// For the tests of the real window on a real X server: an Xvfb of this test program's own
// (`screen` as Xvfb's WIDTHxHEIGHTxDEPTH) and the application on it (xcb). Returns "" when both
// run, else why not (the caller skips its tests). StopX11App ends both.
std::string X11TestApp(const char* screen = "1024x768x24");
void StopX11App();

class TStepper {
  public:
    using TCond = std::function<bool()>;
    using TAction = std::function<void()>;
    // Waits (up to `timeout`) until `cond` holds, then runs `action`. A step that times out
    // records `what` as a failure and ends the script with a Disconnect.
    TStepper& Then(std::string what, TCond cond, TAction action,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
    TStepper& Do(std::string what, TAction action) {
        return Then(std::move(what), [] { return true; }, std::move(action));
    }
    // Connects the window (its Connect handler returns only after Disconnect) while the steps
    // run, then returns the failures.
    std::vector<std::string> RunConnected(TConDos& window);
    // Runs the steps with no connection, in a local event loop.
    std::vector<std::string> Run();

  private:
    struct TStep {
        std::string what;
        TCond cond;
        TAction action;
        std::chrono::milliseconds timeout;
    };
    void Start(std::function<void()> on_end);
    QTimer timer_;
    bool ended_ = false;
    std::vector<TStep> steps_;
    std::vector<std::string> failures_;
};
