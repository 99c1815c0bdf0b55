#include "term_app.h"

#include "fat_format.h"
#include "floppy_service.h"
#include "screen_text.h"
#include "session_tools.h"

#include <cstdio>
#include <filesystem>

namespace {

// The image's name, as the form's caption carries it (" ... ImageFile: NAME"), or a folder's
// with a slash (" ... Folder: NAME").
std::string ImageName(const std::string& caption) {
    for (const std::string key : {" ... ImageFile: ", " ... Folder: "}) {
        const size_t at = caption.find(key);
        if (at != std::string::npos)
            return caption.substr(at + key.size()) + (key == " ... Folder: " ? "/" : "");
    }
    return "";
}

void Print(std::FILE* out, const std::string& text) {
    std::fputs(text.c_str(), out);
    std::fflush(out);
}

} // namespace

TTermApp::TTermApp(TTermOptions options, std::unique_ptr<TTerminal> terminal)
    : options_(std::move(options)), terminal_(std::move(terminal)),
      loop_(MakeTermLoop(terminal_ ? TerminalInputFd() : -1)), view_(*loop_), form_(view_),
      run_(options_.steps) {
    view_.hooks.message_box = [this](const std::string& text) { OnMessageBox(text); };
    view_.hooks.waited = [this] { OnWaited(); };
    view_.hooks.deadline = [this] { return run_.Deadline(); };
    view_.hooks.image_copied = [this] {
        if (terminal_ && terminal_->Started()) Draw(false);
    };
    view_.hooks.panel_changed = [this] {
        if (terminal_ && terminal_->Started()) Draw(false);
    };
    loop_->SetHandlers(TTermLoop::THandlers{
        [this](TTermTimer timer) { OnTimer(timer); },
        [this] { OnInput(); },
        [this] { OnResized(); },
        [this](int exit_status) { Finish(exit_status); },
    });
    form_.FormActivate(); // the keyboard state display, as the window's first activation
}

TTermApp::~TTermApp() {
    if (terminal_) terminal_->Stop();
}

int TTermApp::Run() {
    if (!options_.port.empty()) form_.MapComPort("COM1", options_.port);
    if (!options_.new_image.empty()) {
        // A blank image as "New blank image..." writes it, served like any other.
        const std::string why = WriteBlankImage(options_.new_image,
                                                *FindFatFormat(options_.format), "");
        if (!why.empty()) {
            Print(stderr, "quorvik-term: cannot write the new image " + options_.new_image +
                              ": " + why + "\n");
            return kExitCannotOpen;
        }
        options_.image = options_.new_image;
    }
    std::error_code ec;
    folder_ = !options_.image.empty() && std::filesystem::is_directory(options_.image, ec);
    if (folder_) form_.ChooseFolder(options_.image);
    else if (!options_.image.empty()) form_.ChooseImage(options_.image);
    // The logs as the console's menu starts them; one that cannot start says so on the
    // console, and the run goes on, as in the window.
    if (!options_.line_trace.empty() && !form_.Session().StartLineTrace(options_.line_trace))
        Print(stderr, "quorvik-term: the line trace did not start: cannot write " +
                          options_.line_trace + "\n");
    if (!options_.text_log.empty() && !form_.Session().StartTextLog(options_.text_log))
        Print(stderr, "quorvik-term: the text log did not start: cannot write " +
                          options_.text_log + "\n");
    form_.OpenComClick(); // Connect; returns after Disconnect
    if (terminal_) terminal_->Stop();
    if (!boxes_.empty()) Print(stderr, boxes_);
    // Where a folder's changes went, also for a run nobody watched.
    if (!form_.Connection().FloppyReport().empty())
        Print(stderr, "quorvik-term: " + form_.Connection().FloppyReport() + "\n");
    if (open_failed_) return kExitCannotOpen;
    if (options_.print_screen) Print(stdout, ScreenText(form_.Screen(), "\n"));
    return exit_code_ < 0 ? kExitDone : exit_code_;
}

void TTermApp::Finish(int exit_code) {
    if (exit_code_ < 0) exit_code_ = exit_code;
    form_.FormClose(); // Disconnect, as closing the window does; the main cycle returns
}

void TTermApp::OnMessageBox(const std::string& text) {
    if (text.rfind("Error Opening COM", 0) == 0) open_failed_ = true;
    std::string lines = "quorvik-term: " + text;
    if (lines.back() != '\n') lines += '\n';
    if (terminal_ && terminal_->Started()) {
        boxes_ += lines; // shown once the terminal is given back
        command_key_.ShowMessage(text.substr(0, text.find('\n')));
        Draw(false);
    } else {
        Print(stderr, lines);
    }
}

void TTermApp::OnTimer(TTermTimer timer) {
    switch (timer) {
    case ttTick:
        form_.Timer1Timer();
        if (!terminal_) PollScript();
        else if (terminal_->Started()) Draw(false); // the status row's once-a-second update
        break;
    case ttRefresh: form_.RefreshTimer(); break;
    case ttPaste: form_.PasteTimer(); break;
    case kTermTimerCount: break;
    }
}

void TTermApp::OnResized() {
    if (terminal_ && terminal_->Started()) {
        terminal_->Resized();
        Draw(true);
    }
}

// Every waiting round of the main cycle: the moment to begin, and to look at the target.
void TTermApp::OnWaited() {
    if (exit_code_ >= 0 || !form_.Connected()) return;
    if (!terminal_) {
        if (!begun_) BeginScript();
        PollScript();
        return;
    }
    if (!begun_) {
        StartTerminal();
        return;
    }
    if (form_.Screen().CursorRow() != cursor_row_ ||
        form_.Screen().CursorColumn() != cursor_column_)
        Draw(false);
}

// ---- The scripted run ----

void TTermApp::BeginScript() {
    begun_ = true;
    const TFloppyImage& image = form_.Floppy().Image();
    if (!options_.image.empty()) {
        if (!image.Attached() && folder_) {
            // The box that named everything left out has gone to the error output.
            open_failed_ = true;
            Finish(kExitCannotOpen);
            return;
        }
        if (!image.Attached()) {
            const int error = image.OpenError();
            Print(stderr, "quorvik-term: Can not open image file " + options_.image + ": " +
                              (error != 0 ? SystemErrorText(error)
                                          : std::string("not a disk image (too small, or no "
                                                        "regular file)")) +
                              "\n");
            open_failed_ = true;
            Finish(kExitCannotOpen);
            return;
        }
        if (image.ReadOnly())
            Print(stderr, "quorvik-term: the image " + options_.image +
                              " cannot be written: attached read-only\n");
    }
    run_.Start(TScriptRun::TClock::now(), form_.Screen(), form_.History());
}

void TTermApp::PollScript() {
    if (!begun_ || polling_ || exit_code_ >= 0) return;
    polling_ = true;
    for (;;) {
        const TRunLinkState link{form_.Paste().Active(), form_.Link().key_hold,
                                 form_.WaitingForPort()};
        TRunAction action = run_.Poll(TScriptRun::TClock::now(), form_.Screen(), form_.History(),
                                      link);
        if (action.kind == raSaveScreen) {
            const std::string error =
                form_.Session().SaveScreenTo(action.data, ScreenFormatForName(action.data));
            if (!error.empty())
                action = run_.Fail(form_.Screen(), "cannot write " + action.data + ": " + error);
        }
        switch (action.kind) {
        case raNone: polling_ = false; return;
        case raType: form_.TypeKeys(action.data); break;
        case raKey: form_.SendKey(action.data); break;
        case raReboot: form_.ButtonDelClick(); break;
        case raSaveScreen: break;
        case raDone:
            polling_ = false;
            Finish(action.exit_code);
            return;
        case raFailed:
            polling_ = false;
            Print(stderr, action.message);
            Finish(action.exit_code);
            return;
        }
    }
}

// ---- The terminal front end ----

void TTermApp::StartTerminal() {
    begun_ = true;
    std::string error;
    if (!terminal_->Start(&error)) {
        Print(stderr, "quorvik-term: " + error + "\n");
        Finish(kExitStepFailed);
        return;
    }
    layout_ = TermLayout(terminal_->Rows(), terminal_->Columns(), form_.Screen().CursorRow(), 0,
                         false);
    // On the bottom row until the first key: the target's first redraw would overwrite a
    // console line at once.
    command_key_.ShowMessage(LayoutNotice(layout_));
    Draw(true);
}

TStatusFields TTermApp::StatusFields() {
    TStatusFields f;
    f.port = view_.PortHint();
    f.image = ImageName(view_.Caption());
    f.status = view_.Text(ciLabel2);
    f.key_hold = form_.Link().key_hold;
    f.locks = view_.Text(ciLabel1);
    f.port_away = form_.WaitingForPort();
    return f;
}

void TTermApp::Draw(bool everything) {
    TTerminal& t = *terminal_;
    const TScreen& screen = form_.Screen();
    const std::string prompt = command_key_.Prompt();
    const TTermLayout layout =
        TermLayout(t.Rows(), t.Columns(), screen.CursorRow(), layout_.top, !prompt.empty());
    if (!layout_drawn_ || layout.top != layout_.top || layout.rows != layout_.rows ||
        layout.columns != layout_.columns || layout.status_row != layout_.status_row) {
        everything = true;
        t.Clear();
    }
    layout_ = layout;
    layout_drawn_ = true;
    const auto& image = view_.Image();
    const auto& drawn = view_.Drawn();
    for (int r = 0; r < layout.rows; ++r) {
        const int row = layout.top + r;
        for (int c = 0; c < layout.columns; ++c) {
            const int i = row * kScreenColumns + c;
            if (!everything && !drawn[static_cast<size_t>(i)]) continue;
            t.Put(r, c, TermGlyph(image[i].ch, t.Utf8()), TermColour(image[i].attr, t.Colours()));
        }
    }
    view_.ClearDrawn();
    if (layout.status_row) {
        const std::string status =
            prompt.empty() ? StatusRowText(StatusFields(), t.Columns()) : prompt;
        if (everything || status != status_shown_) t.PutStatus(layout.rows, status);
        status_shown_ = status;
    }
    cursor_row_ = screen.CursorRow();
    cursor_column_ = screen.CursorColumn();
    if (command_key_.Asking() && layout.status_row) {
        const int at = static_cast<int>(prompt.size()) < t.Columns()
                           ? static_cast<int>(prompt.size())
                           : t.Columns() - 1;
        t.Show(layout.rows, at, true);
    } else {
        const bool visible = cursor_row_ >= layout.top && cursor_row_ < layout.top + layout.rows &&
                             cursor_column_ < layout.columns;
        t.Show(visible ? cursor_row_ - layout.top : 0, visible ? cursor_column_ : 0, visible);
    }
}

void TTermApp::OnInput() {
    if (!terminal_ || !terminal_->Started()) return;
    for (const TTermKey& key : terminal_->ReadKeys()) {
        RunCommand(command_key_.Key(key, form_.TextLog().Running(),
                                    form_.LineTrace().Running()));
        if (exit_code_ >= 0) return;
    }
    Draw(false);
}

void TTermApp::RunCommand(const TCommand& command) {
    TSessionTools& session = form_.Session();
    switch (command.kind) {
    case cmNone: break;
    case cmSend: form_.SendKey(command.data); break;
    case cmQuit: Finish(kExitDone); break;
    case cmRefresh: form_.RscrClick(); break;
    case cmReboot: form_.ButtonDelClick(); break;
    case cmTextLog:
        if (command.data.empty()) {
            session.StopTextLog("stopped.");
            command_key_.ShowMessage("Text log stopped.");
        } else if (session.StartTextLog(command.data)) {
            command_key_.ShowMessage("Text log into " + command.data);
        } else {
            command_key_.ShowMessage("Text log not started: cannot write " + command.data);
        }
        break;
    case cmLineTrace:
        if (command.data.empty()) {
            session.StopLineTrace("stopped.");
            command_key_.ShowMessage("Line trace stopped.");
        } else if (session.StartLineTrace(command.data)) {
            command_key_.ShowMessage("Line trace into " + command.data);
        } else {
            command_key_.ShowMessage("Line trace not started: cannot write " + command.data);
        }
        break;
    case cmSaveScreen: {
        const TScreenFormat format = ScreenFormatForName(command.data);
        const std::string error = session.SaveScreenTo(command.data, format);
        command_key_.ShowMessage(error.empty() ? std::string("Screen saved as ") +
                                                     (format == sfAnsi ? "ANSI" : "text") +
                                                     ": " + command.data
                                               : "Cannot write " + command.data + ": " + error);
        break;
    }
    }
}
