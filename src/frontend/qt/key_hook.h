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

#include "keyboard.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

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
    // Hands every key message of `main_window` to `keyboard` (the window logic's).
    TKeyHook(QWidget* main_window, TKeyboard& keyboard, QObject* parent = nullptr);
    // The same with a keyboard of its own, built from `callbacks`.
    TKeyHook(QWidget* main_window, TKeyHookCallbacks callbacks, QObject* parent = nullptr);
    ~TKeyHook() override;
    TKeyHook(const TKeyHook&) = delete;
    TKeyHook& operator=(const TKeyHook&) = delete;

    // The keyboard's state byte and operations (see keyboard.h).
    uint8_t KeyboardState() const { return keyboard_.State(); }
    bool RebootButtonWanted() const { return keyboard_.RebootButtonWanted(); }
    void ButtonDelClick() { keyboard_.ButtonDelClick(); }
    // The window's activation: takes over the PC's lock keys where the platform tells them,
    // then refreshes the state text. (Marking the screen changed is the window's part.)
    void FormActivate();
    void PrintKBDState() { keyboard_.PrintKBDState(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool MeantForMainWindow(QObject* receiver) const;

    QPointer<QWidget> window_;
    std::unique_ptr<TKeyboard> own_keyboard_;
    TKeyboard& keyboard_;
};
