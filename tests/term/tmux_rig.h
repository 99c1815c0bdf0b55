// Debian's tmux as the terminal a person would use over SSH: a server of the test's own (its
// socket in the test's folder, no configuration file) with one window of a given size whose
// pane runs a command. What the pane shows comes from capture-pane, keys go in with
// send-keys, and the pane's terminal modes from display-message's formats. The server ends
// with the rig.
#pragma once

#include <chrono>
#include <string>
#include <vector>

class TTmux {
  public:
    // Starts the server with one pane of `columns` x `rows` running `command` under /bin/sh.
    // Throws std::runtime_error when tmux does not start.
    TTmux(int columns, int rows, const std::string& command);
    ~TTmux(); // kill-server
    TTmux(const TTmux&) = delete;
    TTmux& operator=(const TTmux&) = delete;

    // The pane's text, one line per row (capture-pane -p).
    std::string Capture();
    // Waits until the pane's text holds `text`, up to `timeout`; false when it did not come.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout);
    // send-keys with tmux's key names ("d", "Enter", "C-]", "M-a", "F1").
    void SendKeys(const std::vector<std::string>& keys);
    // A display-message format of the pane ("#{alternate_on}").
    std::string Format(const std::string& format);
    // The process the pane's shell started (its first child).
    int ChildPid();
    void Resize(int columns, int rows);

  private:
    std::string Run(const std::vector<std::string>& args);
    std::string folder_; // the server's own, short enough for its socket
    std::string socket_;
};

// Whether Debian's tmux is installed (the tests skip without it).
bool TmuxInstalled();
