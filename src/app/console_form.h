// The main window's logic, free of any window system: the control panel and its idle and
// connected states, Connect and Disconnect, the 100 ms timer, the floppy check box, the key
// hook's translation, and the console area's cell-by-cell refresh with its cursor bar. A view
// (TFormView: the Qt window, the Win32 window, or a test's fake) creates the controls, draws
// and forwards every event to the handler of the same name here.
//
// One instance per program, owned by the view; window thread only. While connected,
// OpenComClick does not return: it runs the main cycle, and the timer, the buttons, the keys,
// the port's events and the closing of the window all run nested inside the main cycle's
// processing of events. Nothing is locked.
#pragma once

#include "comm.h"
#include "comm_port.h"
#include "console_area.h"
#include "console_menu.h"
#include "form_view.h"
#include "history.h"
#include "keyboard.h"
#include "line_trace.h"
#include "link.h"
#include "paste_queue.h"
#include "screen.h"
#include "text_log.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

class TFloppyService;

// The commands of the COM group's context menu: a serial port of the list (pcFirstPort + its
// place in the list), a network port, or what the item opened at start.
enum TPortCommand : int {
    pcNetwork = 1,
    pcAsAtStart = 2,
    pcFirstPort = 100,
};

extern const char* const kWindowCaption; // "Quorvik V1.00 for Windows"

// The console's zoom: the whole number nearest to the system's DPI `scale` (at least 1, a
// half rounded up), lowered while the client area at that zoom (the image of `image_width` x
// `image_height` device pixels times zoom, in client units of `pixel_ratio` device pixels,
// below a panel of `panel_height` client units) would not fit `room` (TFormView::WorkArea).
// The glyphs stay crisp at any DPI: each pixel of the natural cell becomes zoom x zoom.
int ConsoleZoom(double scale, int image_width, int image_height, int panel_height,
                double pixel_ratio, const TRect& room);
extern const char* const kMessageCaption; // "ConsoleW", the caption of every message box

class TConsoleForm final : public TConsoleHost {
  public:
    // Does the form's creation (FormCreate) through the view: the controls, the cell metrics,
    // the off-screen image and the natural client size, the caption, the timer.
    explicit TConsoleForm(TFormView& view);
    ~TConsoleForm() override; // FormDestroy: closes the port
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
    void FormPaint();
    void FormResize();
    // The window's DPI changed (it moved to another screen, or the user's setting changed): the
    // zoom is decided again and the window takes its natural size at it.
    void FormDpiChanged();
    void ScreenRefresh();
    // The view's one-shot refresh timer (see TFormView::StartRefreshTimer).
    void RefreshTimer();
    // The view's one-shot paste timer: the next keystrokes of a running paste.
    void PasteTimer();
    // Types `utf8` into the target as keystrokes, paced (paste_queue.h), while connected and
    // no other paste runs. A text of more than 64 KiB of keystrokes is refused with a message
    // box; characters no key types are left out, and one console line says how many.
    void PasteText(const std::string& utf8);
    // The application's key hook: every key message of the main window, before the window
    // system translates or dispatches it.
    void AppMessage(TKeyDirection direction, uint8_t scan_code, uint8_t virtual_key);
    // The mouse, in client pixels: pressed, moved while a button is held, released,
    // and the wheel (steps > 0 away from the user, one per notch). The right button on the
    // console area opens its context menu.
    void MouseDown(TMouseButton button, int x, int y);
    void MouseMove(int x, int y);
    void MouseUp(TMouseButton button, int x, int y);
    void MouseWheel(int steps, int x, int y);
    // A right click on one of the panel's controls, at (x, y) of the client area.
    void ControlContextMenu(TControlId id, int x, int y);

    // TConsoleHost, for the main cycle and the disk exchange.
    void ProcessPendingEvents() override;
    void WaitForEvents() override;
    void ShowStatus(const char* text) override;

    // The core the form owns for the life of the program.
    TComm& Comm() { return *comm_; }
    TScreen& Screen() { return screen_; }
    // The rows that left the screen; a text log attaches with THistory::SetRowHook.
    THistory& History() { return history_; }
    // What the console area shows over history and screen, and the mouse's selection.
    const TConsoleArea& Area() const { return area_; }
    TLink& Link() { return link_; }
    TFloppyService& Floppy() { return *floppy_; }
    TKeyboard& Keyboard() { return keyboard_; }
    uint8_t KeyboardState() const { return keyboard_.State(); }
    bool Connected() const { return connected_; }
    // The port went away while connected and is tried again once a second.
    bool WaitingForPort() const { return port_away_; }
    bool MainCycleRunning() const { return main_cycle_depth_ > 0; }
    int MainCycleDepth() const { return main_cycle_depth_; }
    const std::string& OpenDialogFileName() const { return open_dialog_file_name_; }
    const std::string& StatusText() const { return status_text_; }
    const TPasteQueue& Paste() const { return paste_; }
    const TPastePacing& PastePacing() const { return paste_pacing_; }
    // The text log; the history hands it each row that leaves the screen (TTextLog::Row).
    TTextLog& TextLog() { return text_log_; }
    const TLineTrace& LineTrace() const { return line_trace_; }
    bool StretchMode() const { return stretch_mode_; }
    // The natural cell of the console font, in device pixels (the off-screen image's cell).
    int CellWidth() const { return cell_width_; }
    int CellHeight() const { return cell_height_; }
    // The console's whole-number zoom (ConsoleZoom) and the device pixels in one client unit.
    int Zoom() const { return zoom_; }
    double PixelRatio() const { return pixel_ratio_; }
    // Where the console is shown in the client area: below the panel, at the zoom, or
    // stretched over the rest of the client area.
    TRect ConsoleArea() const;
    // Cells drawn into the off-screen image since start (for tests and measurements).
    long CellsDrawn() const { return cells_drawn_; }
    // Copies of the image into the window since start.
    long ImageCopies() const { return image_copies_; }

  private:
    void FormCreate();
    void SetConnectedState(bool connected);
    void RefreshCells(bool process_events);
    void CopyImage();
    void BlinkStep();
    bool OnConsole(int x, int y) const;
    void ConsoleContextMenu(int x, int y);
    void RunConsoleCommand(int command);
    void Layout();
    TRect NaturalConsole() const; // the console area at the zoom, unstretched
    int BarHeight() const;        // the cursor bar's 2 pixels of a natural cell, zoomed
    void PortContextMenu(int x, int y);
    void MapSelectedPort(const std::string& target);
    void ShowPortHints();
    std::string SelectedComName() const;
    void SaveScreen(const TFileDialogDesc& desc, int command);
    void ViewChanged();
    // Every keystroke for the target, typed or pasted, goes out here: the view returns to the
    // live screen first.
    void SendKeys(const uint8_t* bytes, size_t n);
    bool CellAt(int x, int y, int* row, int* column) const;
    void StartTextLog();
    void StopTextLog(const char* why);
    void StartLineTrace();
    void StopLineTrace(const char* why);
    // The logs' share of the timer: a failure or a full trace is reported at the next tick,
    // and what they hold is written out once a second.
    void ServiceLogs(bool write_out);
    void RefreshSoon();
    void DrawChanges();
    void PortWentAway();
    void TryReopen();

    TFormView& view_;
    std::unique_ptr<TComm> comm_;
    TCommPort port_;
    TScreen screen_;
    THistory history_;
    TConsoleArea area_{screen_, history_};
    std::array<TCell, kScreenCells> composed_{};
    TLink link_;
    std::unique_ptr<TFloppyService> floppy_;
    TKeyboard keyboard_;
    TPasteQueue paste_;
    TPastePacing paste_pacing_;
    TTextLog text_log_;
    TLineTrace line_trace_;

    std::array<TCell, kScreenCells> drawn_{};
    int cell_width_ = 0;
    int cell_height_ = 0;
    int saved_panel_height_ = 0;
    int zoom_ = 1;
    double pixel_ratio_ = 1.0;
    int panel_width_ = 0; // the width the panel's controls need, in client units
    bool stretch_mode_ = false;
    TRect bar_;                // the cursor bar's place and size
    int bar_column_ = -1;
    int bar_row_ = 0;
    int blink_countdown_ = 5;
    int tick_divider_ = 0;
    long cells_drawn_ = 0;
    long image_copies_ = 0;
    // Screen changes are shown when the main cycle runs dry, at most once a refresh interval:
    // a frame, growing up to the timer's 100 ms while output keeps coming.
    static constexpr std::chrono::milliseconds kFrameInterval{16};
    static constexpr std::chrono::milliseconds kSlowInterval{100};
    std::chrono::milliseconds refresh_interval_ = kFrameInterval;
    std::chrono::steady_clock::time_point last_refresh_{};
    std::chrono::steady_clock::time_point last_change_{}; // the main cycle last ran dry with one
    bool refresh_pending_ = false;

    // The left button: held, and the place and time of the last press (for double and triple
    // clicks).
    bool selecting_ = false;
    int clicks_ = 0;
    int click_row_ = -1, click_column_ = -1;
    std::chrono::steady_clock::time_point click_time_{};
    static constexpr std::chrono::milliseconds kDoubleClickTime{500};
    int refreshing_ = 0; // RefreshCells runs (it may nest through the events it processes)

    std::string open_dialog_file_name_;
    std::string status_text_;
    bool connected_ = false;
    bool port_away_ = false;
    TNetworkPortDesc last_network_port_; // the dialog starts from the last answer
    int reopen_countdown_ = 0; // ticks until the next try
    static constexpr int kReopenTicks = 10;
    // A try to reopen a network port waits no longer than this for the server.
    static constexpr int kReopenConnectMs = 500;
    int main_cycle_depth_ = 0;
    bool connect_pending_ = false;
};
