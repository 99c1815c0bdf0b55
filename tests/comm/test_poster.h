// A main-thread queue for the port's hand-offs, and small helpers of the serial tests. Plain
// C++: the Windows tests use it too.
#pragma once

#include "comm.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

// The test's main thread: hand-offs are queued here and run by Pump on the calling thread.
class TTestPoster : public TMainThreadPoster {
  public:
    void Post(std::function<void()> call) override;
    // Runs queued calls until `done` holds or the time-out passes; returns done().
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s);
    // Runs queued calls until the time-out passes (a quiet period).
    void PumpFor(std::chrono::milliseconds period);
    // Waits, without running anything, until a call is queued.
    bool WaitQueued(std::chrono::milliseconds timeout = 5s);
    size_t RunQueued();
    size_t Queued();

  private:
    std::mutex lock_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> calls_;
};

std::vector<uint8_t> Pattern(size_t count, uint8_t seed = 0);
double Seconds(std::chrono::steady_clock::duration d);
