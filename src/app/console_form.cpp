#include "console_form.h"

#include "floppy_service.h"
#include "main_cycle.h"
#include "comm_names.h"
#include "port_list.h"
#include "file_write.h"
#include "screen_text.h"
#include "typed_text.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>

const char* const kWindowCaption = "Quorvik V1.00 for Windows";
const char* const kMessageCaption = "ConsoleW";

namespace {

const TFileDialogDesc kOpenDialog{"Floppy Images", "*.img;*.ima", "."};
const TFileDialogDesc kTextLogDialog{"Start text log", "*.log", "."};
const TFileDialogDesc kLineTraceDialog{"Start line trace", "*.txt", "."};

const char* Getenv(const char* name) { return std::getenv(name); }

// The file's name without its directory (either separator).
std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Client units for `device` device pixels, rounded up: the window is never smaller than the
// image it shows.
int ClientUnits(int device, double pixel_ratio) {
    return static_cast<int>(std::ceil(device / pixel_ratio - 1e-9));
}

} // namespace

int ConsoleZoom(double scale, int image_width, int image_height, int panel_height,
                double pixel_ratio, const TRect& room) {
    int zoom = std::max(1, static_cast<int>(std::floor(scale + 0.5)));
    for (; zoom > 1; --zoom) {
        if (ClientUnits(image_width * zoom, pixel_ratio) <= room.width &&
            ClientUnits(image_height * zoom, pixel_ratio) + panel_height <= room.height)
            break;
    }
    return zoom;
}

TConsoleForm::TConsoleForm(TFormView& view)
    : view_(view), comm_(std::make_unique<TComm>(nullptr)), port_(*comm_), link_(port_, *this),
      floppy_(std::make_unique<TFloppyService>(link_, screen_)),
      keyboard_(TKeyboardCallbacks{
          [this](const uint8_t* bytes, size_t n) { SendKeys(bytes, n); },
          [this] { return link_.key_hold; },
          [this](const std::string& text) { view_.SetText(ciLabel1, text); },
      }) {
    FormCreate();
}

TConsoleForm::~TConsoleForm() {
    // FormDestroy: the port component closes the port; the logs write out what they hold.
    comm_.reset();
    link_.SetTap(nullptr);
    text_log_.Stop(screen_);
    line_trace_.Stop();
}

void TConsoleForm::FormCreate() {
    for (const TControlDesc& desc : kPanelControls)
        view_.CreateControl(desc);

    // The port component: 115200 baud, no handshake, 8 KB driver queues, break, error and
    // received-character events; parity, data and stop bits keep their defaults.
    comm_->SetDeviceName("Com2");
    comm_->ReadTimeout = 100;
    comm_->SetReadBufSize(8192);
    comm_->SetWriteBufSize(8192);
    comm_->SetMonitorEvents(TCommEvents{evBreak, evError, evRxChar});
    comm_->SetBaudRate(br115200);
    comm_->SetFlowControl(fcNone);
    comm_->SetMainThreadPoster(&view_.Poster());
    comm_->OnRxChar = [this](TObject* s, uint32_t n) { CommRxChar(s, n); };
    comm_->OnBreak = [this](TObject* s) { CommBreak(s); };
    comm_->OnError = [this](TObject* s, int e) { CommError(s, e); };

    // Screen part: cell metrics from the font, the off-screen image, the natural size.
    const TRect o = view_.MeasureConsoleText("O");
    cell_width_ = o.width;
    cell_height_ = o.height;
    view_.CreateImage(cell_width_, cell_height_);
    Layout();
    screen_.ClearScreen();
    screen_.SetObserver(&history_);
    // Each row that leaves the screen goes to the text log, when one runs.
    history_.SetRowHook([this](const TCell* row) { text_log_.Row(row, kScreenColumns); });

    view_.SetWindowCaption(kWindowCaption);
    ShowPortHints();
    status_text_ = kPanelControls[ciLabel2].caption;
    view_.StartTimer(100);

    std::vector<std::string> complaints;
    paste_pacing_ = ReadPastePacing(Getenv, &complaints);
    for (const std::string& line : complaints) screen_.MsgOut("%s", line.c_str());
}

void TConsoleForm::ShowStatus(const char* text) {
    status_text_ = text;
    view_.SetText(ciLabel2, status_text_);
}

void TConsoleForm::ProcessPendingEvents() { view_.ProcessPendingEvents(); }

// The main cycle waits here once it has applied what arrived and the receive queue is empty:
// the moment to show the new screen, rather than at the next tick of the 100 ms timer.
void TConsoleForm::WaitForEvents() {
    if (screen_.changed) RefreshSoon();
    view_.WaitForEvents();
}

// A change is drawn at once unless the last refresh was less than the refresh interval ago;
// then a one-shot timer draws it when the interval is over. Output that keeps coming within
// the interval doubles it, up to the 100 ms of the timer, which then draws alone, as it did
// before: a flood costs no more redraws than the timer's. Once the output has paused for
// 100 ms the interval is one frame again.
void TConsoleForm::RefreshSoon() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_change_ >= kSlowInterval) refresh_interval_ = kFrameInterval;
    last_change_ = now;
    if (refresh_interval_ >= kSlowInterval) return; // a steady stream: the timer draws it
    const auto since = now - last_refresh_;
    if (since >= refresh_interval_) {
        DrawChanges();
        return;
    }
    if (refresh_pending_) return;
    refresh_pending_ = true;
    const auto rest =
        std::chrono::ceil<std::chrono::milliseconds>(refresh_interval_ - since).count();
    view_.StartRefreshTimer(static_cast<int>(rest));
    refresh_interval_ = std::min(refresh_interval_ * 2, kSlowInterval);
}

void TConsoleForm::SetConnectedState(bool connected) {
    connected_ = connected;
    for (TControlId id : {ciEnaKeyboard, ciEnaVideo, ciEnaFloppy, ciConnect, ciCOMGroup})
        view_.SetEnabled(id, !connected);
    view_.SetEnabled(ciDisconnect, connected);
}

void TConsoleForm::OpenComClick() {
    if (main_cycle_depth_ > 0 && !connected_) {
        // Disconnect enabled Connect at once, but the previous main cycle has not returned
        // yet: start the new connection after it has, never inside it.
        connect_pending_ = true;
        return;
    }
    ShowStatus("Symb = 2");
    std::string failure; // the serial component's own message
    try {
        link_.stop_request = false;
        comm_->SetDeviceName(view_.SelectedItem(ciCOMGroup) == 1 ? "COM2" : "COM1");
        comm_->Open();
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (!failure.empty() || !comm_->Enabled()) {
        // An Open that failed after the device was opened leaves it open; close it, so that
        // the next Connect is not refused as "already assigned".
        try {
            comm_->Close();
        } catch (const std::exception&) {
        }
        // The first line as it always was; then which device, why, and the usual remedy.
        view_.MessageBox("Error Opening COM\n" +
                         (failure.empty() ? comm_->DescribeOpenFailure()
                                          : comm_->PortLine() + "\n" + failure));
        return;
    }
    if (view_.Checked(ciEnaFloppy) && !open_dialog_file_name_.empty()) {
        floppy_->OpenImage(open_dialog_file_name_);
        floppy_->AllocTrackBuffer();
    }
    SetConnectedState(true);
    view_.FocusWindow();
    line_trace_.Note("connected: " + comm_->PortLine());

    ++main_cycle_depth_;
    Maincycle(screen_, link_, *floppy_);
    --main_cycle_depth_;

    if (connect_pending_ && main_cycle_depth_ == 0) {
        connect_pending_ = false;
        if (!connected_) OpenComClick();
    }
}

void TConsoleForm::CloseComClick() {
    const bool was_connected = connected_;
    link_.stop_request = true;
    port_away_ = false;
    link_.port_lost = false;
    try {
        comm_->Close();
    } catch (const std::exception& e) {
        view_.MessageBox("Error Closing COM\n" + comm_->PortLine() + "\n" + e.what());
    }
    floppy_->CloseImage();
    floppy_->FreeTrackBuffer();
    SetConnectedState(false);
    paste_.Stop();
    StopTextLog(nullptr);
    if (was_connected) line_trace_.Note("disconnected");
}

void TConsoleForm::FormClose() {
    CloseComClick();
    connect_pending_ = false;
    StopLineTrace(nullptr);
}

void TConsoleForm::EnableFloppyClick() {
    const std::string title = kWindowCaption;
    if (view_.Checked(ciEnaFloppy)) {
        const std::string name = view_.OpenFileDialog(kOpenDialog);
        if (!name.empty()) {
            open_dialog_file_name_ = name;
            view_.SetChecked(ciEnaFloppy, true);
            view_.SetWindowCaption(title + " ... ImageFile: " + BaseName(name));
        } else {
            view_.SetChecked(ciEnaFloppy, false);
            view_.SetWindowCaption(title);
        }
    } else {
        view_.SetWindowCaption(title);
    }
}

void TConsoleForm::RscrClick() {
    if (link_.key_hold) return;
    const uint8_t refresh = 0x12;
    link_.Write(&refresh, 1);
}

void TConsoleForm::ButtonDelClick() { keyboard_.ButtonDelClick(); }

void TConsoleForm::AppMessage(TKeyDirection direction, uint8_t scan_code, uint8_t virtual_key) {
    keyboard_.AppMessage(direction, scan_code, virtual_key);
}

// Every key byte for the target passes here (typed keys, the reboot button): the view returns
// to the live screen first.
void TConsoleForm::SendKeys(const uint8_t* bytes, size_t n) {
    if (area_.ReturnToLive()) ViewChanged();
    link_.Write(bytes, static_cast<unsigned long>(n));
}

// The cell under a point of the console area (stretched or not), clamped to the area.
bool TConsoleForm::CellAt(int x, int y, int* row, int* column) const {
    const TRect area = ConsoleArea();
    if (area.width <= 0 || area.height <= 0) return false;
    *column = std::clamp((x - area.left) * kScreenColumns / area.width, 0, kScreenColumns - 1);
    *row = std::clamp((y - area.top) * kScreenRows / area.height, 0, kScreenRows - 1);
    return true;
}

void TConsoleForm::MouseDown(TMouseButton button, int x, int y) {
    if (!OnConsole(x, y)) return;
    if (button == mbRight) {
        ConsoleContextMenu(x, y);
        return;
    }
    // X11's convention: the middle button pastes the PRIMARY selection (none elsewhere).
    if (button == mbMiddle) {
        if (connected_ && !paste_.Active()) PasteText(view_.ClipboardText(cbPrimary));
        return;
    }
    int row, column;
    if (button != mbLeft || !CellAt(x, y, &row, &column)) return;
    // A press on the same cell soon after the last one is the next click of a double or
    // triple click; a fourth starts over.
    const auto now = std::chrono::steady_clock::now();
    const bool again = now - click_time_ <= kDoubleClickTime && row == click_row_ &&
                       column == click_column_ && clicks_ < 3;
    clicks_ = again ? clicks_ + 1 : 1;
    click_time_ = now;
    click_row_ = row;
    click_column_ = column;
    const bool had = area_.HasSelection();
    area_.Press(row, column, clicks_);
    selecting_ = true;
    if (had || area_.HasSelection()) ViewChanged();
}

void TConsoleForm::MouseMove(int x, int y) {
    int row, column;
    if (!selecting_ || !CellAt(x, y, &row, &column)) return;
    area_.Drag(row, column);
    if (area_.HasSelection()) ViewChanged();
}

void TConsoleForm::MouseUp(TMouseButton button, int x, int y) {
    if (button != mbLeft || !selecting_) return;
    MouseMove(x, y);
    selecting_ = false;
    // X11's convention: what is selected is offered as PRIMARY at once.
    if (area_.HasSelection()) view_.SetClipboardText(cbPrimary, area_.SelectedText());
}

void TConsoleForm::MouseWheel(int steps, int x, int y) {
    if (!OnConsole(x, y)) return;
    if (area_.ScrollBy(steps * TConsoleArea::kWheelRows)) ViewChanged();
}

void TConsoleForm::ControlContextMenu(TControlId id, int x, int y) {
    if (id == ciCOMGroup) PortContextMenu(x, y);
}

std::string TConsoleForm::SelectedComName() const {
    return view_.SelectedItem(ciCOMGroup) == 1 ? "COM2" : "COM1";
}

// What the selected COM item opens, for this run: a serial port of this machine, a console
// server over the network, or back to what it opened at start (QUORVIK_COMn, else the
// platform's port of that name). While connected the port stays as it is.
void TConsoleForm::PortContextMenu(int x, int y) {
    if (connected_) return;
    const std::string com = SelectedComName();
    const std::vector<TSerialPortInfo> ports = ListSerialPorts();
    std::vector<TMenuEntry> entries;
    entries.push_back({-1, comm_->PortLine(com), false});
    entries.push_back({});
    for (size_t i = 0; i < ports.size(); ++i) {
        const TSerialPortInfo& p = ports[i];
        entries.push_back({pcFirstPort + static_cast<int>(i),
                           p.description.empty() ? p.target : p.target + "  " + p.description,
                           true});
    }
    if (ports.empty()) entries.push_back({-1, "No serial ports found", false});
    entries.push_back({});
    entries.push_back({pcNetwork, "Network port...", true});
    entries.push_back({pcAsAtStart, "As at start", !comm_->MappedPort(com).empty()});
    const int command = view_.PopupMenu(entries, x, y);
    if (command >= pcFirstPort && command - pcFirstPort < static_cast<int>(ports.size())) {
        MapSelectedPort(ports[static_cast<size_t>(command - pcFirstPort)].target);
    } else if (command == pcNetwork) {
        TNetworkPortDesc port = last_network_port_;
        if (!view_.NetworkPortDialog(port)) return;
        TNetworkTarget target{port.rfc2217, port.host, std::to_string(port.port)};
        std::string error;
        const std::string text = NetworkTargetText(target);
        if (!ParseNetworkTarget(text, &target, &error)) {
            view_.MessageBox("Error Opening COM\n" + error);
            return;
        }
        last_network_port_ = port;
        MapSelectedPort(text);
    } else if (command == pcAsAtStart) {
        MapSelectedPort("");
    }
}

void TConsoleForm::MapSelectedPort(const std::string& target) {
    comm_->MapPort(SelectedComName(), target);
    ShowPortHints();
}

// Each COM item's hint says what it opens.
void TConsoleForm::ShowPortHints() {
    view_.SetItemHint(ciCOMGroup, 0, comm_->PortLine("COM1"));
    view_.SetItemHint(ciCOMGroup, 1, comm_->PortLine("COM2"));
}

// The console area shows something else than the screen's changes: draw it now. While the view
// is scrolled back the cursor bar, which belongs to the live screen, is hidden.
void TConsoleForm::ViewChanged() {
    screen_.changed = true;
    // Inside a refresh's processing of events the outer refresh would go on with the old
    // cells: leave the drawing to the next refresh then.
    if (refreshing_ == 0) DrawChanges();
    view_.SetVisible(ciMarker, !area_.ScrolledBack() && screen_.cursor_bar_visible);
}

bool TConsoleForm::OnConsole(int x, int y) const {
    const TRect area = ConsoleArea();
    return x >= area.left && x < area.left + area.width && y >= area.top &&
           y < area.top + area.height;
}

void TConsoleForm::ConsoleContextMenu(int x, int y) {
    selecting_ = false;
    TConsoleMenuState state;
    state.has_selection = area_.HasSelection();
    state.has_text = area_.HasText();
    state.connected = connected_;
    state.pasting = paste_.Active();
    state.text_log = text_log_.Running();
    state.line_trace = line_trace_.Running();
    RunConsoleCommand(view_.PopupMenu(ConsoleMenuEntries(state), x, y));
}

namespace {
const TFileDialogDesc kSaveText{"Save screen as text", "*.txt", "."};
const TFileDialogDesc kSaveAnsi{"Save screen as ANSI", "*.ans", "."};
const TFileDialogDesc kSavePng{"Save screen as PNG", "*.png", "."};
} // namespace

void TConsoleForm::RunConsoleCommand(int command) {
    switch (command) {
    case ccCopy:
        view_.SetClipboardText(cbClipboard, area_.HasSelection() ? area_.SelectedText()
                                                                 : ScreenText(screen_));
        break;
    case ccSelectAll:
        area_.SelectAll();
        ViewChanged();
        if (area_.HasSelection()) view_.SetClipboardText(cbPrimary, area_.SelectedText());
        break;
    case ccSaveText: SaveScreen(kSaveText, command); break;
    case ccSaveAnsi: SaveScreen(kSaveAnsi, command); break;
    case ccSavePng: SaveScreen(kSavePng, command); break;
    case ccPaste: PasteText(view_.ClipboardText(cbClipboard)); break;
    case ccStartTextLog: StartTextLog(); break;
    case ccStopTextLog: StopTextLog(nullptr); break;
    case ccStartLineTrace: StartLineTrace(); break;
    case ccStopLineTrace: StopLineTrace(nullptr); break;
    case ccStopPaste: paste_.Stop(); break;
    default: break; // dismissed
    }
}

// The live screen as it is when the menu closed, whatever the view shows.
void TConsoleForm::SaveScreen(const TFileDialogDesc& desc, int command) {
    const TScreen screen = screen_; // the target may write on while the dialog is open
    const std::string path = view_.SaveFileDialog(desc);
    if (path.empty()) return;
    std::string error;
    if (command == ccSavePng) {
        // The image shows the screen without selection or history while it is written; the
        // cursor bar is a control of its own and never in it.
        const std::array<TCell, kScreenCells> shown = drawn_;
        for (int i = 0; i < kScreenCells; ++i) {
            if (drawn_[i] == screen.Cells()[i]) continue;
            drawn_[i] = screen.Cells()[i];
            view_.DrawCell(i / kScreenColumns, i % kScreenColumns, drawn_[i]);
        }
        error = view_.SaveImagePng(path);
        for (int i = 0; i < kScreenCells; ++i) {
            if (drawn_[i] == shown[i]) continue;
            drawn_[i] = shown[i];
            view_.DrawCell(i / kScreenColumns, i % kScreenColumns, drawn_[i]);
        }
    } else {
        error = WriteFileBytes(path, command == ccSaveText ? ScreenText(screen) : ScreenAnsi(screen));
    }
    if (!error.empty()) view_.MessageBox("Cannot write " + path + "\n" + error);
}

void TConsoleForm::PasteText(const std::string& utf8) {
    if (!connected_ || paste_.Active() || utf8.empty()) return;
    TTypedText typed = TypeText(utf8, kPasteLimit);
    if (typed.too_long) {
        view_.MessageBox("The text is too long to paste: a paste is limited to 64 KiB (" +
                         std::to_string(kPasteLimit) + " characters).");
        return;
    }
    if (typed.skipped > 0)
        screen_.MsgOut("Paste: %d character%s left out: no key types %s.", typed.skipped,
                       typed.skipped == 1 ? "" : "s", typed.skipped == 1 ? "it" : "them");
    if (typed.bytes.empty()) return;
    paste_.Start(std::move(typed.bytes), paste_pacing_, std::chrono::steady_clock::now());
    PasteTimer(); // the first keystroke goes at once
}

void TConsoleForm::PasteTimer() {
    const TPasteQueue::TStep step =
        paste_.Step(std::chrono::steady_clock::now(), link_.key_hold);
    for (const char key : step.keys) {
        const uint8_t byte = static_cast<uint8_t>(key);
        SendKeys(&byte, 1);
    }
    if (step.next_ms >= 0) view_.StartPasteTimer(step.next_ms);
}

void TConsoleForm::StartTextLog() {
    const std::string path = view_.SaveFileDialog(kTextLogDialog);
    if (path.empty()) return;
    if (!text_log_.Start(path))
        screen_.MsgOut("Text log not started: cannot write %s: %s", path.c_str(),
                       text_log_.Error().c_str());
}

// Ends the text log with the screen; `why` (or a failed last write) is told on the console.
void TConsoleForm::StopTextLog(const char* why) {
    if (!text_log_.Running() && !text_log_.Failed()) return;
    const std::string path = text_log_.Path();
    const bool written = text_log_.Stop(screen_);
    if (!written || text_log_.Failed())
        screen_.MsgOut("Text log stopped: cannot write %s: %s", path.c_str(),
                       text_log_.Error().c_str());
    else if (why != nullptr)
        screen_.MsgOut("Text log stopped: %s %s", path.c_str(), why);
}

void TConsoleForm::StartLineTrace() {
    const std::string path = view_.SaveFileDialog(kLineTraceDialog);
    if (path.empty()) return;
    if (!line_trace_.Start(path, LocalTimestamp(std::time(nullptr)))) {
        screen_.MsgOut("Line trace not started: cannot write %s: %s", path.c_str(),
                       line_trace_.Error().c_str());
        return;
    }
    if (connected_) line_trace_.Note("connected: " + comm_->PortLine());
    link_.SetTap(&line_trace_);
}

void TConsoleForm::StopLineTrace(const char* why) {
    link_.SetTap(nullptr);
    if (!line_trace_.Running() && !line_trace_.Failed() && !line_trace_.LimitReached()) return;
    const std::string path = line_trace_.Path();
    const bool written = line_trace_.Stop();
    if (!written || line_trace_.Failed())
        screen_.MsgOut("Line trace stopped: cannot write %s: %s", path.c_str(),
                       line_trace_.Error().c_str());
    else if (why != nullptr)
        screen_.MsgOut("Line trace stopped: %s %s", path.c_str(), why);
}

void TConsoleForm::ServiceLogs(bool write_out) {
    if (text_log_.Failed() || (write_out && text_log_.Running() && !text_log_.Flush()))
        StopTextLog(nullptr);
    if (line_trace_.LimitReached())
        StopLineTrace("reached 256 MiB.");
    else if (line_trace_.Failed() || (write_out && line_trace_.Running() && !line_trace_.Flush()))
        StopLineTrace(nullptr);
}

void TConsoleForm::Timer1Timer() {
    link_.CountDownTimeout();
    ScreenRefresh();
    tick_divider_ = (tick_divider_ + 1) % 10;
    if (tick_divider_ == 0) {
        ShowStatus(std::to_string(link_.ReceivedCount()).c_str());
        view_.SetVisible(ciButtonDel, keyboard_.RebootButtonWanted());
    }
    if (port_away_ && --reopen_countdown_ <= 0) TryReopen();
    ServiceLogs(tick_divider_ == 0);
}

// The port of the connection is gone (a USB adapter pulled, the target's power cycled its
// bridge, the console server closed the connection). The connection stays: the image stays
// attached, a disk exchange under way is abandoned (the target repeats its request), and the
// port is opened again once a second from the timer, costing nothing in between.
void TConsoleForm::PortWentAway() {
    port_away_ = true;
    link_.port_lost = true;
    reopen_countdown_ = kReopenTicks;
    screen_.MsgOut("%s (%s) went away; waiting for it to come back", comm_->DeviceName().c_str(),
                   comm_->DevicePath().c_str());
    try {
        comm_->Close();
    } catch (const std::exception&) {
        // The device is gone; the next Open starts afresh all the same.
    }
}

void TConsoleForm::TryReopen() {
    reopen_countdown_ = kReopenTicks;
    const int connect_ms = comm_->ConnectTimeoutMs;
    comm_->ConnectTimeoutMs = std::min(connect_ms, kReopenConnectMs);
    bool opened = false;
    try {
        comm_->Open(); // the settings are applied again
        opened = comm_->Enabled();
    } catch (const std::exception&) {
    }
    comm_->ConnectTimeoutMs = connect_ms;
    if (!opened) {
        try {
            comm_->Close();
        } catch (const std::exception&) {
        }
        return;
    }
    port_away_ = false;
    link_.port_lost = false;
    screen_.MsgOut("%s is back", comm_->DeviceName().c_str());
    RscrClick(); // the target redraws its screen, unless the key hold is on
}

void TConsoleForm::CommRxChar(TObject*, uint32_t Count) { link_.CommRxChar(Count); }
void TConsoleForm::CommBreak(TObject*) { ShowStatus("Break"); }
void TConsoleForm::CommError(TObject*, int Errors) {
    ShowStatus("Error");
    if ((Errors & kCeMode) && connected_ && !port_away_) PortWentAway();
}

void TConsoleForm::FormActivate() {
    screen_.changed = true;
    keyboard_.FormActivate(view_.ReadLockState());
}

// The natural size at the zoom the DPI asks for: the client area, the cursor bar. The window is
// as wide as the console, or as the panel's controls where they need more (a DPI scale on a
// screen too small for the console's zoom to follow it).
void TConsoleForm::Layout() {
    saved_panel_height_ = view_.PanelHeight();
    pixel_ratio_ = view_.PixelRatio() > 0 ? view_.PixelRatio() : 1.0;
    zoom_ = ConsoleZoom(view_.DpiScale(), kScreenColumns * cell_width_, kScreenRows * cell_height_,
                        saved_panel_height_, pixel_ratio_, view_.WorkArea());
    int controls = 0; // the panel's extent at 96 DPI, the status label's room besides
    for (const TControlDesc& desc : kPanelControls) {
        if (desc.kind != ckBar && !desc.align_right)
            controls = std::max(controls, desc.left + desc.width);
    }
    constexpr int kStatusRoom = 40;
    panel_width_ = static_cast<int>(
        std::ceil((controls + kStatusRoom) * view_.DpiScale() / pixel_ratio_ - 1e-9));
    const TRect console = NaturalConsole();
    view_.SetClientSize(std::max(console.width, panel_width_), console.top + console.height);
    bar_ = TRect{0, 0, console.width / kScreenColumns, BarHeight()};
    view_.PlaceControl(ciMarker, bar_);
}

TRect TConsoleForm::NaturalConsole() const {
    return TRect{0, saved_panel_height_,
                 ClientUnits(kScreenColumns * cell_width_ * zoom_, pixel_ratio_),
                 ClientUnits(kScreenRows * cell_height_ * zoom_, pixel_ratio_)};
}

int TConsoleForm::BarHeight() const {
    return std::max(1, static_cast<int>(std::lround(2 * zoom_ / pixel_ratio_)));
}

TRect TConsoleForm::ConsoleArea() const {
    const int panel = view_.PanelHeight();
    if (stretch_mode_)
        return TRect{0, panel, view_.ClientWidth(), view_.ClientHeight() - panel};
    return NaturalConsole();
}

void TConsoleForm::FormDpiChanged() {
    Layout();
    FormResize();
}

// Draws every cell that differs from what was last drawn. The window system runs after each
// row when asked, so a full redraw never holds up input.
void TConsoleForm::RefreshCells(bool process_events) {
    screen_.changed = false;
    history_.Check(screen_); // rows the target's redraw moved up have left
    // The live screen is drawn from the screen itself; a view scrolled back or a selection from
    // what the area composes.
    const bool plain = area_.Plain();
    if (!plain) area_.Compose(composed_);
    const std::array<TCell, kScreenCells>& cells = plain ? screen_.Cells() : composed_;
    ++refreshing_;
    for (int row = 0; row < kScreenRows; ++row) {
        for (int column = 0; column < kScreenColumns; ++column) {
            const int i = row * kScreenColumns + column;
            const TCell cell = cells[i];
            if (cell == drawn_[i]) continue;
            drawn_[i] = cell;
            view_.DrawCell(row, column, cell);
            ++cells_drawn_;
        }
        if (process_events) view_.ProcessPendingEvents();
    }
    --refreshing_;
}

void TConsoleForm::CopyImage() {
    view_.CopyImage(ConsoleArea(), stretch_mode_);
    ++image_copies_;
}

void TConsoleForm::ScreenRefresh() {
    if (screen_.changed) {
        last_refresh_ = std::chrono::steady_clock::now();
        RefreshCells(true);
        CopyImage();
        return;
    }
    BlinkStep();
}

void TConsoleForm::RefreshTimer() {
    refresh_pending_ = false;
    // Only a change is drawn here; the cursor bar keeps the 100 ms timer's rhythm.
    if (screen_.changed) DrawChanges();
}

// The refresh between bursts: the window system has just run and will run again at once, so
// the rows are drawn in one go (a full redraw takes well under a millisecond).
void TConsoleForm::DrawChanges() {
    last_refresh_ = std::chrono::steady_clock::now();
    RefreshCells(false);
    CopyImage();
}

void TConsoleForm::BlinkStep() {
    if (--blink_countdown_ != 0) return;
    blink_countdown_ = 4;
    if (area_.ScrolledBack()) return; // the bar stays hidden until the view is live again
    const int column = screen_.CursorColumn();
    const int row = screen_.CursorRow();
    if (column == bar_column_ && row == bar_row_) {
        screen_.cursor_bar_visible = !screen_.cursor_bar_visible;
        view_.SetVisible(ciMarker, screen_.cursor_bar_visible);
        return;
    }
    bar_column_ = column;
    bar_row_ = row;
    const int panel = view_.PanelHeight();
    if (!stretch_mode_) {
        // The bottom two pixel rows of the cell, at the zoom.
        const double unit = zoom_ / pixel_ratio_;
        bar_.left = static_cast<int>(column * cell_width_ * unit);
        bar_.top = static_cast<int>(((row + 1) * cell_height_ - 2) * unit) + panel;
    } else {
        const float x_scale = static_cast<float>(view_.ClientWidth()) /
                              static_cast<float>(kScreenColumns * cell_width_);
        const float y_scale = static_cast<float>(view_.ClientHeight() - panel) /
                              static_cast<float>(kScreenRows * cell_height_);
        bar_.left = static_cast<int>(static_cast<float>(column * cell_width_) * x_scale);
        bar_.top = static_cast<int>(static_cast<float>((row + 1) * cell_height_ - 2) * y_scale +
                                   static_cast<float>(panel));
    }
    view_.PlaceControl(ciMarker, bar_);
}

void TConsoleForm::FormPaint() {
    // Cells that did not change are not drawn again, but the whole image is copied.
    screen_.changed = true;
    RefreshCells(false);
    CopyImage();
}

void TConsoleForm::FormResize() {
    const int width = view_.ClientWidth();
    const int height = view_.ClientHeight();
    const TRect natural = NaturalConsole();
    bar_.height = BarHeight();
    if (width == std::max(natural.width, panel_width_) &&
        height == natural.top + natural.height) {
        bar_.width = natural.width / kScreenColumns;
        stretch_mode_ = false;
    } else {
        const float x_scale =
            static_cast<float>(width) / static_cast<float>(kScreenColumns * cell_width_);
        bar_.width = static_cast<int>(static_cast<float>(cell_width_) * x_scale);
        stretch_mode_ = true;
    }
    view_.PlaceControl(ciMarker, bar_);
    bar_column_ = -1;
    drawn_.fill(TCell{0, 0});
    screen_.changed = true;
}
