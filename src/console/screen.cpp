#include "screen.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void TScreen::ClearScreen() {
    if (observer_) observer_->BeforeClearScreen(*this);
    attr_ = kAttrWhiteOnBlack;
    cells_.fill(TCell{0x20, kAttrWhiteOnBlack});
    column_ = 0;
    row_ = 0;
    cursor_bar_visible = false;
    changed = true;
}

void TScreen::Putch(uint8_t ch) {
    if (ch == 13 || ch == 10) return;
    At(row_, column_) = TCell{ch, attr_};
    if (++column_ == kScreenColumns) {
        column_ = 0;
        if (++row_ == kScreenRows) row_ = kScreenRows - 1;
    }
    changed = true;
}

// Line feed of the program's own output: one row down, scrolling at the bottom.
void TScreen::NextRowScrolling() {
    if (++row_ == kScreenRows) {
        ScrollDown();
        row_ = kScreenRows - 1;
    }
}

void TScreen::TelePutch(uint8_t ch) {
    switch (ch) {
    case 7: return;
    case 8:
        if (column_ > 0) --column_;
        return;
    case 9:
        // The next multiple of 8. From columns 72-79 that is the right edge, which wraps as a
        // printed character does, so the cursor always names a cell whoever writes next.
        column_ = (column_ / 8) * 8 + 8;
        if (column_ >= kScreenColumns) {
            column_ = 0;
            NextRowScrolling();
        }
        return;
    case 10: NextRowScrolling(); return;
    case 13: column_ = 0; return;
    default: break;
    }
    At(row_, column_).ch = ch;
    if (++column_ == kScreenColumns) {
        column_ = 0;
        NextRowScrolling();
    }
    changed = true;
}

void TScreen::SetCursor(int column, int row) {
    column_ = std::clamp(column, 0, kScreenColumns - 1);
    row = std::clamp(row, 0, kScreenRows - 1);
    if (observer_ && row < row_) observer_->BeforeCursorUp(*this);
    row_ = row;
}

void TScreen::StrOut(uint8_t attr, int column, int row, const char* text) {
    attr_ = attr;
    SetCursor(column, row);
    for (const char* p = text; *p; ++p) {
        const uint8_t b = static_cast<uint8_t>(*p);
        if (b == 13) {
            column_ = 0;
        } else if (b == 10) {
            NextRowScrolling();
        } else {
            At(row_, column_) = TCell{b, attr};
            if (++column_ == kScreenColumns) {
                column_ = 0;
                NextRowScrolling();
            }
        }
    }
    TelePutch(13);
    TelePutch(10);
    changed = true;
}

int TScreen::MsgOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    // vsnprintf never writes past the buffer: a longer message is cut to 255 characters.
    const int n = std::vsnprintf(message_, sizeof message_, format, args);
    va_end(args);
    if (n < 0) message_[0] = 0;
    StrOut(attr_, column_, row_, message_);
    return n;
}

void TScreen::CharOut(uint8_t attr, int column, int row, uint8_t ch) {
    attr_ = attr;
    SetCursor(column, row);
    At(row_, column_) = TCell{ch, attr};
    ++column_;
    row_ += column_ / kScreenColumns;
    column_ %= kScreenColumns;
    if (row_ >= kScreenRows) row_ = kScreenRows - 1;
    changed = true;
}

void TScreen::ScrollDown() {
    if (observer_) observer_->BeforeScrollDown(*this);
    std::memmove(&cells_[0], &cells_[kScreenColumns], sizeof(TCell) * kScreenColumns * (kScreenRows - 1));
    // The new bottom row is blank and keeps, column by column, the attributes that the row
    // had before the scroll (now the row above it).
    for (int c = 0; c < kScreenColumns; ++c) At(kScreenRows - 1, c).ch = 0x20;
    changed = true;
}

void TScreen::ScrollUp() {
    std::memmove(&cells_[kScreenColumns], &cells_[0], sizeof(TCell) * kScreenColumns * (kScreenRows - 1));
    for (int c = 0; c < kScreenColumns; ++c) At(0, c) = TCell{0x20, attr_};
    changed = true;
}

namespace {
// Window arguments come as bytes; keep the rectangle on the screen so that no call can reach
// outside the buffer.
struct TRect {
    int left, top, right, bottom;
};
TRect ClampRect(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom) {
    auto clamp = [](int v, int hi) { return v > hi ? hi : v; };
    return TRect{clamp(left, kScreenColumns - 1), clamp(top, kScreenRows - 1),
                 clamp(right, kScreenColumns - 1), clamp(bottom, kScreenRows - 1)};
}
} // namespace

void TScreen::ScrollDownWindow(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom,
                               uint8_t lines, uint8_t attr) {
    const TRect r = ClampRect(left, top, right, bottom);
    const int n = lines == 0 ? kScreenRows : lines;
    for (int i = 0; i < n; ++i) {
        for (int row = r.top; row < r.bottom; ++row)
            for (int c = r.left; c <= r.right; ++c) At(row, c) = At(row + 1, c);
        for (int c = r.left; c <= r.right; ++c) At(r.bottom, c) = TCell{0x20, attr};
    }
    changed = true;
}

void TScreen::ScrollUpWindow(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom,
                             uint8_t lines, uint8_t attr) {
    const TRect r = ClampRect(left, top, right, bottom);
    const int n = lines == 0 ? kScreenRows : lines;
    for (int i = 0; i < n; ++i) {
        for (int row = r.bottom - 1; row >= r.top; --row)
            for (int c = r.left; c <= r.right; ++c) At(row + 1, c) = At(row, c);
        for (int c = r.left; c <= r.right; ++c) At(r.top, c) = TCell{0x20, attr};
    }
    changed = true;
}

void TScreen::QClick() { StrOut(0xF1, 20, 12, "Hello World"); }

std::string TScreen::RowText(int row) const {
    std::string s(kScreenColumns, ' ');
    for (int c = 0; c < kScreenColumns; ++c) s[c] = static_cast<char>(Cell(row, c).ch);
    return s;
}
