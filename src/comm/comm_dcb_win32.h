// The Win32 device's control block from the line settings (comm_win32.cpp), apart so that it
// can be tested without a serial port. Internal to the component.
#pragma once

#include "comm_device.h"

#include <windows.h>

// Sets the fields of `dcb` that the settings govern and keeps the others (the driver's
// values, as GetCommState gave them): speed, data bits, parity (paOdd is ODDPARITY, paEven
// EVENPARITY), stop bits, the five characters, XonLim and XoffLim 1024, the option flags,
// fBinary, and the handshake: fcNone none, fcCTS RTS/CTS, fcDTR DTR/DSR, fcSoftware XON/XOFF
// both ways; the lines not used by the handshake are held up. fcDefault keeps the driver's
// handshake. The speed is taken as it is; the caller refuses speeds of 0 or below.
void DcbCompose(const TLineSettings& settings, DCB* dcb);

// The write time-out: WriteTimeoutPerByteMs per byte plus kWriteTimeoutConstantMs, the speed
// being the one in force (it is set again with every change of the settings). Per byte: twice
// the time a byte takes on the line at 12 bits (start, 8 data, parity, two stop bits), rounded
// up: 219 ms at 110 bit/s, 1 ms from 24000 bit/s up. A 517-byte frame so has 114 s at
// 110 bit/s and 1.5 s at 115200 bit/s. A speed of 0 counts as 1.
uint32_t WriteTimeoutPerByteMs(uint32_t bits_per_second);
constexpr uint32_t kWriteTimeoutConstantMs = 1000;
