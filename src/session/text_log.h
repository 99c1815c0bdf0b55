// The text log: from Start to Stop, every row that leaves the screen for the history is
// appended to a file as one line of UTF-8 text (screen_text.h) with the local time at its head,
// "2026-12-09T14:03:07+01:00 A:\>dir". At Stop the rows of the screen itself follow (the blank
// rows at its bottom left out), so that the file ends with what was last shown. Lines end as
// text files do on the system (kTextLineEnd).
//
// Writing goes through a TLogWriter: in memory, written at every Flush (the owner calls it once
// a second) and whenever 64 KiB have gathered. A failed write closes the file; Failed() and
// Error() say so and further rows are dropped, for the owner to stop the log and tell the user.
//
// Window thread only.
#pragma once

#include "log_file.h"
#include "screen.h"

#include <ctime>
#include <functional>
#include <string>

// ISO 8601 local time with its offset from UTC, to the second: "2026-12-09T14:03:07+01:00".
std::string IsoTimestamp(const std::tm& local, long utc_offset_seconds);
// The same for a moment of the system's clock, in the system's time zone.
std::string LocalTimestamp(std::time_t t);

class TTextLog {
  public:
    // `clock` gives the wall clock (std::time in the program; tests fix it).
    explicit TTextLog(std::function<std::time_t()> clock = [] { return std::time(nullptr); })
        : clock_(std::move(clock)) {}

    // Creates (or empties) the file. False, with Error(), when it cannot be written.
    bool Start(const std::string& path);
    bool Running() const { return writer_.IsOpen(); }
    const std::string& Path() const { return writer_.Path(); }

    // A row entered the history: `count` cells, trailing blanks left out in the line.
    void Row(const TCell* cells, int count);
    // Appends the screen's rows, writes everything out and closes. False if that failed.
    bool Stop(const TScreen& screen);
    bool Flush() { return writer_.Flush(); }
    bool Failed() const { return writer_.Failed(); }
    const std::string& Error() const { return writer_.Error(); }

  private:
    void Line(const TCell* cells, int count);

    std::function<std::time_t()> clock_;
    TLogWriter writer_;
    std::time_t stamped_ = -1; // the second `stamp_` shows
    std::string stamp_;
    std::string line_; // reused for each line
};
