// The console on a terminal, as decisions: which of the target's rows a terminal of a given
// size shows and whether a status row fits below them, the status row's text, the colours a
// terminal of 8 or 16 colours gives an attribute, and the command key (Ctrl+], then one key)
// with its prompts. The terminal front end only draws what these decide and reads keys.
//
// Pure, except TCommandKey, which keeps its state between keys; window thread only.
#pragma once

#include "key_names.h"

#include <cstdint>
#include <string>

// ---- Which rows are shown ----

struct TTermLayout {
    int top = 0;             // the target's first row shown, on the terminal's row 0
    int rows = 0;            // target rows shown
    int columns = 0;         // target columns shown, from column 0
    bool status_row = false; // a status row on the terminal's row `rows`
    bool whole = true;       // all 25 rows and 80 columns are shown
};

// A terminal of `term_rows` x `term_columns`: the whole screen and a status row below it from
// 26 rows on; fewer rows show the rows around the target's cursor, moving no more than needed
// to keep it in sight from `previous_top`. While a prompt is up (`prompt`), a terminal without
// a status row gives its bottom row to the prompt.
TTermLayout TermLayout(int term_rows, int term_columns, int cursor_row, int previous_top,
                       bool prompt);

// One line to show at start when the terminal cannot show everything; "" otherwise.
std::string LayoutNotice(const TTermLayout& layout);

// ---- The status row ----

struct TStatusFields {
    std::string port;   // what COM1 opens: the COM item's hint ("COM1 is /dev/ttyUSB0 (...).")
    std::string image;  // the attached image's name; "" for none
    std::string status; // the status label: the byte count, "Timeout!", "Break", "Error"
    bool key_hold = false;
    std::string locks;  // the keyboard state display's 30 characters
    bool port_away = false;
};

// The status row for a terminal `width` columns wide: the port and the image on the left
// (cut short where the row is too narrow), the status word, the key hold, the lock state and
// the help key on the right. Columns count code points.
std::string StatusRowText(const TStatusFields& fields, int width);

// ---- Colours ----

struct TTermColour {
    int foreground = 7; // 0-7 (8 colours) or 0-15 (16 colours), ANSI numbering
    int background = 0;
    bool bold = false;    // a bright foreground on a terminal of 8 colours
    bool reverse = false; // a terminal without colours: a background other than black
};

// What attribute `attr` becomes on a terminal of `colours` colours (16 or more, 8, or fewer).
// The PC's colour order (blue 1, red 4) is the ANSI one with red and blue swapped.
TTermColour TermColour(uint8_t attr, int colours);

// What a terminal shows for a glyph of the code page: its Unicode look-alike on a terminal that
// takes UTF-8; elsewhere ASCII as itself, 00 as a blank and every other glyph as '?'.
char32_t TermGlyph(uint8_t code, bool utf8);

// ---- The command key ----

enum TCommandKind : uint8_t {
    cmNone,
    cmSend,       // `data`: the key's bytes, for the target
    cmQuit,       // Disconnect and end
    cmRefresh,    // the refresh request
    cmReboot,     // the reboot code
    cmTextLog,    // `data`: start a text log into that file; "" stops the running one
    cmLineTrace,  // the same for the line trace
    cmSaveScreen, // `data`: the file
};

struct TCommand {
    TCommandKind kind = cmNone;
    std::string data;
};

// Ctrl+] (1D, as telnet's) then one key: q quit, r refresh, d reboot, l text log, t line
// trace, s save the screen, h the list of commands; Ctrl+] again sends 1D itself. l, t and s
// ask for a file name on the status row (Enter takes it, Esc gives up, Backspace corrects).
// Every other key goes to the target.
class TCommandKey {
  public:
    static constexpr char32_t kPrefix = 0x1D;

    // One key from the terminal; `text_log` and `line_trace` say whether they run (then l and
    // t stop them instead of asking).
    TCommand Key(const TTermKey& key, bool text_log, bool line_trace);
    // What the status row shows instead of the status ("" for the status): a prompt with what
    // was typed so far, the list of commands, or the last message.
    std::string Prompt() const;
    // A prompt is up (it needs a row of its own).
    bool Asking() const { return state_ != csIdle; }
    // A line for the status row until the next key (the result of a command).
    void ShowMessage(std::string message) { message_ = std::move(message); }

    static const char* const kHelp;

  private:
    enum TState : uint8_t { csIdle, csPrefix, csAsking };
    TCommand Command(char32_t c, bool text_log, bool line_trace);

    TState state_ = csIdle;
    TCommandKind asking_ = cmNone;
    std::string question_;
    std::string answer_; // UTF-8
    std::string message_;
};
