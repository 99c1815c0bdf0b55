// X11 and Wayland: Qt reports the XKB keycode as the native scan code, which is the kernel's
// input code plus 8. The kernel's codes equal the PC's set-1 scan codes for the main block, the
// keypad, F11 and F12; the extended keys have codes of their own and are brought back to the
// entries they share with the keypad here.
#include "key_adapter.h"

#include <QGuiApplication>
#include <QKeyEvent>

#ifdef QUORVIK_HAVE_X11
#include "key_locks_x11.h"
#include <QtGui/qguiapplication_platform.h>
#endif

namespace {

constexpr uint32_t kXkbKeycodeOffset = 8;
constexpr uint32_t kLastSharedCode = 0x58; // F12: codes up to here are the set-1 scan codes

struct TExtendedKey {
    uint32_t linux_code;
    uint8_t scan_code;
    uint8_t virtual_key; // 0: taken from the Qt key
};

// The extended keys and their shared entries. The grey block's keys and Print Screen have a
// fixed virtual key, whatever the modifiers make of their key symbols (X11 turns Alt+Print into
// Sys_Req). Super, Menu, Pause and every other code stay undefined.
constexpr TExtendedKey kExtendedKeys[] = {
    {96, 0x1C, 0},     // keypad Enter
    {97, 0x1D, 0},     // right Ctrl
    {98, 0x35, 0},     // keypad /
    {99, 0x37, 0x2C},  // Print Screen
    {100, 0x38, 0},    // right Alt (AltGr)
    {102, 0x47, 0x24}, // Home
    {103, 0x48, 0x26}, // Up
    {104, 0x49, 0x21}, // Page Up
    {105, 0x4B, 0x25}, // Left
    {106, 0x4D, 0x27}, // Right
    {107, 0x4F, 0x23}, // End
    {108, 0x50, 0x28}, // Down
    {109, 0x51, 0x22}, // Page Down
    {110, 0x52, 0x2D}, // Insert
    {111, 0x53, 0x2E}, // Delete
};

// Function keys keep their virtual key whatever the layout makes of them (X11 turns
// Ctrl+Alt+F1 into a console switch symbol).
uint8_t FunctionKeyOf(uint32_t linux_code) {
    if (linux_code >= 59 && linux_code <= 68) return static_cast<uint8_t>(0x70 + linux_code - 59);
    if (linux_code == 87) return 0x7A; // F11
    if (linux_code == 88) return 0x7B; // F12
    return 0;
}

// The virtual keys the translation looks at. The keypad's keys arrive as Home, Up, ... Delete
// and Clear with Num Lock off and as digits with it on, as on Windows.
uint8_t VirtualKeyFromQtKey(int qt_key) {
    switch (qt_key) {
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Select: return 0x29;
    case Qt::Key_Printer: return 0x2A;
    case Qt::Key_Execute: return 0x2B;
    case Qt::Key_Print:
    case Qt::Key_SysReq: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    default: break;
    }
    if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F12) {
        return static_cast<uint8_t>(0x70 + (qt_key - Qt::Key_F1));
    }
    return 0;
}

} // namespace

TKeyCodes KeyCodesFromLinux(uint32_t linux_code, int qt_key) {
    TKeyCodes codes;
    if (linux_code == 0) return codes;
    if (linux_code <= kLastSharedCode) {
        codes.scan_code = static_cast<uint8_t>(linux_code);
        codes.virtual_key = FunctionKeyOf(linux_code);
        if (codes.virtual_key == 0) codes.virtual_key = VirtualKeyFromQtKey(qt_key);
        return codes;
    }
    for (const TExtendedKey& k : kExtendedKeys) {
        if (k.linux_code == linux_code) {
            codes.scan_code = k.scan_code;
            codes.virtual_key = k.virtual_key != 0 ? k.virtual_key : VirtualKeyFromQtKey(qt_key);
            return codes;
        }
    }
    return codes;
}

TKeyCodes KeyCodesFromEvent(const QKeyEvent& event) {
    const uint32_t native = event.nativeScanCode();
    if (native < kXkbKeycodeOffset) return {}; // synthetic event without a key
    return KeyCodesFromLinux(native - kXkbKeycodeOffset, event.key());
}

TLockState ReadPcLockState() {
#ifdef QUORVIK_HAVE_X11
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (x11->display() != nullptr) return ReadXkbLockState(x11->display());
    }
#endif
    // Wayland and offscreen: Qt offers no lock state; the program's own bits stay.
    return {};
}
