// The keyboard as the window sees it: the keyboard state byte, the key hook's translation of
// each key message, the reboot button and the state display. The window system's adapter
// brings its key events to scan codes and virtual keys and hands them to AppMessage.
//
// Window thread only. Owns nothing but the state byte; the callbacks are the owner's.
#pragma once

#include "translate.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct TKeyboardCallbacks {
    // Sends the bytes to the target in one write (a closed port drops them).
    std::function<void(const uint8_t* bytes, size_t count)> write;
    // The link's key hold: while true, keys and the reboot code send nothing. Optional (off).
    std::function<bool()> key_hold;
    // Shows the 30-character keyboard state text (Label1). Optional.
    std::function<void(const std::string& text)> show_state;
};

class TKeyboard {
  public:
    explicit TKeyboard(TKeyboardCallbacks callbacks) : callbacks_(std::move(callbacks)) {}

    // The keyboard state byte (bits as in keyaction.h), 0 at program start.
    uint8_t State() const { return state_; }
    // One key message: translated with the state byte, its bytes written, the display
    // refreshed after a modifier or lock key.
    void AppMessage(TKeyDirection direction, uint8_t scan_code, uint8_t virtual_key);
    // Whether the reboot button should be shown now: both Ctrl and Alt are down.
    bool RebootButtonWanted() const { return RebootButtonShown(state_); }
    // The reboot button's click: sends 1B 7F in one write unless the key hold is on.
    void ButtonDelClick();
    // The window's activation: takes over the PC's lock keys, then refreshes the display.
    void FormActivate(const TLockState& pc);
    void PrintKBDState();

  private:
    bool KeyHold() const { return callbacks_.key_hold && callbacks_.key_hold(); }

    TKeyboardCallbacks callbacks_;
    uint8_t state_ = 0;
};
