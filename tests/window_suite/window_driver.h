// The window suite: one list of scenarios (window_suite.cpp) that both windows must pass, each
// run through a driver of its own: the Qt window on an X server of the test's own
// (tests/window/qt_driver.cpp) and the Win32 window under wine on Xvfb
// (tests/window_win32/win32_driver.h). A driver starts the window, works it as a user does
// (clicks, real key events, the mouse on the console, the menus, the dialogs answered) and
// reads back what the window shows (its controls, its pixels, the clipboard). The window's
// logic itself is the form's (TConsoleForm), which both windows share.
//
// Window thread only. A pseudo-terminal plays the target (TPtyTarget: under wine the pty
// peer's, which the driver maps to COM1), or the simulated target does (TSimTarget).
#pragma once

#include "console_form.h"
#include "pty_target.h"
#include "sim_target.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// Pixels row by row, 0xRRGGBB.
struct TPixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// What the window shows of one of the panel's controls. Places are in client units (the
// panel's own pixels on Qt, device pixels on Win32), relative to the panel.
struct TShownControl {
    bool enabled = false, visible = false, checked = false;
    std::string caption, hint; // UTF-8
    TRect place;
};

// One step of a script: once `cond` holds, `action` runs; a step that waits longer than
// `timeout` fails the scenario, which then disconnects.
struct TWindowStep {
    std::string what;
    std::function<bool()> cond;
    std::function<void()> action;
    std::chrono::milliseconds timeout = 10s;
};

class TWindowDriver {
  public:
    virtual ~TWindowDriver() = default;

    TConsoleForm& Form() { return *form_; }

    // The panel. `item` >= 0 names an item of the radio group.
    virtual TShownControl Control(TControlId id, int item = -1) = 0;
    virtual void SetCaption(TControlId id, int item, const std::string& text) = 0;
    // Clicks a button, a check box or a radio item as the window system does: the handler runs
    // before Click returns (a Connect that opens the port returns at Disconnect: RunConnected).
    virtual void Click(TControlId id, int item = -1) = 0;
    virtual TRect PanelPlace() = 0;
    // Panel pixels at 96 DPI in the window's client units.
    virtual int PanelUnits(int pixels) = 0;
    // The system's face colour of the panel.
    virtual uint32_t FaceColour() = 0;

    // The window.
    virtual std::string WindowCaption() = 0;
    // The scale the system asks of the window: DPI / 96 on Win32, the device pixel ratio on Qt.
    virtual double Scale() = 0;
    // The client area's size in client units, and a new one as the user drags the frame.
    virtual TRect Client() = 0;
    virtual void ResizeClient(int width, int height) = 0;
    // What the window shows, in device pixels: the client area, or where a control is.
    virtual TPixels Grab() = 0;
    virtual TPixels GrabControl(TControlId id, int item = -1) = 0;
    // One pixel of the off-screen image; the pixels of a PNG file named by its host path, read
    // by the system's own reader (empty when unreadable).
    virtual uint32_t ImagePixel(int x, int y) = 0;
    virtual TPixels ReadPng(const std::string& path) = 0;
    // Stops the form's 100 ms timer, for scenarios that read captions the timer would change.
    virtual void StopTimer() = 0;
    // Closes the window as its close box does; Closed() once it is gone.
    virtual void CloseWindow() = 0;
    virtual bool Closed() = 0;

    // Input. Keys: X keycodes (the Linux input code + 8) pressed (+) and released (-), in
    // order, through the X server as a keyboard types them; they arrive asynchronously.
    virtual void TypeKeys(const std::vector<int>& signed_keycodes) = 0;
    // A button of the mouse pressed or released, or the mouse moved with the left button
    // held, or the wheel turned by notches (> 0 away from the user), at a point of the client
    // area; handled before the call returns.
    virtual void Mouse(TMouseButton button, bool press, int x, int y) = 0;
    virtual void MouseDrag(int x, int y) = 0;
    virtual void Wheel(int notches, int x, int y) = 0;
    // The window's context menus answered by `answer` (the entries in, the chosen command or
    // -1 out) instead of shown; null: shown again.
    virtual void AnswerMenus(std::function<int(const std::vector<TMenuEntry>&)> answer) = 0;
    // A real right click at (x, y): the window's own menu opens and stays open until the user
    // closes it; MenuOpen while it is.
    virtual void OpenMenuAt(int x, int y) = 0;
    virtual bool MenuOpen() = 0;
    // A right click on a control of the panel (the system's context menu request).
    virtual void RightClick(TControlId id, int item = -1) = 0;
    // The system's clipboard as other programs read and fill it, UTF-8 here.
    virtual std::string ClipboardText() = 0;
    virtual void SetClipboardText(const std::string& text) = 0;
    // The floppy check box ticked and the open dialog answered with a file, and the save
    // dialog answered with one from now on, each named by its host path (sim_target.h); the
    // network port dialog answered with `port`.
    virtual void ChooseImage(const std::string& host_path) = 0;
    virtual void AnswerSaveDialog(const std::string& host_path) = 0;
    virtual void AnswerNetworkDialog(const TNetworkPortDesc& port) = 0;
    // The folder chooser answered with a folder, named by its host path, from now on.
    virtual void AnswerFolderDialog(const std::string& host_path) = 0;

    // The target on COM1.
    virtual std::unique_ptr<TPtyTarget> Target() = 0;
    // Every message box the window showed since the last call.
    virtual std::vector<std::string> TakeBoxes() = 0;
    // Connects and runs the steps in the connection's main cycle; once they have ended
    // (or one timed out), disconnects if the steps have not. Returns the failures.
    virtual std::vector<std::string> RunConnected(const std::vector<TWindowStep>& steps) = 0;

  protected:
    TConsoleForm* form_ = nullptr;
};

// The program's driver (one per test program). SetUp, once before the scenarios: "" when the
// windows can be started (the X server and XTest for Qt), else why not (they are skipped then).
std::string WindowDriverSetUp();
std::unique_ptr<TWindowDriver> MakeWindowDriver();
void WindowDriverTearDown();

// Every shown caption of the panel that does not sit on the panel's face or cannot be read
// against what is behind it (3:1 for the large "R", 4.5:1 for the rest), as one line each.
std::vector<std::string> IllegibleCaptions(TWindowDriver& driver);
