// A pseudo-terminal standing in for the serial device COM1 (pty_target.cpp; under wine
// pty_target_win32.cpp, on the pty that scripts/win-test maps to COM1).
#pragma once

#include <string>

// A pty whose slave is the console's COM1; the test plays the target on the master side.
class TPtyTarget {
  public:
    TPtyTarget();
    ~TPtyTarget();
    const std::string& SlavePath() const { return slave_path_; }
    void Send(const std::string& bytes);
    // Everything the console has sent so far (drained without blocking).
    const std::string& Received();

  private:
    int master_ = -1;
    int slave_ = -1; // held open so the pty stays usable between connections
    std::string slave_path_;
    std::string received_;
};

// Makes COM2 name something that is not a serial device (under wine scripts/win-test has
// mapped it to a regular file already).
void MapCom2ToNoDevice();
