// Brings the window system's key events to the PC scan codes and Windows virtual-key codes
// that the key tables are indexed by, and reads the PC's own lock keys. One implementation per
// platform (key_adapter_xkb.cpp for X11 and Wayland; the Win32 window reads key messages itself).
// Window thread only.
#pragma once

#include "translate.h"

#include <cstdint>

class QKeyEvent;

struct TKeyCodes {
    uint8_t scan_code = 0;   // 0: no key of the table (the key is swallowed, nothing sent)
    uint8_t virtual_key = 0; // 0 where the translation looks at no virtual key
};

TKeyCodes KeyCodesFromEvent(const QKeyEvent& event);

// The toggle state of Scroll Lock, Num Lock and Caps Lock on the PC, as far as the window
// system can tell (nothing on a platform without a keyboard, like offscreen).
TLockState ReadPcLockState();

// X11 and Wayland: `linux_code` is the kernel input code (the native scan code minus 8),
// `qt_key` the event's Qt::Key, which tells the keypad's cursor keys (Num Lock off) from its
// digits.
TKeyCodes KeyCodesFromLinux(uint32_t linux_code, int qt_key);
