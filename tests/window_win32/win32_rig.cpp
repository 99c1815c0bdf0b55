#include "win32_rig.h"

#include "win32_driver.h"

#include <gtest/gtest.h>

namespace {

TWinStepper* running_stepper = nullptr;

} // namespace

void TypeKeys(const std::vector<int>& signed_keycodes) {
    const std::string program = Env("QUORVIK_XTEST_KEYS");
    ASSERT_FALSE(program.empty()) << "QUORVIK_XTEST_KEYS must name the XTest helper";
    std::string command = program;
    for (int code : signed_keycodes)
        command += code > 0 ? " +" + std::to_string(code) : " " + std::to_string(code);
    ASSERT_TRUE(RunHost(command)) << command;
}

TWinStepper& TWinStepper::Then(std::string what, TCond cond, TAction action,
                               std::chrono::milliseconds timeout) {
    steps_.push_back(TStep{std::move(what), std::move(cond), std::move(action), timeout});
    return *this;
}

void CALLBACK TWinStepper::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (running_stepper) running_stepper->Poll();
}

void TWinStepper::Start(std::function<void()> on_end) {
    on_end_ = std::move(on_end);
    running_stepper = this;
    step_start_ = std::chrono::steady_clock::now();
    timer_ = SetTimer(nullptr, 0, 5, &TWinStepper::Tick);
}

// One step a tick at most, so that the window's own events run between steps.
void TWinStepper::Poll() {
    if (ended_ || polling_) return;
    polling_ = true;
    bool end = false;
    if (next_ < steps_.size()) {
        TStep& step = steps_[next_];
        if (step.cond()) {
            step.action();
            ++next_;
            step_start_ = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - step_start_ > step.timeout) {
            failures_.push_back("timed out waiting for " + step.what);
            end = true;
        }
    }
    if (next_ >= steps_.size()) end = true;
    if (end) {
        ended_ = true;
        KillTimer(nullptr, timer_);
        running_stepper = nullptr;
        on_end_();
    }
    polling_ = false;
}

std::vector<std::string> TWinStepper::RunConnected(TWin32Window& window) {
    Start([&window] {
        if (window.Form().MainCycleRunning()) window.Form().CloseComClick();
    });
    // The real button: its click runs Connect, which returns after Disconnect.
    SendMessageW(window.Control(ciConnect), BM_CLICK, 0, 0);
    if (!ended_) {
        KillTimer(nullptr, timer_);
        running_stepper = nullptr;
        failures_.push_back("the connection ended before the steps did");
    }
    return failures_;
}

std::vector<std::string> TWinStepper::Run(TWin32Window& window) {
    Start([] {});
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!ended_ && std::chrono::steady_clock::now() < deadline) {
        MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (window.FilterMessage(message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (!ended_) failures_.push_back("the steps did not end");
    return failures_;
}

// The window suite's driver in this program (window_driver.h).
std::string WindowDriverSetUp() { return ""; }
std::unique_ptr<TWindowDriver> MakeWindowDriver() { return std::make_unique<TWin32Driver>(); }
void WindowDriverTearDown() {}
