#include "session_tools.h"

#include "file_write.h"
#include "screen_text.h"
#include "typed_text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>

namespace {

const TFileDialogDesc kTextLogDialog{"Start text log", "*.log", "."};
const TFileDialogDesc kLineTraceDialog{"Start line trace", "*.txt", "."};
const TFileDialogDesc kSaveDialogs[] = {
    {"Save screen as text", "*.txt", "."},
    {"Save screen as ANSI", "*.ans", "."},
    {"Save screen as PNG", "*.png", "."},
};

const char* Getenv(const char* name) { return std::getenv(name); }

} // namespace

TScreenFormat ScreenFormatForName(const std::string& path) {
    std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : path;
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".ans" ? sfAnsi : sfText;
}

TSessionTools::TSessionTools(TFormView& view, TScreen& screen, THistory& history,
                             TConsoleArea& area, TConnection& connection, TSendKeys send_keys,
                             TSavePng save_png)
    : view_(view), screen_(screen), area_(area), connection_(connection),
      send_keys_(std::move(send_keys)), save_png_(std::move(save_png)) {
    history.SetRowHook([this](const TCell* row) { text_log_.Row(row, kScreenColumns); });
    std::vector<std::string> complaints;
    paste_pacing_ = ReadPastePacing(Getenv, &complaints);
    for (const std::string& line : complaints) screen_.MsgOut("%s", line.c_str());
}

TSessionTools::~TSessionTools() {
    connection_.Link().SetTap(nullptr);
    text_log_.Stop(screen_);
    line_trace_.Stop();
}

bool TSessionTools::Press(int row, int column) {
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
    return had || area_.HasSelection();
}

bool TSessionTools::Drag(int row, int column) {
    if (!selecting_) return false;
    area_.Drag(row, column);
    return area_.HasSelection();
}

void TSessionTools::Release() {
    selecting_ = false;
    // X11's convention: what is selected is offered as PRIMARY at once.
    if (area_.HasSelection()) view_.SetClipboardText(cbPrimary, area_.SelectedText());
}

TConsoleMenuState TSessionTools::MenuState() const {
    TConsoleMenuState state;
    state.has_selection = area_.HasSelection();
    state.has_text = area_.HasText();
    state.connected = connection_.Connected();
    state.pasting = paste_.Active();
    state.text_log = text_log_.Running();
    state.line_trace = line_trace_.Running();
    return state;
}

void TSessionTools::Copy() {
    view_.SetClipboardText(cbClipboard,
                           area_.HasSelection() ? area_.SelectedText() : ScreenText(screen_));
}

void TSessionTools::SelectAll() {
    area_.SelectAll();
    if (area_.HasSelection()) view_.SetClipboardText(cbPrimary, area_.SelectedText());
}

// The live screen as it is when the menu closed, whatever the view shows.
void TSessionTools::SaveScreen(TScreenFormat format) {
    const TScreen screen = screen_; // the target may write on while the dialog is open
    const std::string path = view_.SaveFileDialog(kSaveDialogs[format]);
    if (path.empty()) return;
    const std::string error =
        format == sfPng ? save_png_(screen, path)
                        : WriteFileBytes(path, format == sfText ? ScreenText(screen)
                                                                : ScreenAnsi(screen));
    if (!error.empty()) view_.MessageBox("Cannot write " + path + "\n" + error);
}

std::string TSessionTools::SaveScreenTo(const std::string& path, TScreenFormat format) {
    if (format == sfPng) return save_png_(screen_, path);
    return WriteFileBytes(path, format == sfAnsi ? ScreenAnsi(screen_) : ScreenText(screen_));
}

void TSessionTools::PasteText(const std::string& utf8) {
    if (!connection_.Connected() || paste_.Active() || utf8.empty()) return;
    TTypedText typed = TypeText(utf8, kPasteLimit);
    if (typed.too_long) {
        view_.MessageBox("The text is too long to paste: a paste is limited to 64 KiB (" +
                         std::to_string(kPasteLimit) + " characters).");
        return;
    }
    if (typed.skipped > 0)
        screen_.MsgOut("Paste: %d character%s left out: no key types %s.", typed.skipped,
                       typed.skipped == 1 ? "" : "s", typed.skipped == 1 ? "it" : "them");
    TypeKeys(std::move(typed.bytes));
}

bool TSessionTools::TypeKeys(std::string keys) {
    if (!connection_.Connected() || paste_.Active() || keys.empty()) return false;
    paste_.Start(std::move(keys), paste_pacing_, std::chrono::steady_clock::now());
    PasteTimer(); // the first keystroke goes at once
    return true;
}

// A paste waits for the key hold, and for a port that went away: a key written to a port that
// is not there would be lost.
void TSessionTools::PasteTimer() {
    const TLink& link = connection_.Link();
    const TPasteQueue::TStep step =
        paste_.Step(std::chrono::steady_clock::now(), link.key_hold || link.port_lost);
    for (const char key : step.keys) {
        const uint8_t byte = static_cast<uint8_t>(key);
        send_keys_(&byte, 1);
    }
    if (step.next_ms >= 0) view_.StartPasteTimer(step.next_ms);
}

void TSessionTools::AskStartTextLog() {
    const std::string path = view_.SaveFileDialog(kTextLogDialog);
    if (!path.empty()) StartTextLog(path);
}

bool TSessionTools::StartTextLog(const std::string& path) {
    if (text_log_.Start(path)) return true;
    screen_.MsgOut("Text log not started: cannot write %s: %s", path.c_str(),
                   text_log_.Error().c_str());
    return false;
}

// Ends the text log with the screen.
void TSessionTools::StopTextLog(const char* why) {
    if (!text_log_.Running() && !text_log_.Failed()) return;
    const std::string path = text_log_.Path();
    const bool written = text_log_.Stop(screen_);
    if (!written || text_log_.Failed())
        screen_.MsgOut("Text log stopped: cannot write %s: %s", path.c_str(),
                       text_log_.Error().c_str());
    else if (why != nullptr)
        screen_.MsgOut("Text log stopped: %s %s", path.c_str(), why);
}

void TSessionTools::AskStartLineTrace() {
    const std::string path = view_.SaveFileDialog(kLineTraceDialog);
    if (!path.empty()) StartLineTrace(path);
}

bool TSessionTools::StartLineTrace(const std::string& path) {
    if (!line_trace_.Start(path, LocalTimestamp(std::time(nullptr)))) {
        screen_.MsgOut("Line trace not started: cannot write %s: %s", path.c_str(),
                       line_trace_.Error().c_str());
        return false;
    }
    if (connection_.Connected()) Connected();
    connection_.Link().SetTap(&line_trace_);
    return true;
}

void TSessionTools::StopLineTrace(const char* why) {
    connection_.Link().SetTap(nullptr);
    if (!line_trace_.Running() && !line_trace_.Failed() && !line_trace_.LimitReached()) return;
    const std::string path = line_trace_.Path();
    const bool written = line_trace_.Stop();
    if (!written || line_trace_.Failed())
        screen_.MsgOut("Line trace stopped: cannot write %s: %s", path.c_str(),
                       line_trace_.Error().c_str());
    else if (why != nullptr)
        screen_.MsgOut("Line trace stopped: %s %s", path.c_str(), why);
}

void TSessionTools::Connected() {
    if (line_trace_.Running()) line_trace_.Note("connected: " + connection_.Port().PortLine());
}

void TSessionTools::Disconnected(bool was_connected) {
    paste_.Stop();
    StopTextLog(nullptr);
    if (was_connected && line_trace_.Running()) line_trace_.Note("disconnected");
}

void TSessionTools::Tick(bool write_out) {
    if (text_log_.Failed() || (write_out && text_log_.Running() && !text_log_.Flush()))
        StopTextLog(nullptr);
    if (line_trace_.LimitReached())
        StopLineTrace("reached 256 MiB.");
    else if (line_trace_.Failed() || (write_out && line_trace_.Running() && !line_trace_.Flush()))
        StopLineTrace(nullptr);
}
