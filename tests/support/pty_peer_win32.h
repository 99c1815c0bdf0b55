// The far end of the COM ports under wine. scripts/win-test maps the COM names to the pty
// peer's pseudo-terminals (and to things that are no serial device) and passes the peer's TCP
// port in QUORVIK_PTY_PEER_PORT; the test talks to the peer over that connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// The names as scripts/win-test maps them.
constexpr const char* kPortA = "COM1";    // pseudo-terminal 0
constexpr const char* kPortB = "COM12";   // pseudo-terminal 1: a name that needs the \\.\ prefix
constexpr const char* kNotSerial = "COM2"; // a regular file
constexpr const char* kMissing = "QuorvikNoPort"; // names no device (not a COM name, so
                                                   // wine maps it to nothing)

// The terminal's settings as the far end sees them (tcgetattr).
struct TPeerAttr {
    unsigned speed = 0; // bits per second; 0 for a speed without a standard code
    int data_bits = 0;
    char parity = '?'; // N O E M S
    int stop_bits = 0;
    bool crtscts = false, ixon = false, ixoff = false;
};

class TPeer {
  public:
    TPeer();  // connects; a test fails when the peer is missing
    ~TPeer();
    bool Connected() const { return socket_ != ~uintptr_t{0}; }

    void Send(int pty, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> Receive(int pty, size_t count, std::chrono::milliseconds timeout = 5s);
    void Drain(int pty);
    TPeerAttr Attr(int pty);

  private:
    std::string Ask(const std::string& command);
    uintptr_t socket_ = ~uintptr_t{0};
    std::string pending_;
};
