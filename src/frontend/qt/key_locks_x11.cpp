#include "key_locks_x11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

std::optional<bool> LockedBy(unsigned int locked_mods, unsigned int mask) {
    if (mask == 0) return std::nullopt;
    return (locked_mods & mask) != 0;
}

} // namespace

TLockState ReadXkbLockState(_XDisplay* display) {
    int opcode = 0, event = 0, error = 0;
    int major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor)) return {};
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) return {};
    const unsigned int locked = state.locked_mods;
    TLockState locks;
    locks.scroll_lock = LockedBy(locked, XkbKeysymToModifiers(display, XK_Scroll_Lock));
    locks.num_lock = LockedBy(locked, XkbKeysymToModifiers(display, XK_Num_Lock));
    locks.caps_lock = LockedBy(locked, LockMask);
    return locks;
}
