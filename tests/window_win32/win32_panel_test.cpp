// The Win32 panel as a user sees it under wine: every caption that is shown sits on the panel's
// face colour and can be read against it, before Connect and while connected.
//
// A caption's text pixels are found by grabbing the control twice from the window's own
// pixels, with its caption and with an empty one: what differs is the text, and the empty
// grab is what lies behind it.
#include "contrast.h"
#include "win32_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

uint32_t Rgb(COLORREF c) {
    return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
}

std::wstring TextOf(HWND control) {
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    return text;
}

// The pixels the main window shows where `control` is (as far as it lies inside the client
// area), 0xRRGGBB row by row.
struct TGrab {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

TGrab Grab(HWND window, HWND control) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT r{}, client{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    GetClientRect(window, &client);
    IntersectRect(&r, &r, &client); // what the window shows of it
    TGrab g;
    g.width = r.right - r.left;
    g.height = r.bottom - r.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = g.width;
    info.bmiHeader.biHeight = -g.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, g.width, g.height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    g.pixels.assign(p, p + static_cast<size_t>(g.width) * g.height);
    for (uint32_t& px : g.pixels) px &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return g;
}

uint32_t Dominant(const TGrab& g) {
    std::map<uint32_t, int> counts;
    for (uint32_t px : g.pixels) ++counts[px];
    return std::max_element(counts.begin(), counts.end(),
                            [](auto& a, auto& b) { return a.second < b.second; })
        ->first;
}

// The caption of `control` against what is behind it: "" when it sits on the panel's face and
// enough of its strokes reach `threshold`; otherwise what is wrong.
std::string Illegible(HWND window, HWND control, const char* what, double threshold) {
    const std::wstring text = TextOf(control);
    const TGrab with = Grab(window, control);
    SetWindowTextW(control, L"");
    const TGrab without = Grab(window, control);
    SetWindowTextW(control, text.c_str());
    Grab(window, control); // drawn again with its caption

    // A push button may have a face of its own under visual styles, but never the console's
    // black: the box must be the panel's face or close to it.
    const uint32_t face = Rgb(GetSysColor(COLOR_BTNFACE));
    char line[256];
    if (Contrast(Dominant(without), face) > 1.25) {
        std::snprintf(line, sizeof line, "%s: on %06X, not on the panel's face %06X", what,
                      Dominant(without), face);
        return line;
    }
    int text_pixels = 0, legible = 0;
    double best = 0;
    for (size_t i = 0; i < with.pixels.size() && i < without.pixels.size(); ++i) {
        if (with.pixels[i] == without.pixels[i]) continue;
        ++text_pixels;
        const double c = Contrast(with.pixels[i], without.pixels[i]);
        best = std::max(best, c);
        legible += c >= threshold;
    }
    // A caption is read from its strokes: a handful of pixels must reach the contrast (of a
    // smoothed one-digit "0", a fifth of its pixels are whole strokes).
    if (text_pixels > 0 && legible >= std::min(8, (text_pixels + 4) / 5)) return "";
    std::snprintf(line, sizeof line, "%s: best %.2f:1 over %d text pixels, %d legible", what,
                  best, text_pixels, legible);
    return line;
}

class Win32Panel : public testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<TWin32Window>(GetModuleHandleW(nullptr));
        window->message_box_hook = [](const std::string& text) {
            ADD_FAILURE() << "message box: " << text;
        };
        window->Show(SW_SHOWNORMAL);
        KillTimer(window->Handle(), 1); // no status update may change a caption between grabs
        CapsLockOn();
    }
    // Something to read in the keyboard state label: Caps Lock on (a press toggles it).
    void CapsLockOn() {
        if (TextOf(window->Control(ciLabel1)).find(L"CAPS") != std::wstring::npos) return;
        window->Form().AppMessage(kdDown, 0x3A, 0x14);
        window->Form().AppMessage(kdUp, 0x3A, 0x14);
    }

    // Every shown caption of the panel, with the contrast it needs: 3:1 for the large "R",
    // 4.5:1 for the rest.
    std::vector<std::string> Illegibles() {
        struct TCaption {
            HWND control;
            const char* what;
            double threshold;
        };
        const TCaption captions[] = {
            {window->Control(ciConnect), "Connect", 4.5},
            {window->Control(ciDisconnect), "Disconnect", 4.5},
            {window->Control(ciRscr), "R", 3.0},
            {window->Control(ciButtonDel), "Del", 4.5},
            {window->Control(ciEnaFloppy), "Floppy...", 4.5},
            {window->RadioItem(0), "COM1", 4.5},
            {window->RadioItem(1), "COM2", 4.5},
            {window->Control(ciLabel1), "Label1", 4.5},
            {window->Control(ciLabel2), "Label2", 4.5},
        };
        std::vector<std::string> found;
        for (const TCaption& c : captions) {
            if (!IsWindowVisible(c.control)) continue;
            const std::string wrong = Illegible(window->Handle(), c.control, c.what, c.threshold);
            if (!wrong.empty()) found.push_back(wrong);
        }
        return found;
    }

    std::unique_ptr<TWin32Window> window;
};

} // namespace

TEST_F(Win32Panel, EveryCaptionSitsOnThePanelAndCanBeReadBeforeConnectAndWhileConnected) {
    EXPECT_NE(TextOf(window->Control(ciLabel1)).find(L"CAPS"), std::wstring::npos);
    EXPECT_EQ(Illegibles(), std::vector<std::string>{}) << "idle";

    TWinSimTarget target({"--print-events", "--time-limit", "60"});
    std::vector<std::string> connected;
    std::wstring label1;
    TWinStepper steps;
    steps.Then("connected", [&] { return target.Printed("connected image=0"); },
               [&] {
                   // Connect may have activated the window, which takes the system's Caps Lock
                   // (off) over.
                   CapsLockOn();
                   label1 = TextOf(window->Control(ciLabel1));
                   connected = Illegibles();
                   window->Form().CloseComClick();
               });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_NE(label1.find(L"CAPS"), std::wstring::npos);
    EXPECT_EQ(connected, std::vector<std::string>{}) << "connected";
}

// At the system's DPI (scripts/win-test runs this at 96, 144 and 192 DPI, set through wine's
// LogPixels, and names it in QUORVIK_TEST_DPI): the panel scaled, the console at a whole zoom,
// drawn crisp.
TEST_F(Win32Panel, ThePanelScalesWithTheDpiAndTheConsoleTakesAWholeZoom) {
    const int dpi = window->Dpi();
    if (!Env("QUORVIK_TEST_DPI").empty()) {
        EXPECT_EQ(dpi, std::stoi(Env("QUORVIK_TEST_DPI")));
    }
    // The rig's screen has room for zoom 2 (1440 x 800 and the panel).
    const int z = window->Form().Zoom();
    EXPECT_EQ(z, std::max(1, (dpi + 48) / 96 > 2 ? 2 : (dpi + 48) / 96)) << dpi << " DPI";
    const int cw = window->Form().CellWidth(), ch = window->Form().CellHeight();
    RECT client{};
    GetClientRect(window->Handle(), &client);
    EXPECT_EQ(client.right, 80 * cw * z);
    EXPECT_EQ(client.bottom, 25 * ch * z + MulDiv(41, dpi, 96));
    std::printf("[ figures  ] %d DPI: zoom %d, cell %d x %d shown as %d x %d, client %ld x %ld\n",
                dpi, z, cw, ch, cw * z, ch * z, client.right, client.bottom);

    // Every caption fits its control: nothing is cut ("Floppy..." to "Floppy.").
    for (HWND control : {window->Control(ciEnaFloppy), window->RadioItem(0), window->RadioItem(1),
                         window->Control(ciConnect), window->Control(ciDisconnect)}) {
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        const std::wstring text = TextOf(control);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        RECT r{};
        GetClientRect(control, &r);
        const bool boxed = (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) != BS_PUSHBUTTON;
        const int glyph = boxed ? MulDiv(13 + 3, dpi, 96) : 0; // the box or circle and its gap
        EXPECT_LE(size.cx + glyph, r.right) << std::string(text.begin(), text.end());
        EXPECT_LE(size.cy, r.bottom) << std::string(text.begin(), text.end());
    }

    // A glyph cell, white on black: in the window every image pixel is a square of z x z of
    // one colour, white or black, never a blend.
    window->Form().Screen().CharOut(0x0F, 0, 0, 'A');
    window->Form().ScreenRefresh();
    const int top = MulDiv(41, dpi, 96);
    HDC dc = GetDC(window->Handle());
    int blends = 0, uneven = 0;
    for (int y = 0; y < ch * z; ++y)
        for (int x = 0; x < cw * z; ++x) {
            const uint32_t px = Rgb(GetPixel(dc, x, top + y));
            const uint32_t image = window->ImagePixel(x / z, y / z);
            blends += px != 0 && px != 0xFFFFFF;
            uneven += px != image;
        }
    ReleaseDC(window->Handle(), dc);
    EXPECT_EQ(blends, 0);
    EXPECT_EQ(uneven, 0);
}

// Moved to a screen of another DPI, the window lays itself out again (wine has one DPI for all
// screens and never sends WM_DPICHANGED: the message is sent here as Windows would).
TEST_F(Win32Panel, WmDpiChangedLaysThePanelAndTheConsoleOutAgain) {
    const int before = window->Dpi();
    auto place_of = [&](HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, window->Panel(), reinterpret_cast<POINT*>(&r), 2);
        return TRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
    };
    for (int dpi : {before * 3 / 2, before}) {
        RECT frame{};
        GetWindowRect(window->Handle(), &frame);
        SendMessageW(window->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&frame));
        EXPECT_EQ(window->Dpi(), dpi);
        auto scaled = [&](int pixels) { return MulDiv(pixels, dpi, 96); };
        const TControlDesc& floppy = kPanelControls[ciEnaFloppy];
        EXPECT_EQ(place_of(window->Control(ciEnaFloppy)),
                  (TRect{scaled(floppy.left), scaled(floppy.top), scaled(floppy.width),
                         scaled(floppy.height)}))
            << dpi;
        // The zoom the form decides for this DPI and screen; the window at its natural size.
        const int z = window->Form().Zoom();
        EXPECT_EQ(z, ConsoleZoom(dpi / 96.0, 80 * window->Form().CellWidth(),
                                 25 * window->Form().CellHeight(), scaled(41), 1.0,
                                 window->WorkAreaForTests()));
        RECT client{};
        GetClientRect(window->Handle(), &client);
        // As wide as the console, or as the panel needs where the zoom cannot follow the DPI.
        EXPECT_EQ(client.right, std::max(80 * window->Form().CellWidth() * z,
                                         ((574 + 40) * dpi + 95) / 96))
            << dpi;
        EXPECT_EQ(client.bottom, 25 * window->Form().CellHeight() * z + scaled(41)) << dpi;
        EXPECT_FALSE(window->Form().StretchMode()) << dpi;
        EXPECT_EQ(Illegibles(), std::vector<std::string>{}) << dpi << " DPI";
    }
}
