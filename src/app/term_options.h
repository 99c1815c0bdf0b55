// The command line of quorvik-term and its scripts: the port, the image, the logs, and the
// steps of a scripted run, each checked here so that a run never starts with a step it cannot
// do. A bad command line is one line for the user (exit status 64); nothing here touches the
// port, the image or a terminal.
//
// Pure; any thread. Script files are read through the caller's `read_file`.
#pragma once

#include "key_names.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Exit statuses of quorvik-term.
constexpr int kExitDone = 0;         // every step done, or the user quit
constexpr int kExitStepFailed = 1;   // a step ran past its time limit (or could not be done)
constexpr int kExitCannotOpen = 2;   // the port or the image could not be opened
constexpr int kExitUsage = 64;       // a usage error

constexpr int kDefaultStepTimeoutMs = 30000;

enum TStepKind : uint8_t {
    skExpect,     // wait for a text in what the target shows
    skExpectRe,   // the same with an ECMAScript regular expression
    skSend,       // keystrokes, with the paste's pacing
    skKey,        // one key
    skQuiet,      // wait until the screen has not changed for quiet_ms
    skSaveScreen, // the screen into a file, as text or as ANSI (".ans")
};

struct TScriptStep {
    TStepKind kind = skExpect;
    std::string argument; // as written, for messages
    std::string text;     // expect: the text; expect-re: the pattern; save-screen: the path
    std::string keys;     // send: one byte a keystroke, as the paste types them
    TKeySpec key;         // key
    int quiet_ms = 0;
    int timeout_ms = kDefaultStepTimeoutMs; // the time limit in force where the step stands
    // The step as a script spells it: expect "A:\>".
    std::string Words() const;
};

struct TTermOptions {
    std::string port; // what COM1 opens for this run; "" as the window opens it
    std::string image; // an image file, or a folder served as the floppy
    // --new-image FILE --format NAME: a blank image written there first, then served.
    std::string new_image;
    std::string format = "1.44M";
    std::string text_log;
    std::string line_trace;
    bool print_screen = false; // --screen
    std::vector<TScriptStep> steps;
};

enum TTermAction : uint8_t { taRun, taHelp, taVersion, taUsage };

struct TTermCommandLine {
    TTermAction action = taRun;
    TTermOptions options;
    // --help or --version: the text for the standard output. A usage error: one line for the
    // error output, ending in a newline.
    std::string output;
};

// Reads a whole file: true with its bytes, or false with the system's reason.
using TReadFile = std::function<bool(const std::string& path, std::string* bytes,
                                     std::string* reason)>;

// `arguments` without the program's name. `windows` chooses the Windows wording and help.
TTermCommandLine ParseTermCommandLine(const std::vector<std::string>& arguments, bool windows,
                                      const TReadFile& read_file);

// Steps of a script (one a line, the command line's words without "--", "#" to the end of the
// line a comment), appended to `steps`; `timeout_ms` is the time limit in force, changed by
// "timeout" lines for the steps after them. False with "NAME:LINE: what is wrong".
bool ParseScript(std::string_view text, const std::string& name, int* timeout_ms,
                 std::vector<TScriptStep>* steps, std::string* error);

// One line's words: bare words end at blanks; "double quoted" words keep backslash pairs as
// they are (\" does not end the word) for the step's own escapes; 'single quoted' words are
// taken as they stand.
bool SplitWords(std::string_view line, std::vector<std::string>* words, std::string* error);

// The escapes of a text: \r \n \t \e \\ \xHH; a backslash before any other character stands
// for itself (so "A:\>" is A:\>). False for \x without two hex digits.
bool Unescape(std::string_view text, std::string* out, std::string* error);

// The keystrokes that --send TEXT types: text as a paste types it (a line end as Enter, TAB as
// Tab, code page characters beyond ASCII as their code page bytes), \r and \n as Enter, \t as
// Tab, \e as Esc, \xHH as that byte. False when a character of the text has no key.
bool SendKeystrokes(std::string_view text, std::string* keys, std::string* error);

// How the program runs: a scripted run when steps are given, else the terminal front end when
// stdin and stdout are a terminal and the platform has one; otherwise a usage error.
enum TRunMode : uint8_t { rmScripted, rmTerminal, rmUsage };
TRunMode ChooseRunMode(const TTermOptions& options, bool stdin_terminal, bool stdout_terminal,
                       bool terminal_front_end, std::string* error);
