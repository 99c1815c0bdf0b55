// A paste on its way to the target: the keystrokes of the pasted text (typed_text.h), sent one
// at a time and paced, because a target reads its keys from a small keyboard buffer.
//
// Pacing: after each keystroke the next one is due `char_ms` later, after a line end (the Enter
// byte 0D) `line_ms` later. The owner calls Step from a one-shot timer of the window system
// (never a sleep), sends what Step hands out as keystrokes and starts the timer again with the
// delay Step names. A step sends every keystroke that is due, at most kBurst of them and none
// past a line end, so that a window system whose timers fire late (Windows rounds them up to
// its 15.6 ms tick) still keeps the pace on average; a timer later than that is not made up
// for. While the owner holds it (the target's key hold, or a port that went away and is waited
// for) nothing is sent and nothing is dropped: the paste waits, looking again every
// kHoldPollMs, and goes on at the normal pace once the hold is released.
//
// Window thread only; no I/O, no clock of its own (the caller passes the time), so it is
// tested without a window.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct TPastePacing {
    int char_ms = 5;
    int line_ms = 50;
};

// The pacing from QUORVIK_PASTE_CHAR_MS and QUORVIK_PASTE_LINE_MS, looked up with `getenv`
// (std::getenv in the program). A value must be a whole number of milliseconds from 0 to
// kMaxPaceMs, digits only; anything else keeps the default, and a line that says so is added
// to `complaints`, for the user to see. An empty or unset variable keeps the default quietly.
constexpr int kMaxPaceMs = 10000;
TPastePacing ReadPastePacing(const char* (*getenv)(const char*),
                             std::vector<std::string>* complaints);

// The most keystrokes one paste may hold (64 KiB); a longer text is refused.
constexpr size_t kPasteLimit = 64 * 1024;

class TPasteQueue {
  public:
    using TClock = std::chrono::steady_clock;
    static constexpr int kBurst = 4;       // keystrokes at most per step
    static constexpr int kHoldPollMs = 10; // how often a held paste looks again

    struct TStep {
        std::string keys; // keystrokes to send now, in order, each a write of its own
        int next_ms = -1; // start the timer again this many ms from now; -1: the paste is over
    };

    // Starts a paste of `keys` (one byte a keystroke), replacing one that runs; the first
    // keystroke is due at once.
    void Start(std::string keys, TPastePacing pacing, TClock::time_point now);
    // Ends the paste at once; what was not sent is dropped.
    void Stop();
    bool Active() const { return next_ < keys_.size(); }
    size_t Sent() const { return next_; }
    size_t Remaining() const { return keys_.size() - next_; }

    // The timer fired at `now`; `hold` holds the paste back.
    TStep Step(TClock::time_point now, bool hold);

  private:
    std::string keys_;
    size_t next_ = 0;
    TPastePacing pacing_;
    TClock::time_point due_{};
    bool held_ = false;
};
