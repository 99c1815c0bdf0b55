// The console's real main cycle on a thread of its own, reached over one end of a socket pair,
// with a small disk service that answers requests from an image in memory the way the console's
// floppy service does: 55/AA for the request frame, the reply, the data frames, abandoning the
// exchange on a NAK, a wrong byte or a run-down time-out counter.
//
// The other end of the pair is for the simulator under test. Everything of the rig is read only
// after Stop(), which joins the thread.
#pragma once

#include "link.h"
#include "main_cycle.h"
#include "screen.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <thread>
#include <vector>

class TConsoleRig {
  public:
    // `tick_ms` is the period of the console's timer: its patience is 20 ticks.
    explicit TConsoleRig(std::vector<uint8_t> image, bool attached = true, int tick_ms = 100);
    // The console on a descriptor of its own (a terminal it opened), taken over by the rig.
    TConsoleRig(std::vector<uint8_t> image, bool attached, int tick_ms, int console_fd);
    ~TConsoleRig();

    // The simulator's end (the caller owns it from then on).
    int TakeTargetFd();
    // Key bytes from the console's keyboard (any thread; the port's own write).
    void SendKeys(const std::vector<uint8_t>& bytes);
    // Waits until the console has taken at least `count` bytes from its port in all; false
    // after `timeout_ms`.
    bool WaitReceived(int64_t count, int timeout_ms);
    // Lets the console handle everything already sent to it, then ends the main cycle.
    void Stop();

    const TScreen& Screen() const { return screen_; }
    const std::vector<uint8_t>& Image() const { return image_; }
    int Requests() const { return requests_; }   // request frames with a good checksum
    int Abandoned() const { return abandoned_; } // exchanges given up
    int Writes() const { return writes_; }       // writes that reached the image

  private:
    class TPort;
    class THost;
    class TDisk;

    std::vector<uint8_t> image_;
    bool attached_;
    int tick_ms_;
    int fds_[2] = {-1, -1};
    TScreen screen_;
    std::atomic<bool> stop_{false};
    std::mutex received_mutex_;
    std::condition_variable received_cv_;
    int64_t received_ = 0;
    int requests_ = 0, abandoned_ = 0, writes_ = 0;
    std::thread thread_;
};

// A 1.44 MB image with a boot sector of that geometry and every other sector filled with bytes
// from `seed`.
std::vector<uint8_t> MakeTestImage(uint32_t seed);
