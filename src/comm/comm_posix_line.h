// Line settings through termios2 (exact speeds with BOTHER). Kept apart because the kernel's
// <asm/termbits.h> cannot share a file with the C library's <termios.h>.
#pragma once

#include "comm_device.h"

#include <cstdint>

// A device's saved termios2, opaque to everyone else.
struct TSavedLine {
    alignas(8) unsigned char raw[64];
    bool valid = false;
};

// 0, or errno when the device is not a terminal.
int LineCheck(int fd);
void LineSave(int fd, TSavedLine* saved);
void LineRestore(int fd, const TSavedLine& saved);

// The fields of the kernel's termios2, laid out alike, for code that cannot see it.
struct TLineFlags {
    uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
    uint8_t line = 0;
    uint8_t cc[19] = {};
    uint32_t ispeed = 0, ospeed = 0;
};
// Turns the device's current flags into raw mode with the settings. 0, or EINVAL for a speed
// of 0 or below or beyond 32 bits, and for da4.
int LineCompose(const TLineSettings& settings, TLineFlags* flags);

// What a successful LineApply left on the device.
struct TLineApplied {
    uint32_t bits_per_second = 0;
    bool rts_cts = false;
};
// Reads the current termios2, sets raw mode and the settings, writes it back. 0 or errno
// (EINVAL for a speed of 0 or below, for da4, for a speed that does not fit 32 bits).
int LineApply(int fd, const TLineSettings& settings, TLineApplied* applied);
