#include "term_loop.h"

#include <algorithm>

void TTermLoop::StartTimer(TTermTimer timer, int delay_ms, int period_ms) {
    TTimer& t = timers_[timer];
    t.armed = true;
    t.due = TClock::now() + std::chrono::milliseconds(std::max(delay_ms, 0));
    t.period_ms = period_ms;
}

void TTermLoop::Post(std::function<void()> call) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(call));
    }
    Wake();
}

void TTermLoop::Round(bool wait, TClock::time_point until) {
    int timeout_ms = 0;
    if (wait) {
        TClock::time_point next = until;
        for (const TTimer& t : timers_)
            if (t.armed) next = std::min(next, t.due);
        const auto now = TClock::now();
        if (next > now) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
            // Bounded, so that nothing can hang here (the tick comes every 100 ms anyway).
            timeout_ms = static_cast<int>(std::min<long long>(left, 1000));
        }
    }
    const TWoken woken = Wait(timeout_ms, [this] {
        std::lock_guard lock(mutex_);
        return !posted_.empty();
    });

    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(mutex_);
        calls.swap(posted_);
    }
    for (auto& call : calls) call();
    if (woken.resized && handlers_.resized) handlers_.resized();
    if (woken.input && handlers_.input) handlers_.input();
    if (woken.end_status != 0 && handlers_.end) handlers_.end(woken.end_status);

    const auto now = TClock::now();
    for (int i = 0; i < kTermTimerCount; ++i) {
        TTimer& t = timers_[i];
        if (!t.armed || t.due > now) continue;
        if (t.period_ms > 0) {
            t.due += std::chrono::milliseconds(t.period_ms);
            if (t.due <= now) t.due = now + std::chrono::milliseconds(t.period_ms); // fell behind
        } else {
            t.armed = false;
        }
        if (handlers_.timer) handlers_.timer(static_cast<TTermTimer>(i));
    }
}
