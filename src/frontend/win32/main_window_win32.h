// The main window on the Win32 API and GDI: a thin view of the window logic (TConsoleForm). It
// creates the panel's controls as standard controls (BUTTON, STATIC, tooltips_class32), draws
// cells into an off-screen DIB section, copies it with BitBlt or StretchBlt, and forwards every
// event to the form's handler of the same name.
//
// Everything here runs on the thread that created the window (the window thread), except
// Post, which the serial component's event thread calls. While connected, OpenComClick does
// not return: the timer, the buttons, the keys, the port's hand-offs and the closing of the
// window all run nested inside the main cycle's ProcessPendingEvents and WaitForEvents, which
// run the same key filter as the outer message loop (Run).
#pragma once

#include "comm.h"
#include "console_form.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// <windows.h> names MessageBox as a macro; the view's MessageBox is the form's.
#undef MessageBox

class TWin32Window final : private TFormView, private TMainThreadPoster {
  public:
    // Registers the window class (named "Quorvik") and creates the window, its panel and the
    // form, which creates the controls. Shown only by Show. Raises std::runtime_error when the
    // window cannot be created.
    explicit TWin32Window(HINSTANCE instance);
    ~TWin32Window() override; // FormDestroy: the form (which closes the port), then the window
    TWin32Window(const TWin32Window&) = delete;
    TWin32Window& operator=(const TWin32Window&) = delete;

    void Show(int show_command);
    // The application's message loop until the window has closed.
    void Run();
    // The key hook: hands a key message meant for the main window or any of its controls to
    // the form and returns true (the message is taken: neither translated nor dispatched).
    // Messages of other windows (message boxes, the file dialog) return false.
    bool FilterMessage(const MSG& message);

    TConsoleForm& Form() { return *form_; }
    HWND Handle() const { return window_; }
    HWND Panel() const { return panel_; }
    HWND Control(TControlId id) const { return controls_[id]; }
    HWND RadioItem(int item) const { return radio_items_[item]; }
    HWND Tooltips() const { return tooltips_; }
    // The window's DPI (96 is 100 %), and the room it reports for its client area.
    int Dpi() const { return dpi_; }
    TRect WorkAreaForTests() const { return WorkArea(); }
    // The console font's face as GDI chose it ("Terminal", or the fallback's).
    const std::wstring& ConsoleFontFace() const { return console_face_; }
    // One pixel of the off-screen image, 0xRRGGBB.
    uint32_t ImagePixel(int x, int y) const;
    bool Closed() const { return window_ == nullptr; }

    // Tests replace the message box and the file dialog to observe them without a modal loop.
    std::function<void(const std::string&)> message_box_hook;
    std::function<std::string()> file_dialog_hook;
    // The save dialog and the context menu; tests replace them. The menu's hook gets the
    // entries and returns the chosen command (-1: dismissed).
    std::function<std::string()> save_dialog_hook;
    std::function<int(const std::vector<TMenuEntry>&)> popup_menu_hook;
    // The network port dialog; tests replace it (false: cancelled).
    std::function<bool(TNetworkPortDesc&)> network_dialog_hook;
    // The folder chooser and the new image dialog; tests replace them ("" / false: cancelled).
    std::function<std::string()> folder_dialog_hook;
    std::function<bool(TNewImageDesc&)> new_image_dialog_hook;

  private:
    static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    // The panel's standard controls, subclassed: see ControlMessage.
    static LRESULT CALLBACK ControlProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR self);
    LRESULT ControlMessage(HWND control, UINT message, WPARAM wparam, LPARAM lparam);
    void PaintGreyed(HWND control);
    LRESULT WindowMessage(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT PanelMessage(UINT message, WPARAM wparam, LPARAM lparam);

    // TFormView
    void CreateControl(const TControlDesc& desc) override;
    void SetText(TControlId id, const std::string& text) override;
    void SetEnabled(TControlId id, bool enabled) override;
    void SetVisible(TControlId id, bool visible) override;
    void SetChecked(TControlId id, bool checked) override;
    bool Checked(TControlId id) const override;
    int SelectedItem(TControlId id) const override;
    void PlaceControl(TControlId id, const TRect& place) override;
    void SetItemHint(TControlId id, int item, const std::string& hint) override;
    void SetWindowCaption(const std::string& caption) override;
    TRect MeasureConsoleText(const char* text) override;
    int ClientWidth() const override;
    int ClientHeight() const override;
    int PanelHeight() const override;
    void SetClientSize(int width, int height) override;
    void FocusWindow() override;
    double DpiScale() const override;
    double PixelRatio() const override;
    TRect WorkArea() const override;
    void CreateImage(int cell_width, int cell_height) override;
    void DrawCell(int row, int column, TCell cell) override;
    void CopyImage(const TRect& area, bool stretched) override;
    std::string SaveImagePng(const std::string& path) override;
    void MessageBox(const std::string& text) override;
    std::string OpenFileDialog(const TFileDialogDesc& desc) override;
    std::string SaveFileDialog(const TFileDialogDesc& desc) override;
    std::string FolderDialog(const TFileDialogDesc& desc) override;
    bool NewImageDialog(TNewImageDesc& desc) override;
    int PopupMenu(const std::vector<TMenuEntry>& entries, int x, int y) override;
    bool NetworkPortDialog(TNetworkPortDesc& port) override;
    void SetClipboardText(TClipboardKind kind, const std::string& text) override;
    std::string ClipboardText(TClipboardKind kind) override;
    void StartTimer(int interval_ms) override;
    void StartRefreshTimer(int delay_ms) override;
    void StartPasteTimer(int delay_ms) override;
    void ProcessPendingEvents() override;
    void WaitForEvents() override;
    TLockState ReadLockState() override;
    TMainThreadPoster& Poster() override { return *this; }
    // TMainThreadPoster (any thread)
    void Post(std::function<void()> call) override;

    // Pixels at 96 DPI in the window's DPI.
    int Scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }
    void CreateConsoleFont();
    HFONT ControlFont(const TControlDesc& desc);
    void PlaceOnPanel(TControlId id);
    void FitLabel(TControlId id);
    void PlaceStatusLabel();
    void Clicked(HWND control);
    bool MouseMessage(UINT message, WPARAM wparam, LPARAM lparam);
    void PanelContextMenu(HWND clicked, LPARAM lparam);
    void DrawButton(const DRAWITEMSTRUCT& item);
    void Paint();
    void DropPendingCalls();
    // Runs a form handler; an error escaping it is shown, and the program goes on.
    template <class F> void Guarded(F&& handler);

    HINSTANCE instance_;
    int dpi_ = 96;
    HWND window_ = nullptr;
    HWND panel_ = nullptr;
    HWND tooltips_ = nullptr;
    std::array<HWND, kControlCount> controls_{};
    std::array<TControlDesc, kControlCount> specs_{};
    HWND radio_items_[2] = {};
    bool item_hint_added_[2] = {};

    HFONT console_font_ = nullptr;
    bool console_font_stock_ = false;
    std::wstring console_face_;
    bool console_font_oem_ = false; // an OEM raster font takes the code page's bytes as they are
    HANDLE embedded_font_ = nullptr;
    std::array<HFONT, kControlCount> control_fonts_{};
    HBRUSH panel_brush_ = nullptr;
    HBRUSH bar_brush_ = nullptr;

    HDC image_dc_ = nullptr;
    HBITMAP image_ = nullptr;
    HGDIOBJ image_old_bitmap_ = nullptr;
    HGDIOBJ image_old_font_ = nullptr;
    uint32_t* image_bits_ = nullptr;
    int image_width_ = 0, image_height_ = 0;
    int cell_width_ = 0, cell_height_ = 0;

    HDC paint_dc_ = nullptr; // the paint's DC while FormPaint runs
    int wheel_remainder_ = 0; // wheel turns not yet a whole notch
    bool quit_ = false;       // the message loop has seen WM_QUIT
    bool destroying_ = false; // the destructor closes the window: no WM_QUIT then
    std::unique_ptr<TConsoleForm> form_;
};
