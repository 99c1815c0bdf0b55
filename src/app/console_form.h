// The main window's logic, free of any window system: the control panel and its idle and
// connected states, the handlers of its controls, the 100 ms timer, the key hook's
// translation, the mouse and the menus. A view (TFormView: the Qt window, the Win32 window, or
// a test's fake) creates the controls, draws and forwards every event to the handler of the
// same name here. The form owns the screen and its history, and three parts that do the work:
// the connection (port, link, floppy, Connect and reconnecting), the painter (the console
// area's drawing) and the session tools (selection, copy, paste, saves, logs).
//
// One instance per program, owned by the view; window thread only. While connected,
// OpenComClick does not return: it runs the main cycle, and the timer, the buttons, the keys,
// the port's events and the closing of the window all run nested inside the main cycle's
// processing of events. Nothing is locked.
#pragma once

#include "connection.h"
#include "console_area.h"
#include "console_menu.h"
#include "console_painter.h"
#include "console_port.h"
#include "form_view.h"
#include "history.h"
#include "keyboard.h"
#include "session_tools.h"
#include "screen.h"

#include <memory>
#include <string>

// The commands of the COM group's context menu: a serial port of the list (pcFirstPort + its
// place in the list), a network port, or what the item opened at start.
enum TPortCommand : int {
    pcNetwork = 1,
    pcAsAtStart = 2,
    pcFirstPort = 100,
};

extern const char* const kWindowCaption;  // "Quorvik V1.00 for Windows"
extern const char* const kMessageCaption; // "ConsoleW", the caption of every message box

class TConsoleForm final : public TConsoleHost {
  public:
    // Does the form's creation (FormCreate) through the view: the controls, the cell metrics,
    // the off-screen image and the natural client size, the caption, the timer. The port is
    // the serial component (MakeCommPort) unless one is given.
    explicit TConsoleForm(TFormView& view, std::unique_ptr<TConsolePort> port = nullptr);
    ~TConsoleForm() override; // FormDestroy: the logs close, then the port
    TConsoleForm(const TConsoleForm&) = delete;
    TConsoleForm& operator=(const TConsoleForm&) = delete;

    // Event handlers, named after their control and event.
    void OpenComClick();
    void CloseComClick();
    void FormClose(); // the window is closing: Disconnect; the view then closes
    void EnableFloppyClick();
    void RscrClick();
    void ButtonDelClick();
    void Timer1Timer();
    void CommRxChar(TObject* Sender, uint32_t Count);
    void CommBreak(TObject* Sender);
    void CommError(TObject* Sender, int Errors);
    void FormActivate();
    void FormPaint() { painter_.FormPaint(); }
    void FormResize() { painter_.FormResize(); }
    // The window's DPI changed (it moved to another screen, or the user's setting changed): the
    // zoom is decided again and the window takes its natural size at it.
    void FormDpiChanged() { painter_.FormDpiChanged(); }
    void ScreenRefresh() { painter_.ScreenRefresh(); }
    // The view's one-shot refresh timer (see TFormView::StartRefreshTimer).
    void RefreshTimer() { painter_.RefreshTimer(); }
    // The view's one-shot paste timer: the next keystrokes of a running paste.
    void PasteTimer() { session_.PasteTimer(); }
    // Types `utf8` into the target as keystrokes (TSessionTools::PasteText).
    void PasteText(const std::string& utf8) { session_.PasteText(utf8); }
    // Types keystrokes already translated (TSessionTools::TypeKeys), paced as a paste.
    bool TypeKeys(const std::string& keys) { return session_.TypeKeys(keys); }
    // The application's key hook: every key message of the main window, before the window
    // system translates or dispatches it.
    void AppMessage(TKeyDirection direction, uint8_t scan_code, uint8_t virtual_key);
    // Key bytes for the target as a key would send them (a front end without key messages):
    // nothing while the target holds the keys; the view returns to the live screen first.
    void SendKey(const std::string& bytes);
    // The mouse, in client pixels: pressed, moved while a button is held, released,
    // and the wheel (steps > 0 away from the user, one per notch). The right button on the
    // console area opens its context menu.
    void MouseDown(TMouseButton button, int x, int y);
    void MouseMove(int x, int y);
    void MouseUp(TMouseButton button, int x, int y);
    void MouseWheel(int steps, int x, int y);
    // A right click on one of the panel's controls, at (x, y) of the client area.
    void ControlContextMenu(TControlId id, int x, int y);
    // What a COM item opens for this run, chosen without the menu (as the COM group's menu
    // chooses it; "" as at start); the items' hints follow.
    void MapComPort(const std::string& com_name, const std::string& target);
    // The image Connect attaches, chosen without the dialog: as if "Floppy..." was ticked and
    // `path` chosen ("" unticks it).
    void ChooseImage(const std::string& path);
    // A folder as the floppy, as "Folder as floppy..." chooses it.
    void ChooseFolder(const std::string& path);

    // TConsoleHost, for the main cycle and the disk exchange.
    void ProcessPendingEvents() override;
    void WaitForEvents() override;
    void ShowStatus(const char* text) override;

    // What the form owns for the life of the program.
    TScreen& Screen() { return screen_; }
    // The rows that left the screen; a text log attaches with THistory::SetRowHook.
    THistory& History() { return history_; }
    // What the console area shows over history and screen, and the mouse's selection.
    const TConsoleArea& Area() const { return area_; }
    TConnection& Connection() { return connection_; }
    TConsolePort& Port() { return connection_.Port(); }
    TLink& Link() { return connection_.Link(); }
    TFloppyService& Floppy() { return connection_.Floppy(); }
    TKeyboard& Keyboard() { return keyboard_; }
    TSessionTools& Session() { return session_; }
    const TConsolePainter& Painter() const { return painter_; }
    uint8_t KeyboardState() const { return keyboard_.State(); }
    bool Connected() const { return connection_.Connected(); }
    // The port went away while connected and is tried again once a second.
    bool WaitingForPort() const { return connection_.PortAway(); }
    bool MainCycleRunning() const { return connection_.MainCycleRunning(); }
    int MainCycleDepth() const { return connection_.MainCycleDepth(); }
    const std::string& OpenDialogFileName() const { return open_dialog_file_name_; }
    // The folder chosen as the floppy; "" when an image file is the choice.
    const std::string& ChosenFolder() const { return folder_; }
    const std::string& StatusText() const { return status_text_; }
    const TPasteQueue& Paste() const { return session_.Paste(); }
    const TPastePacing& PastePacing() const { return session_.PastePacing(); }
    // The text log; the history hands it each row that leaves the screen (TTextLog::Row).
    TTextLog& TextLog() { return session_.TextLog(); }
    const TLineTrace& LineTrace() const { return session_.LineTrace(); }
    bool StretchMode() const { return painter_.StretchMode(); }
    int CellWidth() const { return painter_.CellWidth(); }
    int CellHeight() const { return painter_.CellHeight(); }
    int Zoom() const { return painter_.Zoom(); }
    double PixelRatio() const { return painter_.PixelRatio(); }
    TRect ConsoleArea() const { return painter_.ConsoleArea(); }
    long CellsDrawn() const { return painter_.CellsDrawn(); }
    long ImageCopies() const { return painter_.ImageCopies(); }

  private:
    void FormCreate();
    void SetConnectedState(bool connected);
    void ConsoleContextMenu(int x, int y);
    void RunConsoleCommand(int command);
    void PortContextMenu(int x, int y);
    void FloppyContextMenu(int x, int y);
    void NewBlankImage();
    TFloppySource ChosenFloppy() const;
    void MapSelectedPort(const std::string& target);
    void ShowPortHints();
    std::string SelectedComName() const;
    // Every keystroke for the target, typed or pasted, goes out here: the view returns to the
    // live screen first.
    void SendKeys(const uint8_t* bytes, size_t n);

    TFormView& view_;
    TScreen screen_;
    THistory history_;
    TConsoleArea area_{screen_, history_};
    TKeyboard keyboard_;
    TConnection connection_;
    TConsolePainter painter_{view_, screen_, history_, area_};
    TSessionTools session_;
    int tick_divider_ = 0;
    std::string open_dialog_file_name_;
    std::string folder_;          // the folder chosen as the floppy, or ""
    TNewImageDesc new_image_;     // the new image dialog starts from the last answer
    std::string status_text_;
    TNetworkPortDesc last_network_port_; // the dialog starts from the last answer
};
