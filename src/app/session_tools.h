// The session tools: what the user keeps and reuses of what the target showed. The view into
// the history and the mouse's selection on it, Copy and the saved screens, the clipboard's text
// typed into the target as paced keystrokes, the text log of the rows that leave the screen,
// and the line trace of every byte on the line.
//
// Owned by the window's logic; window thread only. The dialogs, menus and clipboard are the
// view's (they may dispatch events); keystrokes go out through the owner's `send_keys`, which
// returns the view to the live screen first. A log that fails stops with one console line and
// the connection goes on.
#pragma once

#include "connection.h"
#include "console_area.h"
#include "console_menu.h"
#include "form_view.h"
#include "history.h"
#include "line_trace.h"
#include "paste_queue.h"
#include "screen.h"
#include "text_log.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// How a saved screen is written: UTF-8 text, code page 437 with colour sequences, a picture.
enum TScreenFormat : uint8_t { sfText, sfAnsi, sfPng };
// The format a file name asks for where no dialog chose one: ANSI for ".ans" (any case), else
// text.
TScreenFormat ScreenFormatForName(const std::string& path);

class TSessionTools {
  public:
    using TSendKeys = std::function<void(const uint8_t* bytes, size_t count)>;
    using TSavePng = std::function<std::string(const TScreen& screen, const std::string& path)>;

    // Each row that leaves `screen` for `history` goes to the text log while one runs.
    TSessionTools(TFormView& view, TScreen& screen, THistory& history, TConsoleArea& area,
                  TConnection& connection, TSendKeys send_keys, TSavePng save_png);
    ~TSessionTools(); // the logs write out what they hold and close
    TSessionTools(const TSessionTools&) = delete;
    TSessionTools& operator=(const TSessionTools&) = delete;

    // The left button on cell (row, column) of the console area: pressed (a press on the same
    // cell soon after the last is a double, then a triple click), moved while held, released
    // (the selection is offered as PRIMARY). Press and Drag return whether the area changed.
    bool Press(int row, int column);
    bool Drag(int row, int column);
    void Release();
    bool Selecting() const { return selecting_; }
    void StopSelecting() { selecting_ = false; }

    // The console menu's state, and its entries' work.
    TConsoleMenuState MenuState() const;
    void Copy();
    void SelectAll();
    // Asks for a file (the save dialog) and writes the live screen as it was when asked.
    void SaveScreen(TScreenFormat format);
    // Writes the live screen to `path` without asking; "" or the reason.
    std::string SaveScreenTo(const std::string& path, TScreenFormat format);

    // Types `utf8` into the target as keystrokes, paced (paste_queue.h), while connected and
    // no other paste runs. A text of more than 64 KiB of keystrokes is refused with a message
    // box; characters no key types are left out, and one console line says how many.
    void PasteText(const std::string& utf8);
    // The same for keystrokes already translated (one byte a keystroke, as TypeText gives
    // them): typed with the paste's pacing and key hold, while connected and no other paste
    // runs. False when it did not start.
    bool TypeKeys(std::string keys);
    void PasteTimer(); // the view's one-shot paste timer
    void StopPaste() { paste_.Stop(); }

    // The logs, asked for with the save dialog or started at `path`. A log that cannot start
    // says so on the console. Stop: `why` (or a failed last write) is told on the console.
    void AskStartTextLog();
    bool StartTextLog(const std::string& path);
    void StopTextLog(const char* why);
    void AskStartLineTrace();
    bool StartLineTrace(const std::string& path);
    void StopLineTrace(const char* why);

    // The connection's course, for the logs and the paste.
    void Connected();
    void Disconnected(bool was_connected);
    // The timer's share: a failed or full log is stopped at the next tick, and what the logs
    // hold is written out once a second (`write_out`).
    void Tick(bool write_out);

    const TPasteQueue& Paste() const { return paste_; }
    const TPastePacing& PastePacing() const { return paste_pacing_; }
    TTextLog& TextLog() { return text_log_; }
    const TLineTrace& LineTrace() const { return line_trace_; }

  private:
    TFormView& view_;
    TScreen& screen_;
    TConsoleArea& area_;
    TConnection& connection_;
    TSendKeys send_keys_;
    TSavePng save_png_;
    TPasteQueue paste_;
    TPastePacing paste_pacing_;
    TTextLog text_log_;
    TLineTrace line_trace_;

    // The left button: held, and the place and time of the last press (double, triple click).
    bool selecting_ = false;
    int clicks_ = 0;
    int click_row_ = -1, click_column_ = -1;
    std::chrono::steady_clock::time_point click_time_{};
    static constexpr std::chrono::milliseconds kDoubleClickTime{500};
};
