#include "key_message_win32.h"

std::optional<TKeyMessage> KeyMessageFrom(UINT message, WPARAM wparam, LPARAM lparam) {
    TKeyMessage key;
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: key.direction = kdDown; break;
    case WM_KEYUP:
    case WM_SYSKEYUP: key.direction = kdUp; break;
    default: return std::nullopt;
    }
    const auto bits = static_cast<uint32_t>(lparam);
    key.scan_code = static_cast<uint8_t>((bits >> 16) & 0xFF);
    key.extended = ((bits >> 24) & 1) != 0;
    key.virtual_key = static_cast<uint8_t>(wparam & 0xFF);
    return key;
}

TLockState ReadWin32LockState() {
    TLockState locks;
    locks.scroll_lock = (GetKeyState(VK_SCROLL) & 1) != 0;
    locks.num_lock = (GetKeyState(VK_NUMLOCK) & 1) != 0;
    locks.caps_lock = (GetKeyState(VK_CAPITAL) & 1) != 0;
    return locks;
}
