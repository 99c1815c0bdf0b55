// The terminal quorvik-term runs on, as the front end uses it: cells to draw at terminal
// positions, a status row, the cursor, the keys that arrived, and its size. It only draws and
// reads; which cells, which rows and which colours are the core's decisions (term_console.h).
//
// terminal_posix.cpp: Debian's ncursesw (terminfo, key decoding, colours); every change goes
// to the terminal at Show, which sends only what differs from what the terminal shows.
// Windows has none (MakeTerminal returns nullptr). Window thread only.
#pragma once

#include "key_names.h"
#include "term_console.h"

#include <memory>
#include <string>
#include <vector>

class TTerminal {
  public:
    virtual ~TTerminal() = default;

    // Takes the terminal over: full screen, keys unprocessed (Ctrl+C is a key), the cursor at
    // the target's. False with the reason when it cannot. Stop gives it back as it was (also
    // what the shell had on it); harmless when not started.
    virtual bool Start(std::string* error) = 0;
    virtual void Stop() = 0;
    virtual bool Started() const = 0;

    virtual int Rows() const = 0;
    virtual int Columns() const = 0;
    // The colours the terminal has (16, 8, or fewer), and whether it takes UTF-8.
    virtual int Colours() const = 0;
    virtual bool Utf8() const = 0;
    // The terminal's size changed (SIGWINCH): takes the new size; everything is drawn again.
    virtual void Resized() = 0;

    virtual void Put(int row, int column, char32_t glyph, const TTermColour& colour) = 0;
    // A status row: `text` (UTF-8) in reverse video across the whole width.
    virtual void PutStatus(int row, const std::string& text) = 0;
    virtual void Clear() = 0;
    // Sends what changed to the terminal, with the cursor at (row, column), hidden when
    // `cursor` is false.
    virtual void Show(int row, int column, bool cursor) = 0;

    // The keys that arrived, without waiting (each as the key table's translation takes it).
    virtual std::vector<TTermKey> ReadKeys() = 0;
};

// The terminal on the standard input and output; nullptr where the platform has none.
std::unique_ptr<TTerminal> MakeTerminal();
// The descriptor of the terminal's input for the loop to watch (-1 where there is none).
int TerminalInputFd();

// ---- Platform helpers ----
extern const bool kWindowsPlatform;
// The locale's character set for the terminal (POSIX), UTF-8 output for the console (Windows).
void PrepareConsole();
// The arguments without the program's name, as UTF-8 on Windows.
std::vector<std::string> ProgramArguments(int argc, char** argv);
bool StdinIsTerminal();
bool StdoutIsTerminal();
// A whole file's bytes (a UTF-8 path on Windows); false with the system's reason.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* reason);
// The system's text for an error number (errno; GetLastError on Windows).
std::string SystemErrorText(int error);
