// QEMU running the target ROM, its COM1 on a pseudo-terminal that QEMU creates, or on a TCP
// port it serves on the loopback; the console finds it through QUORVIK_COM1. Everything the
// target sends over the pseudo-terminal is also logged to a file, so a test can count the disk
// requests.
#pragma once

#include "child_process.h"

#include <atomic>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>

class TQemuTarget {
  public:
    // Starts QEMU (no floppy drive of its own: the ROM boots through the console) and waits,
    // up to 10 s, for the pseudo-terminal's name. Throws if it does not come.
    TQemuTarget(const std::string& qemu, const std::string& rom, const std::string& log);
    // The same with COM1 as `-serial tcp:127.0.0.1:PORT,server=on,wait=off` on a free port,
    // waited for until it takes connections; QUORVIK_COM1 is tcp://127.0.0.1:PORT.
    struct TTcp {};
    TQemuTarget(const std::string& qemu, const std::string& rom, TTcp);
    // Kills QEMU. QEMU also dies with the test program (parent-death signal), so a crashed
    // test leaves nothing running.
    ~TQemuTarget();
    TQemuTarget(const TQemuTarget&) = delete;
    TQemuTarget& operator=(const TQemuTarget&) = delete;

    bool Exited();
    // What QEMU printed (its messages, for a failure report).
    const std::string& Output();

  private:
    std::unique_ptr<TChildProcess> process_;
};

// The disk requests in a log of the bytes the target sent: request frames are ESC 'D' and 11
// bytes with a good checksum and the length field 11.
struct TRequestTally {
    int requests = 0;
    int sectors_read = 0;
    int sectors_written = 0;
};
TRequestTally TallyRequests(const std::string& sent);

// A line with one fault in each direction, between QEMU's pseudo-terminal (QUORVIK_COM1 when
// it is made) and a new one that it hands to the console through QUORVIK_COM1. The byte 100
// bytes after the start of the n-th ESC 'D' frame header in a direction is inverted (0: that
// direction stays clean). Relays on its own thread until destroyed.
class TFaultyLine {
  public:
    TFaultyLine(int nth_frame_to_console, int nth_frame_to_pc);
    ~TFaultyLine();
    TFaultyLine(const TFaultyLine&) = delete;
    TFaultyLine& operator=(const TFaultyLine&) = delete;
    int Flipped() const { return flipped_; }

  private:
    struct TDirection {
        int from, to;
        int nth;          // the frame whose byte is flipped
        int seen = 0;     // ESC 'D' headers seen
        int countdown = -1;
        bool after_esc = false;
    };
    void Relay(TDirection& d);
    int pc_ = -1, master_ = -1, slave_ = -1;
    TDirection to_console_{}, to_pc_{};
    std::atomic<bool> stop_{false};
    std::atomic<int> flipped_{0};
    std::thread thread_;
};
