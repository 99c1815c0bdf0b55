// The main window's key messages as the key translation sees them, taken from the raw Win32
// message: the direction from the message (WM_KEYDOWN and WM_SYSKEYDOWN are presses), the scan
// code from lParam bits 16 to 23, the extended-key bit from bit 24 and the virtual key from
// wParam. The key tables look at the scan code without the extended bit, so the keypad and the
// separate cursor block share their entries; the bit is kept for whoever needs it.
#pragma once

#include "translate.h"

#include <windows.h>

#include <cstdint>
#include <optional>

struct TKeyMessage {
    TKeyDirection direction = kdDown;
    uint8_t scan_code = 0;
    bool extended = false;
    uint8_t virtual_key = 0;
};

// Nothing for a message that is not one of the four key messages.
std::optional<TKeyMessage> KeyMessageFrom(UINT message, WPARAM wparam, LPARAM lparam);

// The toggle state of Scroll Lock, Num Lock and Caps Lock (GetKeyState's low bit), as the
// calling thread's message queue last saw them.
TLockState ReadWin32LockState();
