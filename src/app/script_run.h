// The scripted run's step machine: which step is under way, what it waits for, when its time
// limit is up, and the run's exit status. It looks at the screen, the history and the link's
// state whenever its owner lets it, and hands out what to do next (keystrokes to type, a key,
// the reboot code, a screen to save, the end of the run); it does no I/O itself.
//
// What an expect sees: the screen's text (code page 437 as Unicode, each row without trailing
// blanks, rows joined with LF) after every row that entered the history since the last expect
// matched (since the start for the first one), so that a line that scrolled past between two
// looks is not missed.
//
// Window thread only (it reads the screen and the history between events). No clock of its own:
// the owner passes the time.
#pragma once

#include "history.h"
#include "screen.h"
#include "term_options.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

// The link as the run needs it at each look.
struct TRunLinkState {
    bool paste_active = false; // keystrokes of a send are still being typed
    bool key_hold = false;     // the target holds the keys back
    bool port_away = false;    // the port went away and is waited for
};

enum TRunActionKind : uint8_t {
    raNone,       // nothing now: look again when something changed, or at Deadline()
    raType,       // type `data` as keystrokes, paced (the paste's queue)
    raKey,        // send `data` now, as one key
    raReboot,     // the reboot code, as the "Del" button sends it
    raSaveScreen, // write the screen to the file `data` (ANSI for ".ans")
    raDone,       // every step is done: disconnect, exit with `exit_code`
    raFailed,     // a step failed: `message` for the error output, then exit with `exit_code`
};

struct TRunAction {
    TRunActionKind kind = raNone;
    std::string data;
    int exit_code = 0;
    std::string message;
};

// The text an expect searches: the history's rows from row number `since` (counted as
// THistory::Entered counts them; rows dropped from the ring are gone), then the screen.
std::string TargetText(const TScreen& screen, const THistory& history, uint64_t since);

class TScriptRun {
  public:
    using TClock = std::chrono::steady_clock;

    explicit TScriptRun(std::vector<TScriptStep> steps);

    // Connected: the first step begins at `now`; the first expect sees the history's rows
    // from `history`'s next one on.
    void Start(TClock::time_point now, const TScreen& screen, const THistory& history);
    // Looks at the target at `now` and returns what to do. An action other than raNone is
    // the step's own, and the run moves on as if it was done: call Poll again right after
    // doing it. Call it whenever events were handled, and at Deadline() at the latest.
    TRunAction Poll(TClock::time_point now, const TScreen& screen, const THistory& history,
                    const TRunLinkState& link);
    // The step whose action was handed out last could not be done (a screen that could not be
    // saved): the run ends with exit status 1, the step and `why` named.
    TRunAction Fail(const TScreen& screen, const std::string& why);

    // When Poll must look again at the latest: the current step's time limit, or the end
    // of its quiet time. TClock::time_point::max() when finished.
    TClock::time_point Deadline() const;
    bool Finished() const { return finished_; }
    // The number of the step under way (1 for the first); Steps() + 1 once all are done.
    size_t Current() const { return current_ + 1; }
    size_t Steps() const { return steps_.size(); }

  private:
    void Begin(TClock::time_point now);
    TRunAction Next(TClock::time_point now); // the current step is done
    bool Matches(const TScreen& screen, const THistory& history);
    TRunAction Failure(size_t step, const TScreen& screen, const std::string& why);

    std::vector<TScriptStep> steps_;
    std::regex pattern_; // the current expect-re's
    size_t current_ = 0;
    size_t handed_ = 0; // the step of the last action handed out
    bool finished_ = false;
    bool typing_ = false; // the current send has handed out its keystrokes
    TClock::time_point step_start_{};
    TClock::time_point last_change_{};
    std::array<TCell, kScreenCells> seen_{}; // the screen at the last look
    uint64_t seen_entered_ = 0;              // the history's rows at the last look
    uint64_t mark_ = 0;                      // the first history row the next expect sees
    bool text_checked_ = false; // the current expect has seen the text as it is
};
