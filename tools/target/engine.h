// The target's side of the disk protocol and of the status query, on any TLine.
//
// A read of n sectors: the target sends ESC 'D' and its request frame, the console answers 55
// (AA for a bad checksum), sends its reply frame, which the target ACKs (55) or NAKs (AA), then
// n data frames, each ACKed by the target. A write: request, 55, reply (AH 3), ACK; then n data
// frames from the target, each answered 55/AA by the console; then the final reply, ACKed.
// A reply with carry set (no image, refused request) has no data frames after it.
//
// The console abandons an exchange on a NAK, a wrong byte or its own 2 s time-out and discards
// whatever is pending, and it never repeats a frame: so after any fault the target stays quiet
// until the line has been silent for a while and sends the whole request again.
//
// Single-threaded; every wait is bounded by the configured times and by the deadline.
#pragma once

#include "disk_frames.h"
#include "line.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct TEngineTimes {
    int answer_ms = 3000;      // longest wait for a byte the console owes within an exchange
    int quiet_ms = 300;        // silence that ends the drain after a fault
    int drain_limit_ms = 5000; // a drain never lasts longer, however chatty the line
    int garbage_quiet_ms = 30; // silence awaited after injected garbage
    int probe_ms = 200;        // interval of the status queries that wait for the console
    int max_attempts = 8;      // tries of one request before the engine gives up on it
};

// Deliberate faults; 0 switches one off. Faults go only into the first attempt of a request
// (and garbage only before it), and "every K-th frame" counts the frames of first attempts over
// the engine's whole life: a retry runs clean, so that every request can complete however long
// it is, and one kind of fault does not shift the rhythm of another.
struct TFaultPlan {
    int nak_every = 0;     // NAK every K-th frame received from the console (reply or data)
    int corrupt_every = 0; // spoil the checksum of every K-th frame sent (request or data)
    int garbage_bytes = 0; // random bytes sent before each attempt of a request
    int stall_ms = 0;      // once, stop halfway through a request frame for this long
    int hangup_after = 0;  // close the line right after sending the N-th request frame
    uint32_t seed = 1;     // for the garbage bytes
};

// Microsecond samples with a fixed cap; percentiles by nearest rank.
class TSamples {
  public:
    static constexpr size_t kCap = 1 << 20;
    void Add(int64_t us) {
        if (values_.size() < kCap) values_.push_back(us < 0 ? 0 : us);
    }
    size_t Count() const { return values_.size(); }
    // p in 0..100; 0 when there are no samples.
    double PercentileMs(double p) const;

  private:
    std::vector<int64_t> values_;
};

struct TEngineStats {
    uint64_t requests_sent = 0;   // request frames put on the line (every attempt)
    uint64_t frames_sent = 0;     // request and data frames
    uint64_t frames_received = 0; // reply and data frames that arrived whole
    uint64_t sectors_moved = 0;   // sectors of exchanges that completed
    uint64_t naks_injected = 0;   // good frames the target NAKed on purpose
    uint64_t corrupted_sent = 0;  // frames sent with a spoiled checksum
    uint64_t naks_received = 0;   // AA from the console for a frame of the target
    uint64_t garbage_bytes_sent = 0;
    uint64_t stalls = 0;
    uint64_t retries = 0;     // attempts after the first, over all requests
    uint64_t timeouts = 0;    // waits for the console that ran out
    uint64_t bad_frames = 0;  // frames from the console with a bad checksum, header or echo
    uint64_t stray_bytes = 0; // bytes that arrived where none belonged (drained or wrong)
    bool hung_up = false;
    TSamples turnaround; // ACK sent -> first byte of the console's next frame
    TSamples ack_wait;   // end of a frame sent -> the console's acknowledgement
};

enum class TXferStatus {
    xsOk,
    xsDiskError, // the console replied with carry set; reply.regs AH holds the status
    xsRefused,   // the console answered AA to a frame of the target
    xsNoAnswer,  // the console stayed silent past answer_ms
    xsBadAnswer, // a wrong byte, or a frame with a bad checksum, header or echo
    xsInjected,  // the target NAKed on purpose (fault injection)
    xsHangup,    // the line is gone
    xsGaveUp,    // attempts or the deadline ran out (the last failure is in `last`)
};

const char* XferStatusName(TXferStatus s);

struct TXferResult {
    TXferStatus status = TXferStatus::xsOk;
    TXferStatus last = TXferStatus::xsOk; // for xsGaveUp: why the last attempt failed
    TReply reply;                         // the last good reply (xsOk, xsDiskError)
    int attempts = 0;
};

enum class TStatusAnswer { saImage, saNoImage, saNone };

class TTargetEngine {
  public:
    TTargetEngine(TLine& line, TEngineTimes times = {}, TFaultPlan faults = {});

    // No wait goes past this point in time; once it has passed, requests give up.
    void SetDeadline(TClock::time_point deadline) { deadline_ = deadline; }
    bool PastDeadline() const { return TClock::now() >= deadline_; }

    // ESC 'S': the console answers 55 with an image attached, AA without, and holds its
    // keyboard back until ESC 'Q'. Other bytes that arrive meanwhile are kept as stray input.
    TStatusAnswer QueryStatus(int timeout_ms);
    // Sends ESC 'Q' (the console's keyboard is released). False if the line is gone.
    bool ReleaseKeys();
    // Sends ESC 'S' every probe_ms until the console answers or `limit_ms` passes, then drains
    // the answers to earlier probes.
    TStatusAnswer WaitForConsole(int limit_ms);

    // One attempt, no retry: `out` receives count × 512 bytes.
    TXferResult ReadOnce(TChs chs, uint8_t count, uint8_t* out);
    // One attempt; xsOk means the console ACKed every data frame and sent a good final reply,
    // which the target ACKed: the console writes the sectors then.
    TXferResult WriteOnce(TChs chs, uint8_t count, const uint8_t* data);

    // With retries: garbage (if planned) before each attempt, a drain after each failure. A
    // disk error or a hang-up ends at once.
    TXferResult Read(TChs chs, uint8_t count, uint8_t* out);
    TXferResult Write(TChs chs, uint8_t count, const uint8_t* data);

    // Reads until the line has been quiet for quiet_ms (or drain_limit_ms passed).
    void Drain(int quiet_ms);

    // Bytes that came outside an exchange (key bytes, mostly), oldest first; the buffer keeps
    // at most kStrayCap bytes and drops older ones beyond.
    static constexpr size_t kStrayCap = 4096;
    std::vector<uint8_t> TakeStray();
    void KeepStray(uint8_t b);

    const TEngineStats& Stats() const { return stats_; }
    TLine& Line() { return line_; }
    const TEngineTimes& Times() const { return times_; }

  private:
    template <typename Attempt> TXferResult Retrying(Attempt attempt);
    int WaitMs(int ms) const;
    bool SendFrame(uint8_t* frame, size_t size); // counts, spoils if planned, stalls if planned
    TXferStatus SendRequest(const TDiskRegs& regs);
    TXferStatus AwaitAck();
    // Receives a whole frame of `size` bytes; on a bad one NAKs it. `first_at` gets the
    // arrival of its first byte.
    TXferStatus ReceiveFrame(uint8_t* frame, size_t size, TClock::time_point* first_at);
    TXferStatus AckReceived(); // ACK, or NAK on purpose when the plan says so
    TXferStatus AwaitReply(const TDiskRegs& request, uint8_t expect_ah, TReply& reply);
    void SendGarbage();
    void MoveBufferedToStray();

    TLine& line_;
    TEngineTimes times_;
    TFaultPlan faults_;
    TEngineStats stats_;
    std::mt19937 rng_;
    bool stalled_ = false;
    bool retrying_ = false;       // the attempt running is a retry: no fault is injected into it
    uint64_t first_sent_ = 0;     // frames sent in first attempts
    uint64_t first_received_ = 0; // frames received in first attempts
    TClock::time_point deadline_ = TClock::time_point::max();
    TClock::time_point last_ack_{};
    std::vector<uint8_t> stray_;
};
