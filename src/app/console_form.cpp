#include "console_form.h"

#include "port_list.h"
#include "comm_names.h"
#include "fat_format.h"

const char* const kWindowCaption = "Quorvik V1.00 for Windows";
const char* const kMessageCaption = "ConsoleW";

namespace {

const TFileDialogDesc kOpenDialog{"Floppy Images", "*.img;*.ima", "."};
const TFileDialogDesc kFolderDialog{"Folder as floppy", "", "."};
const TFileDialogDesc kNewImageDialog{"New blank image", "*.img", "."};
const TFileDialogDesc kSaveFloppyDialog{"Save floppy as image", "*.img", "."};

// The file's name without its directory (either separator).
std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

TConsoleForm::TConsoleForm(TFormView& view, std::unique_ptr<TConsolePort> port)
    : view_(view),
      keyboard_(TKeyboardCallbacks{
          [this](const uint8_t* bytes, size_t n) { SendKeys(bytes, n); },
          [this] { return connection_.Link().key_hold; },
          [this](const std::string& text) { view_.SetText(ciLabel1, text); },
      }),
      connection_(port ? std::move(port) : MakeCommPort(view.Poster()), screen_, *this),
      session_(view_, screen_, history_, area_, connection_,
               [this](const uint8_t* bytes, size_t n) { SendKeys(bytes, n); },
               [this](const TScreen& screen, const std::string& path) {
                   return painter_.SavePng(screen, path);
               }) {
    FormCreate();
}

TConsoleForm::~TConsoleForm() = default;

void TConsoleForm::FormCreate() {
    for (const TControlDesc& desc : kPanelControls)
        view_.CreateControl(desc);
    connection_.Port().SetEvents(TConsolePort::TEvents{
        [this](TObject* s, uint32_t n) { CommRxChar(s, n); },
        [this](TObject* s) { CommBreak(s); },
        [this](TObject* s, int e) { CommError(s, e); },
    });
    painter_.Create();
    screen_.ClearScreen();
    screen_.SetObserver(&history_);
    view_.SetWindowCaption(kWindowCaption);
    ShowPortHints();
    status_text_ = kPanelControls[ciLabel2].caption;
    view_.StartTimer(100);
}

void TConsoleForm::ShowStatus(const char* text) {
    status_text_ = text;
    view_.SetText(ciLabel2, status_text_);
}

void TConsoleForm::ProcessPendingEvents() { view_.ProcessPendingEvents(); }

// The main cycle waits here once it has applied what arrived and the receive queue is empty:
// the moment to show the new screen, rather than at the next tick of the 100 ms timer.
void TConsoleForm::WaitForEvents() {
    if (screen_.changed) painter_.RefreshSoon();
    view_.WaitForEvents();
}

void TConsoleForm::SetConnectedState(bool connected) {
    for (const TPanelState& state : kPanelStates)
        view_.SetEnabled(state.id, connected ? state.connected : state.idle);
}

void TConsoleForm::OpenComClick() {
    // Disconnect enabled Connect at once, but the previous main cycle may not have returned
    // yet: the new connection starts after it has, never inside it.
    if (connection_.DeferConnect()) return;
    ShowStatus("Symb = 2");
    std::string floppy_failure;
    const std::string failure =
        connection_.Open(SelectedComName(), ChosenFloppy(), &floppy_failure);
    if (!failure.empty()) {
        view_.MessageBox(failure);
        return;
    }
    if (!floppy_failure.empty()) view_.MessageBox(floppy_failure);
    SetConnectedState(true);
    view_.FocusWindow();
    session_.Connected();
    if (connection_.Run()) OpenComClick();
}

void TConsoleForm::CloseComClick() {
    const bool was_connected = connection_.Connected();
    const std::string failure = connection_.Close();
    if (!failure.empty()) view_.MessageBox(failure);
    SetConnectedState(false);
    session_.Disconnected(was_connected);
}

void TConsoleForm::FormClose() {
    CloseComClick();
    connection_.ForgetDeferredConnect();
    session_.StopLineTrace(nullptr);
}

TFloppySource TConsoleForm::ChosenFloppy() const {
    if (!view_.Checked(ciEnaFloppy)) return {};
    if (!folder_.empty()) return TFloppySource::Folder(folder_);
    if (!open_dialog_file_name_.empty()) return TFloppySource::ImageFile(open_dialog_file_name_);
    return {};
}

void TConsoleForm::EnableFloppyClick() {
    const std::string title = kWindowCaption;
    folder_.clear();
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

void TConsoleForm::ChooseFolder(const std::string& path) {
    folder_ = path;
    view_.SetChecked(ciEnaFloppy, true);
    view_.SetWindowCaption(kWindowCaption + std::string(" ... Folder: ") + BaseName(path));
}

// What the "Floppy..." box attaches, chosen from its menu: a folder, a new blank image (its
// format and label, then its file), the box's own dialog, or the folder's floppy saved.
void TConsoleForm::FloppyContextMenu(int x, int y) {
    const bool folder = !folder_.empty() || connection_.ServedFolder();
    switch (view_.PopupMenu(FloppyMenuEntries(connection_.Connected(), folder), x, y)) {
    case fcFolder: {
        const std::string path = view_.FolderDialog(kFolderDialog);
        if (!path.empty()) ChooseFolder(path);
        break;
    }
    case fcNewBlank: NewBlankImage(); break;
    case fcImageFile:
        view_.SetChecked(ciEnaFloppy, true);
        EnableFloppyClick();
        break;
    case fcSaveImage: {
        const std::string path = view_.SaveFileDialog(kSaveFloppyDialog);
        if (path.empty()) break;
        const std::string why = connection_.SaveFloppyAsImage(folder_, path);
        if (!why.empty()) view_.MessageBox("Cannot save " + path + "\n" + why);
        break;
    }
    default: break; // dismissed
    }
}

void TConsoleForm::NewBlankImage() {
    TNewImageDesc desc = new_image_;
    if (!view_.NewImageDialog(desc)) return;
    const auto formats = FatFormats();
    if (desc.format < 0 || desc.format >= static_cast<int>(formats.size())) return;
    new_image_ = desc;
    const std::string path = view_.SaveFileDialog(kNewImageDialog);
    if (path.empty()) return;
    const std::string why = WriteBlankImage(path, formats[static_cast<size_t>(desc.format)],
                                            desc.label);
    if (!why.empty()) {
        view_.MessageBox("Cannot write " + path + "\n" + why);
        return;
    }
    ChooseImage(path);
}

void TConsoleForm::ChooseImage(const std::string& path) {
    folder_.clear();
    if (!path.empty()) open_dialog_file_name_ = path;
    view_.SetChecked(ciEnaFloppy, !path.empty());
    view_.SetWindowCaption(path.empty() ? std::string(kWindowCaption)
                                        : kWindowCaption + std::string(" ... ImageFile: ") +
                                              BaseName(path));
}

void TConsoleForm::RscrClick() { connection_.SendRefreshRequest(); }

void TConsoleForm::ButtonDelClick() { keyboard_.ButtonDelClick(); }

void TConsoleForm::AppMessage(TKeyDirection direction, uint8_t scan_code, uint8_t virtual_key) {
    keyboard_.AppMessage(direction, scan_code, virtual_key);
}

void TConsoleForm::SendKey(const std::string& bytes) {
    if (connection_.Link().key_hold || bytes.empty()) return;
    SendKeys(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void TConsoleForm::SendKeys(const uint8_t* bytes, size_t n) {
    if (area_.ReturnToLive()) painter_.ViewChanged();
    connection_.Write(bytes, n);
}

void TConsoleForm::MouseDown(TMouseButton button, int x, int y) {
    if (!painter_.OnConsole(x, y)) return;
    if (button == mbRight) {
        ConsoleContextMenu(x, y);
        return;
    }
    // X11's convention: the middle button pastes the PRIMARY selection (none elsewhere).
    if (button == mbMiddle) {
        if (connection_.Connected() && !session_.Paste().Active())
            session_.PasteText(view_.ClipboardText(cbPrimary));
        return;
    }
    int row, column;
    if (button != mbLeft || !painter_.CellAt(x, y, &row, &column)) return;
    if (session_.Press(row, column)) painter_.ViewChanged();
}

void TConsoleForm::MouseMove(int x, int y) {
    int row, column;
    if (!session_.Selecting() || !painter_.CellAt(x, y, &row, &column)) return;
    if (session_.Drag(row, column)) painter_.ViewChanged();
}

void TConsoleForm::MouseUp(TMouseButton button, int x, int y) {
    if (button != mbLeft || !session_.Selecting()) return;
    MouseMove(x, y);
    session_.Release();
}

void TConsoleForm::MouseWheel(int steps, int x, int y) {
    if (!painter_.OnConsole(x, y)) return;
    if (area_.ScrollBy(steps * TConsoleArea::kWheelRows)) painter_.ViewChanged();
}

void TConsoleForm::ConsoleContextMenu(int x, int y) {
    session_.StopSelecting();
    RunConsoleCommand(view_.PopupMenu(ConsoleMenuEntries(session_.MenuState()), x, y));
}

void TConsoleForm::RunConsoleCommand(int command) {
    switch (command) {
    case ccCopy: session_.Copy(); break;
    case ccSelectAll:
        session_.SelectAll();
        painter_.ViewChanged();
        break;
    case ccSaveText: session_.SaveScreen(sfText); break;
    case ccSaveAnsi: session_.SaveScreen(sfAnsi); break;
    case ccSavePng: session_.SaveScreen(sfPng); break;
    case ccPaste: session_.PasteText(view_.ClipboardText(cbClipboard)); break;
    case ccStartTextLog: session_.AskStartTextLog(); break;
    case ccStopTextLog: session_.StopTextLog(nullptr); break;
    case ccStartLineTrace: session_.AskStartLineTrace(); break;
    case ccStopLineTrace: session_.StopLineTrace(nullptr); break;
    case ccStopPaste: session_.StopPaste(); break;
    default: break; // dismissed
    }
}

void TConsoleForm::ControlContextMenu(TControlId id, int x, int y) {
    if (id == ciCOMGroup) PortContextMenu(x, y);
    if (id == ciEnaFloppy) FloppyContextMenu(x, y);
}

std::string TConsoleForm::SelectedComName() const {
    return view_.SelectedItem(ciCOMGroup) == 1 ? "COM2" : "COM1";
}

// What the selected COM item opens, for this run: a serial port of this machine, a console
// server over the network, or back to what it opened at start (QUORVIK_COMn, else the
// platform's port of that name). While connected the port stays as it is.
void TConsoleForm::PortContextMenu(int x, int y) {
    if (connection_.Connected()) return;
    TConsolePort& port = connection_.Port();
    const std::string com = SelectedComName();
    const std::vector<TSerialPortInfo> ports = ListSerialPorts();
    std::vector<TMenuEntry> entries;
    entries.push_back({-1, port.PortLine(com), false});
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
    entries.push_back({pcAsAtStart, "As at start", !port.MappedPort(com).empty()});
    const int command = view_.PopupMenu(entries, x, y);
    if (command >= pcFirstPort && command - pcFirstPort < static_cast<int>(ports.size())) {
        MapSelectedPort(ports[static_cast<size_t>(command - pcFirstPort)].target);
    } else if (command == pcNetwork) {
        TNetworkPortDesc chosen = last_network_port_;
        if (!view_.NetworkPortDialog(chosen)) return;
        TNetworkTarget target{chosen.rfc2217, chosen.host, std::to_string(chosen.port)};
        std::string error;
        const std::string text = NetworkTargetText(target);
        if (!ParseNetworkTarget(text, &target, &error)) {
            view_.MessageBox("Error Opening COM\n" + error);
            return;
        }
        last_network_port_ = chosen;
        MapSelectedPort(text);
    } else if (command == pcAsAtStart) {
        MapSelectedPort("");
    }
}

void TConsoleForm::MapSelectedPort(const std::string& target) {
    MapComPort(SelectedComName(), target);
}

void TConsoleForm::MapComPort(const std::string& com_name, const std::string& target) {
    connection_.Port().MapPort(com_name, target);
    ShowPortHints();
}

// Each COM item's hint says what it opens.
void TConsoleForm::ShowPortHints() {
    view_.SetItemHint(ciCOMGroup, 0, connection_.Port().PortLine("COM1"));
    view_.SetItemHint(ciCOMGroup, 1, connection_.Port().PortLine("COM2"));
}

void TConsoleForm::Timer1Timer() {
    connection_.Tick();
    painter_.ScreenRefresh();
    tick_divider_ = (tick_divider_ + 1) % 10;
    if (tick_divider_ == 0) {
        ShowStatus(std::to_string(connection_.Link().ReceivedCount()).c_str());
        view_.SetVisible(ciButtonDel, keyboard_.RebootButtonWanted());
    }
    session_.Tick(tick_divider_ == 0);
}

void TConsoleForm::CommRxChar(TObject*, uint32_t Count) { connection_.Link().CommRxChar(Count); }
void TConsoleForm::CommBreak(TObject*) { ShowStatus("Break"); }
void TConsoleForm::CommError(TObject*, int Errors) {
    ShowStatus("Error");
    connection_.LineError(Errors);
}

void TConsoleForm::FormActivate() {
    screen_.changed = true;
    keyboard_.FormActivate(view_.ReadLockState());
}
