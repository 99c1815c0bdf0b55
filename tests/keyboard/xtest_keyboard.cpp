#include "xtest_keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

TXTestKeyboard::TXTestKeyboard(const std::string& display) {
    display_ = XOpenDisplay(display.c_str());
    if (display_ == nullptr) return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        XCloseDisplay(display_);
        display_ = nullptr;
    }
}

TXTestKeyboard::~TXTestKeyboard() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

void TXTestKeyboard::Press(unsigned keycode) {
    XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
    XSync(display_, False);
}

void TXTestKeyboard::Release(unsigned keycode) {
    XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
    XSync(display_, False);
}

void TXTestKeyboard::MoveTo(int x, int y) {
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XSync(display_, False);
}

void TXTestKeyboard::Click(unsigned button) {
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
}

void TXTestKeyboard::SetCapsLock(bool on) {
    XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(display_, False);
}

void TXTestKeyboard::SetNumLock(bool on) {
    const unsigned mask = XkbKeysymToModifiers(display_, XK_Num_Lock);
    XkbLockModifiers(display_, XkbUseCoreKbd, mask, on ? mask : 0);
    XSync(display_, False);
}
