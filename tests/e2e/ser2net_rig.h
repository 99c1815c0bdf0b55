// Debian's ser2net in front of a pseudo-terminal, as a lab's console server: a configuration of
// the test's own (never the system's, which may name real serial ports) with one connection on
// a free loopback port, raw or Telnet with RFC 2217. Runs in the foreground as a child process,
// so that it ends with the rig or the test program.
#pragma once

#include "child_process.h"

#include <memory>
#include <string>

class TSer2net {
  public:
    // Starts it and waits until it listens. Throws std::runtime_error when it does not.
    TSer2net(const std::string& pty_path, bool rfc2217);
    ~TSer2net();
    // Stops it, as an administrator restarting the service would; Start brings it back on the
    // same port.
    void Stop();
    void Start();
    // What the console opens: tcp://127.0.0.1:PORT or rfc2217://127.0.0.1:PORT.
    std::string Url() const;
    const std::string& Output();

  private:
    std::string config_;
    bool rfc2217_;
    int port_;
    std::unique_ptr<TChildProcess> process_;
    std::string last_output_;
};

// Whether a program of that path is there (the tests skip without ser2net).
bool Ser2netInstalled();
