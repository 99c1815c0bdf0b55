// The Win32 window under wine, driven from inside its own nested main cycle as the Linux
// window tests do: a test is a list of steps (wait for a condition, then act), polled by a
// thread timer so that the main cycle keeps running between them. The simulated target is the
// host's quorvik-target (sim_target.h); keys are typed through XTest by a small host program.
//
// The environment comes from scripts/win-test: QUORVIK_TARGET_PROGRAM and QUORVIK_XTEST_KEYS
// (Unix paths of the host programs), WINEPREFIX and DISPLAY.
#pragma once

#include "host_win32.h"
#include "main_window_win32.h"
#include "sim_target.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// Presses (+code) and releases (-code) X keys through XTest, in order: X keycodes, which are
// the Linux input codes plus 8.
void TypeKeys(const std::vector<int>& signed_keycodes);

class TWinStepper {
  public:
    using TCond = std::function<bool()>;
    using TAction = std::function<void()>;
    // Waits (up to `timeout`) until `cond` holds, then runs `action`. A step that times out
    // records `what` as a failure and ends the script with a Disconnect.
    TWinStepper& Then(std::string what, TCond cond, TAction action,
                      std::chrono::milliseconds timeout = 10s);
    // Connects the window (Connect returns only after Disconnect) while the steps run, then
    // returns the failures.
    std::vector<std::string> RunConnected(TWin32Window& window);
    // Runs the steps without a connection, in a message loop of its own.
    std::vector<std::string> Run(TWin32Window& window);

  private:
    struct TStep {
        std::string what;
        TCond cond;
        TAction action;
        std::chrono::milliseconds timeout;
    };
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void Poll();
    void Start(std::function<void()> on_end);

    std::vector<TStep> steps_;
    std::vector<std::string> failures_;
    size_t next_ = 0;
    std::chrono::steady_clock::time_point step_start_;
    std::function<void()> on_end_;
    UINT_PTR timer_ = 0;
    bool ended_ = false;
    bool polling_ = false;
};
