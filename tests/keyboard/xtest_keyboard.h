// A second connection to an X server that types on its core keyboard (and clicks its core
// pointer) with XTest, the way a user's keys arrive (raw keycodes: kernel input code + 8).
// Xlib stays in its own file: its headers define KeyPress and friends, which clash with Qt.
#pragma once

#include <string>

class TXTestKeyboard {
  public:
    // Connects to `display` (":N"); Ok() is false when the server or XTest is missing.
    explicit TXTestKeyboard(const std::string& display);
    ~TXTestKeyboard();
    TXTestKeyboard(const TXTestKeyboard&) = delete;
    TXTestKeyboard& operator=(const TXTestKeyboard&) = delete;

    bool Ok() const { return display_ != nullptr; }
    // Each call returns once the server has processed the event.
    void Press(unsigned keycode);
    void Release(unsigned keycode);
    void Tap(unsigned keycode) {
        Press(keycode);
        Release(keycode);
    }
    // The pointer: moves to (x, y) of the screen, presses and releases button 1, 2 or 3.
    void MoveTo(int x, int y);
    void Click(unsigned button);
    // Locks or unlocks Caps Lock or Num Lock on the server without a key event, as if it had
    // been toggled while another program had the focus.
    void SetCapsLock(bool on);
    void SetNumLock(bool on);

  private:
    struct _XDisplay* display_ = nullptr;
};
