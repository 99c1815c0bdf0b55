#include "console_area.h"

#include "screen_text.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint8_t kStatusAttr = 0x70; // reverse video of light grey on black

uint8_t Inverted(uint8_t attr) { return static_cast<uint8_t>((attr << 4) | (attr >> 4)); }

// What a double click takes as one word: letters and digits (code page 437's accented letters
// and Greek too) and the characters of paths, addresses and numbers.
bool WordChar(uint8_t ch) {
    if ((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'))
        return true;
    if ((ch >= 0x80 && ch <= 0xA5) || (ch >= 0xE0 && ch <= 0xEE)) return true;
    for (char c : std::string_view("_-.:/\\~@+%#?=&$"))
        if (ch == static_cast<uint8_t>(c)) return true;
    return false;
}

} // namespace

int64_t TConsoleArea::FirstLine() const {
    return static_cast<int64_t>(history_.Entered()) - history_.Size();
}
int64_t TConsoleArea::LiveTop() const { return static_cast<int64_t>(history_.Entered()); }

const TCell* TConsoleArea::LineCells(int64_t line) const {
    if (line < FirstLine() || line >= LiveTop() + kScreenRows) return nullptr;
    if (line < LiveTop()) return history_.Row(static_cast<int>(line - FirstLine()));
    return &screen_.Cell(static_cast<int>(line - LiveTop()), 0);
}

// The view scrolled back shows from top_; rows that fell off the history move it to the
// oldest kept, and a top_ at the live screen's is the live view.
bool TConsoleArea::ScrolledBack() const {
    return back_ && std::max(top_, FirstLine()) < LiveTop();
}

int TConsoleArea::RowsBack() const {
    return ScrolledBack() ? static_cast<int>(LiveTop() - std::max(top_, FirstLine())) : 0;
}

int64_t TConsoleArea::LineOf(int row) const {
    return (ScrolledBack() ? std::max(top_, FirstLine()) : LiveTop()) + row;
}

bool TConsoleArea::ScrollBy(int rows) {
    const int before = RowsBack();
    const int back = std::clamp(before + rows, 0, history_.Size());
    back_ = back > 0;
    top_ = LiveTop() - back;
    return back != before;
}

bool TConsoleArea::ReturnToLive() {
    const bool moved = ScrolledBack();
    back_ = false;
    return moved;
}

std::string TConsoleArea::StatusText() const {
    char text[kScreenColumns + 1];
    std::snprintf(text, sizeof text,
                  " History: %d of %d rows back. Wheel down or any key returns to the screen.",
                  RowsBack(), history_.Size());
    return text;
}

void TConsoleArea::Compose(std::array<TCell, kScreenCells>& out) const {
    if (Plain()) {
        out = screen_.Cells();
        return;
    }
    const bool back = ScrolledBack();
    const int rows = back ? kScreenRows - 1 : kScreenRows;
    TPos from, to;
    if (HasSelection()) std::tie(from, to) = Span();
    for (int r = 0; r < rows; ++r) {
        const int64_t line = LineOf(r);
        const TCell* cells = LineCells(line);
        for (int c = 0; c < kScreenColumns; ++c) {
            TCell cell = cells ? cells[c] : TCell{0x20, 0x07};
            const TPos at{line, c};
            if (selected_ && from <= at && at <= to) cell.attr = Inverted(cell.attr);
            out[r * kScreenColumns + c] = cell;
        }
    }
    if (back) {
        const std::string status = StatusText();
        for (int c = 0; c < kScreenColumns; ++c) {
            const uint8_t ch = c < static_cast<int>(status.size()) ? status[c] : ' ';
            out[(kScreenRows - 1) * kScreenColumns + c] = TCell{ch, kStatusAttr};
        }
    }
}

void TConsoleArea::Press(int row, int column, int clicks) {
    anchor_ = head_ = TPos{LineOf(row), std::clamp(column, 0, kScreenColumns - 1)};
    unit_ = clicks >= 3 ? suRow : clicks == 2 ? suWord : suCell;
    // One click only places the anchor: the selection begins when the pointer moves on.
    selected_ = unit_ != suCell;
}

void TConsoleArea::Drag(int row, int column) {
    head_ = TPos{LineOf(row), std::clamp(column, 0, kScreenColumns - 1)};
    if (head_ != anchor_) selected_ = true;
}

void TConsoleArea::SelectAll() {
    anchor_ = TPos{FirstLine(), 0};
    head_ = TPos{LiveTop() + kScreenRows - 1, kScreenColumns - 1};
    unit_ = suCell;
    selected_ = true;
}

bool TConsoleArea::HasSelection() const {
    // Text that fell off the history's far end leaves the selection with it.
    return selected_ && std::max(anchor_, head_).line >= FirstLine();
}

std::pair<TConsoleArea::TPos, TConsoleArea::TPos> TConsoleArea::Span() const {
    TPos from = std::min(anchor_, head_), to = std::max(anchor_, head_);
    if (from.line < FirstLine()) from = TPos{FirstLine(), 0};
    if (unit_ == suRow) {
        from.column = 0;
        to.column = kScreenColumns - 1;
    } else if (unit_ == suWord) {
        // Out to the word's ends; on a character that is no word character, that one cell.
        if (const TCell* cells = LineCells(from.line); cells && WordChar(cells[from.column].ch))
            while (from.column > 0 && WordChar(cells[from.column - 1].ch)) --from.column;
        if (const TCell* cells = LineCells(to.line); cells && WordChar(cells[to.column].ch))
            while (to.column < kScreenColumns - 1 && WordChar(cells[to.column + 1].ch))
                ++to.column;
    }
    return {from, to};
}

std::string TConsoleArea::SelectedText() const {
    if (!HasSelection()) return "";
    const auto [from, to] = Span();
    std::string text;
    for (int64_t line = from.line; line <= to.line; ++line) {
        const TCell* cells = LineCells(line);
        if (!cells) continue;
        const int first = line == from.line ? from.column : 0;
        const int last = line == to.line ? to.column : kScreenColumns - 1;
        text += CellsText(cells + first, last - first + 1);
        if (line != to.line || last == kScreenColumns - 1) text += kTextLineEnd;
    }
    return text;
}

bool TConsoleArea::HasText() const {
    if (history_.Size() > 0) return true;
    for (const TCell& cell : screen_.Cells())
        if (cell.ch != 0x00 && cell.ch != 0x20 && cell.ch != 0xFF) return true;
    return false;
}
