#include "main_window_win32.h"
#include "dialogs_win32.h"

#include "cp437.h"
#include "file_write.h"
#include "key_message_win32.h"
#include "palette.h"
#include "png_file.h"
#include "win32_resources.h"

#include <commctrl.h>
#include <commdlg.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <vector>

namespace {

constexpr wchar_t kWindowClass[] = L"Quorvik"; // the application's title
constexpr wchar_t kPanelClass[] = L"QuorvikPanel";
constexpr UINT kRunCall = WM_APP + 1; // lParam: a std::function<void()> to run and delete
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kRefreshTimer = 2;
constexpr UINT_PTR kPasteTimer = 3;
constexpr wchar_t kVgaFace[] = L"Px IBM VGA9";

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

COLORREF ColourRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }
COLORREF ColourRef(TRgb c) { return RGB(c.r, c.g, c.b); }
uint32_t Rgb(COLORREF c) {
    return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
}

// The caption colour of a disabled control on the panel.
COLORREF GreyedText() {
    return ColourRef(GreyedCaptionColour(Rgb(GetSysColor(COLOR_BTNFACE)),
                                         Rgb(GetSysColor(COLOR_BTNTEXT))));
}

std::wstring ClassOf(HWND window) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    return name;
}

// The face GDI actually gives for `font`, which may differ from the one asked for.
std::wstring FaceOf(HFONT font) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    DeleteDC(dc);
    return face;
}

void RegisterClasses(HINSTANCE instance, WNDPROC main_proc, WNDPROC panel_proc) {
    WNDCLASSEXW c{};
    c.cbSize = sizeof(c);
    c.style = CS_HREDRAW | CS_VREDRAW;
    c.lpfnWndProc = main_proc;
    c.hInstance = instance;
    c.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    c.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(QUORVIK_ICON));
    c.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(QUORVIK_ICON), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    c.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&c) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("RegisterClassEx failed (Error: " +
                                 std::to_string(GetLastError()) + ")");
    c.style = 0;
    c.lpfnWndProc = panel_proc;
    c.hIcon = nullptr;
    c.hIconSm = nullptr;
    c.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    c.lpszClassName = kPanelClass;
    if (!RegisterClassExW(&c) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("RegisterClassEx failed (Error: " +
                                 std::to_string(GetLastError()) + ")");
}

// The window's DPI: GetDpiForWindow where Windows has it (10, 1607 on), else the screen's.
int WindowDpi(HWND window) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto get_dpi_for_window = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (get_dpi_for_window) {
        if (const UINT dpi = get_dpi_for_window(window)) return static_cast<int>(dpi);
    }
    HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi > 0 ? dpi : 96;
}

} // namespace

TWin32Window::TWin32Window(HINSTANCE instance) : instance_(instance) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterClasses(instance_, &TWin32Window::MainProc, &TWin32Window::PanelProc);
    panel_brush_ = GetSysColorBrush(COLOR_BTNFACE);

    // Created at its start-up place with a provisional size; the form sets the client size.
    CreateWindowExW(0, kWindowClass, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 2, 115, 640, 480,
                    nullptr, nullptr, instance_, this);
    if (!window_)
        throw std::runtime_error("CreateWindowEx failed (Error: " +
                                 std::to_string(GetLastError()) + ")");
    dpi_ = WindowDpi(window_);
    RECT client{};
    GetClientRect(window_, &client);
    CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                    0, 0, client.right, Scaled(kPanelHeight), window_, nullptr, instance_, this);
    tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                                instance_, nullptr);
    CreateConsoleFont();
    form_ = std::make_unique<TConsoleForm>(static_cast<TFormView&>(*this));
}

TWin32Window::~TWin32Window() {
    destroying_ = true;
    if (window_) {
        KillTimer(window_, kTimer1);
        KillTimer(window_, kRefreshTimer);
        KillTimer(window_, kPasteTimer);
    }
    form_.reset(); // closes the port: no more hand-offs after this
    DropPendingCalls();
    if (window_) DestroyWindow(window_);
    for (TControlId id = ciConnect; id < kControlCount; id = static_cast<TControlId>(id + 1)) {
        if (control_fonts_[id] && control_fonts_[id] != console_font_)
            DeleteObject(control_fonts_[id]);
    }
    if (image_dc_) {
        SelectObject(image_dc_, image_old_font_);
        SelectObject(image_dc_, image_old_bitmap_);
        DeleteObject(image_);
        DeleteDC(image_dc_);
    }
    if (console_font_ && !console_font_stock_) DeleteObject(console_font_);
    if (embedded_font_) RemoveFontMemResourceEx(embedded_font_);
    if (bar_brush_) DeleteObject(bar_brush_);
}

// "Terminal" in the OEM character set where the system has it. Otherwise the VGA text font
// that the program carries (at 16 pixels, its own size), drawn through Unicode; failing that,
// the system's fixed-pitch OEM font.
void TWin32Window::CreateConsoleFont() {
    LOGFONTW lf{};
    lf.lfHeight = -19;
    lf.lfCharSet = OEM_CHARSET;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lf.lfQuality = NONANTIALIASED_QUALITY;
    lstrcpyW(lf.lfFaceName, L"Terminal");
    HFONT font = CreateFontIndirectW(&lf);
    if (font && FaceOf(font) == L"Terminal") {
        console_font_ = font;
        console_face_ = L"Terminal";
        console_font_oem_ = true;
        return;
    }
    if (font) DeleteObject(font);

    if (HRSRC found = FindResourceW(instance_, MAKEINTRESOURCEW(QUORVIK_VGA_FONT),
                                    MAKEINTRESOURCEW(10))) { // RT_RCDATA
        HGLOBAL loaded = LoadResource(instance_, found);
        void* data = loaded ? LockResource(loaded) : nullptr;
        DWORD fonts = 0;
        if (data)
            embedded_font_ = AddFontMemResourceEx(data, SizeofResource(instance_, found), nullptr,
                                                  &fonts);
    }
    if (embedded_font_) {
        lf.lfHeight = -16;
        lf.lfCharSet = DEFAULT_CHARSET;
        lstrcpyW(lf.lfFaceName, kVgaFace);
        font = CreateFontIndirectW(&lf);
        if (font && FaceOf(font) == kVgaFace) {
            console_font_ = font;
            console_face_ = kVgaFace;
            console_font_oem_ = false;
            return;
        }
        if (font) DeleteObject(font);
    }
    console_font_ = static_cast<HFONT>(GetStockObject(OEM_FIXED_FONT));
    console_font_stock_ = true;
    console_font_oem_ = true;
    console_face_ = FaceOf(console_font_);
}

HFONT TWin32Window::ControlFont(const TControlDesc& desc) {
    LOGFONTW lf{};
    if (desc.face == ffConsole) {
        // The console's font at the panel's scale ("R"); the console itself takes a zoom.
        if (dpi_ == 96) return console_font_;
        GetObjectW(console_font_, sizeof lf, &lf);
        lf.lfHeight = MulDiv(lf.lfHeight, dpi_, 96);
        lf.lfWidth = MulDiv(lf.lfWidth, dpi_, 96);
        return CreateFontIndirectW(&lf);
    }
    lf.lfHeight = -Scaled(desc.font_pixels);
    lf.lfWeight = desc.bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    if (desc.face == ffFixed) {
        lstrcpyW(lf.lfFaceName, L"Courier New");
        lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    } else {
        lstrcpyW(lf.lfFaceName, L"MS Sans Serif");
        lf.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    }
    return CreateFontIndirectW(&lf);
}

void TWin32Window::Show(int show_command) {
    ShowWindow(window_, show_command);
    UpdateWindow(window_);
}

void TWin32Window::Run() {
    MSG message;
    while (!quit_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) break; // WM_QUIT, or an error
        if (FilterMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool TWin32Window::FilterMessage(const MSG& message) {
    if (!window_ || !form_) return false;
    const std::optional<TKeyMessage> key =
        KeyMessageFrom(message.message, message.wParam, message.lParam);
    if (!key) return false;
    if (message.hwnd != window_ && !IsChild(window_, message.hwnd)) return false;
    Guarded([&] { form_->AppMessage(key->direction, key->scan_code, key->virtual_key); });
    return true;
}

template <class F> void TWin32Window::Guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        MessageBox(e.what());
    }
}

// ---- Controls ----

void TWin32Window::CreateControl(const TControlDesc& desc) {
    specs_[desc.id] = desc;
    const bool coloured = desc.text_colour != kSystemColour;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (desc.visible ? WS_VISIBLE : 0) |
                  (desc.enabled ? 0 : WS_DISABLED);
    const wchar_t* window_class = L"BUTTON";
    std::wstring caption = Wide(desc.caption);
    HWND parent = panel_;
    switch (desc.kind) {
    case ckPushButton: style |= WS_TABSTOP | (coloured ? BS_OWNERDRAW : BS_PUSHBUTTON); break;
    case ckSpeedButton:
    case ckFlatButton:
        style |= coloured ? BS_OWNERDRAW : (BS_PUSHBUTTON | (desc.kind == ckFlatButton ? BS_FLAT : 0));
        break;
    case ckCheckBox: style |= WS_TABSTOP | BS_AUTOCHECKBOX; break;
    case ckRadioGroup:
        style |= BS_GROUPBOX;
        caption.clear();
        break;
    case ckLabel:
        window_class = L"STATIC";
        style |= WS_GROUP | SS_NOPREFIX | (desc.align_right ? SS_RIGHT : SS_LEFT);
        break;
    case ckBar:
        window_class = L"STATIC";
        parent = window_;
        caption.clear();
        break;
    }
    HWND control = CreateWindowExW(0, window_class, caption.c_str(), style, 0, 0, 0, 0, parent,
                                   nullptr, instance_, nullptr);
    controls_[desc.id] = control;
    if (desc.kind == ckBar) {
        bar_brush_ = CreateSolidBrush(ColourRef(desc.text_colour));
        return;
    }
    control_fonts_[desc.id] = ControlFont(desc);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(control_fonts_[desc.id]), FALSE);

    if (desc.kind == ckRadioGroup) {
        // Two columns inside the box, below its top line; the first item selected.
        const std::string items = desc.caption;
        const size_t split = items.find('\n');
        const std::wstring names[2] = {Wide(items.substr(0, split)),
                                       Wide(split == std::string::npos ? "" : items.substr(split + 1))};
        for (int i = 0; i < 2; ++i) {
            radio_items_[i] = CreateWindowExW(
                0, L"BUTTON", names[i].c_str(),
                WS_CHILD | WS_CLIPSIBLINGS | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0) |
                    (desc.visible ? WS_VISIBLE : 0) | (desc.enabled ? 0 : WS_DISABLED),
                0, 0, 0, 0, panel_, nullptr, instance_, nullptr);
            SendMessageW(radio_items_[i], WM_SETFONT,
                         reinterpret_cast<WPARAM>(control_fonts_[desc.id]), FALSE);
        }
        SendMessageW(radio_items_[0], BM_SETCHECK, BST_CHECKED, 0);
        // A new child goes below its siblings: the box, made first, would cover its items, and
        // with WS_CLIPSIBLINGS clip them away. The items go above it.
        SetWindowPos(control, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        for (HWND item : radio_items_) SetWindowSubclass(item, &TWin32Window::ControlProc, 0,
                                                         reinterpret_cast<DWORD_PTR>(this));
    }
    SetWindowSubclass(control, &TWin32Window::ControlProc, 0, reinterpret_cast<DWORD_PTR>(this));
    if (desc.kind == ckCheckBox)
        SendMessageW(control, BM_SETCHECK, desc.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (desc.hint[0] != '\0' && tooltips_) {
        const std::wstring hint = Wide(desc.hint);
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE; // understood by every version of the common controls
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = panel_;
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = const_cast<wchar_t*>(hint.c_str()); // copied by the tooltip control
        SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    if (desc.kind != ckBar) PlaceOnPanel(desc.id);
    if (desc.id == ciButtonDel) // covers "R" while shown
        SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// A control at its place in the panel, scaled from 96 DPI to the window's; a radio group's items
// in two columns inside its box, below its top line.
void TWin32Window::PlaceOnPanel(TControlId id) {
    const TControlDesc& d = specs_[id];
    SetWindowPos(controls_[id], nullptr, Scaled(d.left), Scaled(d.top), Scaled(d.width),
                 Scaled(d.height), SWP_NOZORDER | SWP_NOACTIVATE);
    if (d.kind == ckRadioGroup) {
        const int column = (Scaled(d.width) - Scaled(8)) / 2;
        for (int i = 0; i < 2; ++i) {
            SetWindowPos(radio_items_[i], nullptr, Scaled(d.left + 6) + i * column,
                         Scaled(d.top + 12), column - Scaled(2), Scaled(16),
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    if (d.kind == ckLabel) FitLabel(id);
    if (id == ciLabel2) PlaceStatusLabel();
}

// A label is as large as its text.
void TWin32Window::FitLabel(TControlId id) {
    HWND label = controls_[id];
    if (!label) return;
    wchar_t text[256] = {};
    const int length = GetWindowTextW(label, text, 256);
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, control_fonts_[id]);
    SIZE size{};
    GetTextExtentPoint32W(dc, text, length, &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The status label keeps against the panel's right edge, whatever its text.
void TWin32Window::PlaceStatusLabel() {
    HWND label = controls_[ciLabel2];
    if (!label) return;
    FitLabel(ciLabel2);
    RECT panel{}, own{};
    GetClientRect(panel_, &panel);
    GetWindowRect(label, &own);
    const int width = own.right - own.left;
    SetWindowPos(label, nullptr, panel.right - width - Scaled(2), Scaled(1), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32Window::SetText(TControlId id, const std::string& text) {
    if (!controls_[id]) return;
    SetWindowTextW(controls_[id], Wide(text).c_str());
    if (id == ciLabel2) {
        PlaceStatusLabel();
    } else if (specs_[id].kind == ckLabel) {
        FitLabel(id);
    }
}

void TWin32Window::SetEnabled(TControlId id, bool enabled) {
    EnableWindow(controls_[id], enabled);
    if (id == ciCOMGroup) {
        for (HWND item : radio_items_) EnableWindow(item, enabled);
    }
}

void TWin32Window::SetVisible(TControlId id, bool visible) {
    if (visible && id == ciButtonDel) {
        SetWindowPos(controls_[id], HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        return;
    }
    ShowWindow(controls_[id], visible ? SW_SHOWNA : SW_HIDE);
}

void TWin32Window::SetChecked(TControlId id, bool checked) {
    SendMessageW(controls_[id], BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TWin32Window::Checked(TControlId id) const {
    return controls_[id] && SendMessageW(controls_[id], BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int TWin32Window::SelectedItem(TControlId) const {
    return SendMessageW(radio_items_[1], BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void TWin32Window::PlaceControl(TControlId id, const TRect& place) {
    SetWindowPos(controls_[id], nullptr, place.left, place.top, place.width, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32Window::Clicked(HWND control) {
    int found = 0;
    while (found < kControlCount && controls_[found] != control) ++found;
    if (found == kControlCount) return; // a radio item: nothing to do
    const auto id = static_cast<TControlId>(found);
    // The speed buttons and "Del" never keep the focus; the keys go to the window anyway.
    const TControlKind kind = specs_[id].kind;
    if (kind == ckSpeedButton || kind == ckFlatButton || id == ciButtonDel) SetFocus(window_);
    switch (id) {
    case ciConnect: Guarded([this] { form_->OpenComClick(); }); break;
    case ciDisconnect: Guarded([this] { form_->CloseComClick(); }); break;
    case ciRscr: Guarded([this] { form_->RscrClick(); }); break;
    case ciButtonDel: Guarded([this] { form_->ButtonDelClick(); }); break;
    case ciEnaFloppy: Guarded([this] { form_->EnableFloppyClick(); }); break;
    default: break;
    }
}

// Buttons with their own text colour ("R" in red); disabled, the text is greyed as on every
// control of the panel.
void TWin32Window::DrawButton(const DRAWITEMSTRUCT& item) {
    int id = 0;
    while (id < kControlCount && controls_[id] != item.hwndItem) ++id;
    if (id == kControlCount) return;
    const TControlDesc& desc = specs_[id];
    HDC dc = item.hDC;
    RECT area = item.rcItem;
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    if (desc.kind == ckFlatButton) {
        FillRect(dc, &area, panel_brush_);
        if (pushed) DrawEdge(dc, &area, BDR_SUNKENOUTER, BF_RECT);
    } else {
        DrawFrameControl(dc, &area, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    }
    wchar_t text[64] = {};
    GetWindowTextW(item.hwndItem, text, 64);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, disabled ? GreyedText() : ColourRef(desc.text_colour));
    HGDIOBJ old = SelectObject(dc, control_fonts_[id]);
    RECT text_area = area;
    if (pushed) OffsetRect(&text_area, 1, 1);
    DrawTextW(dc, text, -1, &text_area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
    if (item.itemState & ODS_FOCUS) {
        InflateRect(&area, -4, -4);
        DrawFocusRect(dc, &area);
    }
}

// ---- The window ----

void TWin32Window::SetWindowCaption(const std::string& caption) {
    SetWindowTextW(window_, Wide(caption).c_str());
}

TRect TWin32Window::MeasureConsoleText(const char* text) {
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, console_font_);
    SIZE size{};
    GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    return TRect{0, 0, size.cx, size.cy};
}

int TWin32Window::ClientWidth() const {
    RECT r{};
    GetClientRect(window_, &r);
    return r.right;
}

int TWin32Window::ClientHeight() const {
    RECT r{};
    GetClientRect(window_, &r);
    return r.bottom;
}

int TWin32Window::PanelHeight() const {
    RECT r{};
    GetWindowRect(panel_, &r);
    return r.bottom - r.top;
}

void TWin32Window::SetClientSize(int width, int height) {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(window_, GWL_EXSTYLE)));
    SetWindowPos(window_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32Window::FocusWindow() {
    SetForegroundWindow(window_);
    SetFocus(window_);
}

double TWin32Window::DpiScale() const { return dpi_ / 96.0; }

// The window works in device pixels: it declares itself aware of each monitor's DPI.
double TWin32Window::PixelRatio() const { return 1.0; }

TRect TWin32Window::WorkArea() const {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT frame{}, client{};
    GetWindowRect(window_, &frame);
    GetClientRect(window_, &client);
    const int frame_width = (frame.right - frame.left) - client.right;
    const int frame_height = (frame.bottom - frame.top) - client.bottom;
    return TRect{0, 0, monitor.rcWork.right - monitor.rcWork.left - frame_width,
                 monitor.rcWork.bottom - monitor.rcWork.top - frame_height};
}

// ---- The off-screen image ----

void TWin32Window::CreateImage(int cell_width, int cell_height) {
    cell_width_ = cell_width;
    cell_height_ = cell_height;
    image_width_ = kScreenColumns * cell_width;
    image_height_ = kScreenRows * cell_height;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = image_width_;
    info.bmiHeader.biHeight = -image_height_; // top-down: row 0 first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    image_dc_ = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    image_ = CreateDIBSection(image_dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!image_dc_ || !image_)
        throw std::runtime_error("CreateDIBSection failed (Error: " +
                                 std::to_string(GetLastError()) + ")");
    image_bits_ = static_cast<uint32_t*>(bits);
    image_old_bitmap_ = SelectObject(image_dc_, image_);
    image_old_font_ = SelectObject(image_dc_, console_font_);
    PatBlt(image_dc_, 0, 0, image_width_, image_height_, BLACKNESS);
    SetBkMode(image_dc_, OPAQUE);
    SetTextAlign(image_dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
}

void TWin32Window::DrawCell(int row, int column, TCell cell) {
    SetTextColor(image_dc_, ColourRef(kColourTable[cell.attr & 0x0F]));
    SetBkColor(image_dc_, ColourRef(kColourTable[cell.attr >> 4]));
    const int x = column * cell_width_;
    const int y = row * cell_height_;
    const RECT box{x, y, x + cell_width_, y + cell_height_};
    // The box is filled with the background colour, also for code 0, which has no glyph.
    if (cell.ch == 0) {
        ExtTextOutW(image_dc_, x, y, ETO_OPAQUE, &box, L"", 0, nullptr);
    } else if (console_font_oem_) {
        const char code = static_cast<char>(cell.ch);
        ExtTextOutA(image_dc_, x, y, ETO_OPAQUE | ETO_CLIPPED, &box, &code, 1, nullptr);
    } else {
        const wchar_t glyph = static_cast<wchar_t>(Cp437ToUnicode(cell.ch));
        ExtTextOutW(image_dc_, x, y, ETO_OPAQUE | ETO_CLIPPED, &box, &glyph, 1, nullptr);
    }
}

void TWin32Window::CopyImage(const TRect& area, bool stretched) {
    if (!window_ || !image_dc_) return;
    HDC dc = paint_dc_ ? paint_dc_ : GetDC(window_);
    if (stretched || area.width != image_width_ || area.height != image_height_) {
        // At the console's zoom as when stretched: nearest neighbour, never smoothed.
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, area.left, area.top, area.width, area.height, image_dc_, 0, 0,
                   image_width_, image_height_, SRCCOPY);
    } else {
        BitBlt(dc, area.left, area.top, image_width_, image_height_, image_dc_, 0, 0, SRCCOPY);
    }
    if (!paint_dc_) ReleaseDC(window_, dc);
}

uint32_t TWin32Window::ImagePixel(int x, int y) const {
    if (!image_bits_ || x < 0 || y < 0 || x >= image_width_ || y >= image_height_) return 0;
    GdiFlush();
    return image_bits_[y * image_width_ + x] & 0xFFFFFF; // BGRA in memory: 0x00RRGGBB
}

void TWin32Window::Paint() {
    PAINTSTRUCT ps;
    paint_dc_ = BeginPaint(window_, &ps);
    if (form_ && image_dc_) Guarded([this] { form_->FormPaint(); });
    paint_dc_ = nullptr;
    EndPaint(window_, &ps);
}

// ---- Dialogs ----

void TWin32Window::MessageBox(const std::string& text) {
    if (message_box_hook) {
        message_box_hook(text);
        return;
    }
    ::MessageBoxW(window_ && IsWindow(window_) ? window_ : nullptr, Wide(text).c_str(),
                  Wide(kMessageCaption).c_str(), MB_OK);
}

namespace {

// The system's file dialog, for a file to read or one to write; UTF-8 in and out.
std::string RunFileDialog(HWND owner, const TFileDialogDesc& desc, bool save) {
    // The filter: its display text, then its patterns, each ending in a 0; a 0 more at the end.
    std::wstring filter = Wide(desc.filter);
    filter.push_back(L'\0');
    filter += Wide(desc.filter);
    filter.push_back(L'\0');
    const std::wstring title = Wide(desc.title);
    const std::wstring directory = Wide(desc.initial_directory);
    std::vector<wchar_t> name(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.lpstrInitialDir = directory.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog))) return {};
    return Utf8(name.data());
}

} // namespace

std::string TWin32Window::OpenFileDialog(const TFileDialogDesc& desc) {
    if (file_dialog_hook) return file_dialog_hook();
    return RunFileDialog(window_, desc, false);
}

std::string TWin32Window::SaveImagePng(const std::string& path) {
    GdiFlush(); // GDI may still hold drawing for the DIB section's bits
    return WriteFileBytes(path, EncodePng(image_width_, image_height_, image_bits_));
}

std::string TWin32Window::SaveFileDialog(const TFileDialogDesc& desc) {
    if (save_dialog_hook) return save_dialog_hook();
    return RunFileDialog(window_, desc, true);
}

// ---- Context menus and the clipboard ----

bool TWin32Window::NetworkPortDialog(TNetworkPortDesc& port) {
    if (network_dialog_hook) return network_dialog_hook(port);
    return RunNetworkPortDialog(instance_, window_, port);
}

bool TWin32Window::NewImageDialog(TNewImageDesc& desc) {
    if (new_image_dialog_hook) return new_image_dialog_hook(desc);
    return RunNewImageDialog(instance_, window_, desc);
}

std::string TWin32Window::FolderDialog(const TFileDialogDesc& desc) {
    if (folder_dialog_hook) return folder_dialog_hook();
    return RunFolderDialog(window_, desc.title);
}

// A radio item's hint: its own tool, added the first time and then given new text.
void TWin32Window::SetItemHint(TControlId id, int item, const std::string& hint) {
    if (id != ciCOMGroup || item < 0 || item > 1 || !radio_items_[item] || !tooltips_) return;
    const std::wstring text = Wide(hint);
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = panel_;
    tool.uId = reinterpret_cast<UINT_PTR>(radio_items_[item]);
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    if (item_hint_added_[item])
        SendMessageW(tooltips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    else
        item_hint_added_[item] =
            SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
}

int TWin32Window::PopupMenu(const std::vector<TMenuEntry>& entries, int x, int y) {
    if (popup_menu_hook) return popup_menu_hook(entries);
    if (!window_) return -1;
    HMENU menu = CreatePopupMenu();
    if (!menu) return -1;
    for (const TMenuEntry& entry : entries) {
        if (entry.caption.empty()) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        // Menu identifiers start at 1: TrackPopupMenu answers 0 for "nothing chosen".
        AppendMenuW(menu, MF_STRING | (entry.enabled ? MF_ENABLED : MF_GRAYED),
                    static_cast<UINT_PTR>(entry.command) + 1, Wide(entry.caption).c_str());
    }
    POINT at{x, y};
    ClientToScreen(window_, &at);
    // The menu runs its own modal loop, outside the key filter: keys drive the menu.
    const int chosen = static_cast<int>(TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, 0,
        window_, nullptr));
    DestroyMenu(menu);
    return chosen - 1;
}

void TWin32Window::SetClipboardText(TClipboardKind kind, const std::string& text) {
    if (kind != cbClipboard || !window_) return; // Windows has no PRIMARY selection
    const std::wstring wide = Wide(text);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
    if (!memory) return;
    if (auto* copy = static_cast<wchar_t*>(GlobalLock(memory))) {
        std::copy(wide.begin(), wide.end(), copy);
        copy[wide.size()] = L'\0';
        GlobalUnlock(memory);
    }
    if (!OpenClipboard(window_)) {
        GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory); // else the system's
    CloseClipboard();
}

std::string TWin32Window::ClipboardText(TClipboardKind kind) {
    if (kind != cbClipboard || !window_ || !OpenClipboard(window_)) return {};
    std::string text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = Utf8(wide);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

// ---- Timers and the event loop ----

void TWin32Window::StartTimer(int interval_ms) {
    if (!window_) return; // closed: a timer of no window would be the thread's
    SetTimer(window_, kTimer1, static_cast<UINT>(interval_ms), nullptr);
}

void TWin32Window::StartRefreshTimer(int delay_ms) {
    // The same timer again replaces a pending request.
    if (!window_) return;
    SetTimer(window_, kRefreshTimer, static_cast<UINT>(delay_ms < 0 ? 0 : delay_ms), nullptr);
}

void TWin32Window::StartPasteTimer(int delay_ms) {
    // Windows rounds a timer up to its tick (about 15.6 ms); the paste makes up for it.
    if (!window_) return;
    SetTimer(window_, kPasteTimer, static_cast<UINT>(delay_ms < 0 ? 0 : delay_ms), nullptr);
}

void TWin32Window::ProcessPendingEvents() {
    MSG message;
    while (!quit_ && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit_ = true; // the outer loop ends when the handlers it runs have returned
            break;
        }
        if (FilterMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void TWin32Window::WaitForEvents() {
    if (quit_) return;
    // Sleeps until a message is in the queue (the 100 ms timer brings one at the latest); a
    // message already waiting returns at once. Bounded, so that nothing can hang here.
    MsgWaitForMultipleObjectsEx(0, nullptr, 1000, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    ProcessPendingEvents();
}

TLockState TWin32Window::ReadLockState() { return ReadWin32LockState(); }

void TWin32Window::Post(std::function<void()> call) {
    auto* queued = new std::function<void()>(std::move(call));
    if (!window_ || !PostMessageW(window_, kRunCall, 0, reinterpret_cast<LPARAM>(queued)))
        delete queued; // never run: the port's Close ends the wait for it
}

void TWin32Window::DropPendingCalls() {
    if (!window_) return;
    MSG message;
    while (PeekMessageW(&message, window_, kRunCall, kRunCall, PM_REMOVE)) {
        // PeekMessage hands out a pending WM_QUIT whatever the filter: it is not ours to drop.
        if (message.message == WM_QUIT) {
            if (destroying_) {
                PostQuitMessage(static_cast<int>(message.wParam)); // someone else's
            } else {
                quit_ = true;
            }
            break;
        }
        delete reinterpret_cast<std::function<void()>*>(message.lParam);
    }
}

// ---- Window procedures ----

LRESULT CALLBACK TWin32Window::MainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TWin32Window*>(
            reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    }
    auto* self = reinterpret_cast<TWin32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wparam, lparam);
    return self->WindowMessage(message, wparam, lparam);
}

LRESULT CALLBACK TWin32Window::PanelProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TWin32Window*>(
            reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->panel_ = window;
    }
    auto* self = reinterpret_cast<TWin32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wparam, lparam);
    return self->PanelMessage(message, wparam, lparam);
}

LRESULT TWin32Window::WindowMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    HWND window = window_;
    switch (message) {
    case kRunCall: {
        std::unique_ptr<std::function<void()>> call(
            reinterpret_cast<std::function<void()>*>(lparam));
        Guarded([&] { (*call)(); });
        return 0;
    }
    case WM_TIMER:
        if (wparam == kTimer1 && form_) {
            Guarded([this] { form_->Timer1Timer(); });
        } else if (wparam == kRefreshTimer) {
            KillTimer(window_, kRefreshTimer);
            if (form_) Guarded([this] { form_->RefreshTimer(); });
        } else if (wparam == kPasteTimer) {
            KillTimer(window_, kPasteTimer);
            if (form_) Guarded([this] { form_->PasteTimer(); });
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_MOUSEWHEEL:
        if (MouseMessage(message, wparam, lparam)) return 0;
        break;
    case WM_PAINT: Paint(); return 0;
    case WM_ERASEBKGND:
        // The image covers the whole area below the panel; erasing it first would flicker.
        if (form_ && image_dc_) return 1;
        break;
    case WM_SIZE:
        if (panel_) {
            MoveWindow(panel_, 0, 0, LOWORD(lparam), Scaled(kPanelHeight), TRUE);
            PlaceStatusLabel();
        }
        if (form_ && image_dc_) Guarded([this] { form_->FormResize(); });
        return 0;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wparam);
        // The panel's fonts and places at the new DPI; the window where Windows suggests, then
        // at its natural size at the zoom the form decides.
        for (const TControlDesc& desc : specs_) {
            if (!controls_[desc.id] || desc.kind == ckBar) continue;
            HFONT old = control_fonts_[desc.id];
            control_fonts_[desc.id] = ControlFont(desc);
            SendMessageW(controls_[desc.id], WM_SETFONT,
                         reinterpret_cast<WPARAM>(control_fonts_[desc.id]), TRUE);
            if (desc.kind == ckRadioGroup) {
                for (HWND item : radio_items_)
                    SendMessageW(item, WM_SETFONT,
                                 reinterpret_cast<WPARAM>(control_fonts_[desc.id]), TRUE);
            }
            if (old && old != console_font_) DeleteObject(old);
        }
        const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        // The panel's new height now: a suggested rectangle of the same size brings no WM_SIZE.
        RECT client{};
        GetClientRect(window_, &client);
        MoveWindow(panel_, 0, 0, client.right, Scaled(kPanelHeight), TRUE);
        for (const TControlDesc& desc : specs_) {
            if (controls_[desc.id] && desc.kind != ckBar) PlaceOnPanel(desc.id);
        }
        if (form_ && image_dc_) Guarded([this] { form_->FormDpiChanged(); });
        InvalidateRect(window_, nullptr, TRUE);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE && form_) Guarded([this] { form_->FormActivate(); });
        break;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lparam) == controls_[ciMarker] && bar_brush_)
            return reinterpret_cast<LRESULT>(bar_brush_);
        break;
    case WM_CLOSE:
        if (form_) Guarded([this] { form_->FormClose(); });
        DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        KillTimer(window_, kTimer1);
        KillTimer(window_, kRefreshTimer);
        KillTimer(window_, kPasteTimer);
        DropPendingCalls(); // before the WM_QUIT, which it would take too
        if (!destroying_) PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        window_ = nullptr;
        panel_ = nullptr;
        break;
    default: break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// The mouse on the main window (the panel's controls take their own): handed to the form in
// client pixels. The window keeps the mouse while a button is held, so that a drag may leave it.
bool TWin32Window::MouseMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (!form_) return false;
    const int x = static_cast<short>(LOWORD(lparam));
    const int y = static_cast<short>(HIWORD(lparam));
    const bool held = (wparam & (MK_LBUTTON | MK_MBUTTON | MK_RBUTTON)) != 0;
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN: {
        const TMouseButton button = message == WM_LBUTTONDOWN   ? mbLeft
                                    : message == WM_MBUTTONDOWN ? mbMiddle
                                                                : mbRight;
        SetCapture(window_);
        Guarded([&] { form_->MouseDown(button, x, y); });
        return true;
    }
    case WM_LBUTTONUP:
    case WM_MBUTTONUP:
    case WM_RBUTTONUP: {
        const TMouseButton button = message == WM_LBUTTONUP   ? mbLeft
                                    : message == WM_MBUTTONUP ? mbMiddle
                                                              : mbRight;
        if (!held) ReleaseCapture();
        Guarded([&] { form_->MouseUp(button, x, y); });
        return true;
    }
    case WM_MOUSEMOVE:
        if (held) Guarded([&] { form_->MouseMove(x, y); });
        return true;
    case WM_MOUSEWHEEL: {
        // Its place comes in screen coordinates; 120 makes one notch, finer wheels add up.
        POINT at{x, y};
        ScreenToClient(window_, &at);
        wheel_remainder_ += GET_WHEEL_DELTA_WPARAM(wparam);
        const int steps = wheel_remainder_ / WHEEL_DELTA;
        wheel_remainder_ -= steps * WHEEL_DELTA;
        if (steps != 0) Guarded([&] { form_->MouseWheel(steps, at.x, at.y); });
        return true;
    }
    default: return false;
    }
}

// A right click on the panel: the COM group's box lets clicks through to the panel, its items
// are controls of their own.
void TWin32Window::PanelContextMenu(HWND clicked, LPARAM lparam) {
    if (!form_ || !window_) return;
    POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    ScreenToClient(window_, &at);
    bool on_group = clicked == radio_items_[0] || clicked == radio_items_[1] ||
                    clicked == controls_[ciCOMGroup];
    if (!on_group && controls_[ciCOMGroup] && IsWindowVisible(controls_[ciCOMGroup])) {
        RECT box;
        GetWindowRect(controls_[ciCOMGroup], &box);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&box), 2);
        on_group = PtInRect(&box, at) != 0;
    }
    if (on_group) Guarded([&] { form_->ControlContextMenu(ciCOMGroup, at.x, at.y); });
    // "Floppy..." keeps its plain click; a right click opens the floppy's menu.
    else if (clicked == controls_[ciEnaFloppy])
        Guarded([&] { form_->ControlContextMenu(ciEnaFloppy, at.x, at.y); });
}

LRESULT TWin32Window::PanelMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wparam) == BN_CLICKED && lparam != 0) Clicked(reinterpret_cast<HWND>(lparam));
        return 0;
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
        return TRUE;
    case WM_CONTEXTMENU:
        PanelContextMenu(reinterpret_cast<HWND>(wparam), lparam);
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(panel_brush_);
    }
    default: break;
    }
    return DefWindowProcW(panel_, message, wparam, lparam);
}

LRESULT CALLBACK TWin32Window::ControlProc(HWND control, UINT message, WPARAM wparam,
                                           LPARAM lparam, UINT_PTR, DWORD_PTR self) {
    return reinterpret_cast<TWin32Window*>(self)->ControlMessage(control, message, wparam, lparam);
}

// What the standard controls leave undone on the panel:
// - a group box paints its frame and caption only, and the panel, which clips its children,
//   paints nothing under it: its inside is filled with the panel's face here;
// - the system draws a disabled control's caption in its own grey, near 2:1 on the face: a
//   disabled control is drawn here whole, in the system's look, with its caption greyed as
//   the Linux window greys it (GreyedCaptionColour).
LRESULT TWin32Window::ControlMessage(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_ERASEBKGND:
        if ((GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX &&
            control == controls_[ciCOMGroup]) {
            RECT r{};
            GetClientRect(control, &r);
            FillRect(reinterpret_cast<HDC>(wparam), &r, panel_brush_);
            return 1;
        }
        break;
    case WM_PAINT:
        if (!IsWindowEnabled(control) && control != controls_[ciCOMGroup]) {
            const LONG style = GetWindowLongW(control, GWL_STYLE);
            const bool owner_drawn = ClassOf(control) == L"Button" &&
                                     (style & BS_TYPEMASK) == BS_OWNERDRAW;
            if (!owner_drawn) {
                PaintGreyed(control);
                return 0;
            }
        }
        break;
    case WM_ENABLE:
    case WM_SETTEXT:
    case BM_SETCHECK: {
        // The system paints these changes itself, in its own grey when disabled.
        const LRESULT result = DefSubclassProc(control, message, wparam, lparam);
        if (!IsWindowEnabled(control)) InvalidateRect(control, nullptr, TRUE);
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(control, &TWin32Window::ControlProc, 0);
        break;
    default: break;
    }
    return DefSubclassProc(control, message, wparam, lparam);
}

void TWin32Window::PaintGreyed(HWND control) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(control, &ps);
    RECT area{};
    GetClientRect(control, &area);
    FillRect(dc, &area, panel_brush_);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const bool is_button = ClassOf(control) == L"Button";
    const LONG type = style & BS_TYPEMASK;
    const bool check = is_button && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX);
    const bool radio = is_button && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON);
    const bool push = is_button && !check && !radio;
    const bool checked = SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;

    // The control's own theme, if it draws with one (common controls 6 under visual styles).
    HTHEME theme = GetWindowTheme(control);
    RECT text_area = area;
    if (push && !(style & BS_FLAT)) {
        if (theme) {
            DrawThemeBackground(theme, dc, BP_PUSHBUTTON, PBS_DISABLED, &area, nullptr);
        } else {
            DrawFrameControl(dc, &area, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_INACTIVE);
        }
    } else if (check || radio) {
        // The box or the circle at the left, centred in height; the caption after it.
        const int part = check ? BP_CHECKBOX : BP_RADIOBUTTON;
        const int state = check ? int{checked ? CBS_CHECKEDDISABLED : CBS_UNCHECKEDDISABLED}
                                : int{checked ? RBS_CHECKEDDISABLED : RBS_UNCHECKEDDISABLED};
        SIZE size{Scaled(13), Scaled(13)};
        if (theme) GetThemePartSize(theme, dc, part, state, nullptr, TS_DRAW, &size);
        const int top = (area.bottom - size.cy) / 2;
        RECT glyph{0, top, size.cx, top + size.cy};
        if (theme) {
            DrawThemeBackground(theme, dc, part, state, &glyph, nullptr);
        } else {
            DrawFrameControl(dc, &glyph, DFC_BUTTON,
                             (check ? DFCS_BUTTONCHECK : DFCS_BUTTONRADIO) | DFCS_INACTIVE |
                                 (checked ? DFCS_CHECKED : 0));
        }
        text_area.left = size.cx + Scaled(4);
    }

    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    UINT format = DT_SINGLELINE | DT_NOPREFIX;
    if (push) {
        format |= DT_CENTER | DT_VCENTER;
    } else if (check || radio) {
        format |= DT_LEFT | DT_VCENTER;
    } else {
        format |= (style & SS_TYPEMASK) == SS_RIGHT ? DT_RIGHT : DT_LEFT;
    }
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GreyedText());
    DrawTextW(dc, text, -1, &text_area, format);
    SelectObject(dc, old);
    EndPaint(control, &ps);
}
