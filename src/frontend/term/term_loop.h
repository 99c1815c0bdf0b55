// The event loop of quorvik-term, in place of a window system's: the form's three timers (the
// 100 ms tick, the one-shot refresh and paste timers), the serial component's hand-offs to the
// window thread (TMainThreadPoster), and on POSIX the terminal's input and the signals that
// matter (SIGWINCH, the ones that end the program) through a self-pipe. A round blocks until
// one of them is due, so an idle connection costs only the tick.
//
// One instance, made by MakeTermLoop for the platform (term_loop_posix.cpp: poll(); Windows:
// a condition variable with the timers' deadline). Everything but Post runs on the window
// thread; Post may be called from any thread. Handlers may run nested rounds (the form's
// main cycle processes events from inside them): a timer is re-armed before its handler runs,
// and posted calls are taken from the queue before they run.
#pragma once

#include "comm.h"

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

enum TTermTimer : uint8_t { ttTick, ttRefresh, ttPaste, kTermTimerCount };

class TTermLoop : public TMainThreadPoster {
  public:
    using TClock = std::chrono::steady_clock;

    struct THandlers {
        std::function<void(TTermTimer)> timer;
        std::function<void()> input;   // the terminal has input (POSIX, when watched)
        std::function<void()> resized; // the terminal's size changed (SIGWINCH)
        // The program is asked to end (SIGTERM, SIGINT, SIGHUP, SIGQUIT, the terminal gone; on
        // Windows Ctrl+C, Ctrl+Break, the console closing), with the exit status it then
        // has: 128 + the signal's number.
        std::function<void(int exit_status)> end;
    };

    ~TTermLoop() override = default;
    void SetHandlers(THandlers handlers) { handlers_ = std::move(handlers); }

    // Arms `timer` to fire `delay_ms` from now, then every `period_ms` (0: once); arming it
    // again replaces what was pending.
    void StartTimer(TTermTimer timer, int delay_ms, int period_ms);

    // TMainThreadPoster: the call runs in the next round. Any thread.
    void Post(std::function<void()> call) override;

    // One round: when `wait`, blocks until a call is posted, input or a signal arrives, a
    // timer is due or `until` has come; then runs what arrived and what is due.
    void Round(bool wait, TClock::time_point until = TClock::time_point::max());

  protected:
    struct TWoken {
        bool input = false;
        bool resized = false;
        int end_status = 0; // the exit status an ending signal asks for; 0: none
    };
    // Blocks up to `timeout_ms` (0: not at all) for a posted call (Wake), terminal input or a
    // signal, and says what came besides posted calls.
    virtual TWoken Wait(int timeout_ms, const std::function<bool()>& posted) = 0;
    // Ends a Wait under way, or makes the next one return at once.
    virtual void Wake() = 0;

    std::mutex mutex_; // guards posted_
    std::deque<std::function<void()>> posted_;

  private:
    struct TTimer {
        bool armed = false;
        TClock::time_point due{};
        int period_ms = 0;
    };
    std::array<TTimer, kTermTimerCount> timers_{};
    THandlers handlers_;
};

// The platform's loop. `terminal_fd` (POSIX): the terminal's input to watch, -1 for none.
// The signal handlers are installed from here on (before curses starts, so that it keeps
// them), and stay until the program ends.
std::unique_ptr<TTermLoop> MakeTermLoop(int terminal_fd);
