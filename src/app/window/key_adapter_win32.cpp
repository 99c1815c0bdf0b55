// Windows: Qt passes the key message's scan code (lParam bits 16 to 23, with the extended-key
// bit above them) as the native scan code and its wParam as the native virtual key. The
// extended-key bit is not looked at: the extended keys share the entries of the keypad.
#include "key_adapter.h"

#include <QKeyEvent>

#include <windows.h>

TKeyCodes KeyCodesFromEvent(const QKeyEvent& event) {
    return TKeyCodes{static_cast<uint8_t>(event.nativeScanCode() & 0xFF),
                     static_cast<uint8_t>(event.nativeVirtualKey() & 0xFF)};
}

TLockState ReadPcLockState() {
    TLockState locks;
    locks.scroll_lock = (GetKeyState(VK_SCROLL) & 1) != 0;
    locks.num_lock = (GetKeyState(VK_NUMLOCK) & 1) != 0;
    locks.caps_lock = (GetKeyState(VK_CAPITAL) & 1) != 0;
    return locks;
}
