// The PC's lock keys as the X server holds them, through XKB. Kept apart from the Qt code
// because the Xlib headers define macros (KeyPress, KeyRelease, None, ...) that clash with Qt.
#pragma once

#include "translate.h"

struct _XDisplay;

// Caps Lock and Num Lock from the core keyboard's locked modifiers; Scroll Lock only where the
// keymap binds it to a modifier (the default one does not, and then it stays unknown).
// Nothing is known when the display lacks the XKB extension. One round trip to the server.
TLockState ReadXkbLockState(_XDisplay* display);
