// A pseudo-terminal for the port to open, and a main-thread queue for its hand-offs.
#pragma once

#include "comm.h"
#include "test_poster.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <termios.h>
#include <vector>

using namespace std::chrono_literals;

// openpty: the component opens `path` (the terminal side); the test plays the far end on
// `master` and reads the terminal's settings through `slave`.
struct TPty {
    int master = -1;
    int slave = -1;
    std::string path;
    TPty();
    ~TPty();
    void CloseMaster();
    void CloseSlave();

    termios Attributes() const;
    // Writes all bytes from the far end.
    void Send(const std::vector<uint8_t>& bytes) const;
    void Send(const std::string& text) const;
    // Reads from the far end until `count` bytes came or the time-out passed.
    std::vector<uint8_t> Receive(size_t count, std::chrono::milliseconds timeout = 5s) const;
};

// The speed on the terminal as termios2 holds it (exact number) and whether it is set as
// BOTHER rather than a standard code.
uint32_t LineSpeed(int fd);
bool LineSpeedIsOther(int fd);
