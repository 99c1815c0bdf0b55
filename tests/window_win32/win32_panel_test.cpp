// The Win32 panel at the system's DPI and at a new one (WM_DPICHANGED). Its legibility, its
// places and the console's zoom are the window suite's (tests/window_suite), which this test
// program runs at each DPI too.
#include "win32_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

class Win32Panel : public testing::Test {
  protected:
    void SetUp() override {
        driver.StopTimer(); // no status update may change a caption between grabs
        // Something to read in the keyboard state label: Caps Lock on (a press toggles it).
        window->Form().AppMessage(kdDown, 0x3A, 0x14);
        window->Form().AppMessage(kdUp, 0x3A, 0x14);
    }
    void TearDown() override { EXPECT_EQ(driver.TakeBoxes(), std::vector<std::string>{}); }

    TWin32Driver driver;
    TWin32Window* window = &driver.Window();
};

} // namespace

// At the system's DPI (scripts/win-test runs this at 96, 144 and 192 DPI, set through wine's
// LogPixels, and names it in QUORVIK_TEST_DPI): nothing is cut ("Floppy..." to "Floppy.").
TEST_F(Win32Panel, AtTheSystemsDpiEveryCaptionFitsItsControl) {
    const int dpi = window->Dpi();
    if (!Env("QUORVIK_TEST_DPI").empty()) {
        EXPECT_EQ(dpi, std::stoi(Env("QUORVIK_TEST_DPI"))) << "wine did not take LogPixels";
    }
    for (HWND control : {window->Control(ciEnaFloppy), window->RadioItem(0), window->RadioItem(1),
                         window->Control(ciConnect), window->Control(ciDisconnect)}) {
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        const std::wstring text = WideOf(TextOf(control));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        RECT r{};
        GetClientRect(control, &r);
        const bool boxed = (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) != BS_PUSHBUTTON;
        const int glyph = boxed ? MulDiv(13 + 3, dpi, 96) : 0; // the box or circle and its gap
        EXPECT_LE(size.cx + glyph, r.right) << TextOf(control);
        EXPECT_LE(size.cy, r.bottom) << TextOf(control);
    }
}

// Moved to a screen of another DPI, the window lays itself out again (wine has one DPI for all
// screens and never sends WM_DPICHANGED: the message is sent here as Windows would).
TEST_F(Win32Panel, WmDpiChangedLaysThePanelAndTheConsoleOutAgain) {
    const int before = window->Dpi();
    for (int dpi : {before * 3 / 2, before}) {
        RECT frame{};
        GetWindowRect(window->Handle(), &frame);
        SendMessageW(window->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&frame));
        EXPECT_EQ(window->Dpi(), dpi);
        auto scaled = [&](int pixels) { return MulDiv(pixels, dpi, 96); };
        const TControlDesc& floppy = kPanelControls[ciEnaFloppy];
        EXPECT_EQ(driver.Control(ciEnaFloppy).place,
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
        EXPECT_EQ(IllegibleCaptions(driver), std::vector<std::string>{}) << dpi << " DPI";
    }
}
