#include "console_painter.h"

#include <algorithm>
#include <cmath>

namespace {

// Client units for `device` device pixels, rounded up: the window is never smaller than the
// image it shows.
int ClientUnits(int device, double pixel_ratio) {
    return static_cast<int>(std::ceil(device / pixel_ratio - 1e-9));
}

} // namespace

int ConsoleZoom(double scale, int image_width, int image_height, int panel_height,
                double pixel_ratio, const TRect& room) {
    int zoom = std::max(1, static_cast<int>(std::floor(scale + 0.5)));
    for (; zoom > 1; --zoom) {
        if (ClientUnits(image_width * zoom, pixel_ratio) <= room.width &&
            ClientUnits(image_height * zoom, pixel_ratio) + panel_height <= room.height)
            break;
    }
    return zoom;
}

void TConsolePainter::Create() {
    const TRect o = view_.MeasureConsoleText("O");
    cell_width_ = o.width;
    cell_height_ = o.height;
    view_.CreateImage(cell_width_, cell_height_);
    Layout();
}

// The window is as wide as the console, or as the panel's controls where they need more (a
// DPI scale on a screen too small for the console's zoom to follow it).
void TConsolePainter::Layout() {
    saved_panel_height_ = view_.PanelHeight();
    pixel_ratio_ = view_.PixelRatio() > 0 ? view_.PixelRatio() : 1.0;
    zoom_ = ConsoleZoom(view_.DpiScale(), kScreenColumns * cell_width_, kScreenRows * cell_height_,
                        saved_panel_height_, pixel_ratio_, view_.WorkArea());
    int controls = 0; // the panel's extent at 96 DPI, the status label's room besides
    for (const TControlDesc& desc : kPanelControls) {
        if (desc.kind != ckBar && !desc.align_right)
            controls = std::max(controls, desc.left + desc.width);
    }
    constexpr int kStatusRoom = 40;
    panel_width_ = static_cast<int>(
        std::ceil((controls + kStatusRoom) * view_.DpiScale() / pixel_ratio_ - 1e-9));
    const TRect console = NaturalConsole();
    view_.SetClientSize(std::max(console.width, panel_width_), console.top + console.height);
    bar_ = TRect{0, 0, console.width / kScreenColumns, BarHeight()};
    view_.PlaceControl(ciMarker, bar_);
}

TRect TConsolePainter::NaturalConsole() const {
    return TRect{0, saved_panel_height_,
                 ClientUnits(kScreenColumns * cell_width_ * zoom_, pixel_ratio_),
                 ClientUnits(kScreenRows * cell_height_ * zoom_, pixel_ratio_)};
}

int TConsolePainter::BarHeight() const {
    return std::max(1, static_cast<int>(std::lround(2 * zoom_ / pixel_ratio_)));
}

TRect TConsolePainter::ConsoleArea() const {
    const int panel = view_.PanelHeight();
    if (stretch_mode_)
        return TRect{0, panel, view_.ClientWidth(), view_.ClientHeight() - panel};
    return NaturalConsole();
}

bool TConsolePainter::OnConsole(int x, int y) const {
    const TRect area = ConsoleArea();
    return x >= area.left && x < area.left + area.width && y >= area.top &&
           y < area.top + area.height;
}

bool TConsolePainter::CellAt(int x, int y, int* row, int* column) const {
    const TRect area = ConsoleArea();
    if (area.width <= 0 || area.height <= 0) return false;
    *column = std::clamp((x - area.left) * kScreenColumns / area.width, 0, kScreenColumns - 1);
    *row = std::clamp((y - area.top) * kScreenRows / area.height, 0, kScreenRows - 1);
    return true;
}

void TConsolePainter::FormDpiChanged() {
    Layout();
    FormResize();
}

// A change is drawn at once unless the last refresh was less than the refresh interval ago;
// then a one-shot timer draws it when the interval is over. Output that keeps coming within
// the interval doubles it, up to the 100 ms of the timer, which then draws alone: a flood
// costs no more redraws than the timer's. Once the output has paused for 100 ms the interval
// is one frame again.
void TConsolePainter::RefreshSoon() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_change_ >= kSlowInterval) refresh_interval_ = kFrameInterval;
    last_change_ = now;
    if (refresh_interval_ >= kSlowInterval) return; // a steady stream: the timer draws it
    const auto since = now - last_refresh_;
    if (since >= refresh_interval_) {
        DrawChanges();
        return;
    }
    if (refresh_pending_) return;
    refresh_pending_ = true;
    const auto rest =
        std::chrono::ceil<std::chrono::milliseconds>(refresh_interval_ - since).count();
    view_.StartRefreshTimer(static_cast<int>(rest));
    refresh_interval_ = std::min(refresh_interval_ * 2, kSlowInterval);
}

void TConsolePainter::ViewChanged() {
    screen_.changed = true;
    // Inside a refresh's processing of events the outer refresh would go on with the old
    // cells: leave the drawing to the next refresh then.
    if (refreshing_ == 0) DrawChanges();
    view_.SetVisible(ciMarker, !area_.ScrolledBack() && screen_.cursor_bar_visible);
}

// Draws every cell that differs from what was last drawn. The window system runs after each
// row when asked, so a full redraw never holds up input.
void TConsolePainter::RefreshCells(bool process_events) {
    screen_.changed = false;
    history_.Check(screen_); // rows the target's redraw moved up have left
    // The live screen is drawn from the screen itself; a view scrolled back or a selection from
    // what the area composes.
    const bool plain = area_.Plain();
    if (!plain) area_.Compose(composed_);
    const std::array<TCell, kScreenCells>& cells = plain ? screen_.Cells() : composed_;
    ++refreshing_;
    for (int row = 0; row < kScreenRows; ++row) {
        for (int column = 0; column < kScreenColumns; ++column) {
            const int i = row * kScreenColumns + column;
            const TCell cell = cells[i];
            if (cell == drawn_[i]) continue;
            drawn_[i] = cell;
            view_.DrawCell(row, column, cell);
            ++cells_drawn_;
        }
        if (process_events) view_.ProcessPendingEvents();
    }
    --refreshing_;
}

void TConsolePainter::CopyImage() {
    view_.CopyImage(ConsoleArea(), stretch_mode_);
    ++image_copies_;
}

void TConsolePainter::ScreenRefresh() {
    if (screen_.changed) {
        last_refresh_ = std::chrono::steady_clock::now();
        RefreshCells(true);
        CopyImage();
        return;
    }
    BlinkStep();
}

void TConsolePainter::RefreshTimer() {
    refresh_pending_ = false;
    // Only a change is drawn here; the cursor bar keeps the 100 ms timer's rhythm.
    if (screen_.changed) DrawChanges();
}

// The refresh between bursts: the window system has just run and will run again at once, so
// the rows are drawn in one go (a full redraw takes well under a millisecond).
void TConsolePainter::DrawChanges() {
    last_refresh_ = std::chrono::steady_clock::now();
    RefreshCells(false);
    CopyImage();
}

void TConsolePainter::BlinkStep() {
    if (--blink_countdown_ != 0) return;
    blink_countdown_ = 4;
    if (area_.ScrolledBack()) return; // the bar stays hidden until the view is live again
    const int column = screen_.CursorColumn();
    const int row = screen_.CursorRow();
    if (column == bar_column_ && row == bar_row_) {
        screen_.cursor_bar_visible = !screen_.cursor_bar_visible;
        view_.SetVisible(ciMarker, screen_.cursor_bar_visible);
        return;
    }
    bar_column_ = column;
    bar_row_ = row;
    const int panel = view_.PanelHeight();
    if (!stretch_mode_) {
        // The bottom two pixel rows of the cell, at the zoom.
        const double unit = zoom_ / pixel_ratio_;
        bar_.left = static_cast<int>(column * cell_width_ * unit);
        bar_.top = static_cast<int>(((row + 1) * cell_height_ - 2) * unit) + panel;
    } else {
        const float x_scale = static_cast<float>(view_.ClientWidth()) /
                              static_cast<float>(kScreenColumns * cell_width_);
        const float y_scale = static_cast<float>(view_.ClientHeight() - panel) /
                              static_cast<float>(kScreenRows * cell_height_);
        bar_.left = static_cast<int>(static_cast<float>(column * cell_width_) * x_scale);
        bar_.top = static_cast<int>(static_cast<float>((row + 1) * cell_height_ - 2) * y_scale +
                                   static_cast<float>(panel));
    }
    view_.PlaceControl(ciMarker, bar_);
}

void TConsolePainter::FormPaint() {
    // Cells that did not change are not drawn again, but the whole image is copied.
    screen_.changed = true;
    RefreshCells(false);
    CopyImage();
}

void TConsolePainter::FormResize() {
    const int width = view_.ClientWidth();
    const int height = view_.ClientHeight();
    const TRect natural = NaturalConsole();
    bar_.height = BarHeight();
    if (width == std::max(natural.width, panel_width_) &&
        height == natural.top + natural.height) {
        bar_.width = natural.width / kScreenColumns;
        stretch_mode_ = false;
    } else {
        const float x_scale =
            static_cast<float>(width) / static_cast<float>(kScreenColumns * cell_width_);
        bar_.width = static_cast<int>(static_cast<float>(cell_width_) * x_scale);
        stretch_mode_ = true;
    }
    view_.PlaceControl(ciMarker, bar_);
    bar_column_ = -1;
    drawn_.fill(TCell{0, 0});
    screen_.changed = true;
}

// The image shows the screen without selection or history while it is written; the cursor bar
// is a control of its own and never in it.
std::string TConsolePainter::SavePng(const TScreen& screen, const std::string& path) {
    const std::array<TCell, kScreenCells> shown = drawn_;
    for (int i = 0; i < kScreenCells; ++i) {
        if (drawn_[i] == screen.Cells()[i]) continue;
        drawn_[i] = screen.Cells()[i];
        view_.DrawCell(i / kScreenColumns, i % kScreenColumns, drawn_[i]);
    }
    const std::string error = view_.SaveImagePng(path);
    for (int i = 0; i < kScreenCells; ++i) {
        if (drawn_[i] == shown[i]) continue;
        drawn_[i] = shown[i];
        view_.DrawCell(i / kScreenColumns, i % kScreenColumns, drawn_[i]);
    }
    return error;
}
