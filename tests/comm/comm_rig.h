// A pseudo-terminal for the port to open, and a main-thread queue for its hand-offs.
#pragma once

#include "comm.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <termios.h>
#include <vector>

using namespace std::chrono_literals;

// openpty: the component opens `path` (the terminal side); the test plays the far end on
// `master` and reads the terminal's settings through `slave`.
struct TPty {
    int master = -1;
    int slave = -1;
    std::string path;
    TPty();
    ~TPty();
    void CloseMaster();
    void CloseSlave();

    termios Attributes() const;
    // Writes all bytes from the far end.
    void Send(const std::vector<uint8_t>& bytes) const;
    void Send(const std::string& text) const;
    // Reads from the far end until `count` bytes came or the time-out passed.
    std::vector<uint8_t> Receive(size_t count, std::chrono::milliseconds timeout = 5s) const;
};

// The speed on the terminal as termios2 holds it (exact number) and whether it is set as
// BOTHER rather than a standard code.
uint32_t LineSpeed(int fd);
bool LineSpeedIsOther(int fd);

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
