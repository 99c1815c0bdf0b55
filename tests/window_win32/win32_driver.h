// The window suite's driver of the Win32 window under wine on Xvfb (window_driver.h): the
// window hosted in the test program, its buttons clicked and its mouse messages sent as the
// system sends them, keys typed through XTest, pixels read from the window's own DC, PNG files
// read by GDI+. The Win32 window's own tests use it too.
#pragma once

#include "win32_rig.h"
#include "window_driver.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <cstring>
#include <utility>

inline std::string Utf8Of(const std::wstring& text) {
    std::string out(text.size() * 3 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return out;
}

inline std::wstring WideOf(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return out;
}

inline std::string TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return Utf8Of(text);
}

class TWin32Driver final : public TWindowDriver {
  public:
    TWin32Driver() : window_(std::make_unique<TWin32Window>(GetModuleHandleW(nullptr))) {
        form_ = &window_->Form();
        window_->message_box_hook = [this](const std::string& text) { boxes_.push_back(text); };
        window_->Show(SW_SHOWNORMAL);
    }
    ~TWin32Driver() override {
        window_.reset();
        MSG quit; // a window closed in the scenario has posted its WM_QUIT: none for the next one
        PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    TWin32Window& Window() { return *window_; }

    TShownControl Control(TControlId id, int item = -1) override {
        HWND control = Handle(id, item);
        TShownControl shown{IsWindowEnabled(control) != FALSE,
                            IsWindowVisible(control) != FALSE,
                            (kPanelControls[id].kind == ckCheckBox || item >= 0) &&
                                SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED,
                            TextOf(control),
                            "",
                            PlaceIn(control, window_->Panel())};
        wchar_t hint[256] = {};
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = window_->Panel();
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = hint;
        SendMessageW(window_->Tooltips(), TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        shown.hint = Utf8Of(hint);
        return shown;
    }
    void SetCaption(TControlId id, int item, const std::string& text) override {
        SetWindowTextW(Handle(id, item), WideOf(text).c_str());
    }
    void Click(TControlId id, int item = -1) override {
        SendMessageW(Handle(id, item), BM_CLICK, 0, 0);
    }
    TRect PanelPlace() override { return PlaceIn(window_->Panel(), window_->Handle()); }
    int PanelUnits(int pixels) override { return MulDiv(pixels, window_->Dpi(), 96); }
    uint32_t FaceColour() override { return Rgb(GetSysColor(COLOR_BTNFACE)); }

    std::string WindowCaption() override { return TextOf(window_->Handle()); }
    double Scale() override { return window_->Dpi() / 96.0; }
    TRect Client() override {
        RECT client{};
        GetClientRect(window_->Handle(), &client);
        return TRect{0, 0, client.right, client.bottom};
    }
    void ResizeClient(int width, int height) override {
        RECT frame{0, 0, width, height};
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window_->Handle(), GWL_STYLE)),
                           FALSE, 0);
        SetWindowPos(window_->Handle(), nullptr, 0, 0, frame.right - frame.left,
                     frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    }
    TPixels Grab() override {
        const TRect c = Client();
        return GrabRect(RECT{0, 0, c.width, c.height});
    }
    TPixels GrabControl(TControlId id, int item = -1) override {
        const TRect r = PlaceIn(Handle(id, item), window_->Handle());
        return GrabRect(RECT{r.left, r.top, r.left + r.width, r.top + r.height});
    }
    uint32_t ImagePixel(int x, int y) override { return window_->ImagePixel(x, y); }
    TPixels ReadPng(const std::string& host_path) override {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return {};
        TPixels p;
        {
            Gdiplus::Bitmap bitmap(WideOf(WinPath(host_path)).c_str());
            if (bitmap.GetLastStatus() == Gdiplus::Ok) {
                p.width = static_cast<int>(bitmap.GetWidth());
                p.height = static_cast<int>(bitmap.GetHeight());
                for (int y = 0; y < p.height; ++y)
                    for (int x = 0; x < p.width; ++x) {
                        Gdiplus::Color c;
                        bitmap.GetPixel(x, y, &c);
                        p.rgb.push_back(c.GetValue() & 0xFFFFFF);
                    }
            }
        }
        Gdiplus::GdiplusShutdown(token);
        return p;
    }
    void StopTimer() override { KillTimer(window_->Handle(), 1); }
    void CloseWindow() override { SendMessageW(window_->Handle(), WM_CLOSE, 0, 0); }
    bool Closed() override { return window_->Closed(); }

    void TypeKeys(const std::vector<int>& signed_keycodes) override { ::TypeKeys(signed_keycodes); }
    void Mouse(TMouseButton button, bool press, int x, int y) override {
        const UINT down = button == mbLeft     ? WM_LBUTTONDOWN
                          : button == mbMiddle ? WM_MBUTTONDOWN
                                               : WM_RBUTTONDOWN;
        const WPARAM held = button == mbLeft     ? MK_LBUTTON
                            : button == mbMiddle ? MK_MBUTTON
                                                 : MK_RBUTTON;
        // Each button's up message follows its down message.
        SendMessageW(window_->Handle(), press ? down : down + 1, press ? held : 0,
                     MAKELPARAM(x, y));
    }
    void MouseDrag(int x, int y) override {
        SendMessageW(window_->Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
    }
    void Wheel(int notches, int x, int y) override {
        POINT at{x, y}; // its place comes in screen coordinates
        ClientToScreen(window_->Handle(), &at);
        SendMessageW(window_->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA * notches),
                     MAKELPARAM(at.x, at.y));
    }
    void AnswerMenus(std::function<int(const std::vector<TMenuEntry>&)> answer) override {
        window_->popup_menu_hook = std::move(answer);
    }
    // Posted: the menu's own loop runs once the window takes the click.
    void OpenMenuAt(int x, int y) override {
        PostMessageW(window_->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
        PostMessageW(window_->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(x, y));
    }
    bool MenuOpen() override {
        HWND menu = FindWindowW(L"#32768", nullptr);
        return menu && IsWindowVisible(menu);
    }
    void RightClick(TControlId id, int item = -1) override {
        RECT r{};
        GetWindowRect(Handle(id, item), &r);
        SendMessageW(window_->Panel(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Handle(id, item)),
                     MAKELPARAM(r.left + 3, r.top + 3));
    }
    std::string ClipboardText() override {
        std::string text;
        if (!OpenClipboard(window_->Handle())) return "(clipboard busy)";
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            text = Utf8Of(static_cast<const wchar_t*>(GlobalLock(data)));
            GlobalUnlock(data);
        }
        CloseClipboard();
        return text;
    }
    // As another program does: no owner window, the text in the system's form.
    void SetClipboardText(const std::string& text) override {
        const std::wstring wide = WideOf(text);
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
        std::memcpy(GlobalLock(memory), wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
        GlobalUnlock(memory);
        EXPECT_NE(SetClipboardData(CF_UNICODETEXT, memory), nullptr);
        CloseClipboard();
    }
    void ChooseImage(const std::string& host_path) override {
        window_->file_dialog_hook = [path = WinPath(host_path)] { return path; };
        Click(ciEnaFloppy);
    }
    void AnswerSaveDialog(const std::string& host_path) override {
        window_->save_dialog_hook = [path = WinPath(host_path)] { return path; };
    }
    void AnswerFolderDialog(const std::string& host_path) override {
        window_->folder_dialog_hook = [path = WinPath(host_path)] { return path; };
    }
    void AnswerNetworkDialog(const TNetworkPortDesc& port) override {
        window_->network_dialog_hook = [port](TNetworkPortDesc& asked) {
            asked = port;
            return true;
        };
    }

    // The pty peer's first pseudo-terminal (the simulated target points COM1 at its own).
    std::unique_ptr<TPtyTarget> Target() override {
        const std::string pty = Env("QUORVIK_PEER_PTY0");
        EXPECT_FALSE(pty.empty()) << "QUORVIK_PEER_PTY0 must name the pty peer's first pty";
        MapComPort(1, pty);
        return std::make_unique<TPtyTarget>();
    }
    std::vector<std::string> TakeBoxes() override { return std::exchange(boxes_, {}); }
    std::vector<std::string> RunConnected(const std::vector<TWindowStep>& steps) override {
        TWinStepper stepper;
        for (const TWindowStep& s : steps)
            stepper.Then(s.what, s.cond, s.action, s.timeout);
        return stepper.RunConnected(*window_);
    }

  private:
    static uint32_t Rgb(COLORREF c) {
        return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
    }
    static TRect PlaceIn(HWND control, HWND parent) {
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        return TRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    HWND Handle(TControlId id, int item) const {
        return item >= 0 ? window_->RadioItem(item) : window_->Control(id);
    }
    // The window's own pixels in `r` (client coordinates), as far as it lies inside the client
    // area: what the window shows there.
    TPixels GrabRect(RECT r) {
        HWND window = window_->Handle();
        RedrawWindow(window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        RECT client{};
        GetClientRect(window, &client);
        IntersectRect(&r, &r, &client);
        TPixels g{r.right - r.left, r.bottom - r.top, {}};
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(info.bmiHeader), g.width, -g.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        HDC screen = GetDC(window);
        HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, g.width, g.height, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        const auto* p = static_cast<const uint32_t*>(bits);
        for (size_t i = 0; i < static_cast<size_t>(g.width) * g.height; ++i)
            g.rgb.push_back(p[i] & 0xFFFFFF);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, screen);
        return g;
    }

    std::unique_ptr<TWin32Window> window_;
    std::vector<std::string> boxes_;
};
