// quorvik-term's run: the form (the window's logic) on the terminal's view and loop, Connect
// with the port and the image of the command line, and then either the scripted run's steps
// or the terminal front end until the user quits. It carries out what the core decides (the
// step machine's actions, the command key's commands, the layout and the status row) and
// draws through TTerminal; it decides nothing of its own.
//
// One instance, on the window thread. Run does not return while connected (the form's
// OpenComClick runs the main cycle); the loop's timers, input and signals, and the port's
// hand-offs all run nested inside it.
#pragma once

#include "console_form.h"
#include "script_run.h"
#include "term_console.h"
#include "term_loop.h"
#include "term_options.h"
#include "term_view.h"
#include "terminal.h"

#include <memory>
#include <string>

class TTermApp {
  public:
    // `terminal`: the terminal front end's (rmTerminal), else nullptr.
    TTermApp(TTermOptions options, std::unique_ptr<TTerminal> terminal);
    ~TTermApp();
    TTermApp(const TTermApp&) = delete;
    TTermApp& operator=(const TTermApp&) = delete;

    // Connects, runs the steps or the terminal front end, disconnects; the exit status.
    int Run();

  private:
    void OnTimer(TTermTimer timer);
    void OnInput();
    void OnResized();
    void OnWaited();
    void OnMessageBox(const std::string& text);
    void Finish(int exit_code);

    // The scripted run.
    void BeginScript();
    void PollScript();

    // The terminal front end.
    void StartTerminal();
    void Draw(bool everything);
    void RunCommand(const TCommand& command);
    TStatusFields StatusFields();

    TTermOptions options_;
    std::unique_ptr<TTerminal> terminal_;
    std::unique_ptr<TTermLoop> loop_;
    TTermView view_;
    TConsoleForm form_;

    int exit_code_ = -1;   // set when the run is to end
    bool open_failed_ = false;
    bool folder_ = false; // the image option names a folder
    bool begun_ = false;   // connected and under way (steps begun, or the terminal started)
    bool polling_ = false; // PollScript runs (it may process events)
    TScriptRun run_;
    std::string boxes_;    // message boxes while the terminal is in use, for the error output

    TCommandKey command_key_;
    TTermLayout layout_{};
    bool layout_drawn_ = false;
    std::string status_shown_;
    int cursor_row_ = -1, cursor_column_ = -1;
};
