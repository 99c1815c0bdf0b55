// The link to the target as the window thread sees it: the receive queue, the link state that
// the subsystems share (stop request, time-out counter, key hold, received byte count), and the
// two narrow interfaces through which the core reaches the serial port and the window system.
//
// One instance, owned by the main window, used only on the window thread; nothing is locked.
#pragma once

#include "escape.h"

#include <array>
#include <cstddef>
#include <cstdint>

constexpr uint32_t kReceiveQueueSize = 65536;
constexpr uint32_t kStagingSize = 32768;
constexpr int32_t kTimeoutTicks = 20; // ticks of the 100 ms timer

// The serial port as the core uses it. Read and Write never raise; all three return -1 while
// the port is closed. Read of bytes already queued returns at once.
class TPortIO {
  public:
    virtual ~TPortIO() = default;
    virtual int InQueCount() = 0;
    virtual int Read(char* buffer, unsigned long count) = 0;
    virtual int Write(const char* buffer, unsigned long count) = 0;
};

// The window system as the core uses it (window thread only).
class TConsoleHost {
  public:
    virtual ~TConsoleHost() = default;
    // Dispatches every pending event (timer ticks, clicks, keys, the port's received-data
    // hand-offs) and returns without waiting when none is left.
    virtual void ProcessPendingEvents() = 0;
    // Like ProcessPendingEvents, but first blocks until at least one event is there. The timer
    // ticks every 100 ms, so this returns within about that time even on a silent line.
    virtual void WaitForEvents() = 0;
    // The panel's status label (the main cycle shows "Timeout!" there).
    virtual void ShowStatus(const char* text) = 0;
};

// Which way bytes cross the line: in from the target, out to it.
enum TLineDirection : uint8_t { ldIn, ldOut };

// Sees every byte that crosses the line, burst by burst: each read from the port and each
// write to it (the line trace). Called on the window thread, inside the read or write.
class TLineTap {
  public:
    virtual ~TLineTap() = default;
    virtual void LineBytes(TLineDirection direction, const uint8_t* bytes, size_t count) = 0;
};

// Thrown to abandon a disk exchange from any depth below the main cycle; the main cycle catches
// it and resynchronises at its restart point. Deliberately not a std::exception.
struct TAbandonExchange {};

// Ring of received bytes. Empty exactly when the indices are equal, so it holds at most
// kReceiveQueueSize - 1 bytes; the receive handler takes no more from the port than fits.
class TReceiveQueue {
  public:
    bool QueueEmpty() const { return read_ == write_; }
    uint8_t TakeByte() {
        const uint8_t b = ring_[read_];
        read_ = (read_ + 1) & kMask;
        return b;
    }
    uint8_t PeekByte() const { return ring_[read_]; }
    uint32_t Used() const { return (write_ - read_) & kMask; }
    uint32_t Free() const { return kReceiveQueueSize - 1 - Used(); }
    void Append(const uint8_t* bytes, uint32_t count); // count <= Free()
    void Reset() { read_ = write_ = 0; }

  private:
    static constexpr uint32_t kMask = kReceiveQueueSize - 1;
    std::array<uint8_t, kReceiveQueueSize> ring_{};
    uint32_t read_ = 0;
    uint32_t write_ = 0;
};

class TLink final : public TSequenceSource {
  public:
    TLink(TPortIO& port, TConsoleHost& host) : port_(port), host_(host) {}

    // Link state, all 0 at program start.
    bool stop_request = false;
    // The port went away and is waited for: a disk exchange cannot go on.
    bool port_lost = false;
    int32_t timeout_counter = 0;
    bool key_hold = false;
    int32_t ReceivedCount() const { return received_count_; }

    TReceiveQueue queue;

    // The port's received-data handler: moves up to `count` bytes (and whatever arrives
    // meanwhile) from the port into the queue, never more than the queue has room for. Bytes
    // that do not fit stay in the port's own queue until there is room.
    void CommRxChar(uint32_t count);
    // Pulls whatever waits in the port (a closed port yields nothing).
    void PullPending();

    // One tick of the 100 ms timer for the time-out counter.
    void CountDownTimeout() {
        if (timeout_counter != 0) --timeout_counter;
    }

    // TSequenceSource
    bool QueueEmpty() const override { return queue.QueueEmpty(); }
    uint8_t TakeByte() override { return queue.TakeByte(); }
    uint8_t PeekByte() const { return queue.PeekByte(); }
    // One round of the window system while waiting for input: pulls what waits in the port,
    // blocks for the next event if nothing is queued, dispatches. False once stop is requested.
    bool WaitForInput() override;

    // The wait of the disk exchange: returns once a byte is queued. Abandons the exchange
    // (throws TAbandonExchange) when a stop is requested or the port went away, also if a
    // byte is there by then, or when the time-out counter has run down to 0 with nothing
    // queued.
    void WaitForExchangeByte();

    // Writes to the port in one call; the tap, if any, sees what was written.
    int Write(const void* bytes, unsigned long count) {
        const int n = port_.Write(static_cast<const char*>(bytes), count);
        if (tap_ != nullptr && n > 0)
            tap_->LineBytes(ldOut, static_cast<const uint8_t*>(bytes), static_cast<size_t>(n));
        return n;
    }
    // Every byte read from or written to the port goes past `tap` as well (nullptr: none).
    void SetTap(TLineTap* tap) { tap_ = tap; }
    TPortIO& Port() { return port_; }
    TConsoleHost& Host() { return host_; }

  private:
    TPortIO& port_;
    TConsoleHost& host_;
    int32_t received_count_ = 0;
    TLineTap* tap_ = nullptr;
    std::array<uint8_t, kStagingSize> staging_{};
};
