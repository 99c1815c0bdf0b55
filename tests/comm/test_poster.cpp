#include "test_poster.h"

void TTestPoster::Post(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(std::move(call));
    }
    posted_.notify_all();
}

bool TTestPoster::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done()) return true;
        std::function<void()> call;
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (!posted_.wait_until(guard, deadline, [&] { return !calls_.empty(); }))
                return done();
            call = std::move(calls_.front());
            calls_.pop_front();
        }
        call();
    }
}

void TTestPoster::PumpFor(std::chrono::milliseconds period) {
    PumpUntil([] { return false; }, period);
}

bool TTestPoster::WaitQueued(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock_);
    return posted_.wait_for(guard, timeout, [&] { return !calls_.empty(); });
}

size_t TTestPoster::RunQueued() {
    size_t ran = 0;
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (calls_.empty()) return ran;
            call = std::move(calls_.front());
            calls_.pop_front();
        }
        call();
        ++ran;
    }
}

size_t TTestPoster::Queued() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_.size();
}

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
    return bytes;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
