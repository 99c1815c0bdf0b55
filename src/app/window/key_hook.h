// The application-wide key hook of the main window.
//
// Installed as an event filter on the application, it takes every key press, key release and
// shortcut override meant for the main window (addressed to the window or any widget in it)
// before any widget sees it and swallows it: no widget gets a key, so Tab, Enter, Space, Alt and
// shortcuts never act on the panel. Each press and release is translated with the program's own
// keyboard state byte, and whatever it yields goes out in one call of `write`. Keys meant for
// any other top-level window (file dialog, message box) pass untouched.
//
// Window thread only. The hook does not own the window; it stops filtering when the window is
// destroyed and removes itself from the application when it is destroyed.
#pragma once

#include "translate.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <functional>

class QKeyEvent;

struct TKeyHookCallbacks {
    // Sends the bytes to the target (the port's Write; a closed port drops them).
    std::function<void(const uint8_t* bytes, size_t count)> write;
    // The link's key hold: while true, keys and the reboot code send nothing. Optional (off).
    std::function<bool()> key_hold;
    // Shows the 30-character keyboard state text (Label1). Optional.
    std::function<void(const QString& text)> show_state;
};

class TKeyHook final : public QObject {
  public:
    TKeyHook(QWidget* main_window, TKeyHookCallbacks callbacks, QObject* parent = nullptr);
    ~TKeyHook() override;
    TKeyHook(const TKeyHook&) = delete;
    TKeyHook& operator=(const TKeyHook&) = delete;

    // The keyboard state byte (bits as in keyaction.h).
    uint8_t KeyboardState() const { return state_; }
    // Whether the reboot button should be shown now: both Ctrl and Alt are down. The window
    // asks once a second.
    bool RebootButtonWanted() const;
    // The reboot button's click: sends 1B 7F in one write unless the key hold is on.
    void ButtonDelClick();
    // The window's activation: takes over the PC's lock keys where the platform tells them,
    // then refreshes the state text. (Marking the screen changed is the window's part.)
    void FormActivate();
    // Shows the state text through `show_state`.
    void PrintKBDState();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool MeantForMainWindow(QObject* receiver) const;
    void HandleKey(TKeyDirection direction, const QKeyEvent& event);
    bool KeyHold() const { return callbacks_.key_hold && callbacks_.key_hold(); }

    QPointer<QWidget> window_;
    TKeyHookCallbacks callbacks_;
    uint8_t state_ = 0;
};
