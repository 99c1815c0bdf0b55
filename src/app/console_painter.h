// The console area's drawing: the cell metrics and the natural size at the console's zoom,
// the off-screen image kept cell by cell (only cells that differ from what was drawn are drawn
// again), its copy into the window unscaled or stretched, the cursor bar and its blink, and
// when changes are shown (a frame after output pauses, at most as often as the timer during a
// flood).
//
// Owned by the window's logic; window thread only. Drawing goes through the view, whose calls
// may dispatch events and so re-enter the painter: a refresh nested in another draws only the
// cells that still differ, and the outer one goes on with its remaining rows.
#pragma once

#include "console_area.h"
#include "form_view.h"
#include "history.h"
#include "screen.h"

#include <array>
#include <chrono>
#include <string>

// The console's zoom: the whole number nearest to the system's DPI `scale` (at least 1, a
// half rounded up), lowered while the client area at that zoom (the image of `image_width` x
// `image_height` device pixels times zoom, in client units of `pixel_ratio` device pixels,
// below a panel of `panel_height` client units) would not fit `room` (TFormView::WorkArea).
// The glyphs stay crisp at any DPI: each pixel of the natural cell becomes zoom x zoom.
int ConsoleZoom(double scale, int image_width, int image_height, int panel_height,
                double pixel_ratio, const TRect& room);

class TConsolePainter {
  public:
    // What is drawn: the screen, or what `area` composes over `history` and the screen.
    TConsolePainter(TFormView& view, TScreen& screen, THistory& history, const TConsoleArea& area)
        : view_(view), screen_(screen), history_(history), area_(area) {}

    // The screen part of the window's creation: the cell metrics from the console font's "O",
    // the off-screen image, and the natural client size (Layout).
    void Create();
    // The natural size at the zoom the DPI asks for: the client area and the cursor bar.
    void Layout();

    // The timer's refresh: the changed cells and one copy of the image, else a blink step.
    void ScreenRefresh();
    // The main cycle ran dry with a change: draw it now, or on a one-shot timer once the
    // refresh interval is over.
    void RefreshSoon();
    void RefreshTimer(); // that one-shot timer
    // The area shows something else than the screen's changes (a scroll, a selection): drawn
    // now, unless a refresh is under way (then at the next one); the bar is hidden while the
    // view is scrolled back.
    void ViewChanged();
    void FormPaint();  // every cell compared again, the whole image copied
    void FormResize(); // stretch mode decided; every cell drawn again at the next refresh
    void FormDpiChanged();

    // Where the console is shown in the client area: below the panel, at the zoom, or
    // stretched over the rest of the client area.
    TRect ConsoleArea() const;
    bool OnConsole(int x, int y) const;
    // The cell under a point of the console area, clamped to the area; false for no area.
    bool CellAt(int x, int y, int* row, int* column) const;
    // Writes the image with `screen`'s cells (whatever the area shows) to a PNG file; "" or
    // the reason. The image shows what it showed before afterwards.
    std::string SavePng(const TScreen& screen, const std::string& path);

    bool StretchMode() const { return stretch_mode_; }
    // The natural cell of the console font, in device pixels (the off-screen image's cell).
    int CellWidth() const { return cell_width_; }
    int CellHeight() const { return cell_height_; }
    // The console's whole-number zoom (ConsoleZoom) and the device pixels in one client unit.
    int Zoom() const { return zoom_; }
    double PixelRatio() const { return pixel_ratio_; }
    // Cells drawn into the off-screen image and copies of the image into the window since
    // start (for tests and measurements).
    long CellsDrawn() const { return cells_drawn_; }
    long ImageCopies() const { return image_copies_; }

  private:
    void RefreshCells(bool process_events);
    void CopyImage();
    void DrawChanges();
    void BlinkStep();
    TRect NaturalConsole() const; // the console area at the zoom, unstretched
    int BarHeight() const;        // the cursor bar's 2 pixels of a natural cell, zoomed

    TFormView& view_;
    TScreen& screen_;
    THistory& history_;
    const TConsoleArea& area_;

    std::array<TCell, kScreenCells> drawn_{};
    std::array<TCell, kScreenCells> composed_{};
    int cell_width_ = 0;
    int cell_height_ = 0;
    int saved_panel_height_ = 0;
    int zoom_ = 1;
    double pixel_ratio_ = 1.0;
    int panel_width_ = 0; // the width the panel's controls need, in client units
    bool stretch_mode_ = false;
    TRect bar_; // the cursor bar's place and size
    int bar_column_ = -1;
    int bar_row_ = 0;
    int blink_countdown_ = 5;
    long cells_drawn_ = 0;
    long image_copies_ = 0;
    int refreshing_ = 0; // RefreshCells runs (it may nest through the events it processes)

    // Screen changes are shown when the main cycle runs dry, at most once a refresh interval:
    // a frame, growing up to the timer's 100 ms while output keeps coming.
    static constexpr std::chrono::milliseconds kFrameInterval{16};
    static constexpr std::chrono::milliseconds kSlowInterval{100};
    std::chrono::milliseconds refresh_interval_ = kFrameInterval;
    std::chrono::steady_clock::time_point last_refresh_{};
    std::chrono::steady_clock::time_point last_change_{}; // the main cycle last ran dry with one
    bool refresh_pending_ = false;
};
