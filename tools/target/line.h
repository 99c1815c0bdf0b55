// The simulated target's end of the serial line: a file descriptor that carries bytes both
// ways (a pseudo-terminal master it created, a serial device, or one end of a socket pair).
//
// One thread uses a line at a time. Reads wait with poll() up to a time-out; writes go out
// whole or report failure, optionally paced to the speed a real line of `baud` would have.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// The one error type of the simulator: setup failures (cannot open, cannot create a pty).
class TTargetError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using TClock = std::chrono::steady_clock;

constexpr int kLineTimedOut = -1; // ReadByte: nothing came within the time-out
constexpr int kLineHungUp = -2;   // ReadByte: the other end is gone, or the line was closed

class TLine {
  public:
    // Takes ownership of `fd` (closed with the line). `keep_open` is a second descriptor held
    // only to be closed with the line (the pty's slave side, see OpenPty).
    explicit TLine(int fd, int keep_open = -1);
    ~TLine();
    TLine(const TLine&) = delete;
    TLine& operator=(const TLine&) = delete;

    // Creates a pseudo-terminal in raw mode and returns the line on its master side; the slave
    // path, for the console to open, goes to `slave_path`. The line keeps a descriptor of the
    // slave open itself, so that reading the master does not fail while no console has the
    // slave open (and so that a console may close and reopen it). Throws TTargetError.
    static TLine* OpenPty(std::string* slave_path);
    // Opens a device (or any file that reads and writes) for reading and writing; a terminal
    // is put in raw mode, 8N1, at `baud` when that is a standard speed. Throws TTargetError.
    static TLine* OpenDevice(const std::string& path, int baud);

    // Listens for the console on raw TCP at `where`, "HOST:PORT" or "PORT" (then 127.0.0.1;
    // PORT 0 takes a free one), tells `announce` the console's name for it
    // ("tcp://127.0.0.1:PORT"), and returns the line on the first connection, or throws
    // TTargetError when none came within `accept_limit_ms`. Only that one connection is served.
    static TLine* Listen(const std::string& where,
                         const std::function<void(const std::string&)>& announce,
                         int accept_limit_ms);

    // Every byte written from now on is also written to `fd` (not owned; -1: none), for a
    // record of what the target sent. Failures there are ignored.
    void SetRecord(int fd) { record_fd_ = fd; }

    // Paces the line to `baud` / 10 bytes a second in both directions, as a real line of that
    // speed would (0: as fast as the peer takes them): writes are handed over no faster, and a
    // received byte is returned no earlier than the wire could have delivered it.
    void SetPacing(int baud) { pace_baud_ = baud; }
    int Pacing() const { return pace_baud_; }

    // Holds back what a write leaves short of a whole USB packet of 62 bytes for `ms`
    // (0: none), as an FTDI chip at the console's end holds what it received from the line
    // until its latency timer runs out: a write shorter than 62 bytes arrives `ms` late, a
    // longer one in whole packets at once and its rest `ms` later. The writer waits meanwhile.
    void SetLatency(int ms) { latency_ms_ = ms; }
    static constexpr size_t kUsbPacket = 62;

    // Writes every byte; false when the line is closed, the peer is gone, or the peer took
    // nothing for 5 s. Never throws.
    bool Write(const uint8_t* bytes, size_t count);
    bool WriteByte(uint8_t b) { return Write(&b, 1); }
    // Whether a write would be taken at once (a pty nobody reads fills up after some KB).
    bool Writable() const;

    // The next received byte (0-255), kLineTimedOut after `timeout_ms` of silence (0 only looks
    // at what is already there), or kLineHungUp. Never throws.
    int ReadByte(int timeout_ms);
    // When the chunk holding the byte ReadByte returned last came off the descriptor.
    TClock::time_point LastArrival() const { return last_arrival_; }
    // Bytes received and not yet returned by ReadByte.
    size_t Buffered() const { return end_ - begin_; }

    // Bytes written and bytes returned by ReadByte since the line was opened.
    uint64_t BytesOut() const { return bytes_out_; }
    uint64_t BytesIn() const { return bytes_in_; }

    // Closes the line (the peer of a pty sees a hang-up once nothing holds it open).
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

  private:
    bool Fill(int timeout_ms);
    bool WriteNow(const uint8_t* bytes, size_t count);

    int fd_;
    int keep_open_;
    bool socket_ = false; // written with send(MSG_NOSIGNAL): a gone peer is no SIGPIPE
    int pace_baud_ = 0;
    int latency_ms_ = 0;
    int record_fd_ = -1;
    TClock::time_point line_free_{}; // when the last paced byte would have left the wire
    bool hung_up_ = false;
    uint8_t buf_[4096];
    size_t begin_ = 0;
    size_t end_ = 0;
    TClock::time_point last_arrival_{};
    TClock::time_point rx_line_free_{}; // when the last paced received byte finished arriving
    uint64_t bytes_out_ = 0;
    uint64_t bytes_in_ = 0;
};
