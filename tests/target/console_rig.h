// The console's real main cycle and floppy service on a thread of their own, reached over one
// end of a socket pair (or a terminal the caller opened), serving an image the rig writes to a
// temporary file.
//
// The other end of the pair is for the simulator under test. The console's screen, the image
// and the counters are read only after Stop(), which joins the thread; before that, Image() is
// the image as given.
#pragma once

#include "link.h"
#include "main_cycle.h"
#include "memory_image.h"
#include "screen.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TConsoleRig {
  public:
    // `tick_ms` is the period of the console's timer: its patience is 20 ticks. Unless
    // `attached`, the console runs without an image.
    explicit TConsoleRig(std::vector<uint8_t> image, bool attached = true, int tick_ms = 100);
    // The console on a descriptor of its own (a terminal it opened), taken over by the rig.
    TConsoleRig(std::vector<uint8_t> image, bool attached, int tick_ms, int console_fd);
    // The console serving an image in memory (a folder's floppy) on a descriptor of its own;
    // Image() is the memory's bytes after Stop().
    TConsoleRig(std::shared_ptr<TMemoryImage> memory, int tick_ms, int console_fd);
    ~TConsoleRig(); // stops, and removes the image file

    // The simulator's end (the caller owns it from then on).
    int TakeTargetFd();
    // Key bytes from the console's keyboard (any thread; the port's own write).
    void SendKeys(const std::vector<uint8_t>& bytes);
    // Waits until the console has taken at least `count` bytes from its port in all; false
    // after `timeout_ms`.
    bool WaitReceived(int64_t count, int timeout_ms);
    // Lets the console handle everything already sent to it, ends the main cycle, detaches
    // the image and reads the file back.
    void Stop();

    const TScreen& Screen() const { return screen_; }
    const std::vector<uint8_t>& Image() const { return image_; }
    int Requests() const { return requests_; }   // disk requests (ESC 'D') the console took up
    int Abandoned() const { return abandoned_; } // exchanges given up
    int Writes() const { return writes_; }       // exchanges that wrote to the image file

  private:
    class TPort;
    class THost;
    class TCountingDisk;

    void Run();

    std::vector<uint8_t> image_;
    std::shared_ptr<TMemoryImage> memory_;
    bool attached_;
    int tick_ms_;
    std::string path_;  // the image file while attached, else empty
    int watch_fd_ = -1; // inotify on the image file: its modifications
    int fds_[2] = {-1, -1};
    TScreen screen_;
    std::atomic<bool> stop_{false};
    std::mutex received_mutex_;
    std::condition_variable received_cv_;
    int64_t received_ = 0;
    int requests_ = 0, abandoned_ = 0, writes_ = 0;
    std::thread thread_;
};

// A 1.44 MB image with a FAT12 boot sector of that geometry and every other sector filled with
// bytes from `seed`.
std::vector<uint8_t> MakeTestImage(uint32_t seed);
