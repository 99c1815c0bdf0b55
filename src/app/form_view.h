// The main window as the window logic sees it: a thin view that creates and places the panel's
// controls, shows what it is told, draws cells into its off-screen image and copies that image
// into the window, and runs the window system's dialogs, timers and event loop. One
// implementation per window system (the Qt window on Linux, the Win32 window on Windows); the
// decisions stay in TConsoleForm.
//
// Window thread only. Calls into the view may dispatch events (ProcessPendingEvents,
// WaitForEvents, MessageBox, OpenFileDialog), and so may re-enter the form's handlers.
#pragma once

#include "link.h"
#include "screen.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TMainThreadPoster;
struct TLockState;

enum TControlId : uint8_t {
    ciConnect,
    ciDisconnect,
    ciRscr,
    ciButtonDel,
    ciEnaKeyboard,
    ciEnaVideo,
    ciEnaFloppy,
    ciCOMGroup,
    ciLabel1,
    ciLabel2,
    ciMarker, // the cursor bar below the panel, a plain white rectangle
};
constexpr int kControlCount = ciMarker + 1;

enum TControlKind : uint8_t {
    ckPushButton,  // takes the focus when clicked
    ckSpeedButton, // never takes the focus
    ckFlatButton,  // a speed button drawn flat
    ckCheckBox,
    ckRadioGroup, // items in two columns; item 0 selected at creation
    ckLabel,
    ckBar,
};

enum TFontFace : uint8_t {
    ffPanel,   // the panel's sans font ("MS Sans Serif" where installed)
    ffFixed,   // a fixed-pitch font ("Courier New" where installed)
    ffConsole, // the window's console font
};

constexpr uint32_t kSystemColour = 0xFFFFFFFFu; // the window system's own colour for the part

struct TControlDesc {
    TControlId id;
    TControlKind kind;
    const char* name;
    int left, top, width, height; // in the panel; the bar's place is set by the form
    const char* caption;          // a radio group's items, separated by '\n'
    const char* hint;             // shown on hover; "" for none
    TFontFace face;
    int font_pixels;
    bool bold;
    uint32_t text_colour; // 0xRRGGBB, or kSystemColour
    bool visible;
    bool enabled;
    bool checked;
    bool align_right; // a label kept against the panel's right edge, whatever its text
};

// The panel's controls in creation order (later ones cover earlier ones at the same place).
extern const std::array<TControlDesc, kControlCount> kPanelControls;
constexpr int kPanelHeight = 41;

// The controls that Connect and Disconnect switch, each enabled or not while idle (at start and
// after Disconnect) and while connected, in the order Connect switches them. The other
// controls keep their state across connections.
struct TPanelState {
    TControlId id;
    bool idle;
    bool connected;
};
extern const std::array<TPanelState, 6> kPanelStates;

// The caption colour of a disabled control (0xRRGGBB), from the window system's face and text
// colours: most of the way towards the text, so that a greyed caption still reads at 4.5:1 on
// the face (the systems' own greys stay near 2:1).
uint32_t GreyedCaptionColour(uint32_t face, uint32_t text);

struct TRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const TRect&) const = default;
};

enum TMouseButton : uint8_t { mbLeft, mbMiddle, mbRight };

// One entry of a context menu; an entry without a caption is a separator.
struct TMenuEntry {
    int command = -1; // what PopupMenu hands back when the entry is chosen (>= 0)
    std::string caption;
    bool enabled = true;
};

enum TClipboardKind : uint8_t {
    cbClipboard, // the system's clipboard
    cbPrimary,   // X11's PRIMARY selection (select to copy, middle click to paste); none elsewhere
};

// The "Network port..." dialog's fields: a console server's host and port, and whether it
// speaks RFC 2217 (Telnet with the serial line's settings) or raw TCP.
struct TNetworkPortDesc {
    std::string host;
    int port = 2217;
    bool rfc2217 = true;
};

struct TFileDialogDesc {
    const char* title;  // "Floppy Images"
    const char* filter; // "*.img;*.ima"
    const char* initial_directory;
};

// The "New blank image..." dialog's fields: one of the standard formats (its place in
// FatFormats(), fat_format.h) and a volume label.
struct TNewImageDesc {
    int format = 3; // 1.44 MB
    std::string label;
};

class TFormView {
  public:
    virtual ~TFormView() = default;

    // Controls.
    virtual void CreateControl(const TControlDesc& desc) = 0;
    virtual void SetText(TControlId id, const std::string& text) = 0;
    virtual void SetEnabled(TControlId id, bool enabled) = 0;
    virtual void SetVisible(TControlId id, bool visible) = 0;
    virtual void SetChecked(TControlId id, bool checked) = 0;
    virtual bool Checked(TControlId id) const = 0;
    // The selected item of a radio group (0 or 1).
    virtual int SelectedItem(TControlId id) const = 0;
    virtual void PlaceControl(TControlId id, const TRect& place) = 0;
    // The hover hint of item `item` of a radio group.
    virtual void SetItemHint(TControlId id, int item, const std::string& hint) = 0;

    // The window.
    virtual void SetWindowCaption(const std::string& caption) = 0;
    // Width and height of `text` in the console font (the cell metrics come from "O").
    virtual TRect MeasureConsoleText(const char* text) = 0;
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    virtual int PanelHeight() const = 0;
    virtual void SetClientSize(int width, int height) = 0;
    virtual void FocusWindow() = 0;
    // The scale the system asks of the window (1 at 96 DPI; 1.5 at 144 DPI or a device pixel
    // ratio of 1.5), the device pixels in one unit of the client area (1 where the view works
    // in device pixels, the device pixel ratio where it works in logical ones), and the largest
    // client area that fits the work area of the window's screen (its width and height, in
    // client units: the work area less the window's frame).
    virtual double DpiScale() const = 0;
    virtual double PixelRatio() const = 0;
    virtual TRect WorkArea() const = 0;

    // The off-screen image of 80 x 25 cells, and its copy into the window. Not stretched: the
    // image fills `area` at the console's whole-number zoom, every image pixel a square of zoom
    // device pixels, never smoothed (area is the image's size times zoom, in client units).
    // Stretched: over `area`, whatever its size.
    virtual void CreateImage(int cell_width, int cell_height) = 0;
    virtual void DrawCell(int row, int column, TCell cell) = 0;
    virtual void CopyImage(const TRect& area, bool stretched) = 0;
    // Writes the off-screen image, as it is, to a PNG file at its natural size. Returns "" on
    // success, else the reason.
    virtual std::string SaveImagePng(const std::string& path) = 0;

    // Dialogs. MessageBox is modal, OK only, caption "ConsoleW". OpenFileDialog returns the
    // chosen path as the file system spells it (bytes on POSIX, UTF-8 on Windows), "" when the
    // user cancels.
    virtual void MessageBox(const std::string& text) = 0;
    virtual std::string OpenFileDialog(const TFileDialogDesc& desc) = 0;
    // The same for a file to write: the system's dialog asks before an existing file is
    // replaced. `desc.filter` names the file's kind ("*.txt").
    virtual std::string SaveFileDialog(const TFileDialogDesc& desc) = 0;
    // The same for a folder (the system's folder chooser); `desc.filter` is unused.
    virtual std::string FolderDialog(const TFileDialogDesc& desc) = 0;
    // Asks for a new image's format and label, starting from `desc`'s fields; false when the
    // user cancels. Modal: it dispatches events while it is open.
    virtual bool NewImageDialog(TNewImageDesc& desc) = 0;

    // Shows a context menu with its top left corner at (x, y) of the client area and waits
    // until it closes; meanwhile keys drive the menu and none reaches the form. Returns the
    // chosen entry's command, -1 when the menu was dismissed.
    virtual int PopupMenu(const std::vector<TMenuEntry>& entries, int x, int y) = 0;
    // Asks for a network port, starting from `port`'s fields; false when the user cancels.
    // Modal: it dispatches events while it is open.
    virtual bool NetworkPortDialog(TNetworkPortDesc& port) = 0;
    // Text for other programs, as UTF-8 (the view converts to the system's form). PRIMARY
    // does nothing where the system has none.
    virtual void SetClipboardText(TClipboardKind kind, const std::string& text) = 0;
    // The text held there as UTF-8; "" when it holds none (or the system has no PRIMARY).
    virtual std::string ClipboardText(TClipboardKind kind) = 0;

    // Timers: the form's 100 ms tick (TConsoleForm::Timer1Timer) runs from StartTimer on; a
    // refresh timer fires TConsoleForm::RefreshTimer once, `delay_ms` from now, and a paste
    // timer TConsoleForm::PasteTimer (for each, a new request replaces a pending one).
    virtual void StartTimer(int interval_ms) = 0;
    virtual void StartRefreshTimer(int delay_ms) = 0;
    virtual void StartPasteTimer(int delay_ms) = 0;

    // The event loop (see TConsoleHost).
    virtual void ProcessPendingEvents() = 0;
    virtual void WaitForEvents() = 0;

    // The PC's lock keys, as far as the window system can tell.
    virtual TLockState ReadLockState() = 0;
    // Carries the serial component's event hand-offs to the window thread.
    virtual TMainThreadPoster& Poster() = 0;
};
