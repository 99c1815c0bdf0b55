// The line trace, for people who write target firmware: every byte on the line in both
// directions, one line per burst, in a text file.
//
//   # Quorvik line trace, started 2026-12-09T14:03:07+01:00
//       12.345 in  41 3A 5C 3E  |A:\>|
//       13.002 in  request read C 0 H 0 S 1 count 1 drive 00 checksum good  1B 44 ...
//       13.050 out 55  |U|  ACK
//       13.120 out reply read C 0 H 0 S 1 count 1 status 00 carry 0 checksum good  1B 44 ...
//
// Each line starts with the milliseconds since the trace began and the direction ("in" from
// the target, "out" to the target). A burst is what one read from the port brought, or one
// write to it: its bytes in hex, then as text (20-7E as they are, others as '.'). Lines that
// start with '#' are the trace's own notes.
//
// Frames of the disk protocol get one line each, decoded (function, cylinder, head, sector,
// count, status and carry, checksum good or bad as the frame codec computes it), then all their
// bytes in hex. Coming in, ESC 'D' starts a frame wherever the main cycle would take it as one
// (after any run of ESC): a request frame of 11 bytes after ESC 'D', or a data frame of 515
// when a write request has announced data frames that have not come yet, or when its length
// field says 515. A frame that spans several reads is one line, stamped when it is complete.
// Going out, the console writes each reply and data frame in one call, and that write is the
// frame. A NAK going out, or a reply with carry set, ends what a write request announced. A
// single 55 or AA right after a frame from the other side is marked ACK or NAK.
//
// The trace stops itself before its file passes the limit (256 MiB), with a last note saying
// so. Window thread only.
#pragma once

#include "link.h"
#include "log_file.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Turns the bursts of the line into the trace's lines. Pure.
class TTraceDecoder {
  public:
    // Appends the lines for one burst, `us` microseconds after the trace began, to `out`.
    void Burst(TLineDirection direction, const uint8_t* bytes, size_t count, int64_t us,
               std::string& out);
    // Appends whatever is held back (an ESC at the end of a read, an unfinished frame).
    void Finish(int64_t us, std::string& out);

  private:
    void Plain(TLineDirection direction, const uint8_t* bytes, size_t count, int64_t us,
               std::string& out);
    void Frame(TLineDirection direction, const uint8_t* bytes, size_t count, int64_t us,
               std::string& out);

    std::vector<uint8_t> run_;   // plain bytes of the read being taken apart
    std::vector<uint8_t> frame_; // the frame coming in
    bool in_frame_ = false;
    size_t frame_size_ = 0;      // 0 while its length is not known yet
    int data_due_ = 0;           // data frames a write request announced
    int data_seen_ = 0;          // data frames of the current request
    int data_count_ = 0;         // its sector count
    uint8_t function_ = 0;       // its function
    bool answer_due_[2] = {};    // a frame went the other way: a lone 55 or AA answers it
};

class TLineTrace final : public TLineTap {
  public:
    using TClock = std::chrono::steady_clock;
    static constexpr uint64_t kLimit = uint64_t{256} << 20;

    // `clock` is steady_clock::now in the program; tests pass their own, and a lower limit.
    explicit TLineTrace(uint64_t limit = kLimit,
                        std::function<TClock::time_point()> clock = TClock::now)
        : limit_(limit), clock_(std::move(clock)) {}

    // Creates (or empties) the file and writes the heading; `started` is the local time to
    // name there. False, with Error(), when the file cannot be written.
    bool Start(const std::string& path, const std::string& started);
    bool Running() const { return writer_.IsOpen() && !limit_reached_; }
    const std::string& Path() const { return writer_.Path(); }

    // TLineTap: one burst of the line.
    void LineBytes(TLineDirection direction, const uint8_t* bytes, size_t count) override;
    // A note of the trace's own ("connected to COM1").
    void Note(const std::string& text);
    // Ends the trace with a last note and closes the file. False if the last write failed.
    bool Stop();
    bool Flush() { return writer_.Flush(); }
    bool Failed() const { return writer_.Failed(); }
    const std::string& Error() const { return writer_.Error(); }
    // The file has reached the limit and takes nothing more; the owner then stops the trace.
    bool LimitReached() const { return limit_reached_; }

  private:
    int64_t Micros() const;
    void Put(const std::string& text);

    uint64_t limit_;
    std::function<TClock::time_point()> clock_;
    TClock::time_point start_{};
    TLogWriter writer_;
    TTraceDecoder decoder_;
    std::string scratch_;
    bool limit_reached_ = false;
};
