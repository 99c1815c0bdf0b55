// The loop on Windows (scripted runs only, no terminal input): a condition variable that a
// posted call or a console control event (Ctrl+C, Ctrl+Break, the console closing) signals,
// waited on with the next timer's deadline.
#include "term_loop.h"

#include <windows.h>

#include <condition_variable>
#include <csignal>

namespace {

std::mutex* control_mutex = nullptr;
std::condition_variable* control_cv = nullptr;
bool control_event = false;

BOOL WINAPI OnControl(DWORD) {
    if (!control_mutex) return FALSE;
    {
        std::lock_guard lock(*control_mutex);
        control_event = true;
    }
    control_cv->notify_all();
    return TRUE; // the program ends by itself, after Disconnect
}

class TWin32Loop final : public TTermLoop {
  public:
    TWin32Loop() {
        control_mutex = &mutex_;
        control_cv = &cv_;
        SetConsoleCtrlHandler(OnControl, TRUE);
    }

  protected:
    TWoken Wait(int timeout_ms, const std::function<bool()>&) override {
        TWoken woken;
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                     [this] { return !posted_.empty() || control_event; });
        if (control_event) {
            control_event = false;
            woken.end_status = 128 + SIGINT;
        }
        return woken;
    }

    void Wake() override { cv_.notify_all(); }

  private:
    std::condition_variable cv_;
};

} // namespace

std::unique_ptr<TTermLoop> MakeTermLoop(int) { return std::make_unique<TWin32Loop>(); }
